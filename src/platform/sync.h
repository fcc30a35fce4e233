#pragma once
// Events, a counting semaphore and wait-for-any, with the semantics the link engine is
// built on:
//   - an auto-reset event returned by a wait is cleared by that wait; a manual-reset
//     event stays set until Reset;
//   - several Set calls before a wait count as one;
//   - a semaphore returned by a wait has one count taken;
//   - when several objects are ready, the lowest index wins;
//   - a time-out is its own result (kWaitTimeout), never an index.
// All objects share one lock, so a wait on several objects sees a consistent picture
// and a Set can never slip between a waiter's test and its sleep (no lost wake-ups).
#include <condition_variable>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <vector>

namespace cvm6 {

constexpr int kWaitTimeout = -1;
constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;

class CWaitable {
 public:
  CWaitable() = default;
  CWaitable(const CWaitable&) = delete;
  CWaitable& operator=(const CWaitable&) = delete;
  virtual ~CWaitable();

 protected:
  // Both called with the shared lock held.
  virtual bool IsReadyLocked() const = 0;
  virtual void ConsumeLocked() = 0;
  void NotifyWaitersLocked();

 private:
  friend int WaitForAny(std::span<CWaitable* const> objects, std::uint32_t timeoutMs);
  std::vector<std::condition_variable*> m_waiters;
};

class CEvent : public CWaitable {
 public:
  CEvent(bool manualReset, bool initiallySet);
  void Set();
  void Reset();
  bool IsSet() const;

 private:
  bool IsReadyLocked() const override { return m_set; }
  void ConsumeLocked() override;
  bool m_manualReset;
  bool m_set;
};

class CSemaphore : public CWaitable {
 public:
  static constexpr long kMaxCount = 2147483647L;
  CSemaphore(long initialCount, long maximumCount);
  // Adds `count`; false (and no change) when that would pass the maximum.
  bool Release(long count = 1);
  long Count() const;

 private:
  bool IsReadyLocked() const override { return m_count > 0; }
  void ConsumeLocked() override { --m_count; }
  long m_count;
  long m_maximum;
};

// Index of the object the wait returned (consumed as described above), or kWaitTimeout.
// timeoutMs kInfinite waits without limit; 0 only tests.
int WaitForAny(std::span<CWaitable* const> objects, std::uint32_t timeoutMs);
inline int WaitForAny(std::initializer_list<CWaitable*> objects, std::uint32_t timeoutMs) {
  return WaitForAny(std::span<CWaitable* const>(objects.begin(), objects.size()), timeoutMs);
}
// True when the object became ready within the time-out (and was consumed).
bool WaitForOne(CWaitable& object, std::uint32_t timeoutMs);

}  // namespace cvm6
