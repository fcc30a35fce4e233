// The parts of cvm6-flash that a run is reported through: its command line, the exit
// status of several units, the summary table, the --json object, the --log transcript
// written from several threads, and the shared screen without a terminal.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "console_io.h"
#include "event_stream.h"
#include "exit_status.h"
#include "interrupt_wakes.h"
#include "output_writer.h"
#include "flash_log.h"
#include "flash_options.h"
#include "image/flash_image.h"
#include "image/scratch.h"
#include "run_report.h"
#include "port_search.h"
#include "unit_board.h"
#include "usb_port_name.h"

namespace cvm6::test {
namespace {

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::stringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// --- command line -----------------------------------------------------------------

struct OptionCase {
  const char* name;
  std::vector<std::string> args;
  int status;                          // when the program is not to run
  void (*check)(const FlashOptions&);  // when it is
};

void PrintTo(const OptionCase& row, std::ostream* out) { *out << row.name; }

class FlashOptionsTable : public ::testing::TestWithParam<OptionCase> {};

TEST_P(FlashOptionsTable, ReadsOrRefuses) {
  std::vector<std::string> all{"cvm6-flash"};
  all.insert(all.end(), GetParam().args.begin(), GetParam().args.end());
  std::vector<char*> argv;
  for (auto& arg : all) argv.push_back(arg.data());
  const ParsedCommandLine parsed = ParseFlashOptions(static_cast<int>(argv.size()), argv.data());
  if (GetParam().check) {
    ASSERT_TRUE(parsed.options) << "refused with status " << parsed.exitStatus;
    GetParam().check(*parsed.options);
  } else {
    EXPECT_FALSE(parsed.options);
    EXPECT_EQ(parsed.exitStatus, GetParam().status);
  }
}

const OptionCase kOptionCases[] = {
    {"SeveralPortsKeepTheirOrder",
     {"--port", "/dev/ttyUSB1", "--port", "COM1", "--port", "/dev/ttyUSB0"},
     0,
     [](const FlashOptions& o) {
       EXPECT_EQ(o.ports, (std::vector<std::string>{"/dev/ttyUSB1", "COM1", "/dev/ttyUSB0"}));
     }},
    {"APortTwiceIsRefused", {"--port", "COM1", "--port", "COM2", "--port", "COM1"}, 1, nullptr},
    {"DryRunNeedsNoPort", {"--dry-run"}, 0, [](const FlashOptions& o) { EXPECT_TRUE(o.dryRun); }},
    {"DryRunDoesNotSimulate", {"--dry-run", "--simulate"}, 1, nullptr},
    {"PortAndSimulateAreRefused", {"--port", "COM1", "--simulate"}, 1, nullptr},
    {"NothingToDoIsRefused", {}, 1, nullptr},
    {"BaseIsHexadecimal",
     {"--image", "fw.hex", "--base", "1A000", "--dry-run"},
     0,
     [](const FlashOptions& o) {
       EXPECT_EQ(o.image, "fw.hex");
       EXPECT_EQ(o.base, 0x1A000u);
     }},
    {"BaseTakesA0xPrefix",
     {"--image", "fw.hex", "--base", "0x10000", "--dry-run"},
     0,
     [](const FlashOptions& o) { EXPECT_EQ(o.base, 0x10000u); }},
    {"BaseAtTheListsEndIsRefused", {"--image", "fw.hex", "--base", "100000", "--dry-run"}, 1, nullptr},
    {"BaseThatIsNoNumberIsRefused", {"--image", "fw.hex", "--base", "bank1", "--dry-run"}, 1, nullptr},
    {"BaseWithoutImageIsRefused", {"--base", "10000", "--dry-run"}, 1, nullptr},
    {"ImageWithoutAPathIsRefused", {"--dry-run", "--image"}, 1, nullptr},
    {"LogFollowedByAnOptionIsRefused", {"--port", "COM1", "--log", "--json"}, 1, nullptr},
    {"SimulatorOptionsFollowSimulate",
     {"--simulate", "--baud", "57600", "--erase-ms", "0", "--json"},
     0,
     [](const FlashOptions& o) {
       EXPECT_TRUE(o.json);
       EXPECT_EQ(o.simulatorArgs, (std::vector<std::string>{"--baud", "57600", "--erase-ms", "0"}));
     }},
    {"UnknownOptionsWithAPortAreRefused", {"--port", "COM1", "--baud", "57600"}, 1, nullptr},
    {"HelpEndsTheRunWithZero", {"--help"}, 0, nullptr},
    {"EachPortAloneIsEnough",
     {"--each-port", "usb:0403:6001", "--port", "auto"},
     0,
     [](const FlashOptions& o) {
       EXPECT_EQ(o.eachPorts, std::vector<std::string>{"usb:0403:6001"});
       EXPECT_EQ(o.ports, std::vector<std::string>{"auto"});
     }},
    {"AutoAsPortAndEachPortIsRefused", {"--port", "auto", "--each-port", "auto"}, 1, nullptr},
    {"EachPortWithoutANameIsRefused", {"--each-port", "--yes"}, 1, nullptr},
    {"EachPortAndSimulateAreRefused", {"--each-port", "auto", "--simulate"}, 1, nullptr},
    {"EverythingAtOnce",
     {"--port", "COM3", "--image", "fw/cvm6.ini", "--log", "run.log", "--json", "--trace", "--yes"},
     0,
     [](const FlashOptions& o) {
       EXPECT_EQ(o.ports, std::vector<std::string>{"COM3"});
       EXPECT_EQ(o.logPath, "run.log");
       EXPECT_TRUE(o.json && o.trace && o.yes);
       EXPECT_FALSE(o.dryRun || o.simulate);
     }},
    {"ShortOptionsOfEveryFlasher",
     {"-p", "COM1", "-i", "fw.hex", "-n", "-v", "-y", "-p", "COM2"},
     0,
     [](const FlashOptions& o) {
       EXPECT_EQ(o.ports, (std::vector<std::string>{"COM1", "COM2"}));
       EXPECT_EQ(o.image, "fw.hex");
       EXPECT_TRUE(o.dryRun && o.trace && o.yes);
     }},
    {"AShortOptionIsNoPortName", {"-p", "-y"}, 1, nullptr},
    {"ExpectedDigestIsKeptInLowerCase",
     {"-n", "--expect-sha256", std::string(32, 'A') + std::string(32, 'f')},
     0,
     [](const FlashOptions& o) { EXPECT_EQ(o.expectSha256, std::string(32, 'a') + std::string(32, 'f')); }},
    {"ExpectedDigestOfTheWrongLengthIsRefused", {"-n", "--expect-sha256", std::string(63, 'a')}, 1, nullptr},
    {"ExpectedDigestThatIsNotHexIsRefused", {"-n", "--expect-sha256", std::string(63, 'a') + "g"}, 1, nullptr},
    {"EventsAndJsonBothWantStandardOutput", {"-n", "--events", "--json"}, 1, nullptr},
};

INSTANTIATE_TEST_SUITE_P(CommandLines, FlashOptionsTable, ::testing::ValuesIn(kOptionCases),
                         [](const auto& row) { return std::string(row.param.name); });

// --- outcomes of several units -----------------------------------------------------------

UnitOutcome Unit(const std::string& port, int status, const std::string& result) {
  UnitOutcome unit;
  unit.port = port;
  unit.exitStatus = status;
  unit.result = result;
  return unit;
}

UnitOutcome Erased(UnitOutcome unit) {
  unit.eraseBegun = true;
  return unit;
}

// A unit left half-written decides the run's status before any other: a script must
// never read "nothing connected" while a unit has no usable firmware.
TEST(RunOutcome, AUnitLeftHalfWrittenDecidesTheExitStatusThenPortOrder) {
  const struct {
    const char* name;
    std::vector<UnitOutcome> units;
    int status;
  } rows[] = {
      {"no units", {}, 0},
      {"all done", {Erased(Unit("a", 0, "done")), Erased(Unit("b", 0, "done"))}, 0},
      {"first failed in port order", {Unit("a", 0, "done"), Unit("b", 5, "download failed"), Unit("c", 3, "x")}, 5},
      {"interrupted before its erase", {Unit("a", 130, "interrupted"), Unit("b", 0, "done")}, 130},
      {"not found, then one failed after its erase",
       {Unit("a", 3, "device not found"), Erased(Unit("b", 5, "download failed"))}, 5},
      {"cancelled, then one interrupted after its erase",
       {Unit("a", 8, "cancelled"), Erased(Unit("b", 130, "interrupted")), Erased(Unit("c", 5, "download failed"))},
       130},
      {"done after its erase counts as finished", {Erased(Unit("a", 0, "done")), Unit("b", 2, "port not opened")}, 2},
  };
  for (const auto& row : rows) EXPECT_EQ(RunExitStatus(row.units), row.status) << row.name;
}

TEST(RunOutcome, EveryResultOfTheProcedureHasItsDocumentedStatus) {
  // Scripts act on these numbers: they may not drift.
  const std::pair<UpdateResult, int> table[] = {
      {UpdateResult::kDone, 0},           {UpdateResult::kPortNotOpened, 2},
      {UpdateResult::kPortUnusable, 2},   {UpdateResult::kDeviceNotFound, 3},
      {UpdateResult::kNotIdentified, 3},  {UpdateResult::kWrongDevice, 4},
      {UpdateResult::kDownloadFailed, 5}, {UpdateResult::kNoImage, 6},
      {UpdateResult::kImageRefused, 6},   {UpdateResult::kCommunicationError, 7},
      {UpdateResult::kCancelled, 8},      {UpdateResult::kNone, 7},
      {UpdateResult::kConnected, 7}};
  for (const auto& [result, status] : table) EXPECT_EQ(ExitStatusFor(result), status) << ResultName(result);
}

std::vector<UnitOutcome> FourUnits() {
  std::vector<UnitOutcome> units;
  for (int i = 0; i < 4; ++i) {
    UnitOutcome unit = Unit("/dev/ttyUSB" + std::to_string(i), 0, "done");
    unit.deviceType = 0x45;
    unit.deviceName = "Corvane M6";
    unit.firmwareVersion = 1.023f;
    unit.seconds = 11.84 + i;
    unit.blocksWritten = 244;
    unit.eraseBegun = true;
    units.push_back(unit);
  }
  units[2].exitStatus = 5;
  units[2].result = "download failed (port lost)";
  units[2].blocksWritten = 100;
  units[3] = Unit("/dev/ttyS9", 3, "device not found");  // never answered: no device data
  return units;
}

TEST(RunOutcome, SummaryTableHasOneAlignedRowPerUnit) {
  const auto lines = Lines(SummaryTable(FourUnits()));
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0].rfind("Port ", 0), 0u);
  EXPECT_EQ(lines[3].rfind("/dev/ttyUSB2  Corvane M6  1.023     download failed (port lost)", 0), 0u) << lines[3];
  EXPECT_TRUE(std::regex_search(lines[3], std::regex(" 13\\.8$"))) << lines[3];
  EXPECT_TRUE(std::regex_search(lines[4], std::regex("^/dev/ttyS9 +- +- +device not found +0/0 +0\\.0$"))) << lines[4];
  for (const auto& line : lines) EXPECT_EQ(line.size(), lines[0].size()) << line;  // seconds right-aligned
}

TEST(RunOutcome, JsonCarriesTheImageAndEveryUnit) {
  const ImageFacts facts{"hex file fw.hex at base 0X00000", 54911, 244, std::string(64, 'a')};
  auto units = FourUnits();
  units[0].port = "/dev/tty\xff";  // not UTF-8: replaced, never an exception
  const auto json = nlohmann::json::parse(JsonResult(facts, units, 5, "2026-12-09T03:41:07.123Z"));
  EXPECT_EQ(json["exit_status"], 5);
  EXPECT_TRUE(json["started"] == "2026-12-09T03:41:07.123Z" && json["version"] == CVM6_VERSION);
  EXPECT_EQ(json["image"]["source"], facts.source);
  EXPECT_EQ(json["image"]["bytes"], 54911);
  EXPECT_EQ(json["image"]["blocks"], 244);
  EXPECT_EQ(json["image"]["sha256"], facts.sha256);
  ASSERT_EQ(json["units"].size(), 4u);
  EXPECT_EQ(json["units"][0]["port"], "/dev/tty\xef\xbf\xbd");
  EXPECT_EQ(json["units"][2]["result"], "download failed (port lost)");
  EXPECT_EQ(json["units"][2]["exit_status"], 5);
  EXPECT_EQ(json["units"][2]["blocks_written"], 100);
  EXPECT_EQ(json["units"][2]["device_type"], 0x45);
  EXPECT_EQ(json["units"][2]["firmware_version"], "1.023");
  EXPECT_DOUBLE_EQ(json["units"][2]["seconds"].get<double>(), 13.84);
  EXPECT_TRUE(json["units"][3]["device_type"].is_null());
  EXPECT_TRUE(json["units"][3]["firmware_version"].is_null());
}

TEST(RunOutcome, ImageSummaryMergesRangesAndCountsBlocks) {
  CFlashImage image;
  for (std::uint32_t a = 0x2100; a < 0x2200; ++a) image.SetByte(a, 1);
  for (std::uint32_t a = 0x2000; a < 0x2100; ++a) image.SetByte(a, 2);
  image.SetByte(0x10000, 3);
  ImageLoadReport report;
  const ImageFacts facts = DescribeImage(image, report);
  EXPECT_EQ(facts.bytes, 513u);
  EXPECT_EQ(facts.blocks, 4u);  // 512 bytes in blocks of 246, 246 and 20, then the lone byte
  const auto lines = Lines(ImageSummaryText(facts, image, true));
  EXPECT_EQ(lines, (std::vector<std::string>{"Image: embedded image", "Bytes: 513", "Blocks: 4",
                                             "SHA-256: " + facts.sha256, "Ranges: 2",
                                             "Range: 0x02000-0x021FF (512 bytes)", "Range: 0x10000-0x10000 (1 byte)"}));
  EXPECT_EQ(Lines(ImageSummaryText(facts, image, false)).size(), 4u);
}

// --- the transcript ---------------------------------------------------------------------

TEST(FlashLog, LinesFromSeveralThreadsStayWholeAndStampedToTheMillisecond) {
  ScratchDir dir;
  const auto path = dir.Write("run.log", "earlier run\n");  // appended to, never replaced
  {
    std::string error;
    auto log = CFlashLog::Open(path.string(), error);
    ASSERT_TRUE(log) << error;
    std::vector<std::thread> units;
    for (int unit = 0; unit < 4; ++unit)
      units.emplace_back([&log, unit] {
        for (int i = 0; i < 200; ++i)
          log->Write("COM" + std::to_string(unit), "status: Updating Digital Board. " + std::to_string(i));
      });
    for (auto& thread : units) thread.join();
    log->Write("two lines\n\nin one text");
  }
  const auto lines = Lines(ReadFile(path));
  ASSERT_EQ(lines.size(), 1u + 800u + 2u);
  EXPECT_EQ(lines.front(), "earlier run");
  const std::regex unitLine(
      "^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} \\[COM[0-3]\\] status: Updating Digital Board\\. \\d+$");
  for (std::size_t i = 1; i <= 800; ++i) EXPECT_TRUE(std::regex_match(lines[i], unitLine)) << lines[i];
  EXPECT_TRUE(std::regex_match(lines[801], std::regex("^\\S+ \\S+ two lines$"))) << lines[801];
  EXPECT_TRUE(std::regex_match(lines[802], std::regex("^\\S+ \\S+ in one text$"))) << lines[802];
}

TEST(FlashLog, AFileThatCannotBeMadeGivesTheSystemsReason) {
  ScratchDir dir;
  std::string error;
  EXPECT_FALSE(CFlashLog::Open((dir.path() / "no-such-folder" / "run.log").string(), error));
  EXPECT_FALSE(error.empty());
}

// --- the shared screen without a terminal -------------------------------------------------

TEST(UnitBoard, WithoutATerminalEveryLineOfSeveralUnitsNamesItsPort) {
  ScratchDir dir;
  const auto path = dir.path() / "out.txt";
  std::FILE* out = std::fopen(path.string().c_str(), "wb");
  ASSERT_TRUE(out);
  {
    CUnitBoard board(out, {"COM1", "COM2"}, false);
    board.Status(0, "Erasing Digital Board Memory.");
    board.Progress(1, 100, 1000, 5000);  // no live lines without a terminal
    board.Pause();                       // a question waits: the lines come after it
    board.Print(1, "Update Complete!\n\nYou should now perform a hard reset.");
    board.Status(0, "Updating Digital Board.\n");
    EXPECT_EQ(ReadFile(path), "[COM1] Erasing Digital Board Memory.\n");  // nothing more while paused
    board.Resume();
    board.Close();
  }
  std::fclose(out);
  EXPECT_EQ(
      Lines(ReadFile(path)),
      (std::vector<std::string>{"[COM1] Erasing Digital Board Memory.", "[COM2] Update Complete!",
                                "[COM2] You should now perform a hard reset.", "[COM1] Updating Digital Board."}));
}

// The screen a terminal shows for `output`, as far as the board's cursor movements go:
// "\r", "\n", ESC [ n A (up n lines), ESC [ J (erase to the end), ESC [ 2K (erase line).
std::vector<std::string> Screen(const std::string& output) {
  std::vector<std::string> lines{""};
  std::size_t row = 0, column = 0;
  for (std::size_t i = 0; i < output.size(); ++i) {
    const char c = output[i];
    if (c == '\x1b' && i + 1 < output.size() && output[i + 1] == '[') {
      std::size_t end = i + 2;
      while (end < output.size() && std::isdigit(static_cast<unsigned char>(output[end]))) ++end;
      const int n = end > i + 2 ? std::stoi(output.substr(i + 2, end - i - 2)) : 0;
      if (output[end] == 'A') row -= std::min<std::size_t>(row, static_cast<std::size_t>(n));
      if (output[end] == 'J') lines.resize(row + 1), lines[row].resize(column);
      if (output[end] == 'K') lines[row].clear();
      i = end;
    } else if (c == '\r') {
      column = 0;
    } else if (c == '\n') {
      if (++row == lines.size()) lines.emplace_back();
      column = 0;
    } else {
      std::string& line = lines[row];
      if (line.size() <= column) line.resize(column + 1, ' ');
      line[column++] = c;
    }
  }
  if (lines.back().empty()) lines.pop_back();
  return lines;
}

TEST(UnitBoard, OnATerminalMessagesScrollAboveOneLiveLinePerUnit) {
  ScratchDir dir;
  const auto path = dir.path() / "out.txt";
  std::FILE* out = std::fopen(path.string().c_str(), "wb");
  ASSERT_TRUE(out);
  {
    CUnitBoard board(out, {"COM1", "/dev/ttyUSB0"}, true);
    board.Status(0, "Updating Digital Board.");
    board.Status(1, "Erasing Digital Board Memory.");
    board.Print(1, "link lost at block 3, carried on after 120 ms");
    board.Progress(0, 250, 1000, 2048);
    board.Progress(1, 1000, 1000, 1024);  // a pass that ends is always drawn
    board.Print(0, "Block pass: 5 blocks, 1000 bytes in 1.000 s");
    board.Close();
  }
  std::fclose(out);
  EXPECT_EQ(Screen(ReadFile(path)),
            (std::vector<std::string>{
                "[/dev/ttyUSB0] link lost at block 3, carried on after 120 ms",
                "[COM1] Block pass: 5 blocks, 1000 bytes in 1.000 s",
                "COM1          Updating Digital Board.          [#####...............]  25%     2.0 KiB/s",
                "/dev/ttyUSB0  Erasing Digital Board Memory.    [####################] 100%     1.0 KiB/s"}));
}

// A unit that failed says so on its live line at once, with no rate, as if it still ran
// the others go on beside it.
TEST(UnitBoard, AUnitThatEndedShowsItsResultOnItsLiveLineAtOnce) {
  ScratchDir dir;
  const auto path = dir.path() / "out.txt";
  std::FILE* out = std::fopen(path.string().c_str(), "wb");
  ASSERT_TRUE(out);
  CUnitBoard board(out, {"COM1", "COM2"}, true);
  board.Status(0, "Updating Digital Board.");
  board.Status(1, "Updating Digital Board.");
  board.Progress(0, 1000, 1000, 2048);
  board.Progress(1, 250, 1000, 2048);
  board.Ended(1, "download failed (port lost)");
  board.WaitWritten();
  const auto screen = Screen(ReadFile(path));
  ASSERT_EQ(screen.size(), 2u);
  EXPECT_EQ(screen[1], "COM2  download failed (port lost)      [#####...............]  25%");
  EXPECT_NE(screen[0].find("KiB/s"), std::string::npos);
  board.Close();
  std::fclose(out);
}

#ifndef _WIN32
// A stream nobody reads holds back no writer's caller: while the first chunk waits for
// the reader, each scope's newest progress replaces its older one still waiting, and
// every kept chunk is written, in order, once the reader comes.
TEST(OutputWriter, ACallerNeverWaitsForTheReaderAndOnlyProgressIsMerged) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  std::FILE* stream = fdopen(fds[1], "w");
  ASSERT_TRUE(stream);
  const std::string big(1 << 20, 'x');  // far more than a pipe holds: the writer waits in it
  std::string all;
  {
    COutputWriter writer;
    writer.Write(stream, big);
    for (int i = 1; i <= 1000; ++i) writer.Progress(stream, 0, "<", "p" + std::to_string(i) + "\n");
    writer.Write(stream, "k1\n");
    for (int i = 1; i <= 100; ++i) writer.Progress(stream, 0, "<", "q" + std::to_string(i) + "\n");
    writer.Progress(stream, 1, "", "r1\n");  // another unit: no barrier to the first
    writer.Progress(stream, 0, "<", "q101\n");
    writer.Progress(stream, 1, "", "r2\n");
    EXPECT_FALSE(writer.Drain(std::chrono::milliseconds(0)));  // nothing read yet
    EXPECT_EQ(writer.Merged(), 999u + 100u + 1u);
    std::thread reader([&] {
      char buffer[65536];
      for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) all.append(buffer, static_cast<std::size_t>(n));
    });
    EXPECT_TRUE(writer.Drain());
    std::fclose(stream);  // the reader sees the end
    reader.join();
  }
  close(fds[0]);
  EXPECT_EQ(all, big + "<p1000\nk1\n<q101\nr2\n");
}

// A unit's progress goes out at most every 1 % or 500 ms, each unit paced on its own, and
// its end is always told.
TEST(EventStream, ProgressIsPacedPerUnitAndItsEndAlwaysGoesOut) {
  std::FILE* file = std::tmpfile();
  ASSERT_TRUE(file);
  const auto start = std::chrono::steady_clock::now();
  {
    CEventStream events(file);
    events.RunStarted(nullptr);
    for (std::uint32_t bytes = 1; bytes <= 2000; ++bytes)
      for (std::size_t unit : {0u, 1u})
        events.Progress(unit, "unit" + std::to_string(unit), bytes / 100, 20, bytes, 2000);
    events.RunEnded(0);
  }
  const auto halfSeconds = (std::chrono::steady_clock::now() - start) / std::chrono::milliseconds(500);
  std::rewind(file);
  std::map<std::string, std::vector<std::uint32_t>> sent;
  char line[512];
  while (std::fgets(line, sizeof line, file)) {
    const auto event = nlohmann::json::parse(line);
    if (event["event"] == "progress") sent[event["port"]].push_back(event["bytes"]);
  }
  std::fclose(file);
  ASSERT_EQ(sent.size(), 2u);
  for (const auto& [port, bytes] : sent) {
    EXPECT_LE(bytes.size(), 101u + static_cast<std::size_t>(halfSeconds)) << port;
    EXPECT_EQ(bytes.back(), 2000u) << port;
  }
}

// The interrupt's first words (the log's "stopping every unit") come before any unit can
// see the interrupt and write its own end, and the wakes run once it can; a wake made
// after the interrupt gets both at once, in the same order. The flag is the process's
// own, so the interrupt comes in a child.
TEST(FirstInterrupt, ItsFirstWordsComeBeforeAnyUnitSeesIt) {
  const pid_t pid = fork();
  if (pid == 0) {
    std::string order;
    auto note = [&order](char what) { order += what, order += InterruptRequested() ? '1' : '0'; };
    CInterruptWake early([&] { note('w'); }, [&] { note('f'); });
    if (!MarkInterrupted() || InterruptRequested()) _exit(10);
    RunInterruptWakes();
    CInterruptWake late([&] { note('W'); }, [&] { note('F'); });
    _exit(order == "f0w1F1W1" ? 0 : 11);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// The last words stay the log's last lines: a unit thread still ending writes nothing after.
TEST(SecondInterrupt, NothingComesAfterTheLogsLastWords) {
  ScratchDir dir;
  const std::string logPath = (dir.path() / "run.log").string();
  {
    std::string error;
    auto log = CFlashLog::Open(logPath, error);
    ASSERT_TRUE(log) << error;
    log->Write("COM1", "status: Updating Digital Board.");
    log->WriteLast("run interrupted again: exit status 130");
    log->Write("COM1", "unit ended: interrupted, exit status 130");
  }
  const auto lines = Lines(ReadFile(logPath));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[1].find("run interrupted again: exit status 130"), std::string::npos);
}

// A second interrupt ends the program at once, after the last words: where each unit
// stands, on standard error and as the log's last lines, and the log closed.
TEST(SecondInterrupt, SaysWhereEachUnitStandsAndClosesTheLogBeforeItEnds) {
  ScratchDir dir;
  const std::string logPath = (dir.path() / "run.log").string(), errPath = (dir.path() / "err.txt").string();
  const pid_t pid = fork();
  if (pid == 0) {
    if (!std::freopen(errPath.c_str(), "w", stderr)) _exit(120);
    std::string error;
    auto log = CFlashLog::Open(logPath, error);
    CLastWords words([&] {
      WriteErrorNow("[COM1] Interrupted.\n");
      log->WriteLast("[COM1] Interrupted.\nrun interrupted again: exit status 130");
    });
    LeaveAtOnce();
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 130) << status;
  EXPECT_EQ(ReadFile(errPath), "\nInterrupted again: leaving at once.\n[COM1] Interrupted.\n");
  const auto lines = Lines(ReadFile(logPath));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[1].find("run interrupted again: exit status 130"), std::string::npos);
}
#endif

TEST(UnitBoard, OneUnitPrintsItsLinesAsTheyCome) {
  ScratchDir dir;
  const auto path = dir.path() / "out.txt";
  std::FILE* out = std::fopen(path.string().c_str(), "wb");
  ASSERT_TRUE(out);
  {
    CUnitBoard board(out, {"/dev/ttyUSB0"}, false);
    board.Status(0, "Erasing Digital Board Memory.");
    board.Print(0, "Device: Corvane M6");
    board.Close();
  }
  std::fclose(out);
  EXPECT_EQ(ReadFile(path), "Erasing Digital Board Memory.\nDevice: Corvane M6\n");
}

}  // namespace
}  // namespace cvm6::test

namespace cvm6::test {
namespace {

// --- ports by their adapter (matching them is held in flash_cli_test's bench) ---------

TEST(UsbNames, RefuseWhatIsNoNameAndAreWhatListPortsPrints) {
  std::string error;
  for (const char* bad : {"usb:0403", "usb:04g3:6001", "usb:00403:6001", "usb:0403:6001:"})
    EXPECT_FALSE(ParseUsbPortName(bad, error)) << bad;
  std::vector<SerialPortInfo> ports(2);
  ports[0] = {"/dev/ttyUSB0", "FTDI FT232R USB UART", 0x0403, 0x6001, "A50285BI", "FTDI", {}};
  ports[1].path = "/dev/ttyS0";
  EXPECT_EQ(PortListLine(ports[0]), "/dev/ttyUSB0  usb:0403:6001:A50285BI  FTDI FT232R USB UART");
  EXPECT_EQ(PortListLine(ports[1]), "/dev/ttyS0");
  const auto json = nlohmann::json::parse(PortListJson(ports))["ports"];
  EXPECT_EQ(json[0]["usb_name"], "usb:0403:6001:A50285BI");
  EXPECT_EQ(json[0]["product_id"], "6001");
  EXPECT_TRUE(json[1]["vendor_id"].is_null());
  // The search never listens to a built-in port, nor twice to one, nor to one named already.
  const char separator = kPortListSeparator;
  const std::string listed = std::string("COM12") + separator + "COM2" + separator + separator + "/dev/ttyS4" +
                             separator + "/dev/ttyUSB0" + separator + "COM13";
  EXPECT_EQ(SearchCandidates(ports, listed, {"COM13"}), (std::vector<std::string>{"/dev/ttyUSB0", "COM12"}));
}

}  // namespace
}  // namespace cvm6::test
