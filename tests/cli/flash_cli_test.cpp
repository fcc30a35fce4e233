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
#include <chrono>
#include <ostream>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include "image/scratch.h"
#include "support/raw_device.h"
#include "support/time_scale.h"

namespace cvm6::test {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr std::uint16_t kStartFlash = 0x15;
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
  kCtrlCWhileWaiting,  // ^C on the terminal 300 ms after the start (the unit stays silent)
  kSigintWhileWriting, // SIGINT once the status line says the blocks are being written
};

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
  bool acted = false, outOpen = true, errOpen = true;
  const auto deadline = start + milliseconds(Scaled(60000));
  while (outOpen || errOpen) {
    pollfd fds[3] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}, {terminal.MasterFd(), POLLIN, 0}};
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
          if (Clock::now() - start > milliseconds(300)) terminal.Type("\x03"), acted = true;
          break;
        case Action::kSigintWhileWriting:
          if (run.out.find("Updating Digital Board.") != std::string::npos) kill(pid, SIGINT), acted = true;
          break;
      }
    }
    if (Clock::now() > deadline) {
      kill(pid, SIGKILL);
      ADD_FAILURE() << "cvm6-flash did not end within a minute";
      break;
    }
  }
  close(outPipe[0]);
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
