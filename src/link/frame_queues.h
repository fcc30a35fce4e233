#pragma once
// The receive and transmit queues between the link's threads and the network node.
// Each queue has its own lock, held only for a few pointer updates; no operation holds
// both. Takes never wait for a frame: an empty queue gives null at once.
#include <mutex>

#include "link/frame.h"

namespace cvm6 {

class CFrameQueues {
 public:
  CFrameQueues() = default;
  CFrameQueues(const CFrameQueues&) = delete;
  CFrameQueues& operator=(const CFrameQueues&) = delete;
  ~CFrameQueues();  // frees every frame still queued

  void AppendReceived(FramePtr frame);
  FramePtr TakeReceived();
  void AppendTransmit(FramePtr frame);
  FramePtr TakeTransmit();

 private:
  struct Queue {
    Frame* head = nullptr;
    Frame* tail = nullptr;
    std::mutex lock;
  };
  static void Append(Queue& queue, FramePtr frame);
  static FramePtr Take(Queue& queue);
  static void FreeAll(Queue& queue);

  Queue m_received;
  Queue m_transmit;
};

}  // namespace cvm6
