#pragma once
// The wire format. A unit on the line is either one control byte (bit 7 set) or a data
// frame (first byte with bit 7 clear):
//   destination | source (bit 7 = ack wanted) | [sequence] | length (0 = 256) | payload | CRC-8
// Nothing inside a frame has control meaning; there is no stuffing and no escape.
#include <array>
#include <cstddef>
#include <cstdint>

#include "link/frame.h"

namespace cvm6 {

constexpr std::uint8_t LINK_WAKE = 0xFF;
constexpr std::uint8_t LINK_SYNC = 0xF0;
constexpr std::uint8_t LINK_ACK = 0xA5;
constexpr std::uint8_t LINK_NAK = 0xDA;
constexpr std::uint8_t LINK_KEEPALIVE = 0x8C;

constexpr std::size_t kMaxFrameBytes = 261;  // 1 + 1 + 1 + 1 + 256 + 1; also the sync block

struct EncodedFrame {
  std::array<std::uint8_t, kMaxFrameBytes> bytes;
  std::size_t size = 0;
};

// Wire bytes of `frame`; `sequence` goes out only when frame.ackWanted is 1.
EncodedFrame EncodeFrame(const Frame& frame, std::uint8_t sequence);

// Where the decoder gets the bytes after the first. ReadBytes fills exactly `count`
// bytes or throws (a time-out, a port failure, a stop request); the decoder then
// frees what it had built.
class IByteSource {
 public:
  virtual ~IByteSource() = default;
  virtual void ReadBytes(std::uint8_t* buffer, std::size_t count) = 0;
};

struct DecodedFrame {
  FramePtr frame;          // the record, addresses and payload as received
  bool crcGood = false;    // false: the frame is to be rejected whole
  std::uint8_t sequence = 0;  // meaningful when frame->ackWanted is 1
};

// Decodes the frame whose first byte (bit 7 clear) was `first`: source, optional
// sequence and length one byte per read, the payload in one read, then the CRC.
// Throws CFailure 1203 when memory for the record or payload is short.
DecodedFrame DecodeFrame(std::uint8_t first, IByteSource& source);

}  // namespace cvm6
