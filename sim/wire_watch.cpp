#include "sim/wire_watch.h"

#include "link/crc8.h"

namespace cvm6 {

void CWireWatch::Feed(std::uint8_t byte, bool damaged) {
  ++m_counts.bytes;
  if (m_field == Field::Start) {
    if (byte & 0x80) {
      ++m_counts.controlBytes;
      return;
    }
    m_crc = Crc8Update(kCrcStart, byte);
    m_damaged = damaged;
    m_field = Field::Source;
    return;
  }
  m_damaged = m_damaged || damaged;
  switch (m_field) {
    case Field::Source:
      m_crc = Crc8Update(m_crc, byte);
      m_field = (byte & 0x80) ? Field::Sequence : Field::Length;
      return;
    case Field::Sequence:
      m_crc = Crc8Update(m_crc, byte);
      m_field = Field::Length;
      return;
    case Field::Length:
      m_crc = Crc8Update(m_crc, byte);
      m_left = byte == 0 ? 256 : byte;
      m_field = Field::Payload;
      return;
    case Field::Payload:
      m_crc = Crc8Update(m_crc, byte);
      if (--m_left == 0) m_field = Field::Crc;
      return;
    case Field::Crc:
    case Field::Start:
      break;
  }
  ++m_counts.frames;
  m_counts.damagedFrames += m_damaged;
  if (byte != m_crc) ++m_counts.rejectedFrames;
  else if (m_damaged) ++m_counts.damagedAccepted;
  m_field = Field::Start;
}

void CWireWatch::GiveUpFrame() {
  if (m_field == Field::Start) return;
  ++m_counts.frames;
  ++m_counts.damagedFrames;
  ++m_counts.rejectedFrames;
  m_field = Field::Start;
}

}  // namespace cvm6
