#pragma once
// The half of Ctrl-C handling that is the same on every system: the flag, the wakes
// registered with CInterruptWake, and what a second interrupt leaves behind. The system's
// own file takes the signal or console event and calls these from a thread of its own
// (never from a signal handler).

namespace cvm6 {

// Claims the interrupt; false when one had already come (the second Ctrl-C). The units
// see it only once RunInterruptWakes has run every wake's first words.
bool MarkInterrupted();
// Runs the first words of every wake registered now, then makes InterruptRequested()
// true, then runs the wakes. The system's file signals its own waits after this.
void RunInterruptWakes();
// The second interrupt: the last words registered with CLastWords (which units had begun
// their erase, the log's last line), then the end of the program with status 130.
[[noreturn]] void LeaveAtOnce();

}  // namespace cvm6
