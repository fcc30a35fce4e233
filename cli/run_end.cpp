#include "run_end.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace cvm6 {
namespace {

// Never destroyed: the console's handler thread may still be on its way out of the wait
// while main returns and the program's statics go.
struct RunEnd {
  std::mutex lock;
  std::condition_variable ended;
  bool done = false;
};
RunEnd& State() {
  static RunEnd* const state = new RunEnd;
  return *state;
}

}  // namespace

void MarkRunEnded() {
  RunEnd& state = State();
  {
    std::lock_guard<std::mutex> guard(state.lock);
    state.done = true;
  }
  state.ended.notify_all();
}

bool WaitForRunEnd(std::uint32_t timeoutMs) {
  RunEnd& state = State();
  std::unique_lock<std::mutex> guard(state.lock);
  return state.ended.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] { return state.done; });
}

}  // namespace cvm6
