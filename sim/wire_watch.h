#pragma once
// Follows one direction of the line as its receiver will read it, after the line
// model has done its damage, and tells which frames arrive intact, which are rejected by
// their check, and which were damaged yet pass it (CRC-8 lets about one damaged frame
// in 256 through) — the last are what a receiver wrongly accepts.
#include <cstdint>

namespace cvm6 {

struct WireCounts {
  std::uint64_t bytes = 0;            // bytes that reached the receiver
  std::uint64_t frames = 0;           // complete frames seen
  std::uint64_t damagedFrames = 0;    // frames holding a flipped byte or a gap
  std::uint64_t rejectedFrames = 0;   // frames whose check failed
  std::uint64_t damagedAccepted = 0;  // damaged frames whose check still passed
  std::uint64_t controlBytes = 0;
};

class CWireWatch {
 public:
  // `damaged`: this byte was altered, or a byte before it (since the last one seen)
  // was dropped.
  void Feed(std::uint8_t byte, bool damaged);
  const WireCounts& Counts() const { return m_counts; }
  // True between units: the next byte is a control byte or the first of a frame.
  bool AtUnitStart() const { return m_field == Field::Start; }
  // The next byte is a frame's length byte, or its check byte.
  bool AtLength() const { return m_field == Field::Length; }
  bool AtCheck() const { return m_field == Field::Crc; }
  // The receiver gave up the frame it was in, whose bytes stopped coming: a damaged
  // frame, refused. Nothing between units.
  void GiveUpFrame();

 private:
  enum class Field { Start, Source, Sequence, Length, Payload, Crc };
  Field m_field = Field::Start;
  std::uint8_t m_crc = 0;
  std::uint32_t m_left = 0;
  bool m_damaged = false;
  WireCounts m_counts;
};

}  // namespace cvm6
