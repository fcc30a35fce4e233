#include "platform/resource_tables.h"

namespace cvm6::res {
namespace {

// Template 102, the updater's window. Controls in template order; positions in dialog
// units. The online and device-name fields and the status line start as the template
// gives them; the window's initialisation writes its own texts over them.
constexpr DialogControl kUpdaterControls[] = {
    {1, ControlKind::PushButton, "Update", 105, 92, 50, 14, kStyleDefault | kStyleTabStop, true},
    {2, ControlKind::PushButton, "Close", 161, 92, 50, 14, kStyleTabStop, true},
    {kNoControlId, ControlKind::GroupBox, "", 6, 3, 307, 84, kStyleNone, true},
    {1000, ControlKind::ComboBox, "", 51, 12, 42, 60, kStyleSorted | kStyleVScroll | kStyleTabStop, true},
    {kNoControlId, ControlKind::Label, "Com Port:", 15, 15, 36, 8, kStyleNone, true},
    {1001, ControlKind::ProgressBar, "", 14, 45, 292, 8, kStyleBorder, true},
    {1005, ControlKind::Label, "Status", 15, 33, 120, 8, kStyleNone, true},
    {kNoControlId, ControlKind::Label, "Status:", 137, 15, 25, 8, kStyleNone, true},
    {1002, ControlKind::Edit, "", 165, 13, 26, 13, kStyleReadOnly | kStyleBorder | kStyleAutoHScroll | kStyleTabStop,
     true},
    {kNoControlId, ControlKind::Label, "Device:", 198, 15, 26, 8, kStyleNone, true},
    {1003, ControlKind::ComboBox, "", 227, 29, 86, 66, kStyleVScroll | kStyleTabStop, false},
    {1004, ControlKind::PushButton, "Connect", 94, 12, 36, 14, kStyleTabStop, true},
    {1006, ControlKind::ProgressBar, "", 14, 72, 292, 8, kStyleBorder, false},
    {kNoControlId, ControlKind::Label, "Total Progress:", 15, 61, 53, 8, kStyleNone, false},
    {1009, ControlKind::Edit, "", 225, 13, 82, 14, kStyleReadOnly | kStyleBorder | kStyleAutoHScroll | kStyleTabStop,
     true},
};

constexpr const char* kPortItems[] = {"COM1", "COM2", "COM3", "COM4"};
constexpr const char* kDeviceItems[] = {"Not Selected", "Corvane M4/M4S"};

constexpr DialogListItems kUpdaterLists[] = {
    {1000, kPortItems},
    {1003, kDeviceItems},
};

}  // namespace

const DialogTemplate kDialogTemplates[] = {
    {102, "M6 Corvane Updater ", 320, 111, "Small Fonts", 7,
     kWindowPopup | kWindowCaption | kWindowSystemMenu | kWindowModalFrame | kWindowVisible | kWindowAppWindow,
     kUpdaterControls, kUpdaterLists},
};
const std::size_t kDialogTemplateCount = sizeof kDialogTemplates / sizeof kDialogTemplates[0];

}  // namespace cvm6::res
