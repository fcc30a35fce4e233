#pragma once
// A frame record built by a test, as the node would hand it to the link.
#include <algorithm>
#include <memory>

#include "link/frame.h"
#include "support/wire.h"

namespace cvm6::test {

inline FramePtr QueuedFrame(std::uint8_t dest, std::uint8_t src, bool ack, const Bytes& payload) {
  auto frame = std::make_unique<Frame>();
  frame->destination = dest;
  frame->source = src;
  frame->ackWanted = ack ? 1 : 0;
  frame->length = static_cast<std::uint8_t>(payload.size() & 0xFF);
  frame->payload.reset(new std::uint8_t[payload.size()]);
  std::copy(payload.begin(), payload.end(), frame->payload.get());
  return frame;
}

}  // namespace cvm6::test
