#pragma once
// One link-layer frame in memory. The record owns its payload; whoever holds the
// record (a queue, the link, the node) owns both, and handing it on is a move.
#include <cstdint>
#include <memory>

namespace cvm6 {

constexpr std::uint8_t kNoAddress = 255;
constexpr std::size_t kMaxPayload = 256;

struct Frame {
  Frame* next = nullptr;          // following frame while queued; meaningless after a take
  std::uint32_t ackWanted = 0;    // 1 when sent or received with the acknowledgement flag
  std::uint8_t destination = 0;   // 0..127 on the wire; 255 only in the link's notices
  std::uint8_t source = 0;        // without the wire's flag bit; 255 only in notices
  std::uint8_t length = 0;        // payload length as on the wire: 1..255, 0 for 256
  std::unique_ptr<std::uint8_t[]> payload;

  std::size_t PayloadSize() const { return length == 0 ? kMaxPayload : length; }
};

using FramePtr = std::unique_ptr<Frame>;

// The link's own notice (never on the wire): destination and source 255, the two-byte
// message id `id` as payload. Returns null when memory is short.
FramePtr MakeNotice(std::uint16_t id);

}  // namespace cvm6
