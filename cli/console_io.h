#pragma once
// The parts of cvm6-flash's terminal that differ from one system to the other: Ctrl-C,
// and asking the technician a question on the terminal itself. Standard output may go
// to a log or a pipe; a question printed there would wait for an answer nobody sees.
#include <cstdio>
#include <functional>
#include <string>

namespace cvm6 {

// Thrown on the procedure's thread once Ctrl-C (or SIGTERM, or the terminal hanging up)
// has come.
struct Interrupted {};

// Installs the interrupt handling. Call it first in main, before any thread starts: on
// POSIX the signals are then taken by a thread of their own (the others block them), so
// a blocked read anywhere cannot swallow one. After the first interrupt
// InterruptRequested() is true and every registered wake runs; a second one ends the
// program at once with status 130, after the last words (CLastWords). A closed pipe on
// standard output or error is no reason to end: writes to it fail, and the run goes on.
void InstallInterruptHandling();
bool InterruptRequested();
// What the log calls an interrupt on this system: on Windows a hang-up is the console
// closed under the program, a log-off or a shutdown.
extern const char* const kInterruptCauses;
// While it lives, runs `wake` on each interrupt, from a thread that is not a signal
// handler (so it may set events); at once if one has already come. `firstWords` runs
// just before it. When the interrupt comes, InterruptRequested() is still false then, so
// what it logs comes before anything a unit writes once it sees the interrupt.
class CInterruptWake {
 public:
  explicit CInterruptWake(std::function<void()> wake, std::function<void()> firstWords = {});
  ~CInterruptWake();
  CInterruptWake(const CInterruptWake&) = delete;
  CInterruptWake& operator=(const CInterruptWake&) = delete;

 private:
  friend void RunInterruptWakes();
  std::function<void()> m_wake, m_firstWords;
};

// While it lives, `words` is what a second interrupt says before the program ends at
// once (in place of the words of an outer CLastWords, which come back when it ends). They
// run on the interrupt's own thread while the units may be stuck anywhere, so they must
// not wait for the units' locks for long (see CFlashLog::WriteLast).
class CLastWords {
 public:
  explicit CLastWords(std::function<void()> words);
  ~CLastWords();
  CLastWords(const CLastWords&) = delete;
  CLastWords& operator=(const CLastWords&) = delete;

 private:
  std::function<void()> m_outer;
};

// Writes `text` to standard error at once, past every lock of the program's own.
void WriteErrorNow(const std::string& text);

// Whether `out` is a terminal to keep live lines on. With `cursorMoves` (one live line per
// unit, redrawn in place) it must also take the cursor movements of ANSI terminals: a
// Windows console is switched to them, and one that refuses counts as no terminal.
bool IsLiveTerminal(std::FILE* out, bool cursorMoves);

enum class TerminalAnswer { kYes, kNo, kNoTerminal, kInterrupted };

// Shows `question` on the controlling terminal (the console on Windows) and reads a y/N
// answer from it. kNoTerminal when the program has none; kInterrupted when an interrupt
// came while it waited.
TerminalAnswer AskOnTerminal(const std::string& question);

}  // namespace cvm6
