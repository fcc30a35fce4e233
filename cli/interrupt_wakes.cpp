#include "interrupt_wakes.h"

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <utility>
#include <vector>

#include "console_io.h"

namespace cvm6 {
namespace {

std::atomic<bool> g_requested{false};
std::mutex g_wakesLock;
std::vector<const std::function<void()>*> g_wakes;
std::mutex g_lastWordsLock;
std::function<void()> g_lastWords;

}  // namespace

CLastWords::CLastWords(std::function<void()> words) {
  std::lock_guard<std::mutex> guard(g_lastWordsLock);
  m_outer = std::exchange(g_lastWords, std::move(words));
}

CLastWords::~CLastWords() {
  std::lock_guard<std::mutex> guard(g_lastWordsLock);
  g_lastWords = std::move(m_outer);
}

void LeaveAtOnce() {
  WriteErrorNow("\nInterrupted again: leaving at once.\n");
  {
    std::lock_guard<std::mutex> guard(g_lastWordsLock);
    if (g_lastWords) g_lastWords();
  }
  std::_Exit(130);
}

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
