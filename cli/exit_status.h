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
  kNoisyLine = 9,  // complete, but the unit refused frames as damaged: the flash may not be exact
  kInterrupted = 130,
};

inline constexpr const char* kExitStatusText =
    "Exit status: 0 done, 1 usage, 2 port not opened, 3 device not found, 4 wrong device,\n"
    "5 download failed, 6 no image, 7 communication error, 8 cancelled: nothing was written,\n"
    "9 complete on a noisy line: more frames than --max-damaged reached the unit damaged, and\n"
    "one may have passed its check unnoticed (update again over a shorter cable or another\n"
#ifdef _WIN32
    "adapter), 130 interrupted (Ctrl-C, Ctrl-Break, the console closed, a log-off or a\n"
    "shutdown). With several units: 0 when every unit is done, else the status of the first\n"
    "unit in --port order whose erase had begun and that did not finish, or when there is\n"
    "none, of the first unit that is not done.\n"
#else
    "adapter), 130 interrupted (Ctrl-C, SIGTERM, SIGHUP). With several units: 0 when every unit\n"
    "is done, else the status of the first unit in --port order whose erase had begun and that\n"
    "did not finish, or when there is none, of the first unit that is not done.\n"
#endif
    "\n"
    "The list file (cvm6.ini, or a list given with --image): one entry per line, a hex file's\n"
    "name (no blanks, at most 79 characters) and its base address in hexadecimal, as in\n"
    "\"fw0.hex 0\" and \"fw1.hex 10000\". A base of 100000 or more ends the list. Any other line\n"
    "that is not a whole entry refuses the image, named with its line.";

// The exit status of what the procedure says its last command came to.
int ExitStatusFor(UpdateResult result);
// A short name for the result, as the summary table, the log and --json give it.
const char* ResultName(UpdateResult result);

}  // namespace cvm6
