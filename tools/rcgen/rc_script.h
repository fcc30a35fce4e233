#pragma once
// The Windows resource script of the program, written from the same tables that the
// Linux build compiles in: the string table, dialog template 102 with its controls, and
// the dialog's list items as dialog-initialisation data.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/dialog_template.h"
#include "platform/resource_tables.h"

namespace rcgen {

// A text as a resource-script string literal: quotes doubled, backslashes and line ends
// escaped, every byte outside printable ASCII as a three-digit octal escape.
std::string QuoteRc(const std::string& text);

std::string StringTableRc(const cvm6::res::StringEntry* entries, std::size_t count);

// The DIALOGEX statement of `dialog`; its list items go into the dialog-initialisation
// resource (type 240) of the same id, kept in `dlginitFile`.
std::string DialogRc(const cvm6::DialogTemplate& dialog, const std::string& dlginitFile);

// Dialog-initialisation data as the dialog framework reads it when it creates the
// dialog: per item the control id, the add-string message (0x0403 for a drop-down list),
// the text's length with its NUL, the text and its NUL; a zero word ends the data.
std::vector<std::uint8_t> DialogInitData(const cvm6::DialogTemplate& dialog);

}  // namespace rcgen
