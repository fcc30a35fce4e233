#include "platform/sync.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace cvm6 {
namespace {

std::mutex& SharedLock() {
  static std::mutex lock;
  return lock;
}

thread_local CWakeBatch* t_batch = nullptr;

}  // namespace

// Where one thread sleeps in one WaitForAny. Each sleeping wait has its own: a Set that
// took it from the lists before the wait ended signals one nobody sleeps on any more,
// kept alive by the Set's own reference. (Not a thread_local reused by every wait: on
// MinGW its destructor ran at thread exit after the thread's storage was freed, and
// crashed under Wine.)
class CParker {
 public:
  // Called with the shared lock held, before the objects are tested: any Set after the
  // test finds this parker registered and signals it after the reset.
  void Arm() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_signalled = false;
  }
  void Signal() {
    {
      std::lock_guard<std::mutex> guard(m_lock);
      m_signalled = true;
    }
    m_wake.notify_one();
  }
  // False when the deadline passed without a signal.
  bool Sleep(bool forever, std::chrono::steady_clock::time_point deadline) {
    std::unique_lock<std::mutex> guard(m_lock);
    if (forever) {
      m_wake.wait(guard, [this] { return m_signalled; });
      return true;
    }
    return m_wake.wait_until(guard, deadline, [this] { return m_signalled; });
  }

 private:
  std::mutex m_lock;
  std::condition_variable m_wake;
  bool m_signalled = false;
};

CWaitable::~CWaitable() = default;

void CWaitable::Wakeups::Take(const CWaitable& object) {
  m_parkers.insert(m_parkers.end(), object.m_waiters.begin(), object.m_waiters.end());
}

CWaitable::Wakeups::~Wakeups() {
  if (m_parkers.empty()) return;
  if (t_batch) {
    auto& owed = t_batch->m_owed;
    for (auto& parker : m_parkers)
      if (std::find(owed.begin(), owed.end(), parker) == owed.end()) owed.push_back(std::move(parker));
    return;
  }
  for (const auto& parker : m_parkers) parker->Signal();
}

CWakeBatch::CWakeBatch() {
  if (!t_batch) t_batch = this;
}

CWakeBatch::~CWakeBatch() {
  Deliver();
  if (t_batch == this) t_batch = nullptr;
}

void DeliverPendingWakes() {
  if (t_batch) t_batch->Deliver();
}

void CWakeBatch::Deliver() {
  for (const auto& parker : m_owed) parker->Signal();
  m_owed.clear();
}

CEvent::CEvent(bool manualReset, bool initiallySet) : m_manualReset(manualReset), m_set(initiallySet) {}

void CEvent::Set() {
  Wakeups wakeups;  // destroyed after the guard: woken outside the lock
  std::lock_guard<std::mutex> guard(SharedLock());
  m_set = true;
  wakeups.Take(*this);
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
  Wakeups wakeups;
  std::lock_guard<std::mutex> guard(SharedLock());
  if (count <= 0 || m_count > m_maximum - count) return false;
  m_count += count;
  wakeups.Take(*this);
  return true;
}

long CSemaphore::Count() const {
  std::lock_guard<std::mutex> guard(SharedLock());
  return m_count;
}

int WaitForAny(std::span<CWaitable* const> objects, std::uint32_t timeoutMs) {
  auto firstReady = [&]() -> int {
    for (std::size_t i = 0; i < objects.size(); ++i)
      if (objects[i]->IsReadyLocked()) return static_cast<int>(i);
    return kWaitTimeout;
  };
  std::unique_lock<std::mutex> lock(SharedLock());
  int ready = firstReady();
  if (ready == kWaitTimeout && timeoutMs != 0) {
    const auto parker = std::make_shared<CParker>();
    for (CWaitable* object : objects) object->m_waiters.push_back(parker);
    const bool forever = timeoutMs == kInfinite;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(forever ? 0 : timeoutMs);
    for (;;) {
      parker->Arm();
      ready = firstReady();
      if (ready != kWaitTimeout) break;
      lock.unlock();
      DeliverPendingWakes();  // a thread never sleeps on wakes it still owes others
      const bool signalled = parker->Sleep(forever, deadline);
      lock.lock();
      if (!signalled) {
        ready = firstReady();  // a Set that raced with the time-out still wins
        break;
      }
    }
    for (CWaitable* object : objects) {
      auto& list = object->m_waiters;
      list.erase(std::find(list.begin(), list.end(), parker));
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
