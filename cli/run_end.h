#pragma once
// The moment a run of cvm6-flash has said everything it has to say: every unit has
// stopped, and the end lines, the log and the JSON result are written. A console that
// is being closed (Windows ends the process 5 s after it told the program) waits for it,
// so that the log of an interrupted run does not stop in the middle of the update.
#include <cstdint>

namespace cvm6 {

// Called by main once the run's last words are out.
void MarkRunEnded();
// True once MarkRunEnded was called, false when `timeoutMs` passed first. Any thread.
bool WaitForRunEnd(std::uint32_t timeoutMs);

}  // namespace cvm6
