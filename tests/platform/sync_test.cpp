#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "platform/sync.h"

namespace cvm6 {
namespace {

TEST(WaitForAny, AutoResetEventIsClearedByTheWaitThatReturnsIt) {
  CEvent event(false, false);
  event.Set();
  EXPECT_EQ(WaitForAny({&event}, 0), 0);
  EXPECT_FALSE(event.IsSet());
  EXPECT_EQ(WaitForAny({&event}, 0), kWaitTimeout);
}

TEST(WaitForAny, ManualResetEventStaysSetUntilReset) {
  CEvent event(true, false);
  event.Set();
  EXPECT_EQ(WaitForAny({&event}, 0), 0);
  EXPECT_EQ(WaitForAny({&event}, 0), 0);
  event.Reset();
  EXPECT_EQ(WaitForAny({&event}, 0), kWaitTimeout);
}

TEST(WaitForAny, SeveralSetsBeforeAWaitCountAsOne) {
  CEvent event(false, false);
  event.Set();
  event.Set();
  event.Set();
  EXPECT_EQ(WaitForAny({&event}, 0), 0);
  EXPECT_EQ(WaitForAny({&event}, 0), kWaitTimeout);
}

TEST(WaitForAny, LowestReadyIndexWinsAndOnlyThatObjectIsConsumed) {
  CEvent a(false, false), b(false, false), c(false, false);
  c.Set();
  b.Set();
  EXPECT_EQ(WaitForAny({&a, &b, &c}, 0), 1);
  EXPECT_TRUE(c.IsSet());
  EXPECT_EQ(WaitForAny({&a, &b, &c}, 0), 2);
  EXPECT_EQ(WaitForAny({&a, &b, &c}, 0), kWaitTimeout);
}

TEST(WaitForAny, SemaphoreGivesOneCountPerWait) {
  CSemaphore semaphore(0, CSemaphore::kMaxCount);
  EXPECT_TRUE(semaphore.Release(1));
  EXPECT_TRUE(semaphore.Release(2));
  CEvent never(false, false);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(WaitForAny({&never, &semaphore}, 0), 1);
  EXPECT_EQ(WaitForAny({&never, &semaphore}, 0), kWaitTimeout);
  EXPECT_EQ(semaphore.Count(), 0);
}

TEST(WaitForAny, SemaphoreRefusesToPassItsMaximum) {
  CSemaphore semaphore(CSemaphore::kMaxCount - 1, CSemaphore::kMaxCount);
  EXPECT_TRUE(semaphore.Release(1));
  EXPECT_FALSE(semaphore.Release(1));
  EXPECT_EQ(semaphore.Count(), CSemaphore::kMaxCount);
}

TEST(WaitForAny, TimeOutIsADistinctResultAndTakesAboutItsTime) {
  CEvent event(false, false);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(WaitForAny({&event}, 30), kWaitTimeout);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
}

TEST(WaitForAny, ASetFromAnotherThreadWakesTheWaiter) {
  CEvent a(false, false), b(false, false);
  std::thread setter([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    b.Set();
  });
  EXPECT_EQ(WaitForAny({&a, &b}, kInfinite), 1);
  setter.join();
}

// Every Set is seen by exactly one wait: a ping-pong of many rounds never stalls.
TEST(WaitForAny, NoWakeUpIsLostUnderPingPong) {
  CEvent ping(false, false), pong(false, false);
  constexpr int kRounds = 5000;
  std::thread other([&] {
    for (int i = 0; i < kRounds; ++i) {
      ASSERT_EQ(WaitForAny({&ping}, 10000), 0);
      pong.Set();
    }
  });
  for (int i = 0; i < kRounds; ++i) {
    ping.Set();
    ASSERT_EQ(WaitForAny({&pong}, 10000), 0);
  }
  other.join();
}

// A Set that races with the end of a time-out is either returned by that wait or left
// standing for the next one; it is never lost and never seen twice.
TEST(WaitForAny, ASetRacingWithTheTimeOutIsNeitherLostNorDoubled) {
  int returned = 0, leftStanding = 0;
  for (int i = 0; i < 300; ++i) {
    CEvent event(false, false);
    std::thread setter([&] {
      std::this_thread::sleep_for(std::chrono::microseconds(900 + (i % 5) * 50));
      event.Set();
    });
    const int first = WaitForAny({&event}, 1);
    setter.join();
    const int second = WaitForAny({&event}, 0);
    if (first == 0) {
      ++returned;
      EXPECT_EQ(second, kWaitTimeout);
    } else {
      ++leftStanding;
      EXPECT_EQ(second, 0);
    }
  }
  EXPECT_EQ(returned + leftStanding, 300);
}

TEST(WaitForAny, ManyProducersCountedBySemaphoreAllArrive) {
  CSemaphore semaphore(0, CSemaphore::kMaxCount);
  std::vector<std::thread> producers;
  for (int p = 0; p < 4; ++p)
    producers.emplace_back([&] {
      for (int i = 0; i < 1000; ++i) semaphore.Release(1);
    });
  int taken = 0;
  while (taken < 4000 && WaitForAny({&semaphore}, 5000) == 0) ++taken;
  for (auto& producer : producers) producer.join();
  EXPECT_EQ(taken, 4000);
}

// Every link, receiver and procedure is a thread that sleeps in waits and then ends;
// a thread's end must leave nothing of its waits behind to go wrong. (A parker kept per
// thread once crashed at thread exit in the Windows build.)
TEST(WaitForAny, ThreadsThatSleptInWaitsEndCleanly) {
  CEvent never(false, false);
  CEvent shared(false, false);
  // Other threads allocating all the while: memory that a thread's end frees too early
  // is then soon someone else's.
  std::atomic<bool> done{false};
  std::thread churn([&] {
    while (!done.load()) {
      std::vector<std::unique_ptr<char[]>> blocks;
      for (int size = 8; size <= 64; size += 8) blocks.push_back(std::make_unique<char[]>(size));
    }
  });
  for (int round = 0; round < 50; ++round) {
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i)
      threads.emplace_back([&] {
        EXPECT_FALSE(WaitForOne(never, 1));
        (void)WaitForOne(shared, 1);  // some are woken by the Set, some time out
      });
    shared.Set();
    for (auto& thread : threads) thread.join();
  }
  done = true;
  churn.join();
}

TEST(WakeBatch, ASleeperIsWokenOnlyWhenTheBatchDeliversAndThenPromptly) {
  using Clock = std::chrono::steady_clock;
  for (int attempt = 0; attempt < 5; ++attempt) {
    CEvent event(false, false);
    std::atomic<bool> returned{false};
    std::atomic<Clock::rep> began{0};
    int result = kWaitTimeout;
    std::thread sleeper([&] {
      began = Clock::now().time_since_epoch().count();
      result = WaitForAny({&event}, 10000);
      returned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    bool wokeEarly = false;
    Clock::rep setAt = 0;
    Clock::time_point delivered;
    {
      CWakeBatch batch;
      setAt = Clock::now().time_since_epoch().count();
      event.Set();
      EXPECT_TRUE(event.IsSet());  // the object changes at once; only the wake waits
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      wokeEarly = returned.load();
      delivered = Clock::now();
    }
    sleeper.join();
    if (began.load() == 0 || began.load() > setAt) continue;  // it began late: no verdict
    EXPECT_FALSE(wokeEarly);
    EXPECT_EQ(result, 0);
    EXPECT_LT(Clock::now() - delivered, std::chrono::seconds(5));
    return;
  }
  FAIL() << "the sleeping thread never began waiting before the Set";
}

// A thread that sets `answer` once `request` is set, given time to fall asleep first.
std::thread Answerer(CEvent& request, CEvent& answer) {
  std::thread server([&] {
    if (WaitForAny({&request}, 10000) == 0) answer.Set();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  return server;
}

// Looks at `event` without waiting on it: a wait would deliver the caller's own batch.
bool BecomesSet(const CEvent& event, int ms) {
  for (int i = 0; i < ms && !event.IsSet(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return event.IsSet();
}

TEST(WakeBatch, DeliverPendingWakesWakesAtOnceAndIsHarmlessWithoutABatch) {
  DeliverPendingWakes();  // no batch on this thread: nothing to do
  CEvent request(false, false), answer(false, false);
  std::thread server = Answerer(request, answer);
  CWakeBatch batch;
  request.Set();
  DeliverPendingWakes();
  // The batch is still open, yet the server got its wake and answered outside it.
  EXPECT_TRUE(BecomesSet(answer, 5000));
  server.join();
}

TEST(WakeBatch, AWaitInsideABatchFirstWakesTheThreadsItOwes) {
  CEvent request(false, false), answer(false, false);
  std::thread server = Answerer(request, answer);
  CWakeBatch batch;
  request.Set();
  // Waiting for the answer while still owing the server its wake would never end.
  EXPECT_TRUE(WaitForOne(answer, 5000));
  server.join();
}

TEST(WakeBatch, ObjectsSetInABatchAreTakenByAWaitThatLooksWithoutSleeping) {
  CEvent a(false, false), b(false, false);
  CSemaphore semaphore(0, CSemaphore::kMaxCount);
  CWakeBatch batch;
  b.Set();
  semaphore.Release(2);
  EXPECT_EQ(WaitForAny({&a, &b, &semaphore}, 0), 1);
  EXPECT_EQ(WaitForAny({&a, &b, &semaphore}, 0), 2);
  EXPECT_EQ(semaphore.Count(), 1);
}

}  // namespace
}  // namespace cvm6
