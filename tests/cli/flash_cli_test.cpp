// cvm6-flash as a technician runs it: a process of its own, with a pseudo-terminal as its
// controlling terminal (or none), standard output and error captured apart, and the unit
// played in raw bytes on another pseudo-terminal, which counts the erase requests that
// reached it. One table: what the technician does, what the program must end with.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <ostream>
#include <sstream>
#include <regex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "image/scratch.h"
#include "platform/resources.h"
#include "support/fake_sysfs.h"
#include "support/raw_device.h"
#include "support/time_scale.h"

namespace cvm6::test {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr std::uint16_t kStartFlash = 0x15;
// The whole image is 2,783 round trips: too slow under the sanitizers.
#ifdef CVM6_FULL_IMAGE_RUNS
constexpr bool kFullImageRuns = true;
#else
constexpr bool kFullImageRuns = false;
#endif
constexpr const char* kIncomplete = "The unit's flash is incomplete: run the update again before using the unit.";

// A pseudo-terminal in its normal (cooked) mode, so that ^C typed on it interrupts the
// foreground process group, as on the technician's own terminal.
class Terminal {
 public:
  Terminal() {
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    char name[128];
    if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0 || ptsname_r(m_master, name, sizeof name) != 0)
      throw std::runtime_error("no pseudo-terminal");
    m_slavePath = name;
  }
  ~Terminal() { close(m_master); }
  int MasterFd() const { return m_master; }
  const std::string& SlavePath() const { return m_slavePath; }
  void Type(const std::string& keys) { (void)!write(m_master, keys.data(), keys.size()); }

 private:
  int m_master = -1;
  std::string m_slavePath;
};

enum class Tty { kNone, kTerminal };

// What the technician does while the program runs.
enum class Action {
  kNothing,
  kAnswerNo,           // "n" and Enter at the question on the terminal
  kCtrlCAtQuestion,    // ^C on the terminal while the question waits
  kCtrlCWhileWaiting,  // ^C on the terminal once the unit's window is up (the unit stays silent)
  kSigintWhileWriting, // SIGINT once the status line says the blocks are being written
  // While the blocks are written: SIGHUP (the terminal closed); SIGTERM; SIGINT, and once
  // the log in the run's folder (run.log) shows it taken, SIGINT again; the reader of
  // standard output going away (`cvm6-flash ... | head`).
  kSighupWhileWriting,
  kSigtermWhileWriting,
  kSigintTwiceWhileWriting,
  kCloseStdoutWhileWriting,
  // Standard output (a pipe that holds little) is not read until the log in the run's
  // folder says that every unit (one per -p) ended done.
  kHoldStdoutUntilEveryUnitIsDone,
};

std::string ReadText(const std::filesystem::path& path);

struct FlashRun {
  int status = -1;
  std::string out, err, terminal;
  int ms = 0;
};

// Runs cvm6-flash with `args` in `cwd`; stdin is /dev/null.
FlashRun RunFlash(const std::vector<std::string>& args, const std::string& cwd, Tty tty, Action action) {
  Terminal terminal;
  int outPipe[2], errPipe[2];
  if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  if (action == Action::kHoldStdoutUntilEveryUnitIsDone) fcntl(outPipe[1], F_SETPIPE_SZ, 4096);
  std::vector<std::string> all{CVM6_FLASH_PATH};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& arg : all) argv.push_back(arg.data());
  argv.push_back(nullptr);
  const std::string slave = terminal.SlavePath();
  const auto start = Clock::now();

  const pid_t pid = fork();
  if (pid == 0) {
    // Only async-signal-safe calls until exec: a new session, then the terminal (its
    // first open makes it the session's controlling terminal).
    setsid();
    if (tty == Tty::kTerminal) {
      const int fd = open(slave.c_str(), O_RDWR);
      if (fd < 0) _exit(120);
      ioctl(fd, TIOCSCTTY, 0);
      close(fd);
    }
    const int null = open("/dev/null", O_RDONLY);
    dup2(null, 0);
    dup2(outPipe[1], 1);
    dup2(errPipe[1], 2);
    if (chdir(cwd.c_str()) != 0) _exit(121);
    execv(argv[0], argv.data());
    _exit(122);
  }
  close(outPipe[1]);
  close(errPipe[1]);

  FlashRun run;
  bool acted = false, outOpen = true, errOpen = true, interruptedOnce = false;
  // Only against a hang, inside ctest's 300 s: four units at 57600 beside two busy
  // processes took 73 s alone and over 180 s beside another such test.
  const auto deadline = start + milliseconds(Scaled(280000));
  while (outOpen || errOpen) {
    const bool holding = action == Action::kHoldStdoutUntilEveryUnitIsDone && !acted;
    pollfd fds[3] = {{outOpen && !holding ? outPipe[0] : -1, POLLIN, 0}, {errPipe[0], POLLIN, 0}, {terminal.MasterFd(), POLLIN, 0}};
    poll(fds, 3, 20);
    char buffer[4096];
    std::string* sinks[3] = {&run.out, &run.err, &run.terminal};
    for (int i = 0; i < 3; ++i) {
      if (!(fds[i].revents & (POLLIN | POLLHUP))) continue;
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) sinks[i]->append(buffer, static_cast<std::size_t>(n));
      if (n <= 0 && i == 0) outOpen = false;
      if (n <= 0 && i == 1) errOpen = false;
    }
    const bool asked = run.terminal.find("[y/N]") != std::string::npos;
    if (!acted) {
      switch (action) {
        case Action::kNothing: break;
        case Action::kAnswerNo:
          if (asked) terminal.Type("n\n"), acted = true;
          break;
        case Action::kCtrlCAtQuestion:
          if (asked) terminal.Type("\x03"), acted = true;
          break;
        case Action::kCtrlCWhileWaiting:
          if (run.out.find("Status: Offline") != std::string::npos) terminal.Type("\x03"), acted = true;
          break;
        case Action::kSigintWhileWriting:
          if (run.out.find("Updating Digital Board.") != std::string::npos) kill(pid, SIGINT), acted = true;
          break;
        case Action::kSighupWhileWriting:
        case Action::kSigtermWhileWriting:
          if (run.out.find("Updating Digital Board.") != std::string::npos)
            kill(pid, action == Action::kSighupWhileWriting ? SIGHUP : SIGTERM), acted = true;
          break;
        case Action::kSigintTwiceWhileWriting:
          if (!interruptedOnce && run.out.find("Updating Digital Board.") != std::string::npos) {
            kill(pid, SIGINT);
            interruptedOnce = true;
          } else if (interruptedOnce && ReadText(std::filesystem::path(cwd) / "run.log").find("interrupt (") !=
                                            std::string::npos) {
            kill(pid, SIGINT);
            acted = true;
          }
          break;
        case Action::kHoldStdoutUntilEveryUnitIsDone: {
          const std::string log = ReadText(std::filesystem::path(cwd) / "run.log");
          const std::regex done("unit ended: done");
          acted = std::distance(std::sregex_iterator(log.begin(), log.end(), done), std::sregex_iterator()) ==
                  std::count(args.begin(), args.end(), "-p");
          break;
        }
        case Action::kCloseStdoutWhileWriting:
          if (run.out.find("Updating Digital Board.") != std::string::npos) {
            close(outPipe[0]);
            outOpen = false;
            acted = true;
          }
          break;
      }
    }
    if (Clock::now() > deadline) {
      kill(pid, SIGKILL);
      ADD_FAILURE() << "cvm6-flash did not end within a minute";
      break;
    }
  }
  if (outOpen) close(outPipe[0]);
  close(errPipe[0]);
  int wstatus = 0;
  waitpid(pid, &wstatus, 0);
  run.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  run.ms = static_cast<int>(std::chrono::duration_cast<milliseconds>(Clock::now() - start).count());
  return run;
}

// One run of the table. "$UNIT" in args is the raw-byte unit's port.
struct CliCase {
  const char* name;
  std::vector<std::string> args;
  bool unit;                      // a raw-byte unit on a pseudo-terminal
  void (*script)(DeviceScript&);  // how it behaves
  void (*files)(ScratchDir& cwd);  // what the current folder holds (an image: no question)
  Tty tty;
  Action action;
  int status;
  const char* stderrPattern;      // extended regular expression, searched
  int erases;                     // erase requests that must have reached the unit
  bool incomplete;                // whether the flash-incomplete warning is printed
  int maxMs = 0;                  // when not 0: the run ends this soon (scaled)
};

void PrintTo(const CliCase& row, std::ostream* out) { *out << row.name; }

void Default(DeviceScript&) {}

// A list file naming a good text of 2000 bytes at 0x2000.
void SmallImage(ScratchDir& cwd) {
  std::string hex;
  for (std::uint16_t offset = 0; offset < 2000; offset += 16)
    hex += HexRecord(offset, 0, std::string(16, static_cast<char>(offset / 16)));
  cwd.Write("fw.hex", hex + kEndRecord);
  cwd.Write("cvm6.ini", "fw.hex 2000\n");
}

// The same with one more entry whose file is not there.
void ImageWithAMissingText(ScratchDir& cwd) {
  SmallImage(cwd);
  cwd.Write("cvm6.ini", "fw.hex 2000\nfw2.hex 10000\n");
}

class FlashCli : public ::testing::TestWithParam<CliCase> {};

TEST_P(FlashCli, EndsAsTheTechnicianExpects) {
  const CliCase& row = GetParam();
  ScratchDir cwd;
  if (row.files) row.files(cwd);
  EnvGuard noDriveY("CVM6_DRIVE_Y", std::nullopt);
  PtyPair pty;
  DeviceScript script;
  if (row.script) row.script(script);
  RawDevice device(pty, script);
  if (row.unit) device.Start();
  std::vector<std::string> args = row.args;
  for (auto& arg : args)
    if (arg == "$UNIT") arg = pty.SlavePath();

  const FlashRun run = RunFlash(args, cwd.path().string(), row.tty, row.action);
  if (row.unit) device.Stop();

  SCOPED_TRACE("stdout:\n" + run.out + "\nstderr:\n" + run.err + "\nterminal:\n" + run.terminal);
  EXPECT_EQ(run.status, row.status);
  EXPECT_TRUE(std::regex_search(run.err, std::regex(row.stderrPattern, std::regex::extended))) << row.stderrPattern;
  const auto ids = device.Ids();
  EXPECT_EQ(std::count(ids.begin(), ids.end(), kStartFlash), row.erases);
  EXPECT_EQ(run.err.find(kIncomplete) != std::string::npos, row.incomplete);
  // Whatever went wrong, the output ends with whole lines, and a question is asked on
  // the terminal only, never on the captured output.
  if (!run.out.empty()) {
    EXPECT_EQ(run.out.back(), '\n');
  }
  if (!run.err.empty()) {
    EXPECT_EQ(run.err.back(), '\n');
  }
  EXPECT_EQ(run.out.find("[y/N]"), std::string::npos);
  // The completion is said once: by the prompt, not by the status line before it as well.
  if (row.status == 0) {
    EXPECT_EQ(run.out.find("Update Complete\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Update Complete!\n"), std::string::npos) << run.out;
  }
  if (row.maxMs != 0) {
    EXPECT_LT(run.ms, Scaled(row.maxMs));
  }
}

const CliCase kCases[] = {
    // The synthetic image is asked about on the terminal, even with standard output
    // going elsewhere; No writes nothing and is its own status.
    {"NoAtTheQuestionCancelsWithNothingWritten", {"--port", "$UNIT"}, true, Default, nullptr, Tty::kTerminal,
     Action::kAnswerNo, 8, "Cancelled: nothing was written\\.", 0, false},
    {"CtrlCAtTheQuestionEndsWithNoErase", {"--port", "$UNIT"}, true, Default, nullptr, Tty::kTerminal,
     Action::kCtrlCAtQuestion, 130, "^Interrupted\\.", 0, false},
    {"NoTerminalToAskOnMeansNo", {"--port", "$UNIT"}, true, Default, nullptr, Tty::kNone, Action::kNothing, 8,
     "--yes confirms", 0, false},
    // The device wait sleeps until something happens: the interrupt ends it at once.
    {"CtrlCWhileTheUnitIsAwaitedEndsAtOnce", {"--port", "$UNIT"}, true, [](DeviceScript& s) { s.announce = false; },
     nullptr, Tty::kTerminal, Action::kCtrlCWhileWaiting, 130, "^Interrupted\\.", 0, false, 2500},
    {"AChosenImageIsWrittenWithoutAQuestion", {"--port", "$UNIT"}, true, Default, SmallImage, Tty::kTerminal,
     Action::kNothing, 0, "^$", 1, false},
    {"ADamagedImageIsRefusedWithNothingWritten", {"--port", "$UNIT"}, true, Default, ImageWithAMissingText,
     Tty::kNone, Action::kNothing, 6, "fw2\\.hex, cannot be opened\nNothing was written to the device\\.", 0, false},
    {"AFailureAfterTheEraseSaysTheFlashIsIncomplete", {"--port", "$UNIT"}, true,
     [](DeviceScript& s) { s.wrongSequenceAtBlock = 1; }, SmallImage, Tty::kNone, Action::kNothing, 5,
     "Error Sending Data\\.", 1, true},
    {"CtrlCWhileWritingSaysTheFlashIsIncomplete", {"--simulate", "--erase-ms", "0", "--write-ms", "20"}, false,
     nullptr, nullptr, Tty::kNone, Action::kSigintWhileWriting, 130, "^Interrupted\\.", 0, true},
    // A frame the unit refused as damaged: complete, but the flash may not be exact.
    {"AFrameRefusedAsDamagedIsCompleteOnANoisyLine", {"--port", "$UNIT"}, true,
     [](DeviceScript& s) { s.refuseFirstCopyOfBlocks = {2}; }, SmallImage, Tty::kNone, Action::kNothing, 9,
     "^1 of [0-9]+ frames reached the unit damaged \\(one in [0-9]+\\) and was sent again; 0 came back damaged\\.\n"
     "On a line this noisy .*\nThe chance that this update stored such a frame is (about [0-9.]+|below 0\\.1) %, .*\n"
     "Update again over a shorter cable or another adapter until no frame is damaged\\.\n$",
     1, false},
    {"MaxDamagedAllowsRefusedFrames", {"--port", "$UNIT", "--max-damaged", "1"}, true,
     [](DeviceScript& s) { s.refuseFirstCopyOfBlocks = {2}; }, SmallImage, Tty::kNone, Action::kNothing, 0, "^$", 1,
     false},
    {"AnotherDeviceTypeIsRefused", {"--simulate", "--device-type", "0x41"}, false, nullptr, nullptr, Tty::kNone,
     Action::kNothing, 4, "You are NOT connected", 0, false},
    {"NoAnnouncementIsDeviceNotFound", {"--simulate", "--no-announce"}, false, nullptr, nullptr, Tty::kNone,
     Action::kNothing, 3, "cannot connect to the device", 0, false},
    {"APortThatDoesNotOpenGivesTheReason", {"--port", "/dev/cvm6-no-such-port"}, false, nullptr, nullptr, Tty::kNone,
     Action::kNothing, 2, "/dev/cvm6-no-such-port: no such port", 0, false},
    {"AFileIsNotASerialPort", {"--port", "/dev/null"}, false, nullptr, nullptr, Tty::kNone, Action::kNothing, 2,
     "^/dev/null: not a serial port\n$", 0, false},
    {"PortWithoutAName", {"--port"}, false, nullptr, nullptr, Tty::kNone, Action::kNothing, 1,
     "--port needs a port name", 0, false},
    {"PortFollowedByAnOption", {"--port", "--yes"}, false, nullptr, nullptr, Tty::kNone, Action::kNothing, 1,
     "--port needs a port name", 0, false},
    {"NeitherPortNorSimulate", {}, false, nullptr, nullptr, Tty::kNone, Action::kNothing, 1, "give either --port", 0,
     false},
};

INSTANTIATE_TEST_SUITE_P(Cli, FlashCli, ::testing::ValuesIn(kCases),
                         [](const auto& param) { return std::string(param.param.name); });

// A unit left powered keeps the number of the last frame it took, and every run numbers
// its frames from 1. The first run connects and is declined; the second, against the same
// unit, must still find it and write its image.
TEST(FlashCliAgainstOneUnit, ASecondRunFindsTheUnitTheFirstLeftPowered) {
  int simOut[2];
  ASSERT_EQ(pipe2(simOut, O_CLOEXEC), 0);
  const pid_t sim = fork();
  if (sim == 0) {
    dup2(simOut[1], 1);
    execl(CVM6_SIM_PATH, CVM6_SIM_PATH, "--erase-ms", "0", static_cast<char*>(nullptr));
    _exit(122);
  }
  close(simOut[1]);
  std::string port;
  char c = 0;
  while (read(simOut[0], &c, 1) == 1 && c != '\n') port += c;
  ASSERT_FALSE(port.empty());

  ScratchDir declined, chosen;
  SmallImage(chosen);
  EnvGuard noDriveY("CVM6_DRIVE_Y", std::nullopt);
  const FlashRun first = RunFlash({"--port", port}, declined.path().string(), Tty::kNone, Action::kNothing);
  const FlashRun second = RunFlash({"--port", port}, chosen.path().string(), Tty::kNone, Action::kNothing);
  kill(sim, SIGTERM);
  waitpid(sim, nullptr, 0);
  close(simOut[0]);
  EXPECT_EQ(first.status, 8) << first.out << first.err;
  EXPECT_EQ(second.status, 0) << second.out << second.err;
  EXPECT_NE(second.out.find("Device: Corvane M6"), std::string::npos);
}

}  // namespace
}  // namespace cvm6::test

namespace cvm6::test {
namespace {

// cvm6-sim in a process of its own: its pseudo-terminal is the port of one unit, and
// what it printed when it ended (its flash digest among it) is kept.
class SimProcess {
 public:
  explicit SimProcess(const std::vector<std::string>& options) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    std::vector<std::string> all{CVM6_SIM_PATH};
    all.insert(all.end(), options.begin(), options.end());
    std::vector<char*> argv;
    for (auto& arg : all) argv.push_back(arg.data());
    argv.push_back(nullptr);
    m_pid = fork();
    if (m_pid == 0) {
      dup2(out[1], 1);
      execv(argv[0], argv.data());
      _exit(122);
    }
    close(out[1]);
    m_out = out[0];
    char c = 0;
    while (read(m_out, &c, 1) == 1 && c != '\n') m_port += c;
  }
  ~SimProcess() { Finish(); }

  const std::string& Port() const { return m_port; }
  // Stops the unit (if it has not ended by itself) and returns all it printed after its port.
  const std::string& Finish() {
    if (m_pid > 0) {
      kill(m_pid, SIGTERM);
      char buffer[4096];
      for (ssize_t n; (n = read(m_out, buffer, sizeof buffer)) > 0;)
        m_summary.append(buffer, static_cast<std::size_t>(n));
      waitpid(m_pid, nullptr, 0);
      close(m_out);
      m_pid = -1;
    }
    return m_summary;
  }
  std::string FlashDigest() {
    const std::string& text = Finish();
    std::smatch match;
    return std::regex_search(text, match, std::regex("flash sha256: ([0-9a-f]{64})")) ? match[1].str() : "";
  }

 private:
  pid_t m_pid = -1;
  int m_out = -1;
  std::string m_port, m_summary;
};

// Ctrl-C mid-download leaves the unit's link up, and a run started at once after it
// keeps that link up with its wake bursts: it must still find the unit within its
// connect wait and write the whole image.
TEST(FlashCliAgainstOneUnit, ARunRightAfterAnInterruptedOneFindsTheUnit) {
  ScratchDir cwd;
  SmallImage(cwd);
  EnvGuard noDriveY("CVM6_DRIVE_Y", std::nullopt);
  SimProcess unit({"--erase-ms", "0", "--write-ms", "200"});
  ASSERT_FALSE(unit.Port().empty());
  const FlashRun interrupted =
      RunFlash({"--port", unit.Port()}, cwd.path().string(), Tty::kNone, Action::kSigintWhileWriting);
  ASSERT_EQ(interrupted.status, 130) << interrupted.out << interrupted.err;
  const FlashRun again = RunFlash({"--port", unit.Port()}, cwd.path().string(), Tty::kNone, Action::kNothing);
  EXPECT_EQ(again.status, 0) << again.out << again.err;
  std::smatch digest;
  ASSERT_TRUE(std::regex_search(again.out, digest, std::regex("SHA-256: ([0-9a-f]{64})")));
  EXPECT_EQ(unit.FlashDigest(), digest[1].str());
}

// Bank 0 of the embedded image as a hex file of its own.
std::string WriteBankZero(const ScratchDir& dir) {
  const auto text = FindBinaryResource(160);
  if (!text) throw std::runtime_error("no resource 160");
  return dir.Write("bank0.hex", std::string(text->begin(), text->end())).string();
}

nlohmann::json ParseResult(const FlashRun& run) {
  try {
    return nlohmann::json::parse(run.out);
  } catch (const nlohmann::json::exception& error) {
    ADD_FAILURE() << "standard output is not one JSON object: " << error.what();
    return {};
  }
}

// `text` as an extended regular expression that matches it alone.
std::string Literal(const std::string& text) {
  std::string pattern;
  for (const char c : text) {
    if (std::string_view("[](){}.*+?^$|\\").find(c) != std::string_view::npos) pattern += '\\';
    pattern += c;
  }
  return pattern;
}

std::string ReadText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// What ends a run from outside while the blocks are written, and what it leaves: the
// exit status, the log's last line, and on standard error whether the unit's flash is
// now incomplete. A closed pipe stops the screen output only; a hang-up is an interrupt
// like SIGTERM; a second Ctrl-C still says where the unit stands before it leaves.
struct SignalCase {
  const char* name;
  Action action;
  int status;
  const char* logLastLine;  // extended regular expression
  bool incomplete;
};

void PrintTo(const SignalCase& row, std::ostream* out) { *out << row.name; }

class FlashCliSignals : public ::testing::TestWithParam<SignalCase> {};

TEST_P(FlashCliSignals, EndWithTheLogAndTheUnitsStateWritten) {
  const SignalCase& row = GetParam();
  ScratchDir cwd;
  SmallImage(cwd);  // 9 blocks: 1.8 s at the unit's 200 ms a block
  const FlashRun run = RunFlash({"--simulate", "--erase-ms", "0", "--write-ms", "200", "--log", "run.log"},
                                cwd.path().string(), Tty::kNone, row.action);
  SCOPED_TRACE("stdout:\n" + run.out + "\nstderr:\n" + run.err);
  EXPECT_EQ(run.status, row.status);
  const std::string log = ReadText(cwd.path() / "run.log");
  std::vector<std::string> lines;
  std::stringstream in(log);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_FALSE(lines.empty());
  EXPECT_TRUE(std::regex_search(lines.back(), std::regex(row.logLastLine, std::regex::extended))) << log;
  EXPECT_EQ(run.err.find(kIncomplete) != std::string::npos, row.incomplete);
  if (row.incomplete) {
    EXPECT_NE(log.find(kIncomplete), std::string::npos) << log;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Runs, FlashCliSignals,
    ::testing::Values(
        SignalCase{"AClosedPipeStopsTheScreenNotTheUpdate", Action::kCloseStdoutWhileWriting, 0,
                   "run ended: exit status 0$", false},
        SignalCase{"AHangUpIsAnInterrupt", Action::kSighupWhileWriting, 130,
                   "run interrupted \\(Ctrl-C, SIGTERM or a hang-up\\): exit status 130$", true},
        SignalCase{"SigtermIsAnInterrupt", Action::kSigtermWhileWriting, 130,
                   "run interrupted \\(Ctrl-C, SIGTERM or a hang-up\\): exit status 130$", true},
        // The second may find the run already ending: either way it ends with where
        // the unit stands.
        SignalCase{"ASecondCtrlCStillSaysWhereTheUnitStands", Action::kSigintTwiceWhileWriting, 130,
                   "run interrupted (again|\\(Ctrl-C, SIGTERM or a hang-up\\)): exit status 130$", true}),
    [](const auto& row) { return std::string(row.param.name); });

// Four units on four pseudo-terminals at the technician's speed, bank 0 through --image;
// in the second run the third unit takes block 100 and is unplugged before it answers.
class FourUnits : public ::testing::TestWithParam<bool> {};

TEST_P(FourUnits, EachEndsOnItsOwnAndTheRunSaysSo) {
  const bool unplugThird = GetParam();
  ScratchDir cwd;
  const std::string image = WriteBankZero(cwd);
  std::vector<std::unique_ptr<SimProcess>> units;
  std::vector<std::string> args{"--image", image, "--base", "0", "--json", "--log", "run.log"};
  for (int i = 0; i < 4; ++i) {
    std::vector<std::string> options{"--baud", "57600", "--erase-ms", "0", "--updates", "1"};
    if (unplugThird && i == 2) options.insert(options.end(), {"--close-after-block", "100"});
    units.push_back(std::make_unique<SimProcess>(options));
    ASSERT_FALSE(units.back()->Port().empty());
    args.insert(args.end(), {"--port", units.back()->Port()});
  }
  const FlashRun run = RunFlash(args, cwd.path().string(), Tty::kNone, Action::kNothing);
  SCOPED_TRACE("stdout:\n" + run.out + "\nstderr:\n" + run.err);
  const auto result = ParseResult(run);
  const std::string sha = result["image"]["sha256"];
  EXPECT_EQ(result["image"]["blocks"], 244);
  EXPECT_EQ(run.status, unplugThird ? 5 : 0);
  EXPECT_EQ(result["exit_status"], run.status);
  ASSERT_EQ(result["units"].size(), 4u);
  const std::string log = ReadText(cwd.path() / "run.log");
  for (std::size_t i = 0; i < 4; ++i) {
    const auto& unit = result["units"][i];
    const std::string port = units[i]->Port();
    const bool lost = unplugThird && i == 2;
    EXPECT_EQ(unit["port"], port);
    EXPECT_EQ(unit["device_type"], 0x45);
    EXPECT_EQ(unit["result"], lost ? "download failed (port lost)" : "done");
    EXPECT_EQ(unit["exit_status"], lost ? 5 : 0);
    EXPECT_EQ(unit["blocks_written"], lost ? 100 : 244);
    EXPECT_EQ(unit["erase_begun"], true);
    // The summary table's row and the log's last word on the unit say the same.
    const std::string row = Literal(port) + " +Corvane M6 +" + Literal(unit["firmware_version"]) + " +" +
                            Literal(unit["result"]) + " +" + unit["frames_damaged_to_unit"].dump() + "/" +
                            unit["frames_damaged_from_unit"].dump() + " +[0-9.]+\n";
    EXPECT_TRUE(std::regex_search(run.err, std::regex(row, std::regex::extended))) << row;
    const std::string logged = "[" + port + "] summary: " + unit["result"].get<std::string>();
    EXPECT_NE(log.find(logged), std::string::npos) << logged;
    if (lost) {
      EXPECT_NE(log.find("[" + port + "] error: Error Sending Data."), std::string::npos);
    } else {
      EXPECT_EQ(units[i]->FlashDigest(), sha) << port;
    }
  }
  EXPECT_NE(log.find("SHA-256 " + sha), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(AtOnce, FourUnits, ::testing::Values(false, true),
                         [](const auto& row) { return row.param ? "OneUnplugged" : "AllDone"; });

// Standard output a pipe that nobody reads (and that holds little): every line of four
// units with --trace waits in it, yet each update runs to its end, as the log shows,
// before the pipe is read at all. Then every line comes, the run ends done, and each
// unit's lines stand in the order they happened.
TEST(SeveralUnits, AnUnreadPipeOnStandardOutputHoldsBackNoUnit) {
  ScratchDir cwd;
  std::vector<std::unique_ptr<SimProcess>> units;
  std::vector<std::string> args{"-i", WriteBankZero(cwd), "--log", "run.log", "-v"};
  for (int i = 0; i < 4; ++i) {
    units.push_back(std::make_unique<SimProcess>(std::vector<std::string>{"--erase-ms", "0", "--updates", "1"}));
    args.insert(args.end(), {"-p", units.back()->Port()});
  }
  const FlashRun run = RunFlash(args, cwd.path().string(), Tty::kNone, Action::kHoldStdoutUntilEveryUnitIsDone);
  EXPECT_EQ(run.status, 0) << run.err << ReadText(cwd.path() / "run.log");
  EXPECT_GT(run.out.size(), 4096u * 4);  // far more than the pipe held
  const std::string& text = run.out;
  for (const auto& unit : units) {
    const std::string port = "[" + unit->Port() + "] ";
    const auto erasing = text.find(port + "Erasing Digital Board Memory.\n");
    EXPECT_LT(erasing, text.rfind(port + "RCV: MSG_SYSTEM_DID_WRITE_FLASH")) << port;
    EXPECT_LT(text.rfind(port + "RCV: MSG_SYSTEM_DID_WRITE_FLASH"), text.find(port + "Update Complete!\n")) << port;
  }
  EXPECT_TRUE(std::regex_search(text, std::regex("\nPort +Device +Firmware +Result.*\n(.*done.*\n){4}\n?$"))) << text;
}

// Ctrl-C stops every unit at once, and each says whether its erase had begun: one was
// writing its blocks (slowly enough that no machine finishes them first), the other
// never heard its unit announce itself and was still waiting: had its wait run out
// instead, it would say that it found no device.
TEST(SeveralUnits, CtrlCStopsAllAndEachSaysWhetherItsEraseHadBegun) {
  ScratchDir cwd;
  SmallImage(cwd);
  SimProcess writing({"--erase-ms", "0", "--write-ms", "2000"}), silent({"--no-announce"});
  const FlashRun run = RunFlash({"--port", writing.Port(), "--port", silent.Port()}, cwd.path().string(), Tty::kNone,
                                Action::kSigintWhileWriting);
  SCOPED_TRACE("stdout:\n" + run.out + "\nstderr:\n" + run.err);
  EXPECT_EQ(run.status, 130);
  EXPECT_EQ(run.err.find("cannot connect to the device"), std::string::npos);
  EXPECT_NE(run.err.find("[" + writing.Port() + "] Interrupted.\n[" + writing.Port() + "] " + kIncomplete),
            std::string::npos);
  EXPECT_NE(run.err.find("[" + silent.Port() + "] Interrupted.\n[" + silent.Port() +
                         "] The erase had not begun: the unit's flash is as it was."),
            std::string::npos);
  EXPECT_TRUE(std::regex_search(run.out, std::regex(Literal(silent.Port()) + " +- +- +interrupted +0/0 +[0-9.]+\n")));
}

// What --dry-run shows for an image, read from its --json object.
nlohmann::json DryRun(const ScratchDir& cwd, const std::vector<std::string>& imageArgs, int status = 0) {
  std::vector<std::string> args{"--dry-run", "--json"};
  args.insert(args.end(), imageArgs.begin(), imageArgs.end());
  const FlashRun run = RunFlash(args, cwd.path().string(), Tty::kNone, Action::kNothing);
  EXPECT_EQ(run.status, status) << run.err;
  return ParseResult(run)["image"];
}

TEST(FlashCliDryRun, AHexFileAtABaseIsTheImageOfAListFileWithThatEntry) {
  ScratchDir cwd;
  SmallImage(cwd);  // fw.hex: 2000 bytes
  cwd.Write("lists/one.ini", "../fw.hex 1A000\n");
  const auto fromHex = DryRun(cwd, {"--image", "fw.hex", "--base", "1A000"});
  const auto fromList = DryRun(cwd, {"--image", "lists/one.ini"});
  EXPECT_EQ(fromHex["bytes"], 2000);
  EXPECT_EQ(fromHex["blocks"], 9);  // 2000 bytes in one run: eight of 246 and one of 32
  EXPECT_EQ(fromHex["sha256"], fromList["sha256"]);
  EXPECT_EQ(fromHex["bytes"], fromList["bytes"]);
  EXPECT_EQ(fromHex["source"], "hex file fw.hex at base 0X1A000");
  EXPECT_EQ(fromList["source"], "list file lists/one.ini");
  EXPECT_NE(fromHex["sha256"], DryRun(cwd, {"--image", "fw.hex"})["sha256"]);  // the base counts
}

// A pinned image: the digest of the dry run lets it through (in either case), any other
// refuses it before a port opens, with both digests said.
TEST(FlashCliDryRun, AnImageOtherThanTheExpectedOneIsRefusedBeforeAnyPortOpens) {
  ScratchDir cwd;
  SmallImage(cwd);
  const std::string digest = DryRun(cwd, {})["sha256"];
  std::string upper = digest;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  DryRun(cwd, {"--expect-sha256", upper});
  std::string other = digest;
  other[10] = other[10] == '0' ? '1' : '0';
  const FlashRun run = RunFlash({"--expect-sha256", other, "-p", "/dev/cvm6-no-such-port", "--log", "run.log"},
                                cwd.path().string(), Tty::kNone, Action::kNothing);
  EXPECT_EQ(run.status, 6) << run.err;
  EXPECT_NE(run.err.find("expected SHA-256 " + other + "\nthe image's SHA-256 " + digest +
                         "\nNothing was written to the device."),
            std::string::npos)
      << run.err;
  EXPECT_EQ(run.err.find("no such port"), std::string::npos) << run.err;
  EXPECT_NE(ReadText(cwd.path() / "run.log").find("image refused: The firmware image is not the expected one"),
            std::string::npos);
}

// A whole flash in one file, as object-copy tools write it: each of the fourteen banks
// after an extended linear (even banks) or segment (odd banks) address record, the data
// lines as the embedded texts have them. Read at base 0 it is the embedded image.
TEST(FlashCliDryRun, AWholeFlashInOneHexFileIsTheImageOfTheFourteenTexts) {
  ScratchDir cwd;
  EnvGuard noDriveY("CVM6_DRIVE_Y", std::nullopt);
  std::string whole;
  for (int bank = 0; bank < 14; ++bank) {
    const auto text = FindBinaryResource(static_cast<std::uint16_t>(160 + bank));
    ASSERT_TRUE(text);
    whole += bank % 2 ? HexRecord(0, 2, std::string{static_cast<char>(bank << 4), '\0'})
                      : HexRecord(0, 4, std::string{'\0', static_cast<char>(bank)});
    std::stringstream lines(std::string(text->begin(), text->end()));
    for (std::string line; std::getline(lines, line);)
      if (line.rfind(":00000001", 0) != 0) whole += line + "\n";
  }
  cwd.Write("whole.hex", whole + kEndRecord);
  const auto fromOneFile = DryRun(cwd, {"-i", "whole.hex"});
  const auto embedded = DryRun(cwd, {});
  EXPECT_EQ(embedded["source"], "embedded image");
  EXPECT_EQ(fromOneFile["source"], "hex file whole.hex at base 0X00000");
  EXPECT_EQ(fromOneFile["bytes"], 617256);
  EXPECT_EQ(fromOneFile["sha256"], embedded["sha256"]);
}

// A base of 100000 ends the list as it always has; the dry run and the log say where.
TEST(FlashCliDryRun, SaysAtWhichLineTheListEnded) {
  ScratchDir cwd;
  SmallImage(cwd);
  cwd.Write("cvm6.ini", "fw.hex 2000\n\nend 100000\nnot read 1O000\n");
  const FlashRun run = RunFlash({"--dry-run", "--log", "run.log"}, cwd.path().string(), Tty::kNone, Action::kNothing);
  EXPECT_EQ(run.status, 0) << run.err;
  const char* ended = "The list ended at line 3 (base 0X100000): that line and the lines after it were not read.";
  EXPECT_NE(run.out.find(ended), std::string::npos) << run.out;
  EXPECT_NE(ReadText(cwd.path() / "run.log").find(ended), std::string::npos);
  EXPECT_EQ(DryRun(cwd, {})["list_ended_at_line"], 3);
}

TEST(FlashCliDryRun, ShowsRangesAndOpensNoPort) {
  ScratchDir cwd;
  SmallImage(cwd);
  const FlashRun run =
      RunFlash({"--dry-run", "--port", "/dev/cvm6-no-such-port"}, cwd.path().string(), Tty::kNone, Action::kNothing);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("Image: list file cvm6.ini\nBytes: 2000\nBlocks: 9\nSHA-256: "), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Ranges: 1\nRange: 0x02000-0x027CF (2000 bytes)\n"), std::string::npos) << run.out;
  EXPECT_EQ(run.err, "");
}

struct DryRunRefusal {
  const char* name;
  const char* listFile;  // written as cvm6.ini when not empty; bad.hex is always there
  std::vector<std::string> args;
  const char* stderrPattern;
  int status = 6;
  bool usable = false;  // an image with nothing in it: no fault to name, its digest shown
};

void PrintTo(const DryRunRefusal& row, std::ostream* out) { *out << row.name; }

class FlashCliDryRunRefuses : public ::testing::TestWithParam<DryRunRefusal> {};

TEST_P(FlashCliDryRunRefuses, WithStatusSixAndTheReason) {
  ScratchDir cwd;
  if (*GetParam().listFile) cwd.Write("cvm6.ini", GetParam().listFile);
  // The second record's checksum should be FA.
  cwd.Write("bad.hex", HexRecord(0, 0, "ok") + ":020010007A7A00\r\n" + kEndRecord);
  std::vector<std::string> args{"--dry-run"};
  args.insert(args.end(), GetParam().args.begin(), GetParam().args.end());
  const FlashRun run = RunFlash(args, cwd.path().string(), Tty::kNone, Action::kNothing);
  EXPECT_EQ(run.status, GetParam().status);
  EXPECT_TRUE(std::regex_search(run.err, std::regex(GetParam().stderrPattern, std::regex::extended))) << run.err;
  // What a file holds never reaches the terminal as it is: no escape sequence gets through.
  EXPECT_EQ(run.err.find('\x1b'), std::string::npos);
  EXPECT_EQ(run.out.find('\x1b'), std::string::npos);
  // A refused image shows no digest of what it would have written; its JSON names the
  // faults instead.
  EXPECT_EQ(run.out.find("SHA-256") != std::string::npos, GetParam().usable) << run.out;
  if (GetParam().status != 6 || GetParam().usable) return;
  args.push_back("--json");
  const auto image = ParseResult(RunFlash(args, cwd.path().string(), Tty::kNone, Action::kNothing))["image"];
  EXPECT_EQ(image["refused"], true);
  EXPECT_TRUE(image["sha256"].is_null());
  ASSERT_FALSE(image["faults"].empty());
  const auto& fault = image["faults"][0];  // the fault the message named
  const std::string line = fault["line"].is_null() ? "" : "line " + fault["line"].dump() + ": ";
  EXPECT_NE(run.err.find(line + fault["reason"].get<std::string>()), std::string::npos) << fault.dump();
  EXPECT_NE(run.err.find(fault["file"].get<std::string>()), std::string::npos) << fault.dump();
}

INSTANTIATE_TEST_SUITE_P(
    Images, FlashCliDryRunRefuses,
    ::testing::Values(
        DryRunRefusal{"ABadRecordNamesFileAndLine", "", {"--image", "bad.hex"}, "bad\\.hex, line 2: wrong checksum"},
        DryRunRefusal{"AMissingFile", "", {"--image", "gone.hex"}, "gone\\.hex, cannot be opened"},
        // An I/O error while the file is read (its first page is never mapped): refused, no crash.
        DryRunRefusal{"AFileThatFailsWhileRead", "", {"--image", "/proc/self/mem"},
                      "could not be read: .*\nNothing was written to the device\\."},
        DryRunRefusal{"AnEmptyList", "\n", {}, "No firmware image was found", 6, true},
        // Every line of a list file that is not a whole entry refuses the image, named
        // with the list file, its line and the entry.
        DryRunRefusal{"ALetterOInABase", "b.hex 1O000\n", {},
                      "cvm6\\.ini, line 1: the base of \"b\\.hex 1O000\" is not a hexadecimal number"},
        DryRunRefusal{"ABinaryFileAsTheList", "\x7f" "ELF\x1b[2J\x1b[31m\n", {},
                      "cvm6\\.ini, line 1: a control byte \\(0x7F\\): this is not a list file"},
        // A record whose ":" was damaged is no note to skip.
        DryRunRefusal{"ARecordThatLostItsColon", ":0100300002CD\r\n;01003100339B\r\n:00000001FF\r\n",
                      {"--image", "cvm6.ini"}, "cvm6\\.ini, line 2: hexadecimal digits without a \":\""},
        DryRunRefusal{"AFolderAsTheImage", "", {"--image", "."}, "\\., is a directory"},
        // A list file gives its entries their own bases.
        DryRunRefusal{"BaseWithAListFile", "bad.hex 0\n", {"--image", "cvm6.ini", "--base", "10000"},
                      "--base goes with a single hex file; cvm6\\.ini is a list file", 1}),
    [](const auto& row) { return std::string(row.param.name); });

// Skipped under the sanitizers, whose builds run every smaller case.
TEST(FlashCliDryRun, DigestOfTheEmbeddedImageIsTheSimulatorsAfterAFullUpdate) {
  if (!kFullImageRuns) GTEST_SKIP() << "the whole image is too slow under the sanitizers";
  ScratchDir cwd;
  const auto image = DryRun(cwd, {});
  EXPECT_EQ(image["bytes"], 617256);
  EXPECT_EQ(image["blocks"], 2783);
  const FlashRun run =
      RunFlash({"--simulate", "--erase-ms", "0", "--json"}, cwd.path().string(), Tty::kNone, Action::kNothing);
  EXPECT_EQ(run.status, 0) << run.err;
  std::smatch match;
  ASSERT_TRUE(std::regex_search(run.err, match, std::regex("Simulator: .* SHA-256 ([0-9a-f]{64})\n"))) << run.err;
  EXPECT_EQ(match[1].str(), image["sha256"].get<std::string>());
  EXPECT_NE(run.err.find("Verdict: identical"), std::string::npos);
}

// The transcript of a run stopped by Ctrl-C while the blocks go out.
TEST(FlashCliLog, AnInterruptedRunsLogEndsWithTheInterrupt) {
  ScratchDir cwd;
  cwd.Write("run.log", "an earlier run\n");
  const FlashRun run = RunFlash({"--simulate", "--erase-ms", "0", "--write-ms", "20", "--log", "run.log", "--trace"},
                                cwd.path().string(), Tty::kNone, Action::kSigintWhileWriting);
  EXPECT_EQ(run.status, 130) << run.err;
  const std::string log = ReadText(cwd.path() / "run.log");
  std::vector<std::string> lines;
  std::stringstream in(log);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_GE(lines.size(), 4u) << log;
  EXPECT_EQ(lines.front(), "an earlier run");
  EXPECT_TRUE(std::regex_search(lines[1], std::regex("^[0-9-]{10} [0-9:]{8}\\.[0-9]{3} cvm6-flash .* started: ")))
      << lines[1];
  EXPECT_NE(log.find("SND: MSG_SYSTEM_DO_START_FLASH_DOWNLOAD"), std::string::npos);  // --trace: every message
  EXPECT_NE(log.find("interrupt (Ctrl-C, SIGTERM or a hang-up)"), std::string::npos);
  EXPECT_NE(log.find("summary: interrupted, exit status 130"), std::string::npos);
  EXPECT_NE(lines.back().find("run interrupted (Ctrl-C, SIGTERM or a hang-up): exit status 130"), std::string::npos)
      << lines.back();
}

// An adapter holding bytes 40 ms (far above 4 ms, on any machine) is measured and explained.
TEST(FlashCliLatency, ASlowAdapterIsMeasuredAndExplained) {
  for (const std::string latency : {"40", "0"}) {
    ScratchDir cwd;
    SmallImage(cwd);
    const FlashRun run = RunFlash({"--simulate", "--baud", "57600", "--erase-ms", "0", "--write-ms", "0",
                                   "--latency-ms", latency, "--json"}, cwd.path().string(), Tty::kNone, Action::kNothing);
    SCOPED_TRACE("--latency-ms " + latency + "\nstderr:\n" + run.err);
    ASSERT_EQ(run.status, 0);
    const auto unit = ParseResult(run)["units"][0];
    // 9 blocks, start and end; a 0xA5 may count with the next command's, a resend not at all.
    EXPECT_TRUE(unit["acks_timed"] >= 9 && unit["acks_timed"] <= 12) << unit["acks_timed"];
    const double median = unit["ack_extra_ms_median"];
    EXPECT_TRUE(std::regex_search(run.err, std::regex("Adapter latency: [0-9.]+ ms a block beyond the line's own "
                                                      "time \\(median of [0-9]+ acknowledgements\\), [0-9.]+ s in all")));
    EXPECT_TRUE(latency == "0" || median >= 15.0) << median;
    EXPECT_EQ(unit["latency_advice"].is_string(), median > 4.0);
    const std::string advice = unit["latency_advice"].is_string() ? unit["latency_advice"] : "";
    EXPECT_TRUE(advice.empty() || std::regex_search(run.err, std::regex("\nThe adapter held the unit's acknowledgements "
                                                    "back: .* The driver of /dev/pts/[0-9]+ shows no latency setting")));
  }
}

}  // namespace
}  // namespace cvm6::test

namespace cvm6::test {
namespace {

// Units found by listening or by their adapter on a bench of two simulated units and two
// silent ports; with `adapters`, the units' ports are FTDI adapters with serials S1 and
// S2. A name that is not one unit erases none (that nothing is written to the other
// ports is held in port_search_test).
struct BenchCase {
  const char* name;
  bool adapters;
  const char* listed;  // CVM6_PORTS: $U1 $U2 the units, $S1 $S2 the silent ports
  std::vector<std::string> args;
  int status;
  const char* stderrPattern;
  int erases1, erases2;
};

void PrintTo(const BenchCase& row, std::ostream* out) { *out << row.name; }

class PortsOfABench : public ::testing::TestWithParam<BenchCase> {};

TEST_P(PortsOfABench, FindTheirUnits) {
  const BenchCase& row = GetParam();
  ScratchDir cwd;
  SmallImage(cwd);
  SimProcess unit1({"--erase-ms", "0"}), unit2({"--erase-ms", "0"});
  PtyPair silent1, silent2;
  FakeSysfs sysfs(cwd.path());
  if (row.adapters) {
    sysfs.AddUsbTty("ttyUSB0", "0403:6001", "S1", "FT232R USB UART", unit1.Port());
    sysfs.AddUsbTty("ttyUSB1", "0403:6001", "S2", "FT232R USB UART", unit2.Port());
  }
  const auto substituted = [&](std::string text) {
    for (const auto& [from, to] : {std::pair{"$U1", unit1.Port()}, {"$U2", unit2.Port()}, {"$S1", silent1.SlavePath()},
                                   {"$S2", silent2.SlavePath()}})
      for (std::size_t at; (at = text.find(from)) != std::string::npos;) text.replace(at, 3, to);
    return text;
  };
  EnvGuard sys("CVM6_SYSFS_ROOT", sysfs.SysRoot());
  EnvGuard dev("CVM6_DEV_ROOT", sysfs.DevRoot());
  EnvGuard listed("CVM6_PORTS", substituted(row.listed));
  std::vector<std::string> args;
  for (const auto& arg : row.args) args.push_back(substituted(arg));
  const FlashRun run = RunFlash(args, cwd.path().string(), Tty::kNone, Action::kNothing);
  SCOPED_TRACE("stdout:\n" + run.out + "\nstderr:\n" + run.err);
  EXPECT_EQ(run.status, row.status);
  EXPECT_TRUE(std::regex_search(run.err, std::regex(substituted(row.stderrPattern), std::regex::extended)));
  EXPECT_NE(unit1.Finish().find("erases: " + std::to_string(row.erases1) + "\n"), std::string::npos);
  EXPECT_NE(unit2.Finish().find("erases: " + std::to_string(row.erases2) + "\n"), std::string::npos);
}

// Units that --each-port finds once the event stream has begun: each one's progress is
// told up to its whole image, and each one ends with its own unit-done.
TEST(PortsOfABenchEvents, EveryUnitFoundByListeningReportsItsProgress) {
  ScratchDir cwd;
  SmallImage(cwd);
  SimProcess unit1({"--erase-ms", "0"}), unit2({"--erase-ms", "0"});
  PtyPair silent;
  EnvGuard listed("CVM6_PORTS", unit1.Port() + ":" + silent.SlavePath() + ":" + unit2.Port());
  const FlashRun run = RunFlash({"--each-port", "auto", "--events"}, cwd.path().string(), Tty::kNone, Action::kNothing);
  SCOPED_TRACE("stdout:\n" + run.out + "\nstderr:\n" + run.err);
  ASSERT_EQ(run.status, 0);
  std::map<std::string, int> wholeProgress, done;
  std::istringstream lines(run.out);
  for (std::string line; std::getline(lines, line);) {
    const auto event = nlohmann::json::parse(line);
    if (!event["port"].is_string()) continue;
    const std::string port = event["port"];
    if (event["event"] == "progress" && event["bytes"] == event["total_bytes"]) ++wholeProgress[port];
    if (event["event"] == "unit-done") ++done[port];
  }
  for (const std::string& port : {unit1.Port(), unit2.Port()}) {
    EXPECT_EQ(wholeProgress[port], 1) << port;
    EXPECT_EQ(done[port], 1) << port;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Bench, PortsOfABench,
    ::testing::Values(
        BenchCase{"AutoChoosesTheOnePortWithAUnit", false, "$S1:$U1:$S2", {"--port", "auto"}, 0, "^$", 1, 0},
        BenchCase{"AutoHearingTwoUnitsIsAUsageErrorThatNamesThem", false, "$U1:$S1:$U2", {"--port", "auto"}, 1,
                  "--port auto heard 2 units in download mode:\n  $U1\n  $U2\n", 0, 0},
        BenchCase{"EachPortAutoUpdatesEveryUnitHeard", false, "$U1:$S1:$U2", {"--each-port", "auto"}, 0, "^$", 1, 1},
        BenchCase{"AutoHearingNoUnitIsExit3NamingThePorts", false, "$S1:$S2", {"--port", "auto"}, 3,
                  "^No unit in download mode was heard on $S1, $S2\\.\n", 0, 0},
        BenchCase{"AUsbNameOfTwoAdaptersListsThemAndErasesNone", true, "", {"--port", "usb:0403:6001"}, 1,
                  "matches 2 adapters:\n  .*/ttyUSB0  usb:0403:6001:S1  FT232R USB UART\n  .*/ttyUSB1  ", 0, 0},
        BenchCase{"TheSerialNumberNamesOneAdapter", true, "", {"--port", "usb:0403:6001:s2"}, 0, "^$", 0, 1},
        BenchCase{"AUsbNameOfNoAdapterListsTheAdapters", true, "", {"--port", "usb:0403:6015"}, 1,
                  "no adapter matches --port usb:0403:6015\\. The USB serial adapters here:\n.*ttyUSB0.*\n.*ttyUSB1", 0,
                  0},
        BenchCase{"EachPortTakesEveryMatchingAdapter", true, "", {"--each-port", "usb:0403:6001"}, 0, "^$", 1, 1}),
    [](const auto& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace cvm6::test
