#include "interrupt_wakes.h"

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <utility>
#include <vector>

#include "console_io.h"

namespace cvm6 {
namespace {

std::atomic<bool> g_claimed{false};
std::atomic<bool> g_requested{false};
std::mutex g_wakesLock;
std::vector<const CInterruptWake*> g_wakes;
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

bool MarkInterrupted() { return !g_claimed.exchange(true); }

void RunInterruptWakes() {
  std::lock_guard<std::mutex> guard(g_wakesLock);
  for (const auto* wake : g_wakes)
    if (wake->m_firstWords) wake->m_firstWords();
  g_requested.store(true);
  for (const auto* wake : g_wakes) wake->m_wake();
}

bool InterruptRequested() { return g_requested.load(); }

CInterruptWake::CInterruptWake(std::function<void()> wake, std::function<void()> firstWords)
    : m_wake(std::move(wake)), m_firstWords(std::move(firstWords)) {
  std::lock_guard<std::mutex> guard(g_wakesLock);
  if (g_requested.load()) {
    if (m_firstWords) m_firstWords();
    m_wake();
  }
  g_wakes.push_back(this);
}

CInterruptWake::~CInterruptWake() {
  std::lock_guard<std::mutex> guard(g_wakesLock);
  std::erase(g_wakes, this);
}

}  // namespace cvm6
