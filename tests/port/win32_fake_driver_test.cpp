// The Win32 port against a fake driver put in at the port's seam (CWin32CommCalls): what
// real drivers do now and then and a pseudo-terminal never does. A request the driver
// never ends, even when cancelled, must not freeze the port, the link that stops it or
// the caller's memory; a single abort is carried on through, a repeated one is a line
// that has gone.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "link/link.h"
#include "platform/failure.h"
#include "port/serial_port.h"
#include "port/win32_comm_calls.h"
#include "support/time_scale.h"

namespace cvm6::test {
namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

int CodeOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const CFailure& failure) {
    return failure.code();
  }
  return 0;
}

int MsSince(Clock::time_point start) {
  return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// A driver whose requests end only as the test says. In a request's record, Internal
// holds kPending while it runs, then the Win32 error it ended with (0: done).
class FakeDriver : public CWin32CommCalls {
 public:
  static constexpr ULONG_PTR kPending = 0x103;
  HANDLE Handle() const { return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(0x5EA1)); }

  // What the driver does.
  bool cancelEndsRequests = true;  // false: a cancelled request keeps running
  bool writesComplete = true;      // false: a write is taken and never completed
  int abortReadStarts = 0;         // so many ReadFile calls fail at once with 995
  int abortReadsPending = 0;       // so many reads end with 995 once they are pending
  int abortWriteStarts = 0;

  // The far end sends bytes; a pending read that they fill ends.
  void Deliver(const Bytes& bytes) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_line.insert(m_line.end(), bytes.begin(), bytes.end());
    Settle();
  }
  // Ends the running reads late, as a driver that had kept them does: every byte it
  // has goes into their buffers.
  void EndRunningReadsLate(std::uint8_t fill) {
    std::lock_guard<std::mutex> guard(m_lock);
    for (Request& read : m_reads) {
      if (read.overlapped->Internal != kPending) continue;
      std::fill_n(read.buffer, read.length, fill);
      End(read, ERROR_SUCCESS, read.length);
    }
  }
  // Waits until `count` reads have been started in all.
  bool WaitForReads(int count) {
    std::unique_lock<std::mutex> guard(m_lock);
    return m_started.wait_for(guard, std::chrono::seconds(30), [&] { return m_readsStarted >= count; });
  }
  int ClearedErrors() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_cleared;
  }
  Bytes Written() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_written;
  }

  BOOL ReadFile(HANDLE, void* buffer, DWORD length, OVERLAPPED* request) override {
    std::lock_guard<std::mutex> guard(m_lock);
    ++m_readsStarted;
    m_started.notify_all();
    if (abortReadStarts > 0) {
      --abortReadStarts;
      SetLastError(ERROR_OPERATION_ABORTED);
      return FALSE;
    }
    request->Internal = kPending;
    m_reads.push_back({request, static_cast<std::uint8_t*>(buffer), length});
    if (abortReadsPending > 0) {
      --abortReadsPending;
      End(m_reads.back(), ERROR_OPERATION_ABORTED, 0);
    }
    Settle();
    SetLastError(ERROR_IO_PENDING);
    return FALSE;
  }
  BOOL WriteFile(HANDLE, const void* buffer, DWORD length, OVERLAPPED* request) override {
    std::lock_guard<std::mutex> guard(m_lock);
    if (abortWriteStarts > 0) {
      --abortWriteStarts;
      SetLastError(ERROR_OPERATION_ABORTED);
      return FALSE;
    }
    request->Internal = kPending;
    m_writes.push_back({request, nullptr, length});
    if (writesComplete) {
      const auto* bytes = static_cast<const std::uint8_t*>(buffer);
      m_written.insert(m_written.end(), bytes, bytes + length);
      End(m_writes.back(), ERROR_SUCCESS, length);
    }
    SetLastError(ERROR_IO_PENDING);
    return FALSE;
  }
  BOOL GetOverlappedResult(HANDLE, OVERLAPPED* request, DWORD* transferred) override {
    std::lock_guard<std::mutex> guard(m_lock);
    if (request->Internal == kPending) {
      SetLastError(ERROR_IO_INCOMPLETE);
      return FALSE;
    }
    *transferred = static_cast<DWORD>(request->InternalHigh);
    if (request->Internal == ERROR_SUCCESS) return TRUE;
    SetLastError(static_cast<DWORD>(request->Internal));
    return FALSE;
  }
  BOOL CancelIoEx(HANDLE, OVERLAPPED* request) override {
    std::lock_guard<std::mutex> guard(m_lock);
    if (!cancelEndsRequests) return TRUE;
    for (auto* list : {&m_reads, &m_writes})
      for (Request& running : *list)
        if ((!request || running.overlapped == request) && running.overlapped->Internal == kPending)
          End(running, ERROR_OPERATION_ABORTED, 0);
    return TRUE;
  }
  BOOL ClearCommError(HANDLE, DWORD* errors, COMSTAT* status) override {
    std::lock_guard<std::mutex> guard(m_lock);
    ++m_cleared;
    *errors = 0;
    *status = COMSTAT{};
    return TRUE;
  }
  BOOL CloseHandle(HANDLE) override { return TRUE; }

 private:
  struct Request {
    OVERLAPPED* overlapped;
    std::uint8_t* buffer;
    DWORD length;
  };
  void End(Request& request, DWORD error, DWORD transferred) {
    request.overlapped->InternalHigh = transferred;
    request.overlapped->Internal = error;
    SetEvent(request.overlapped->hEvent);
  }
  // The oldest running read takes the line's bytes once they fill it.
  void Settle() {
    for (Request& read : m_reads) {
      if (read.overlapped->Internal != kPending) continue;
      if (m_line.size() < read.length) return;
      std::copy_n(m_line.begin(), read.length, read.buffer);
      m_line.erase(m_line.begin(), m_line.begin() + read.length);
      End(read, ERROR_SUCCESS, read.length);
    }
  }

  std::mutex m_lock;
  std::condition_variable m_started;
  std::deque<Request> m_reads, m_writes;  // deque: their places stay put
  std::deque<std::uint8_t> m_line;
  Bytes m_written;
  int m_readsStarted = 0;
  int m_cleared = 0;
};

class FakeDriverTest : public ::testing::Test {
 protected:
  FakeDriver driver;
  std::unique_ptr<CSerialPort> port = MakePortOverCalls(driver, driver.Handle(), 57600);
};

// The read times out, the driver does not end the cancelled request: the call still
// returns within the cancel bound, and the request's late bytes reach no buffer of the
// caller's. The port goes on reading with a new request.
TEST_F(FakeDriverTest, AReadTheDriverNeverEndsReturnsWithinTheBoundAndLeavesTheCallersBufferAlone) {
  driver.cancelEndsRequests = false;
  std::uint8_t buffer[4] = {0xEE, 0xEE, 0xEE, 0xEE};
  const auto start = Clock::now();
  EXPECT_EQ(CodeOf([&] { port->Read(buffer, 4, 100); }), 1105);
  const int tookMs = MsSince(start);
  std::printf("a read the driver kept: returned after %d ms\n", tookMs);
  EXPECT_LT(tookMs, Scaled(3000)) << "the cancelled request was waited for without a bound";
  driver.EndRunningReadsLate(0x55);
  EXPECT_EQ(Bytes(buffer, buffer + 4), (Bytes{0xEE, 0xEE, 0xEE, 0xEE}));

  driver.Deliver(Bytes{1, 2, 3});
  std::uint8_t next[3] = {};
  port->Read(next, 3, Scaled(2000));
  EXPECT_EQ(Bytes(next, next + 3), (Bytes{1, 2, 3}));
  // The set-aside request is still the driver's; closing and deleting the port must not
  // wait for it without end either.
  driver.cancelEndsRequests = false;
  std::uint8_t one = 0;
  EXPECT_EQ(CodeOf([&] { port->Read(&one, 1, 50); }), 1105);
  const auto closing = Clock::now();
  EXPECT_TRUE(port->Close());
  port.reset();
  EXPECT_LT(MsSince(closing), Scaled(3000));
}

// A write the line never takes: without a limit of its own it fails the port after its
// bytes' time on the line and a margin, instead of holding the link's transmitter.
TEST_F(FakeDriverTest, AWriteThatNeverCompletesFailsThePortInsteadOfHanging) {
  driver.writesComplete = false;
  driver.cancelEndsRequests = false;
  const std::uint8_t frame[20] = {};
  const auto start = Clock::now();
  try {
    port->Write(frame, sizeof frame, 0);
    ADD_FAILURE() << "the write completed";
  } catch (const CFailure& failure) {
    EXPECT_EQ(failure.code(), 1101);
    EXPECT_NE(failure.detail().find("did not complete"), std::string::npos) << failure.detail();
  }
  EXPECT_LT(MsSince(start), Scaled(4000));
}

// The link's Stop over a driver that ends nothing it is asked to cancel: its receiver
// waits in a read that never ends, and Stop still returns within its bound.
TEST_F(FakeDriverTest, TheLinksStopReturnsWithinItsBoundOverADriverThatEndsNothing) {
  driver.cancelEndsRequests = false;
  CLink link;
  ASSERT_TRUE(link.Start(port.get()));
  ASSERT_TRUE(driver.WaitForReads(1));
  const auto start = Clock::now();
  EXPECT_TRUE(link.Stop());
  const int tookMs = MsSince(start);
  std::printf("the link stopped over a stuck driver in %d ms\n", tookMs);
  EXPECT_LT(tookMs, Scaled(4000));
  EXPECT_FALSE(link.IsStarted());
}

struct AbortCase {
  const char* name;
  int startAborts;    // ReadFile fails at once with 995
  int pendingAborts;  // the pending read ends with 995
  bool lineGone;      // what the Read comes to: 1101, or all bytes
};
void PrintTo(const AbortCase& c, std::ostream* out) { *out << c.name; }

class FakeDriverAbort : public FakeDriverTest, public ::testing::WithParamInterface<AbortCase> {};

// One abort, wherever it comes, is carried on through with the port's error state
// cleared; a second one within the short time ends the line.
TEST_P(FakeDriverAbort, OnceIsCarriedOnThroughAndARepeatEndsTheLine) {
  const AbortCase& c = GetParam();
  driver.abortReadStarts = c.startAborts;
  driver.abortReadsPending = c.pendingAborts;
  const int clearedBefore = driver.ClearedErrors();
  std::uint8_t buffer[4] = {};
  int code = -1;
  std::thread reader([&] { code = CodeOf([&] { port->Read(buffer, 4, Scaled(5000)); }); });
  ASSERT_TRUE(driver.WaitForReads(c.startAborts + c.pendingAborts + (c.lineGone ? 0 : 1)));
  driver.Deliver(Bytes{9, 8, 7, 6});
  reader.join();
  if (c.lineGone) {
    EXPECT_EQ(code, 1101);
  } else {
    EXPECT_EQ(code, 0);
    EXPECT_EQ(Bytes(buffer, buffer + 4), (Bytes{9, 8, 7, 6}));
    EXPECT_GT(driver.ClearedErrors(), clearedBefore + 1) << "the error state was not cleared after the abort";
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, FakeDriverAbort,
                         ::testing::Values(AbortCase{"OnceAtTheStart", 1, 0, false},
                                           AbortCase{"OnceWhilePending", 0, 1, false},
                                           AbortCase{"TwiceAtTheStart", 2, 0, true},
                                           AbortCase{"AtTheStartThenWhilePending", 1, 1, true}),
                         [](const auto& test) { return std::string(test.param.name); });

TEST_F(FakeDriverTest, AWriteAbortedOnceIsMadeAgainWithItsBytes) {
  driver.abortWriteStarts = 1;
  const std::uint8_t bytes[3] = {0xA5, 0x11, 0x22};
  port->Write(bytes, 3, 0);
  EXPECT_EQ(driver.Written(), (Bytes{0xA5, 0x11, 0x22}));
}

}  // namespace
}  // namespace cvm6::test
