#pragma once
// The unit's own link: a CLink whose good frames go straight to a handler on the
// receiver thread instead of waiting on the receive queue for another thread, as a
// unit's firmware answers from its receive path. The frame's acknowledgement is already
// asked for when the handler runs, and the transmitter is woken for it and for the
// reply together once the handler returns (a handler that waits first calls
// DeliverPendingWakes, so the acknowledgement does not wait with it). Link notices
// still arrive on the receive queue. The unit's receiver has no gap limit inside a frame
// (LinkLimits::frameGapMs is taken as 0): its firmware waits out its read limit.
//
// Threading: the handler runs on the receiver thread; QueueTransmit may be called from
// it and from the model's own thread (the transmit queue and its count are locked).
#include <functional>
#include <utility>

#include "link/link.h"

namespace cvm6 {

class CUnitLink : public CLink {
 public:
  using Handler = std::function<void(FramePtr)>;
  CUnitLink(LinkLimits limits, Handler handler) : CLink(WithoutGapLimit(limits)), m_handler(std::move(handler)) {}
  ~CUnitLink() override { Stop(); }  // the receiver must not reach Accept of a dying link

 private:
  static LinkLimits WithoutGapLimit(LinkLimits limits) {
    limits.frameGapMs = 0;
    return limits;
  }
  void Accept(FramePtr frame) override { m_handler(std::move(frame)); }
  Handler m_handler;
};

}  // namespace cvm6
