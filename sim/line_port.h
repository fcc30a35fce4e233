#pragma once
// The line between the model and the updater: a CSerialPort that wraps the model's real
// port and adds what a serial cable and a UART add — time on the wire at the baud rate —
// plus the byte-level faults of the fault plan. The model's link reads and writes
// through it and never knows.
//
// Line speed: with baud B each byte takes 10 / B seconds (start bit, 8 data bits, stop
// bit) in either direction. Writes are paced byte by byte against a schedule kept in
// absolute time, so rounding in sleeps never adds up; read bytes are handed on no faster
// than they could have crossed the wire.
//
// The host's adapter: with a latency of N ms, what reaches the host's end of the wire is
// held, as a USB adapter's latency timer holds it, until kAdapterPacket bytes are waiting
// (then they go at once, one USB packet's worth) or the oldest of them has waited N ms.
// A lone 0xA5 therefore reaches the updater N ms late.
//
// Threading: one reader and one writer thread, as for any port; the fault switches the
// model flips (Silence, InjectControl) may come from a third.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <random>
#include <thread>
#include <vector>

#include "port/serial_port.h"
#include "sim/fault_plan.h"
#include "sim/wire_watch.h"

namespace cvm6 {

struct LineCounters {
  WireCounts toHost;    // what the updater receives
  WireCounts fromHost;  // what the model's link receives
  std::uint64_t corruptedToHost = 0, corruptedFromHost = 0;  // bytes flipped
  std::uint64_t droppedToHost = 0, droppedFromHost = 0;      // bytes lost
  std::uint64_t silencedBytes = 0;  // bytes the model wrote while silent
  std::uint64_t brokenFromHost = 0; // bytes the updater wrote while the line was broken
  std::uint64_t garbageBytes = 0;   // bytes of noise put on the line, both ways
  std::uint32_t acks = 0;           // acknowledgements the model's link wrote
  std::uint32_t acksFromHost = 0;   // acknowledgements the updater sent
  std::uint32_t framesWritten = 0;  // frames the model's link wrote (before duplication)
};

class CLinePort : public CSerialPort {
 public:
  // The data bytes of one USB packet of the common adapters (64 less 2 status bytes).
  static constexpr std::size_t kAdapterPacket = 62;

  // `inner` must outlive this port. baud 0: no time on the wire. latencyMs 0: the host's
  // adapter hands every byte on at once.
  CLinePort(CSerialPort& inner, std::uint32_t baud, const LineFaults& faults, std::uint32_t latencyMs = 0);
  ~CLinePort() override;

  bool Close() override { return m_inner.Close(); }
  bool IsOpen() override { return m_inner.IsOpen(); }
  // The modelled line's rate, else the inner port's.
  std::uint32_t GetInfo() override { return m_baud != 0 ? m_baud : m_inner.GetInfo(); }
  void WakeReader() override { m_inner.WakeReader(); }
  void Read(void* buffer, std::uint32_t length, std::uint32_t timeoutMs) override;
  void Write(const void* buffer, std::uint32_t length, std::uint32_t timeoutMs) override;
  // With a line-speed model every byte is still on the wire as far as a reader knows.
  std::uint32_t BytesWaiting() override {
    return m_byteTime == Clock::duration::zero() ? m_inner.BytesWaiting() : 0;
  }

  // From now on nothing leaves the model; reading goes on, so the host's writes never
  // back up (a unit that lost power does not hold the line).
  void Silence() { m_silent = true; }
  bool IsSilent() const { return m_silent.load(); }
  // `bytes` go out ahead of whatever the link writes next; with `afterFrames`, ahead of
  // the first write once the link has written more frames than that (bytes due after a
  // reply go out right behind it, however soon the updater answers).
  void InjectToHost(std::vector<std::uint8_t> bytes, std::optional<std::uint32_t> afterFrames = std::nullopt);
  void InjectControl(std::uint8_t byte, std::optional<std::uint32_t> afterFrames = std::nullopt) {
    InjectToHost({byte}, afterFrames);
  }
  // The link's frame number `frame` (counted as framesWritten is) reaches the host with
  // its length byte 0, claiming 256 bytes, and its other bytes as written.
  void DamageLengthToHost(std::uint32_t frame);
  // The next frame from the updater reaches the model's link with bit 3 of its length
  // byte flipped, or with one bit of its check byte flipped.
  enum class FrameDamage { kNone, kLength, kCheck };
  void DamageNextFromHost(FrameDamage damage);
  // `bytes` reach the model's link ahead of what the updater sends next.
  void InjectFromHost(const std::vector<std::uint8_t>& bytes);
  // For `ms` from now nothing the model writes gets through (to host), or nothing the
  // updater writes does (from host); a break in the line, not a unit without power.
  void BreakToHost(std::uint32_t ms);
  void BreakFromHost(std::uint32_t ms);
  // `count` random bytes, none of them one of the link's five control bytes: noise on
  // the line that takes links down and spoils frames, but fakes no handshake.
  std::vector<std::uint8_t> Garbage(std::size_t count);

  LineCounters Counters() const;

 private:
  using Clock = std::chrono::steady_clock;
  Clock::time_point LineFreeAt(Clock::time_point lineFree, Clock::time_point now) const;
  void PacedWrite(const std::uint8_t* bytes, std::size_t count);
  // Bytes that have crossed the wire toward the host, into the host's adapter.
  void Deliver(const std::uint8_t* bytes, std::size_t count);
  void AdapterThread();  // hands on what the adapter held for its latency
  bool Chance(std::mt19937& generator, double rate);

  CSerialPort& m_inner;
  const std::uint32_t m_baud;
  const Clock::duration m_byteTime;  // zero without a line-speed model
  const LineFaults m_faults;
  std::atomic<bool> m_silent{false};

  // Writer side (and the counters, which Counters() copies under the lock).
  mutable std::mutex m_lock;
  std::mt19937 m_toHostRandom;
  Clock::time_point m_txLineFree{};
  CWireWatch m_toHostWatch;
  LineCounters m_counters;
  std::vector<std::uint8_t> m_injected;
  std::optional<std::uint32_t> m_injectAfterFrames;
  std::optional<std::uint32_t> m_lengthDamagedFrame;
  bool m_toHostCutShort = false;  // the last frame out promised more than it had
  Clock::time_point m_toHostBrokenUntil{};
  std::mt19937 m_garbageRandom;

  // Reader side (what it reads in: injected bytes and the break, under m_lock).
  std::deque<std::uint8_t> m_fromHostInjected;
  Clock::time_point m_fromHostBrokenUntil{};
  FrameDamage m_fromHostDamage = FrameDamage::kNone;
  std::mt19937 m_fromHostRandom;
  Clock::time_point m_rxLineFree{};
  CWireWatch m_fromHostWatch;

  // The host's adapter, with a latency: what it holds, since when, under m_adapterLock
  // (which also keeps its writes to `inner` in order).
  const Clock::duration m_latency;
  std::mutex m_adapterLock;
  std::condition_variable m_adapterChanged;
  std::vector<std::uint8_t> m_held;
  Clock::time_point m_heldSince{};
  bool m_adapterStop = false;
  std::thread m_adapterThread;
};

}  // namespace cvm6
