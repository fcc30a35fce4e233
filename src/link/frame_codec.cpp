#include "link/frame_codec.h"

#include <new>

#include "link/crc8.h"
#include "platform/failure.h"

namespace cvm6 {

EncodedFrame EncodeFrame(const Frame& frame, std::uint8_t sequence) {
  EncodedFrame out;
  std::size_t n = 0;
  out.bytes[n++] = frame.destination;
  if (frame.ackWanted == 1) {
    out.bytes[n++] = static_cast<std::uint8_t>(frame.source | 0x80);
    out.bytes[n++] = sequence;
  } else {
    out.bytes[n++] = frame.source;
  }
  out.bytes[n++] = frame.length;
  const std::size_t size = frame.PayloadSize();
  for (std::size_t i = 0; i < size; ++i) out.bytes[n++] = frame.payload[i];
  out.bytes[n] = Crc8(out.bytes.data(), n);
  out.size = n + 1;
  return out;
}

DecodedFrame DecodeFrame(std::uint8_t first, IByteSource& source) {
  DecodedFrame result;
  result.frame.reset(new (std::nothrow) Frame);
  if (!result.frame) ThrowCode(1203);
  Frame& frame = *result.frame;
  frame.destination = first;
  std::uint8_t crc = Crc8Update(kCrcStart, first);

  std::uint8_t byte = 0;
  source.ReadBytes(&byte, 1);
  crc = Crc8Update(crc, byte);
  if (byte & 0x80) {
    frame.ackWanted = 1;
    frame.source = static_cast<std::uint8_t>(byte & 0x7F);
    source.ReadBytes(&result.sequence, 1);
    crc = Crc8Update(crc, result.sequence);
  } else {
    frame.ackWanted = 0;
    frame.source = byte;
  }

  source.ReadBytes(&frame.length, 1);
  crc = Crc8Update(crc, frame.length);
  const std::size_t size = frame.PayloadSize();
  frame.payload.reset(new (std::nothrow) std::uint8_t[size]);
  if (!frame.payload) ThrowCode(1203);
  source.ReadBytes(frame.payload.get(), size);
  crc = Crc8(frame.payload.get(), size, crc);

  std::uint8_t check = 0;
  source.ReadBytes(&check, 1);
  result.crcGood = check == crc;
  return result;
}

}  // namespace cvm6
