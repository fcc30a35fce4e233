#pragma once
// Control ids of the updater's window (dialog template 102).
namespace cvm6 {
constexpr int IDD_UPDATER = 102;
constexpr int IDC_UPDATE = 1;          // the dialog's OK button
constexpr int IDC_CLOSE = 2;           // the dialog's Cancel button
constexpr int IDC_PORT_LIST = 1000;
constexpr int IDC_BLOCK_PROGRESS = 1001;
constexpr int IDC_ONLINE_TEXT = 1002;
constexpr int IDC_DEVICE_LIST = 1003;
constexpr int IDC_CONNECT = 1004;
constexpr int IDC_STATUS = 1005;
constexpr int IDC_TOTAL_PROGRESS = 1006;
constexpr int IDC_DEVICE_NAME = 1009;

// String-table prompts.
constexpr unsigned IDP_CANNOT_CONNECT = 61503;
constexpr unsigned IDP_UPDATE_COMPLETE_NOTE = 61504;
constexpr unsigned IDP_PORT_NOT_OPENED = 61513;
constexpr unsigned IDP_WRONG_DEVICE = 61517;
constexpr unsigned IDP_UPDATE_COMPLETE = 61518;
}  // namespace cvm6
