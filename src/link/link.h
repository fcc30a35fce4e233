#pragma once
// CLink keeps a live, checked link over one serial port with two threads:
//   receiver    — the only reader of the port: decodes units, checks CRCs, appends good
//                 frames to the receive queue and turns control bytes into events;
//   transmitter — the only writer: wake/sync handshake while down; while up, one pass per
//                 ready event (lowest index first): ACK/NAK on the receiver's behalf, sync
//                 answers, stop-and-wait sending with resend on NAK, keep-alive on quiet.
// Link changes reach the node in band, as notice frames (255 -> 255, message 15 up,
// 14 down) on the receive queue.
//
// Threading rule: Start, Stop, IsActive, QueueTransmit and TakeReceived belong to one
// owner thread (the window's); the two link threads never touch anything else.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>

#include "link/ack_timing.h"
#include "link/frame_queues.h"
#include "platform/sync.h"

namespace cvm6 {

class CSerialPort;

constexpr std::uint16_t kNoticeNowInactive = 0x0E;
constexpr std::uint16_t kNoticeNowActive = 0x0F;

// The link's time limits. The programs always use the defaults; tests pass shorter ones.
struct LinkLimits {
  std::uint32_t wakeIntervalMs = 100;   // down: a wake burst each time this passes quietly
  std::uint32_t keepAliveMs = 1000;     // up: keep-alive (or resend) after this much quiet
  std::uint32_t readTimeoutMs = 8000;   // receiver: silence that takes the link down
  // Receiver: a pause this long between the bytes of a frame ends it as a damaged one (0:
  // no such limit, a frame's bytes are waited for as long as the read limit). A far end
  // writes a frame back to back (the longest takes 45 ms at 57600 baud), so such a pause
  // means a damaged length byte promised bytes that are not coming; the far end, waiting
  // for its acknowledgement, sends again only after its keep-alive interval of quiet, and
  // by then the receiver waits for the start of a unit again.
  std::uint32_t frameGapMs = 500;
};

struct LinkCounters {
  std::uint32_t rxUnacked, rxUnackedCrcErrors, rxAckedCrcErrors, rxDuplicates, txUnacked, txAcked,
      rxTimeouts, linkSyncs, rxBadControl;
  // Frames written again because the far end answered them with 0xDA: each one reached
  // it damaged (and was caught there).
  std::uint32_t txNakResends;
};

class CLink : public CFrameQueues {
 public:
  explicit CLink(LinkLimits limits = {});
  virtual ~CLink();

  // False when already started. Throws 1202 when a thread cannot be created; the link
  // is then left not started, with no thread running.
  bool Start(CSerialPort* port);
  // False when not started; otherwise returns once both threads have ended: within
  // about 2 s even when the port's driver has stopped completing requests, since the
  // port bounds every wait of a transfer (a read is woken, a write has a deadline).
  bool Stop();
  // The first half of Stop, for an owner that keeps its own thread alive meanwhile:
  // asks both threads to end and returns at once. ThreadsEnded says when they have
  // (the receive notifier is called then too); Stop then only joins them.
  void RequestStop();
  bool ThreadsEnded() const { return m_receiverStopped.IsSet() && m_transmitterStopped.IsSet(); }
  bool IsActive() const { return m_active.load(); }
  bool IsStarted() const { return m_started; }
  // True once a thread of this start has ended on a failure it cannot recover from
  // (the port failed for good: an unplugged adapter). Cleared by Start.
  bool HasFailed() const { return m_failed.load(); }

  void QueueTransmit(FramePtr frame);
  using CFrameQueues::TakeReceived;
  // True when every frame queued so far has gone out and, if it asked for one, has been
  // acknowledged by the far end. For the owner thread.
  bool TransmitIdle() const { return m_inFlight.load() == 0; }
  // Has one 0xDA written, which makes the far end send the frame it has outstanding
  // again (it does nothing when it has none). For the owner thread.
  void AskForResend() { m_nakRequest.Set(); }
  // Once the link is up: has 0xDA and then an unrecognised control byte written. The far
  // end sends again a frame it has outstanding (which would hold back anything new),
  // then takes its link down, wakes us and comes up afresh. For a far end whose link
  // stayed up from a session that ended without taking it down: it saw no link-up in
  // this one and so has not announced itself. Our own link stays up. For the owner thread.
  void TakeFarLinkDown() { m_farLinkDownRequest.Set(); }
  // Keep-alive bytes received since Start: the far end's link is up and it has nothing
  // to say.
  std::uint32_t KeepAlivesReceived() const { return m_rxKeepAlives.load(); }
  // Frames written again because the far end answered them with 0xDA (LinkCounters::
  // txNakResends), without copying every counter: for the block loop.
  std::uint32_t FramesRefused() const { return m_txNakResends.load(); }
  // Times since Start that the far end numbered a new frame from 1 again, other than after
  // 255: it started afresh (lost power). A far end whose link only went down and came back
  // numbers on.
  std::uint32_t FarEndRenumberings() const { return m_rxRenumberings.load(); }

  LinkCounters GetCounters() const;
  const LinkLimits& Limits() const { return m_limits; }
  // The round trips of the acknowledged frames written since the last call (or since
  // Start), and a fresh start for the next. A frame that went out again on the quiet
  // time-out, or was outstanding across a link-down, is not timed: which copy its 0xA5
  // answers is not known. Any thread.
  CAckTiming TakeAckTiming();

 protected:
  // Where the receiver puts each good frame that is not a repeat: the receive queue.
  // Runs on the receiver thread, with the frame's acknowledgement already asked for and
  // the wakes of this burst held back (see ReceiveLoop). A link that overrides it must
  // Stop in its own destructor.
  virtual void Accept(FramePtr frame) { AppendReceived(std::move(frame)); }

 private:
  enum : int {
    kAckRequest, kNakRequest, kWakeSeen, kSyncSeen, kAckSeen, kNakSeen, kBadControlSeen,
    kReceiveTimeout, kTransmitPending, kWaitObjects
  };
  class ReceiverSource;
  class LastGoodFrame;

  void ReceiverThread();
  void TransmitterThread();
  void ReceiveLoop();
  bool ReadUnitStart(std::uint8_t& byte, std::chrono::steady_clock::time_point quietSince);
  // For a frame given up on a gap (LinkLimits::frameGapMs): the time of its last byte,
  // from which the line's silence counts.
  std::optional<std::chrono::steady_clock::time_point> HandleUnit(std::uint8_t first, LastGoodFrame& last);
  // Counts a frame refused whole (its check failed, or its bytes stopped coming) and has
  // a 0xDA sent for it when it asked for acknowledgement.
  void RejectFrame(bool ackWanted);
  // Wakes the threads the receiver owes a wake-up unless `count` bytes can be read at
  // once; returns the bytes the port says it holds.
  std::uint32_t WakeBeforeWaiting(std::size_t count);
  void TransmitLoop();
  bool DownState(bool first);  // false when stopping
  bool UpState();     // false when stopping
  void LinkDown();
  void DropOutstanding();
  void Notice(std::uint16_t id);
  void WriteBytes(const std::uint8_t* bytes, std::size_t count);
  void WriteSyncBlock();  // 261 x 0xF0
  // Returns the bytes written.
  std::size_t WriteFrame(const Frame& frame, std::uint8_t sequence);
  // The outstanding frame has just been written whole: its acknowledgement's clock starts.
  void StartAckClock(std::size_t frameBytes);
  // Its 0xA5 has come: the round trip goes to m_ackTiming.
  void StopAckClock();

  const LinkLimits m_limits;
  CSerialPort* m_port = nullptr;
  std::atomic<bool> m_active{false};
  std::atomic<bool> m_failed{false};
  // Frames queued and not yet done with: written (without acknowledgement) or
  // acknowledged, or thrown away when the transmitter ended.
  std::atomic<std::uint32_t> m_inFlight{0};
  bool m_started = false;
  std::thread m_receiver;
  std::thread m_transmitter;

  // The wait array, in its fixed order (the index is the wait's result).
  CEvent m_ackRequest{false, false};
  CEvent m_nakRequest{false, false};
  CEvent m_wakeSeen{false, false};
  CEvent m_syncSeen{false, false};
  CEvent m_ackSeen{false, false};
  CEvent m_nakSeen{false, false};
  CEvent m_badControlSeen{false, false};
  CEvent m_receiveTimeout{false, false};
  CSemaphore m_transmitPending{0, CSemaphore::kMaxCount};
  // Not part of the protocol, after the nine objects of the wait array: TakeFarLinkDown;
  // and Stop, or a thread's fatal failure, ending the transmitter's wait at once instead
  // of after its 100 or 1000 ms (lowest priority of all).
  CEvent m_farLinkDownRequest{false, false};
  CEvent m_wakeTransmitter{true, false};

  std::atomic<bool> m_stopReceiver{false};
  std::atomic<bool> m_stopTransmitter{false};
  CEvent m_receiverStopped{true, false};
  CEvent m_transmitterStopped{true, false};

  std::atomic<std::uint32_t> m_rxUnacked{0}, m_rxUnackedCrcErrors{0}, m_rxAckedCrcErrors{0},
      m_rxDuplicates{0}, m_txUnacked{0}, m_txAcked{0}, m_rxTimeouts{0}, m_linkSyncs{0},
      m_rxBadControl{0}, m_rxKeepAlives{0}, m_txNakResends{0}, m_rxRenumberings{0};
  // Receiver-thread state: the sequence number of the last new acknowledged frame.
  bool m_rxNumbered = false;
  std::uint8_t m_rxLastSequence = 0;

  // Transmitter-thread state.
  std::uint8_t m_txSequence = 1;
  FramePtr m_outstanding;
  bool m_resentOnQuiet = false;  // the outstanding frame went out again on the quiet time-out
  std::uint32_t m_outstandingResends = 0;  // copies of it written since the first
  std::chrono::steady_clock::time_point m_settledAt{};  // no new frame before this
  std::chrono::steady_clock::duration m_settleTime{};
  std::uint32_t m_lineBaud = 0;  // the port's rate, for the line time of a round trip
  bool m_ackClockRunning = false;
  std::chrono::steady_clock::time_point m_outstandingWrittenAt{};
  std::size_t m_outstandingBytes = 0;

  // When the receiver last read a 0xA5 (steady clock ticks): set before m_ackSeen, so the
  // transmitter that acts on the event sees this time or a later one.
  std::atomic<std::chrono::steady_clock::rep> m_ackReadAt{0};
  mutable std::mutex m_ackTimingLock;
  CAckTiming m_ackTiming;  // under m_ackTimingLock
};

}  // namespace cvm6
