// cvm6-flash: the updater's connect / identify / update procedure from a terminal, for
// one unit or several at once.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "console_io.h"
#include "event_stream.h"
#include "exit_status.h"
#include "flash_log.h"
#include "flash_options.h"
#include "flash_simulator.h"
#include "flash_unit.h"
#include "image/flash_image.h"
#include "image/image_read_error.h"
#include "image/list_file.h"
#include "platform/firmware_kind.h"
#include "platform/resources.h"
#include "platform/version.h"
#include "port/port_list.h"
#include "run_end.h"
#include "run_report.h"
#include "terminal_question.h"
#include "unit_board.h"
#include "unit_ports.h"
#include "usb_port_name.h"

namespace cvm6 {
namespace {

// How long the last words of a second Ctrl-C wait for the event stream to take its last
// line: a station that does not read must not keep the program.
constexpr std::chrono::milliseconds kLastWordsWait{500};

void PrintLines(std::FILE* out, const std::string& text) {
  std::fprintf(out, "%s\n", text.c_str());
  std::fflush(out);
}

// The image every unit of the run writes, loaded once before any port opens: the file
// of --image, or the first source of the search order.
std::shared_ptr<CFlashImage> LoadRunImage(const FlashOptions& options, ImageLoadReport& report, std::FILE* out,
                                          CFlashLog* log) {
  auto image = std::make_shared<CFlashImage>();
  const StatusSink status = [&](const std::string& text) {
    PrintLines(out, text);
    if (log) log->Write("loading: " + text);
  };
  report = options.image.empty() ? image->LoadFirmwareImage(status)
                                 : image->LoadImageFile(options.image, options.base, status);
  return image;
}

int Run(int argc, char** argv) {
  // First, before any thread starts: every thread then leaves Ctrl-C to one of its own.
  InstallInterruptHandling();
  const ParsedCommandLine parsed = ParseFlashOptions(argc, argv);
  if (!parsed.options) {
    // A station that asked for events reads its run-ended for a refused command line too.
    if (parsed.exitStatus != kDone && std::find(argv + 1, argv + argc, std::string_view("--events")) != argv + argc) {
      CEventStream events(stdout);
      events.RunStarted(nullptr);
      events.RunEnded(parsed.exitStatus);
    }
    return parsed.exitStatus;
  }
  FlashOptions options = *parsed.options;
  if (options.version) {
    std::printf(
        "cvm6-flash %s\nfirmware: %s\n", kProgramVersion,
        res::IsSyntheticFirmware() ? "synthetic test image (not released firmware)" : "embedded firmware texts");
    return kDone;
  }
  if (options.listPorts) {
    const auto ports = ListSerialPorts();
    if (options.json)
      std::printf("%s\n", PortListJson(ports).c_str());
    else
      for (const auto& info : ports) std::printf("%s\n", PortListLine(info).c_str());
    return kDone;
  }
  // With --json standard output carries the result alone, with --events the events.
  std::FILE* out = options.json || options.events ? stderr : stdout;
  const std::string started = UtcTimeText();
  std::unique_ptr<CEventStream> events;
  if (options.events) events = std::make_unique<CEventStream>(stdout);

  std::unique_ptr<CFlashLog> log;
  if (!options.logPath.empty()) {
    std::string error;
    log = CFlashLog::Open(options.logPath, error);
    if (!log) {
      std::fprintf(stderr, "cvm6-flash: cannot open the log %s: %s\n", options.logPath.c_str(), error.c_str());
      if (events) events->RunEnded(kUsage);
      return kUsage;
    }
    std::string command = "cvm6-flash";
    for (int i = 1; i < argc; ++i) command += std::string(" ") + argv[i];
    log->Write(std::string("cvm6-flash ") + kProgramVersion + " started: " + command);
  }
  // A second interrupt ends the program at once. Before the units run, and once they have
  // ended, all it has to say is how each unit ended (none, or their results). It may come
  // while the run closes its log: the lock keeps the log from closing under its words.
  std::mutex endedLock;
  std::string endedStates;
  CLastWords outerWords([&] {
    std::lock_guard<std::mutex> guard(endedLock);
    WriteErrorNow(endedStates);
    if (log) log->WriteLast(endedStates + "run interrupted again: exit status 130");
    if (events) events->RunEnded(kInterrupted, kLastWordsWait);
  });
  auto finish = [&](int status, std::vector<UnitOutcome> units, const ImageFacts& facts) {
    if (options.json) std::printf("%s\n", JsonResult(facts, units, status, started).c_str());
    if (events) {
      events->RunStarted(&facts);  // a run refused before its image was described
      events->RunEnded(status);
    }
    if (log)
      log->Write(InterruptRequested()
                     ? std::string("run interrupted (") + kInterruptCauses + "): exit status " + std::to_string(status)
                     : "run ended: exit status " + std::to_string(status));
    std::fflush(stdout);
    {
      std::lock_guard<std::mutex> guard(endedLock);
      log.reset();  // closed: every line is on the disk
    }
    MarkRunEnded();
    return status;
  };

  ImageLoadReport report;
  std::shared_ptr<CFlashImage> image;
  try {
    image = LoadRunImage(options, report, out, log.get());
  } catch (const CImageReadError& error) {
    // A file that opened but failed while it was read (an I/O error, a vanished share):
    // nothing was opened or written yet.
    const std::string why =
        std::string("The firmware image could not be read: ") + error.what() + "\nNothing was written to the device.";
    std::fprintf(stderr, "%s\n", why.c_str());
    if (log) log->Write("no image: " + why);
    ImageFacts unread;
    unread.source = PrintableText(options.image.empty() ? "the search order" : options.image);
    unread.refused = true;
    unread.faults.push_back({options.image, HexFault{HexFault::kReadError, 0, 0, error.what()}});
    return finish(kNoImage, {}, unread);
  }
  // A list file gives every entry its own base: a --base beside one is a slip.
  if (options.baseGiven && report.source == ImageSource::kListFile) {
    std::fprintf(stderr,
                 "cvm6-flash: --base goes with a single hex file; %s is a list file, whose entries give their own "
                 "bases.\nRun with --help for the options.\n",
                 PrintableText(options.image).c_str());
    if (log) log->Write("usage: --base given with the list file " + PrintableText(options.image));
    return finish(kUsage, {}, ImageFacts{report.SourceText()});
  }
  const ImageFacts facts = DescribeImage(*image, report);
  if (events) events->RunStarted(&facts);
  PrintLines(out, ImageSummaryText(facts, *image, options.dryRun));
  if (log) {
    if (facts.refused)
      log->Write("image refused: " + facts.source);
    else
      log->Write("image: " + facts.source + ", " + std::to_string(facts.bytes) + " bytes, " +
                 std::to_string(facts.blocks) + " blocks, SHA-256 " + facts.sha256);
    if (!facts.listEndText.empty()) log->Write(facts.listEndText);
  }
  // A damaged or empty image goes to no unit: no port is opened for it.
  if (!report.Usable() || image->GetCount() == 0) {
    const std::string why = !report.Usable() ? report.RefusalText() : CUpdaterDlg::kNoImageText;
    std::fprintf(stderr, "%s\n", why.c_str());
    if (log) log->Write("no image: " + why);
    return finish(kNoImage, {}, facts);
  }
  // A line station pins the released image: any other is refused before a port opens.
  if (!options.expectSha256.empty() && facts.sha256 != options.expectSha256) {
    const std::string why = "The firmware image is not the expected one:\nexpected SHA-256 " + options.expectSha256 +
                            "\nthe image's SHA-256 " + facts.sha256 + "\nNothing was written to the device.";
    std::fprintf(stderr, "%s\n", why.c_str());
    if (log) log->Write("image refused: " + why);
    return finish(kNoImage, {}, facts);
  }
  if (options.dryRun) return finish(kDone, {}, facts);

  std::unique_ptr<CFlashSimulator> simulator;
  if (options.simulate) {
    std::string error;
    simulator = CFlashSimulator::Start(options.simulatorArgs, error);
    if (!simulator) {
      std::fprintf(stderr, "cvm6-flash: %s\n", error.c_str());
      return finish(kUsage, {}, facts);
    }
    options.ports = {simulator->PortPath()};
    PrintLines(out, "Simulated unit on " + simulator->PortPath());
  } else {
    // usb: names and auto become the ports they stand for; nothing is written meanwhile.
    std::vector<std::string> ports;
    const int status = ChooseUnitPorts({options.ports, options.eachPorts, {}}, out, log.get(), ports);
    if (status != kDone) return finish(status, {}, facts);
    options.ports = ports;
  }

  std::vector<UnitOutcome> outcomes;
  {
    CUnitBoard board(out, options.ports, IsLiveTerminal(out, options.ports.size() > 1));
    CTerminalQuestion question(board, options.yes);
    const UnitShared shared{board,           question,           log.get(),   image, report, options.trace,
                            simulator.get(), options.maxDamaged, events.get()};
    std::vector<std::unique_ptr<CFlashUnit>> units;
    for (std::size_t i = 0; i < options.ports.size(); ++i)
      units.push_back(std::make_unique<CFlashUnit>(i, options.ports[i], shared));
    {
      CInterruptWake wake([&units] { for (auto& unit : units) unit->Wake(); },
                          [&log] {
                            if (log)
                              log->Write(std::string("interrupt (") + kInterruptCauses + "): stopping every unit");
                          });
      // A second interrupt ends the program at once, wherever the units are; it still
      // says for each whether its erase had begun, and the log says so too.
      CLastWords lastWords([&units, &log, &events] {
        std::string state;
        for (const auto& unit : units) state += unit->StateNow() + "\n";
        WriteErrorNow(state);
        if (log) log->WriteLast(state + "run interrupted again: exit status 130");
        if (events) events->RunEnded(kInterrupted, kLastWordsWait);
      });
      for (auto& unit : units) unit->Start();
      for (auto& unit : units) unit->Join();
    }
    board.Close();
    std::lock_guard<std::mutex> guard(endedLock);
    for (auto& unit : units) {
      outcomes.push_back(unit->Outcome());
      endedStates += unit->StateNow() + "\n";
    }
  }
  if (outcomes.size() > 1) PrintLines(out, "\n" + SummaryTable(outcomes));
  if (log)
    for (const UnitOutcome& unit : outcomes) log->Write(unit.port, "summary: " + SummaryLine(unit));

  int status = RunExitStatus(outcomes);
  if (simulator) {
    const bool identical = simulator->Finish(*image, out);
    if ((status == kDone || status == kNoisyLine) && !identical) {
      status = kDownloadFailed;
      outcomes.front().exitStatus = status;
      outcomes.front().result = "flash differs";
    }
  }
  return finish(status, outcomes, facts);
}

}  // namespace
}  // namespace cvm6

int main(int argc, char** argv) { return cvm6::Run(argc, argv); }
