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
// That lock is held only for the test and the bookkeeping: a waiter sleeps on a parker
// of its own thread, and a Set wakes the parkers after letting go of the lock, so the
// woken thread never runs straight into a lock its waker still holds.
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <span>
#include <vector>

namespace cvm6 {

constexpr int kWaitTimeout = -1;
constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;

class CParker;  // where one thread sleeps in a wait

class CWaitable {
 public:
  CWaitable() = default;
  CWaitable(const CWaitable&) = delete;
  CWaitable& operator=(const CWaitable&) = delete;
  virtual ~CWaitable();

 protected:
  // A snapshot of the threads waiting on an object, taken under the shared lock and
  // woken after it is released (or handed to the thread's CWakeBatch).
  class Wakeups {
   public:
    Wakeups() = default;
    Wakeups(const Wakeups&) = delete;
    Wakeups& operator=(const Wakeups&) = delete;
    void Take(const CWaitable& object);
    ~Wakeups();

   private:
    std::vector<std::shared_ptr<CParker>> m_parkers;
  };

  // Both called with the shared lock held.
  virtual bool IsReadyLocked() const = 0;
  virtual void ConsumeLocked() = 0;

 private:
  friend int WaitForAny(std::span<CWaitable* const> objects, std::uint32_t timeoutMs);
  // Shared ownership: a Set may wake a parker after its thread stopped waiting, even
  // after that thread ended.
  std::vector<std::shared_ptr<CParker>> m_waiters;
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

// Holds back the wake-ups of the Sets and Releases its thread makes while it lives: the
// objects change at once (a wait that looks finds them ready), but threads asleep on
// them are woken only by Deliver or the batch's end, each once. A thread that sets
// several objects in a burst (the link's receiver with a frame and its acknowledgement)
// thus wakes a waiter once instead of once per object. A WaitForAny that sleeps
// delivers first; any other blocking (a read, a sleep) must be preceded by Deliver or
// DeliverPendingWakes, or the threads owed a wake-up sleep on. A batch made while
// another lives on the same thread changes nothing: the first holds the wakes.
class CWakeBatch {
 public:
  CWakeBatch();
  ~CWakeBatch();
  CWakeBatch(const CWakeBatch&) = delete;
  CWakeBatch& operator=(const CWakeBatch&) = delete;
  void Deliver();

 private:
  friend class CWaitable;
  std::vector<std::shared_ptr<CParker>> m_owed;
};

// Wakes at once whatever the calling thread's CWakeBatch owes; nothing without one. For
// code that runs inside another's batch and is about to block.
void DeliverPendingWakes();

// Index of the object the wait returned (consumed as described above), or kWaitTimeout.
// timeoutMs kInfinite waits without limit; 0 only tests.
int WaitForAny(std::span<CWaitable* const> objects, std::uint32_t timeoutMs);
inline int WaitForAny(std::initializer_list<CWaitable*> objects, std::uint32_t timeoutMs) {
  return WaitForAny(std::span<CWaitable* const>(objects.begin(), objects.size()), timeoutMs);
}
// True when the object became ready within the time-out (and was consumed).
bool WaitForOne(CWaitable& object, std::uint32_t timeoutMs);

}  // namespace cvm6
