// cvm6-flash: the updater's connect / identify / update procedure from a terminal.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "console_host.h"
#include "flash_dialog.h"
#include "list_ports.h"
#include "platform/firmware_kind.h"
#include "platform/resources.h"
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
    "  --yes           write the synthetic test image without asking (see --version)\n"
    "  --trace         print every message sent (SND), received (RCV) or dropped (DEL)\n"
    "  --list-ports    list the serial ports this system has\n"
    "  --help          this text\n"
    "  --version       program version and which firmware image is embedded\n"
    "\n"
    "Exit status: 0 done, 1 usage, 2 port not opened, 3 device not found, 4 wrong device,\n"
    "5 download failed, 6 no image, 7 communication error, 130 interrupted.\n";

void OnSignal(int) { g_interrupted = true; }

int ExitCodeFor(const CConsoleHost& host, const std::string& prompt61513, const std::string& prompt61503,
                const std::string& prompt61517) {
  if (host.Boxes().empty()) return kDeviceNotFound;
  const std::string& last = host.Boxes().back();
  if (last == prompt61513) return kPortNotOpened;
  if (last == prompt61503) return kDeviceNotFound;
  if (last == prompt61517) return kWrongDevice;
  if (last == CUpdaterDlg::kNoImageText) return kNoImage;
  if (last.rfind("Communication error", 0) == 0) return kCommunicationError;
  if (last.rfind("Error ", 0) == 0 || last == "Block Transfer Error." ||
      last.rfind("The firmware image could not be read", 0) == 0)
    return kDownloadFailed;
  return kDownloadFailed;
}

int Run(int argc, char** argv) {
  std::string port;
  bool simulate = false, yes = false, trace = false;
  std::vector<std::string> simulatorArgs;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::printf("%s", kUsageText);
      return kDone;
    } else if (arg == "--version") {
      std::printf("cvm6-flash 1.0.0\nfirmware: %s\n",
                  res::IsSyntheticFirmware() ? "synthetic test image (not released firmware)"
                                             : "embedded firmware texts");
      return kDone;
    } else if (arg == "--list-ports") {
      for (const auto& info : ListSerialPorts())
        std::printf("%s%s%s\n", info.path.c_str(), info.description.empty() ? "" : "  ", info.description.c_str());
      return kDone;
    } else if (arg == "--port" && i + 1 < argc) {
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

  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);

  int code = kDone;
  {
    CConsoleHost host(port, yes);
    CFlashDialog dialog(host, simulate);
    if (trace) dialog.SetTraceSink([](const std::string& line) { std::fputs(line.c_str(), stdout); });
    try {
      dialog.OnInitDialog();
      dialog.OnConnect();
      if (host.Result() == 0 && !host.IsControlEnabled(IDC_CONNECT) && host.IsControlEnabled(IDC_UPDATE)) {
        // Asking for an update is choosing the device: a unit of another type is then
        // refused by the procedure itself.
        if (host.GetListSelection(IDC_DEVICE_LIST) <= 0) host.SetListSelection(IDC_DEVICE_LIST, 1);
        dialog.OnUpdate();
      } else if (host.Result() == 0 && !host.IsControlEnabled(IDC_CONNECT) && host.Boxes().empty()) {
        std::fprintf(stderr, "The device did not answer the device data request; Update stays disabled.\n");
      }
      host.FinishLine();
      if (host.Result() == IDOK) {
        code = kDone;
      } else {
        code = ExitCodeFor(host, LoadResString(IDP_PORT_NOT_OPENED).value_or("-"),
                           LoadResString(IDP_CANNOT_CONNECT).value_or("-"),
                           LoadResString(IDP_WRONG_DEVICE).value_or("-"));
        if (code == kPortNotOpened)
          std::fprintf(stderr, "%s: %s\n", port.c_str(), dialog.PortOpenError().c_str());
      }
    } catch (const Interrupted&) {
      host.FinishLine();
      dialog.OnDestroy();
      if (dialog.EraseRequested())
        std::fprintf(stderr, "Interrupted: the unit's flash is incomplete; run the update again.\n");
      else
        std::fprintf(stderr, "Interrupted.\n");
      code = kInterrupted;
    }
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
