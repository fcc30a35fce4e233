#include "sim/memory_line.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

#include "platform/failure.h"

namespace cvm6 {

struct CMemoryLine::State {
  std::mutex lock;
  std::condition_variable changed;
  std::deque<std::uint8_t> toHost, toUnit;
  bool unplugged = false;    // the unit's end was closed
  std::uint64_t hostOpen = 0;  // the open host end's number; 0 when none is
  std::uint64_t hostOpens = 0;
  std::uint64_t overrun = 0;
  std::chrono::steady_clock::time_point hostWrote = std::chrono::steady_clock::now();
};

class CMemoryLine::End final : public CSerialPort {
 public:
  End(std::shared_ptr<State> state, bool unit, std::uint64_t number)
      : m_state(std::move(state)), m_unit(unit), m_number(number) {
    m_opened = true;
  }
  End(std::shared_ptr<State> state) : m_state(std::move(state)), m_unit(false), m_number(0) {}  // refused
  ~End() override { Close(); }

  bool IsOpen() override {
    std::lock_guard<std::mutex> guard(m_state->lock);
    return m_opened && !m_closed;
  }

  bool Close() override {
    {
      std::lock_guard<std::mutex> guard(m_state->lock);
      if (!m_opened || m_closed) return false;
      m_closed = true;
      if (m_unit) m_state->unplugged = true;
      if (!m_unit && m_state->hostOpen == m_number) m_state->hostOpen = 0;
    }
    m_state->changed.notify_all();
    return true;
  }

  std::uint32_t BytesWaiting() override {
    std::lock_guard<std::mutex> guard(m_state->lock);
    return static_cast<std::uint32_t>(Incoming().size());
  }

  // A wake is taken only by a Read that has to wait, as on a port.
  void WakeReader() override {
    {
      std::lock_guard<std::mutex> guard(m_state->lock);
      m_wakePending = true;
    }
    m_state->changed.notify_all();
  }

  void Read(void* buffer, std::uint32_t length, std::uint32_t timeoutMs) override {
    std::unique_lock<std::mutex> guard(m_state->lock);
    const auto ready = [&] { return Failure() != 0 || Incoming().size() >= length; };
    if (!ready()) {
      const auto readyOrWoken = [&] { return ready() || m_wakePending; };
      if (timeoutMs == 0) {
        m_state->changed.wait(guard, readyOrWoken);
      } else if (!m_state->changed.wait_for(guard, std::chrono::milliseconds(timeoutMs), readyOrWoken)) {
        ThrowCode(1105);  // what did come stays for the next Read
      }
      if (!ready() && m_wakePending) {
        m_wakePending = false;
        ThrowCode(1105, "woken");
      }
    }
    if (const int code = Failure()) ThrowCode(code);
    auto& incoming = Incoming();
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    std::copy_n(incoming.begin(), length, bytes);
    incoming.erase(incoming.begin(), incoming.begin() + length);
  }

  void Write(const void* buffer, std::uint32_t length, std::uint32_t /*timeoutMs*/) override {
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    {
      std::lock_guard<std::mutex> guard(m_state->lock);
      if (const int code = Failure()) ThrowCode(code);
      if (!m_unit) {
        m_state->toUnit.insert(m_state->toUnit.end(), bytes, bytes + length);
        if (length > 0) m_state->hostWrote = std::chrono::steady_clock::now();
      } else if (m_state->hostOpen != 0) {  // with no updater on the line, the bytes go nowhere
        auto& out = m_state->toHost;
        out.insert(out.end(), bytes, bytes + length);
        if (out.size() > kHostBufferSize) {
          const std::size_t excess = out.size() - kHostBufferSize;
          out.erase(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(excess));
          m_state->overrun += excess;
        }
      }
    }
    m_state->changed.notify_all();
  }

 private:
  std::deque<std::uint8_t>& Incoming() { return m_unit ? m_state->toUnit : m_state->toHost; }
  // Under the lock: the code a transfer fails with now, or 0.
  int Failure() const {
    if (!m_opened || m_closed) return 1102;
    if (!m_unit && (m_state->unplugged || m_state->hostOpen != m_number)) return 1101;
    return 0;
  }

  std::shared_ptr<State> m_state;
  const bool m_unit;
  const std::uint64_t m_number;
  bool m_closed = false;       // under the lock
  bool m_wakePending = false;  // under the lock
};

CMemoryLine::CMemoryLine()
    : m_state(std::make_shared<State>()), m_unitEnd(std::make_unique<End>(m_state, true, 0)) {}

CMemoryLine::~CMemoryLine() { m_unitEnd->Close(); }

CSerialPort& CMemoryLine::UnitEnd() { return *m_unitEnd; }

std::unique_ptr<CSerialPort> CMemoryLine::OpenHostEnd() {
  std::lock_guard<std::mutex> guard(m_state->lock);
  if (m_state->hostOpen != 0 || m_state->unplugged) return std::make_unique<End>(m_state);
  m_state->hostOpen = ++m_state->hostOpens;
  m_state->toHost.clear();
  return std::make_unique<End>(m_state, false, m_state->hostOpen);
}

std::chrono::steady_clock::duration CMemoryLine::QuietFor() const {
  std::lock_guard<std::mutex> guard(m_state->lock);
  return std::chrono::steady_clock::now() - m_state->hostWrote;
}

std::uint64_t CMemoryLine::OverrunBytes() const {
  std::lock_guard<std::mutex> guard(m_state->lock);
  return m_state->overrun;
}

}  // namespace cvm6
