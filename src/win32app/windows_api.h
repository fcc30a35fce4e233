#pragma once
// <windows.h> for the window's files. Some names of our dialog framework (IDOK, IDYES,
// MessageBox) are macros there as well: platform/dialog.h comes first, so that its
// constants are declared before the macros exist, and the macro that would rename
// DialogHost::MessageBox goes. The system's own message box is called as MessageBoxW.
#include "platform/dialog.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <commctrl.h>

#undef MessageBox
