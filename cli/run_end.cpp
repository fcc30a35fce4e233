#include "run_end.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace cvm6 {
namespace {

std::mutex g_lock;
std::condition_variable g_ended;
bool g_done = false;

}  // namespace

void MarkRunEnded() {
  {
    std::lock_guard<std::mutex> guard(g_lock);
    g_done = true;
  }
  g_ended.notify_all();
}

bool WaitForRunEnd(std::uint32_t timeoutMs) {
  std::unique_lock<std::mutex> guard(g_lock);
  return g_ended.wait_for(guard, std::chrono::milliseconds(timeoutMs), [] { return g_done; });
}

}  // namespace cvm6
