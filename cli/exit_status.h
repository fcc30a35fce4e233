#pragma once
// cvm6-flash's exit statuses, and the one each outcome of the procedure maps to. Scripts
// and production lines act on these numbers: they are documented in --help and the
// manual page and never change meaning.
#include "update/update_result.h"

namespace cvm6 {

enum ExitStatus {
  kDone = 0,
  kUsage = 1,
  kPortNotOpened = 2,
  kDeviceNotFound = 3,
  kWrongDevice = 4,
  kDownloadFailed = 5,
  kNoImage = 6,
  kCommunicationError = 7,
  kCancelled = 8,
  kInterrupted = 130,
};

inline constexpr const char* kExitStatusText =
    "Exit status: 0 done, 1 usage, 2 port not opened, 3 device not found, 4 wrong device,\n"
    "5 download failed, 6 no image, 7 communication error, 8 cancelled: nothing was written,\n"
    "130 interrupted. With several units: 0 when every unit is done, else the status of the\n"
    "first unit in --port order that is not.";

// The exit status of what the procedure says its last command came to.
int ExitStatusFor(UpdateResult result);
// A short name for the result, as the summary table, the log and --json give it.
const char* ResultName(UpdateResult result);

}  // namespace cvm6
