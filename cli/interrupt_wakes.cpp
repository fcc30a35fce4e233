#include "interrupt_wakes.h"

#include <atomic>
#include <mutex>
#include <vector>

#include "console_io.h"

namespace cvm6 {
namespace {

std::atomic<bool> g_requested{false};
std::mutex g_wakesLock;
std::vector<const std::function<void()>*> g_wakes;

}  // namespace

bool MarkInterrupted() { return !g_requested.exchange(true); }

void RunInterruptWakes() {
  std::lock_guard<std::mutex> guard(g_wakesLock);
  for (const auto* wake : g_wakes) (*wake)();
}

bool InterruptRequested() { return g_requested.load(); }

CInterruptWake::CInterruptWake(std::function<void()> wake) : m_wake(std::move(wake)) {
  std::lock_guard<std::mutex> guard(g_wakesLock);
  if (g_requested.load()) m_wake();
  g_wakes.push_back(&m_wake);
}

CInterruptWake::~CInterruptWake() {
  std::lock_guard<std::mutex> guard(g_wakesLock);
  std::erase(g_wakes, &m_wake);
}

}  // namespace cvm6
