#pragma once
// The half of Ctrl-C handling that is the same on every system: the flag and the wakes
// registered with CInterruptWake. The system's own file takes the signal or console
// event and calls these from a thread of its own (never from a signal handler).

namespace cvm6 {

// Marks the interrupt; false when one had already come (the second Ctrl-C).
bool MarkInterrupted();
// Runs every wake registered now.
void RunInterruptWakes();

}  // namespace cvm6
