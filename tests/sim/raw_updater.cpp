#include "raw_updater.h"

#include <chrono>

#include "platform/failure.h"
#include "support/time_scale.h"

namespace cvm6::test {

Bytes DeviceDataRequest() { return {0x1A, 0x00}; }
Bytes StartRequest(std::uint8_t target) { return {0x15, 0x00, target}; }
Bytes EndRequest() { return {0x17, 0x00}; }
Bytes WriteRequest(std::uint16_t sequence, std::uint32_t address, const Bytes& data) {
  Bytes payload = {0x19,
                   0x00,
                   static_cast<std::uint8_t>(sequence),
                   static_cast<std::uint8_t>(sequence >> 8),
                   static_cast<std::uint8_t>(address),
                   static_cast<std::uint8_t>(address >> 8),
                   static_cast<std::uint8_t>(address >> 16),
                   static_cast<std::uint8_t>(address >> 24)};
  payload.insert(payload.end(), data.begin(), data.end());
  return payload;
}

void RawUpdater::Send(const Bytes& bytes) { m_port->Write(bytes.data(), static_cast<std::uint32_t>(bytes.size()), 2000); }

// Reads whatever comes within `ms`, one byte per call so nothing waits for more.
bool RawUpdater::Fill(int ms) {
  std::uint8_t byte = 0;
  try {
    m_port->Read(&byte, 1, static_cast<std::uint32_t>(ms));
  } catch (const CFailure&) {
    return false;
  }
  m_pending.push_back(byte);
  for (int more = 0; more < 512; ++more) {
    try {
      m_port->Read(&byte, 1, 1);
    } catch (const CFailure&) {
      return true;
    }
    m_pending.push_back(byte);
  }
  return true;
}

std::optional<WireUnit> RawUpdater::Next(int ms, bool skipLinkFiller) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(Scaled(ms));
  for (;;) {
    const auto units = ParseUnits(m_pending);
    std::size_t used = 0;
    for (const auto& unit : units) {
      used += unit.control ? 1 : unit.raw.size();
      if (unit.control && skipLinkFiller && (unit.byte == 0x8C || unit.byte == 0xF0)) continue;
      m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<long>(used));
      return unit;
    }
    m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<long>(used));
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return std::nullopt;
    Fill(static_cast<int>(left.count()));
  }
}

Bytes RawUpdater::Drain(int ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    Fill(static_cast<int>(left.count()));
  }
  Bytes out;
  out.swap(m_pending);
  return out;
}

int RawUpdater::LineFailure(int ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(Scaled(ms));
  while (std::chrono::steady_clock::now() < deadline) {
    std::uint8_t byte = 0;
    try {
      m_port->Read(&byte, 1, 50);
    } catch (const CFailure& failure) {
      if (failure.code() != 1105) return failure.code();
    }
  }
  return 0;
}

bool RawUpdater::WakeUp() {
  Send({0xFF});
  // The answer is a sync block; keep-alives, the model's own wake bursts (its link gave
  // up on an earlier updater) and frames it was still sending to that one may come
  // ahead of it.
  for (;;) {
    auto first = Next(2000, false);
    if (!first) return false;
    if (first->control && first->byte == 0xF0) break;
    if (first->control && first->byte != 0x8C && first->byte != 0xFF) return false;
    if (!first->control && first->ackWanted) Send({0xA5});
  }
  // A reply left over from an earlier updater whose acknowledgement never arrived may
  // come first; it is acknowledged and passed over, as the updater's link would.
  for (;;) {
    auto unit = Next(2000);
    if (!unit || unit->control || !unit->crcGood) return false;
    Send({0xA5});
    const bool announces = unit->payload.size() >= 2 && unit->payload[1] == 0 &&
                           (unit->payload[0] == 0x01 || unit->payload[0] == 0x02);
    if (announces) {
      announcement = *unit;
      return true;
    }
  }
}

Bytes RawUpdater::NextFrame(const Bytes& payload) {
  m_sequence = m_sequence == 255 ? 1 : static_cast<std::uint8_t>(m_sequence + 1);
  return WireFrame(deviceAddress, ownAddress, m_sequence, payload);
}

std::optional<WireUnit> RawUpdater::Request(const Bytes& payload, int replyMs) {
  Send(NextFrame(payload));
  auto ack = Next(2000);
  if (!ack || !ack->control || ack->byte != 0xA5) return std::nullopt;
  auto reply = Next(replyMs);
  if (!reply || reply->control) return std::nullopt;
  if (reply->ackWanted) Send({0xA5});
  return reply;
}

}  // namespace cvm6::test
