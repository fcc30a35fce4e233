#include "sim/line_port.h"

#include <algorithm>
#include <thread>
#include <vector>

#include "link/frame_codec.h"
#include "platform/failure.h"

namespace cvm6 {
namespace {

std::chrono::steady_clock::duration ByteTime(std::uint32_t baud) {
  if (baud == 0) return std::chrono::steady_clock::duration::zero();
  // Ten bit times: start bit, eight data bits, stop bit.
  return std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(10.0 / baud));
}

}  // namespace

CLinePort::CLinePort(CSerialPort& inner, std::uint32_t baud, const LineFaults& faults, std::uint32_t latencyMs)
    : m_inner(inner),
      m_baud(baud),
      m_byteTime(ByteTime(baud)),
      m_faults(faults),
      m_toHostRandom(faults.seed),
      m_garbageRandom(faults.seed ^ 0x5bd1e995u),
      m_fromHostRandom(faults.seed ^ 0x9E3779B9u),
      m_latency(std::chrono::milliseconds(latencyMs)) {
  m_opened = inner.IsOpen();
  if (latencyMs != 0) m_adapterThread = std::thread(&CLinePort::AdapterThread, this);
}

CLinePort::~CLinePort() {
  if (!m_adapterThread.joinable()) return;
  {
    std::lock_guard<std::mutex> guard(m_adapterLock);
    m_adapterStop = true;
  }
  m_adapterChanged.notify_one();
  m_adapterThread.join();
}

void CLinePort::Deliver(const std::uint8_t* bytes, std::size_t count) {
  if (m_latency == Clock::duration::zero()) {
    m_inner.Write(bytes, static_cast<std::uint32_t>(count), 0);
    return;
  }
  std::lock_guard<std::mutex> guard(m_adapterLock);
  if (m_held.empty()) {
    m_heldSince = Clock::now();
    m_adapterChanged.notify_one();
  }
  m_held.insert(m_held.end(), bytes, bytes + count);
  // A full packet goes at once; what is left over starts a hold of its own.
  while (m_held.size() >= kAdapterPacket) {
    m_inner.Write(m_held.data(), static_cast<std::uint32_t>(kAdapterPacket), 0);
    m_held.erase(m_held.begin(), m_held.begin() + kAdapterPacket);
    m_heldSince = Clock::now();
  }
}

void CLinePort::AdapterThread() {
  std::unique_lock<std::mutex> lock(m_adapterLock);
  while (!m_adapterStop) {
    if (m_held.empty()) {
      m_adapterChanged.wait(lock);
      continue;
    }
    const auto due = m_heldSince + m_latency;
    if (Clock::now() < due) {
      m_adapterChanged.wait_until(lock, due);
      continue;
    }
    try {
      m_inner.Write(m_held.data(), static_cast<std::uint32_t>(m_held.size()), 0);
    } catch (const CFailure&) {
      // The line was unplugged: what the adapter held is gone with it.
    }
    m_held.clear();
  }
}

// When the next byte may start on the wire. A byte that turns up within a few byte
// times of the line going free was queued behind the previous one (the thread merely
// woke late), so it follows back to back; otherwise the line was idle and it starts now.
// Without this every late wake-up would stretch the schedule and the rate would sag.
CLinePort::Clock::time_point CLinePort::LineFreeAt(Clock::time_point lineFree, Clock::time_point now) const {
  return now < lineFree + m_byteTime * 4 ? lineFree : now;
}

// Integer arithmetic on the generator's output, so a seed damages the same bytes with
// every standard library.
bool CLinePort::Chance(std::mt19937& generator, double rate) {
  if (rate <= 0.0) return false;
  return generator() < static_cast<std::uint64_t>(rate * 4294967296.0);
}

void CLinePort::InjectToHost(std::vector<std::uint8_t> bytes, std::optional<std::uint32_t> afterFrames) {
  std::lock_guard<std::mutex> guard(m_lock);
  m_injected = std::move(bytes);
  m_injectAfterFrames = afterFrames;
}

void CLinePort::DamageLengthToHost(std::uint32_t frame) {
  std::lock_guard<std::mutex> guard(m_lock);
  m_lengthDamagedFrame = frame;
}

void CLinePort::DamageNextFromHost(FrameDamage damage) {
  std::lock_guard<std::mutex> guard(m_lock);
  m_fromHostDamage = damage;
}

void CLinePort::InjectFromHost(const std::vector<std::uint8_t>& bytes) {
  std::lock_guard<std::mutex> guard(m_lock);
  m_fromHostInjected.insert(m_fromHostInjected.end(), bytes.begin(), bytes.end());
}

void CLinePort::BreakToHost(std::uint32_t ms) {
  std::lock_guard<std::mutex> guard(m_lock);
  m_toHostBrokenUntil = Clock::now() + std::chrono::milliseconds(ms);
}

void CLinePort::BreakFromHost(std::uint32_t ms) {
  std::lock_guard<std::mutex> guard(m_lock);
  m_fromHostBrokenUntil = Clock::now() + std::chrono::milliseconds(ms);
}

std::vector<std::uint8_t> CLinePort::Garbage(std::size_t count) {
  std::lock_guard<std::mutex> guard(m_lock);
  std::vector<std::uint8_t> bytes;
  while (bytes.size() < count) {
    const auto byte = static_cast<std::uint8_t>(m_garbageRandom() & 0xFF);
    if (byte != LINK_WAKE && byte != LINK_SYNC && byte != LINK_ACK && byte != LINK_NAK && byte != LINK_KEEPALIVE)
      bytes.push_back(byte);
  }
  m_counters.garbageBytes += count;
  return bytes;
}

LineCounters CLinePort::Counters() const {
  std::lock_guard<std::mutex> guard(m_lock);
  LineCounters counters = m_counters;
  counters.toHost = m_toHostWatch.Counts();
  counters.fromHost = m_fromHostWatch.Counts();
  return counters;
}

void CLinePort::Write(const void* buffer, std::uint32_t length, std::uint32_t /*timeoutMs*/) {
  const auto* bytes = static_cast<const std::uint8_t*>(buffer);
  std::vector<std::uint8_t> out;
  {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_silent || Clock::now() < m_toHostBrokenUntil) {
      m_counters.silencedBytes += length;
      return;
    }
    // The host's receiver gave up the frame that promised more than it had while the
    // model was quiet waiting for an answer (it writes nothing new meanwhile).
    if (m_toHostCutShort) m_toHostWatch.GiveUpFrame();
    m_toHostCutShort = false;
    std::vector<std::uint8_t> wanted;
    wanted.reserve(2 * length + m_injected.size());
    std::optional<std::size_t> damagedLength;  // where in `wanted`
    if (!m_injected.empty() && (!m_injectAfterFrames || m_counters.framesWritten != *m_injectAfterFrames)) {
      wanted = std::move(m_injected);
      m_injected.clear();
    }
    // The link writes an acknowledgement as a write of its own, one byte long.
    if (length == 1 && bytes[0] == LINK_ACK) {
      ++m_counters.acks;
      if (m_counters.acks == m_faults.loseAck) {
        // lost on the line
      } else {
        const bool refuse = m_counters.acks == m_faults.nakAck ||
                            (m_faults.nakEvery != 0 && m_counters.acks % m_faults.nakEvery == 0);
        wanted.push_back(refuse ? LINK_NAK : LINK_ACK);
      }
    } else {
      wanted.insert(wanted.end(), bytes, bytes + length);
      // A frame is always one write of its own, and its first byte has bit 7 clear.
      if (length > 1 && (bytes[0] & 0x80) == 0) {
        ++m_counters.framesWritten;
        if (m_lengthDamagedFrame == m_counters.framesWritten && length > 3) {
          damagedLength = wanted.size() - length + ((bytes[1] & 0x80) ? 3 : 2);
          wanted[*damagedLength] = 0;
          m_lengthDamagedFrame.reset();
          m_toHostCutShort = true;
        }
        if (m_faults.duplicateEvery != 0 && m_counters.framesWritten % m_faults.duplicateEvery == 0) {
          // The host acknowledges the copies once or twice (a link that reads both before
          // it answers sends one 0xA5). A second one reaches the unit's link before its
          // next frame exists, so it finds nothing outstanding and is passed on as is.
          wanted.insert(wanted.end(), bytes, bytes + length);
        }
      }
    }
    out.reserve(wanted.size());
    bool gap = false;
    for (std::size_t i = 0; i < wanted.size(); ++i) {
      std::uint8_t byte = wanted[i];
      if (Chance(m_toHostRandom, m_faults.dropToHost)) {
        ++m_counters.droppedToHost;
        gap = true;
        continue;
      }
      bool damaged = gap || i == damagedLength;
      gap = false;
      if (Chance(m_toHostRandom, m_faults.corruptToHost)) {
        byte ^= static_cast<std::uint8_t>(1u << (m_toHostRandom() % 8));
        ++m_counters.corruptedToHost;
        damaged = true;
      }
      m_toHostWatch.Feed(byte, damaged);
      out.push_back(byte);
    }
  }
  PacedWrite(out.data(), out.size());
}

void CLinePort::PacedWrite(const std::uint8_t* bytes, std::size_t count) {
  if (count == 0) return;
  if (m_byteTime == Clock::duration::zero()) {
    Deliver(bytes, count);
    return;
  }
  // Byte i leaves the far end of the wire at start + (i + 1) byte times; everything due
  // by now is handed on in one go, then the writer sleeps until the next byte is due.
  const auto start = LineFreeAt(m_txLineFree, Clock::now());
  std::size_t sent = 0;
  while (sent < count) {
    const auto elapsed = Clock::now() - start;
    std::size_t due = static_cast<std::size_t>(elapsed / m_byteTime);
    if (due > count) due = count;
    if (due > sent) {
      Deliver(bytes + sent, due - sent);
      sent = due;
    } else {
      std::this_thread::sleep_until(start + m_byteTime * static_cast<long>(sent + 1));
    }
  }
  m_txLineFree = start + m_byteTime * static_cast<long>(count);
}

void CLinePort::Read(void* buffer, std::uint32_t length, std::uint32_t timeoutMs) {
  auto* bytes = static_cast<std::uint8_t*>(buffer);
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  const bool paced = m_byteTime != Clock::duration::zero();
  std::uint8_t chunk[kMaxFrameBytes];
  std::uint32_t done = 0;
  bool gap = false;
  while (done < length) {
    {
      std::lock_guard<std::mutex> guard(m_lock);
      for (; done < length && !m_fromHostInjected.empty(); m_fromHostInjected.pop_front()) {
        m_fromHostWatch.Feed(m_fromHostInjected.front(), true);
        bytes[done++] = m_fromHostInjected.front();
      }
    }
    if (done == length) break;
    std::uint32_t wait = 0;
    if (timeoutMs != 0) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) ThrowCode(1105);
      wait = static_cast<std::uint32_t>(left);
    }
    // With a line-speed model each byte is read on its own, so its time of arrival is
    // known; without one the rest is read at once.
    std::uint32_t want = paced ? 1 : length - done;
    if (want > sizeof chunk) want = sizeof chunk;
    const auto asked = Clock::now();
    m_inner.Read(chunk, want, wait);
    const auto got = Clock::now();
    // A byte that was waiting when asked for had queued behind the ones before it: it
    // follows them back to back, also when this thread came back late (a loaded machine
    // must not slow the line). One the read had to wait for starts the wire afresh.
    const bool wasWaiting = got - asked < m_byteTime;
    for (std::uint32_t i = 0; i < want; ++i) {
      if (paced) {
        const auto catchUpFrom = asked - std::chrono::milliseconds(20);
        const auto start = wasWaiting ? std::max(m_rxLineFree, catchUpFrom) : std::max(m_rxLineFree, got);
        const auto arrival = start + m_byteTime;
        std::this_thread::sleep_until(arrival);
        m_rxLineFree = arrival;
      }
      std::uint8_t byte = chunk[i];
      std::lock_guard<std::mutex> guard(m_lock);
      if (got < m_fromHostBrokenUntil) {
        ++m_counters.brokenFromHost;
        gap = true;
        continue;
      }
      if (Chance(m_fromHostRandom, m_faults.dropFromHost)) {
        ++m_counters.droppedFromHost;
        gap = true;
        continue;
      }
      bool damaged = gap;
      gap = false;
      if (Chance(m_fromHostRandom, m_faults.corruptFromHost)) {
        byte ^= static_cast<std::uint8_t>(1u << (m_fromHostRandom() % 8));
        ++m_counters.corruptedFromHost;
        damaged = true;
      }
      if ((m_fromHostDamage == FrameDamage::kLength && m_fromHostWatch.AtLength()) ||
          (m_fromHostDamage == FrameDamage::kCheck && m_fromHostWatch.AtCheck())) {
        byte ^= m_fromHostDamage == FrameDamage::kLength ? 0x08 : 0x01;
        m_fromHostDamage = FrameDamage::kNone;
        damaged = true;
      }
      if (byte == LINK_ACK && m_fromHostWatch.AtUnitStart()) ++m_counters.acksFromHost;
      m_fromHostWatch.Feed(byte, damaged);
      bytes[done++] = byte;
    }
  }
}

}  // namespace cvm6
