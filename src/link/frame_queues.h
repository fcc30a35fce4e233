#pragma once
// The receive and transmit queues between the link's threads and the network node.
// Each queue has its own lock, held only for a few pointer updates; no operation holds
// both. Takes never wait for a frame: an empty queue gives null at once.
#include <functional>
#include <mutex>

#include "link/frame.h"
#include "platform/sync.h"

namespace cvm6 {

class CFrameQueues {
 public:
  CFrameQueues() = default;
  CFrameQueues(const CFrameQueues&) = delete;
  CFrameQueues& operator=(const CFrameQueues&) = delete;
  ~CFrameQueues();  // frees every frame still queued

  void AppendReceived(FramePtr frame);
  FramePtr TakeReceived();
  // Whether a received frame waits and `test` holds for the first one; takes nothing.
  bool PeekReceived(const std::function<bool(const Frame&)>& test);
  // Returns at once when a received frame waits, else waits up to timeoutMs for one to
  // be appended. Lets a waiting loop idle instead of spinning a core; never takes a frame.
  bool WaitForReceived(std::uint32_t timeoutMs);
  // Ends the WaitForReceived that sleeps now (or the next one) without a frame, so that
  // its caller looks at its other conditions. Any thread may call it.
  void WakeReceiveWaiter() {
    m_receivedSignal.Set();
    NotifyReceiveWaiter();
  }
  // Also called whenever a frame is appended or the receive waiter is woken, from the
  // thread that did it: for an owner that sleeps elsewhere than in WaitForReceived (a
  // window's thread handling its messages). Null for none. It must not block.
  void SetReceiveNotifier(std::function<void()> notifier);
  void AppendTransmit(FramePtr frame);
  FramePtr TakeTransmit();

 protected:
  void NotifyReceiveWaiter();

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
  CEvent m_receivedSignal{false, false};
  std::mutex m_notifierLock;  // held while the notifier runs, so that it can be taken away
  std::function<void()> m_notifier;
};

}  // namespace cvm6
