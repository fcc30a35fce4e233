#include "platform/sync.h"

#include <algorithm>
#include <chrono>
#include <mutex>

namespace cvm6 {
namespace {

std::mutex& SharedLock() {
  static std::mutex lock;
  return lock;
}

}  // namespace

CWaitable::~CWaitable() = default;

void CWaitable::NotifyWaitersLocked() {
  for (std::condition_variable* waiter : m_waiters) waiter->notify_one();
}

CEvent::CEvent(bool manualReset, bool initiallySet) : m_manualReset(manualReset), m_set(initiallySet) {}

void CEvent::Set() {
  std::lock_guard<std::mutex> guard(SharedLock());
  m_set = true;
  NotifyWaitersLocked();
}

void CEvent::Reset() {
  std::lock_guard<std::mutex> guard(SharedLock());
  m_set = false;
}

bool CEvent::IsSet() const {
  std::lock_guard<std::mutex> guard(SharedLock());
  return m_set;
}

void CEvent::ConsumeLocked() {
  if (!m_manualReset) m_set = false;
}

CSemaphore::CSemaphore(long initialCount, long maximumCount) : m_count(initialCount), m_maximum(maximumCount) {}

bool CSemaphore::Release(long count) {
  std::lock_guard<std::mutex> guard(SharedLock());
  if (count <= 0 || m_count > m_maximum - count) return false;
  m_count += count;
  NotifyWaitersLocked();
  return true;
}

long CSemaphore::Count() const {
  std::lock_guard<std::mutex> guard(SharedLock());
  return m_count;
}

int WaitForAny(std::span<CWaitable* const> objects, std::uint32_t timeoutMs) {
  std::unique_lock<std::mutex> lock(SharedLock());
  auto firstReady = [&]() -> int {
    for (std::size_t i = 0; i < objects.size(); ++i)
      if (objects[i]->IsReadyLocked()) return static_cast<int>(i);
    return kWaitTimeout;
  };
  int ready = firstReady();
  if (ready == kWaitTimeout && timeoutMs != 0) {
    std::condition_variable wake;
    for (CWaitable* object : objects) object->m_waiters.push_back(&wake);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      ready = firstReady();
      if (ready != kWaitTimeout) break;
      if (timeoutMs == kInfinite) {
        wake.wait(lock);
      } else if (wake.wait_until(lock, deadline) == std::cv_status::timeout) {
        ready = firstReady();  // a Set that raced with the time-out still wins
        break;
      }
    }
    for (CWaitable* object : objects) {
      auto& list = object->m_waiters;
      list.erase(std::find(list.begin(), list.end(), &wake));
    }
  }
  if (ready != kWaitTimeout) objects[static_cast<std::size_t>(ready)]->ConsumeLocked();
  return ready;
}

bool WaitForOne(CWaitable& object, std::uint32_t timeoutMs) {
  CWaitable* const one[] = {&object};
  return WaitForAny(one, timeoutMs) == 0;
}

}  // namespace cvm6
