#pragma once
// The half of Ctrl-C handling that is the same on every system: the flag, the wakes
// registered with CInterruptWake, and what a second interrupt leaves behind. The system's
// own file takes the signal or console event and calls these from a thread of its own
// (never from a signal handler).

namespace cvm6 {

// Marks the interrupt; false when one had already come (the second Ctrl-C).
bool MarkInterrupted();
// Runs every wake registered now.
void RunInterruptWakes();
// The second interrupt: the last words registered with CLastWords (which units had begun
// their erase, the log's last line), then the end of the program with status 130.
[[noreturn]] void LeaveAtOnce();

}  // namespace cvm6
