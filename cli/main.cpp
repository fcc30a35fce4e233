// cvm6-flash: the updater's connect / identify / update procedure from a terminal.
#include <cstdio>
#include <cstring>
#include <string>

#include "console_host.h"
#include "console_io.h"
#include "flash_dialog.h"
#include "platform/firmware_kind.h"
#include "platform/resources.h"
#include "platform/version.h"
#include "port/port_list.h"
#include "update/control_ids.h"
#include "flash_simulator.h"

namespace cvm6 {
namespace {

enum ExitCode {
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

const char* const kUsageText =
    "Usage: cvm6-flash --port NAME [--yes] [--trace]\n"
    "       cvm6-flash --simulate [--trace] [SIMULATOR OPTIONS]\n"
    "       cvm6-flash --list-ports | --help | --version\n"
    "\n"
    "Connects to a Corvane M6 in download mode and writes the firmware image into its flash,\n"
    "exactly as the updater window's Connect and Update buttons do.\n"
    "\n"
    "  --port NAME     COM1..COM4 (the first four serial ports) or a device path\n"
    "  --simulate      run against the built-in model of the unit on a pseudo-terminal and\n"
    "                  end with its verdict on the flash contents; options of cvm6-sim\n"
    "                  that follow it shape the unit (--baud N, --write-ms N, faults)\n"
    "  --yes           write the synthetic test image without asking (see --version); the\n"
    "                  question is asked on the terminal, and without one the answer is No\n"
    "  --trace         print every message sent (SND), received (RCV) or dropped (DEL)\n"
    "  --list-ports    list the serial ports this system has\n"
    "  --help          this text\n"
    "  --version       program version and which firmware image is embedded\n"
    "\n"
    "Exit status: 0 done, 1 usage, 2 port not opened, 3 device not found, 4 wrong device,\n"
    "5 download failed, 6 no image, 7 communication error, 8 cancelled: nothing was written,\n"
    "130 interrupted.\n";

constexpr const char* kFlashIncomplete = "The unit's flash is incomplete: run the update again before using the unit.";

// The exit status of what the procedure says its last command came to.
int ExitCodeFor(UpdateResult result) {
  switch (result) {
    case UpdateResult::kDone: return kDone;
    case UpdateResult::kPortNotOpened:
    case UpdateResult::kPortUnusable: return kPortNotOpened;
    case UpdateResult::kDeviceNotFound:
    case UpdateResult::kNotIdentified: return kDeviceNotFound;
    case UpdateResult::kWrongDevice: return kWrongDevice;
    case UpdateResult::kCancelled: return kCancelled;
    case UpdateResult::kNoImage:
    case UpdateResult::kImageRefused: return kNoImage;
    case UpdateResult::kDownloadFailed: return kDownloadFailed;
    case UpdateResult::kCommunicationError:
    case UpdateResult::kNone:
    case UpdateResult::kConnected: break;  // a procedure that stopped without an outcome
  }
  return kCommunicationError;
}

int Run(int argc, char** argv) {
  // First, before any thread starts: every thread then leaves Ctrl-C to one of its own.
  InstallInterruptHandling();
  std::string port;
  bool simulate = false, yes = false, trace = false;
  std::vector<std::string> simulatorArgs;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::printf("%s", kUsageText);
      return kDone;
    } else if (arg == "--version") {
      std::printf("cvm6-flash %s\nfirmware: %s\n", kProgramVersion,
                  res::IsSyntheticFirmware() ? "synthetic test image (not released firmware)"
                                             : "embedded firmware texts");
      return kDone;
    } else if (arg == "--list-ports") {
      for (const auto& info : ListSerialPorts())
        std::printf("%s%s%s\n", info.path.c_str(), info.description.empty() ? "" : "  ", info.description.c_str());
      return kDone;
    } else if (arg == "--port") {
      if (i + 1 >= argc || argv[i + 1][0] == '\0' || std::strncmp(argv[i + 1], "--", 2) == 0) {
        std::fprintf(stderr, "cvm6-flash: --port needs a port name\n\n%s", kUsageText);
        return kUsage;
      }
      port = argv[++i];
    } else if (arg == "--simulate") {
      simulate = true;
    } else if (arg == "--yes") {
      yes = true;
    } else if (arg == "--trace") {
      trace = true;
    } else if (simulate && arg.rfind("--", 0) == 0) {
      simulatorArgs.push_back(arg);
      if (i + 1 < argc && std::strncmp(argv[i + 1], "--", 2) != 0) simulatorArgs.push_back(argv[++i]);
    } else {
      std::fprintf(stderr, "cvm6-flash: unknown argument '%s'\n\n%s", arg.c_str(), kUsageText);
      return kUsage;
    }
  }
  if (simulate == !port.empty()) {
    std::fprintf(stderr, "cvm6-flash: give either --port NAME or --simulate\n\n%s", kUsageText);
    return kUsage;
  }

  std::unique_ptr<CFlashSimulator> simulator;
  if (simulate) {
    std::string error;
    simulator = CFlashSimulator::Start(simulatorArgs, error);
    if (!simulator) {
      std::fprintf(stderr, "cvm6-flash: %s\n", error.c_str());
      return kUsage;
    }
    port = simulator->PortPath();
    std::printf("Simulated unit on %s\n", port.c_str());
  }

  int code = kDone;
  {
    CConsoleHost host(port, yes);
    CFlashDialog dialog(host, simulator.get());
    CInterruptWake wake([&dialog] { dialog.WakeWaits(); });
    if (trace) dialog.SetTraceSink([](const std::string& line) { std::fputs(line.c_str(), stdout); });
    try {
      dialog.OnInitDialog();
      dialog.OnConnect();
      if (host.Result() == 0 && !host.IsControlEnabled(IDC_CONNECT) && host.IsControlEnabled(IDC_UPDATE)) {
        // Asking for an update is choosing the device: a unit of another type is then
        // refused by the procedure itself.
        if (host.GetListSelection(IDC_DEVICE_LIST) <= 0) host.SetListSelection(IDC_DEVICE_LIST, 1);
        dialog.OnUpdate();
      } else if (dialog.Result() == UpdateResult::kNotIdentified) {
        std::fprintf(stderr, "The device did not answer the device data request; Update stays disabled.\n");
      }
      host.FinishLine();
      code = ExitCodeFor(dialog.Result());
      if (code == kPortNotOpened) std::fprintf(stderr, "%s: %s\n", port.c_str(), dialog.PortOpenError().c_str());
      if (code == kCancelled) std::fprintf(stderr, "Cancelled: nothing was written.\n");
    } catch (const Interrupted&) {
      host.FinishLine();
      std::fprintf(stderr, "Interrupted.\n");
      code = kInterrupted;
    }
    if (code != kDone && dialog.EraseRequested()) std::fprintf(stderr, "%s\n", kFlashIncomplete);
    dialog.OnDestroy();
  }
  if (simulator) {
    const bool identical = simulator->Finish();
    if (code == kDone && !identical) code = kDownloadFailed;
  }
  return code;
}

}  // namespace
}  // namespace cvm6

int main(int argc, char** argv) { return cvm6::Run(argc, argv); }
