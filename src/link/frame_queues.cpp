#include "link/frame_queues.h"

#include "platform/failure.h"

namespace cvm6 {

FramePtr MakeNotice(std::uint16_t id) {
  FramePtr notice(new (std::nothrow) Frame);
  if (!notice) return nullptr;
  notice->payload.reset(new (std::nothrow) std::uint8_t[2]);
  if (!notice->payload) return nullptr;
  notice->destination = kNoAddress;
  notice->source = kNoAddress;
  notice->ackWanted = 0;
  notice->length = 2;
  notice->payload[0] = static_cast<std::uint8_t>(id & 0xFF);
  notice->payload[1] = static_cast<std::uint8_t>(id >> 8);
  return notice;
}

CFrameQueues::~CFrameQueues() {
  FreeAll(m_received);
  FreeAll(m_transmit);
}

void CFrameQueues::FreeAll(Queue& queue) {
  while (FramePtr frame = Take(queue)) {
  }
}

// A queue whose head and tail disagree has been damaged; it is left exactly as found.
void CFrameQueues::Append(Queue& queue, FramePtr frame) {
  frame->next = nullptr;
  std::lock_guard<std::mutex> guard(queue.lock);
  if (!queue.head && !queue.tail) {
    queue.head = queue.tail = frame.release();
  } else if (queue.head && queue.tail) {
    queue.tail->next = frame.get();
    queue.tail = frame.release();
  } else {
    ThrowCode(1002);
  }
}

FramePtr CFrameQueues::Take(Queue& queue) {
  std::lock_guard<std::mutex> guard(queue.lock);
  if (!queue.head && !queue.tail) return nullptr;
  if (!queue.head || !queue.tail) ThrowCode(1002);
  FramePtr result(queue.head);
  queue.head = result->next;
  if (!queue.head) queue.tail = nullptr;
  return result;
}

bool CFrameQueues::PeekReceived(const std::function<bool(const Frame&)>& test) {
  std::lock_guard<std::mutex> guard(m_received.lock);
  return m_received.head && test(*m_received.head);
}

void CFrameQueues::AppendReceived(FramePtr frame) {
  Append(m_received, std::move(frame));
  m_receivedSignal.Set();
  NotifyReceiveWaiter();
}

void CFrameQueues::SetReceiveNotifier(std::function<void()> notifier) {
  std::lock_guard<std::mutex> guard(m_notifierLock);
  m_notifier = std::move(notifier);
}

void CFrameQueues::NotifyReceiveWaiter() {
  std::lock_guard<std::mutex> guard(m_notifierLock);
  if (m_notifier) m_notifier();
}

bool CFrameQueues::WaitForReceived(std::uint32_t timeoutMs) {
  // No spinning before the sleep: with the link's threads, the simulator's and the
  // window's sharing two cores, a spinning waiter takes the core from the very thread
  // it waits for, and each sched_yield is a system call of its own.
  {
    std::lock_guard<std::mutex> guard(m_received.lock);
    if (m_received.head) return true;
  }
  return WaitForOne(m_receivedSignal, timeoutMs);
}
FramePtr CFrameQueues::TakeReceived() { return Take(m_received); }
void CFrameQueues::AppendTransmit(FramePtr frame) { Append(m_transmit, std::move(frame)); }
FramePtr CFrameQueues::TakeTransmit() { return Take(m_transmit); }

}  // namespace cvm6
