#include "link/link.h"

#include <algorithm>
#include <chrono>
#include <new>
#include <optional>
#include <system_error>
#include <utility>
#include <vector>

#include "link/frame_codec.h"
#include "platform/failure.h"
#include "port/serial_port.h"

namespace cvm6 {
namespace {

using Clock = std::chrono::steady_clock;

// Thrown inside the receiver when its stop check finds the stop flag; never leaves it.
struct StopRequested {};
// Thrown inside the receiver when a frame's bytes stop coming (LinkLimits::frameGapMs);
// never leaves it.
struct FrameCutShort {};

constexpr std::size_t kWakeBurstBytes = 16;

const std::array<std::uint8_t, kWakeBurstBytes>& WakeBurst() {
  static const auto burst = [] {
    std::array<std::uint8_t, kWakeBurstBytes> bytes;
    bytes.fill(LINK_WAKE);
    return bytes;
  }();
  return burst;
}

// As long as the longest frame, so that a receiver caught inside a frame is carried to
// its end and reads the rest of the block as control bytes.
const std::array<std::uint8_t, kMaxFrameBytes>& SyncBlock() {
  static const auto block = [] {
    std::array<std::uint8_t, kMaxFrameBytes> bytes;
    bytes.fill(LINK_SYNC);
    return bytes;
  }();
  return block;
}

}  // namespace

// The receiver's reads inside a frame, each after a stop check. Without a gap limit one
// read takes all `count` bytes within the full read limit. With one, the bytes are taken
// as they come: what the port holds already in one read, else a single byte, waited for
// until the frame has been quiet for the gap limit, when the frame is given up
// (FrameCutShort). So no read whose wait runs out has taken part of what it asked for
// (which a POSIX port would lose), and a frame already in hand costs no extra system
// calls. The source is made right after the frame's first byte was read, so the first
// gap counts from then.
class CLink::ReceiverSource : public IByteSource {
 public:
  explicit ReceiverSource(CLink& link) : m_link(link), m_lastByteAt(Clock::now()) {}

  void ReadBytes(std::uint8_t* buffer, std::size_t count) override {
    const LinkLimits& limits = m_link.m_limits;
    // A gap limit past the read limit is the read limit: the frame is given up when the
    // line's silence would have taken the link down, and that silence, counted from the
    // frame's last byte, still does so.
    const std::uint32_t gapMs = std::min(limits.frameGapMs, limits.readTimeoutMs);
    if (gapMs == 0) {
      if (m_link.m_stopReceiver.load()) throw StopRequested{};
      m_link.WakeBeforeWaiting(count);
      m_link.m_port->Read(buffer, static_cast<std::uint32_t>(count), limits.readTimeoutMs);
    } else {
      for (std::size_t done = 0; done < count;) {
        if (m_link.m_stopReceiver.load()) throw StopRequested{};
        const std::uint32_t waiting = m_link.WakeBeforeWaiting(count - done);
        const std::size_t chunk = std::min<std::size_t>(count - done, std::max<std::uint32_t>(waiting, 1));
        ReadWithinGap(buffer + done, chunk, std::chrono::milliseconds(gapMs));
        done += chunk;
      }
    }
    if (!m_sourceRead && count > 0) {  // the decoder's first read is the source byte
      m_sourceRead = true;
      m_ackWanted = (buffer[0] & 0x80) != 0;
    }
  }

  // Whether the frame asked for acknowledgement, as far as its bytes came.
  bool AckWanted() const { return m_ackWanted; }
  Clock::time_point LastByteAt() const { return m_lastByteAt; }

 private:
  // A read that a wake ends without a stop (one meant for an earlier read) goes on
  // waiting for what is left of the gap.
  void ReadWithinGap(std::uint8_t* buffer, std::size_t count, Clock::duration gap) {
    for (;;) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(m_lastByteAt + gap - Clock::now()).count();
      if (left <= 0) throw FrameCutShort{};
      try {
        m_link.m_port->Read(buffer, static_cast<std::uint32_t>(count), static_cast<std::uint32_t>(left));
        m_lastByteAt = Clock::now();
        return;
      } catch (const CFailure& failure) {
        if (failure.code() != 1105) throw;
        if (m_link.m_stopReceiver.load()) throw StopRequested{};
      }
    }
  }

  CLink& m_link;
  Clock::time_point m_lastByteAt;
  bool m_sourceRead = false;
  bool m_ackWanted = false;
};

// The receiver's memory of the last good frame, for telling a repeat from a new frame.
// A frame that asked for an acknowledgement is a repeat when our 0xA5 for it was lost and
// the far end sent it again: then it is the very frame accepted last, byte for byte,
// with the same sequence number, and nothing else has come from the far end since (it
// sends nothing new while a frame waits for its acknowledgement). A frame that shares
// only the number is new: a far end that restarted numbers its frames from 1 again, and
// its announcement must reach the node whatever number we accepted last, even when the
// announcement is the same as the one that began the session and other frames came
// between.
class CLink::LastGoodFrame {
 public:
  bool Repeats(const Frame& frame, std::uint8_t sequence) const {
    return m_acked && m_sequence == sequence && m_bytes.size() == 3 + frame.PayloadSize() &&
           m_bytes[0] == frame.destination && m_bytes[1] == frame.source && m_bytes[2] == frame.length &&
           std::equal(m_bytes.begin() + 3, m_bytes.end(), frame.payload.get());
  }
  void Remember(const Frame& frame, std::uint8_t sequence) {
    m_acked = frame.ackWanted == 1;
    m_sequence = sequence;
    m_bytes.assign({frame.destination, frame.source, frame.length});
    m_bytes.insert(m_bytes.end(), frame.payload.get(), frame.payload.get() + frame.PayloadSize());
  }

 private:
  bool m_acked = false;
  std::uint8_t m_sequence = 0;
  std::vector<std::uint8_t> m_bytes;  // destination, source, length byte, payload
};

CLink::CLink(LinkLimits limits) : m_limits(limits) {}

CLink::~CLink() {
  if (m_started) Stop();
}

bool CLink::Start(CSerialPort* port) {
  if (m_started) return false;
  m_port = port;
  m_active = false;
  m_failed = false;
  m_stopReceiver = false;
  m_stopTransmitter = false;
  m_receiverStopped.Reset();
  m_transmitterStopped.Reset();
  m_wakeTransmitter.Reset();
  m_farLinkDownRequest.Reset();
  // Cleared here rather than by the transmitter's first pass: a wake or sync that the
  // receiver sees before the transmitter has begun must not be lost.
  m_wakeSeen.Reset();
  m_syncSeen.Reset();
  for (auto* counter : {&m_rxUnacked, &m_rxUnackedCrcErrors, &m_rxAckedCrcErrors, &m_rxDuplicates, &m_txUnacked,
                        &m_txAcked, &m_rxTimeouts, &m_linkSyncs, &m_rxBadControl, &m_rxKeepAlives, &m_txNakResends, &m_rxRenumberings})
    counter->store(0);
  m_rxNumbered = false;
  TakeAckTiming();
  try {
    m_receiver = std::thread(&CLink::ReceiverThread, this);
  } catch (const std::system_error&) {
    m_port = nullptr;
    ThrowCode(1202, "receiver thread");
  }
  try {
    m_transmitter = std::thread(&CLink::TransmitterThread, this);
  } catch (const std::system_error&) {
    // Leave nothing running that a later Stop or the destructor would wait for.
    m_stopReceiver = true;
    m_receiver.join();
    m_port = nullptr;
    ThrowCode(1202, "transmitter thread");
  }
  m_started = true;
  return true;
}

void CLink::RequestStop() {
  if (!m_started) return;
  m_stopReceiver = true;
  m_stopTransmitter = true;
  m_wakeTransmitter.Set();
  m_port->WakeReader();
}

bool CLink::Stop() {
  if (!m_started) return false;
  RequestStop();
  WaitForOne(m_receiverStopped, kInfinite);
  WaitForOne(m_transmitterStopped, kInfinite);
  m_receiver.join();
  m_transmitter.join();
  m_port = nullptr;
  m_active = false;
  m_started = false;
  return true;
}

void CLink::QueueTransmit(FramePtr frame) {
  ++m_inFlight;
  AppendTransmit(std::move(frame));
  m_transmitPending.Release(1);
}

CAckTiming CLink::TakeAckTiming() {
  std::lock_guard<std::mutex> guard(m_ackTimingLock);
  return std::exchange(m_ackTiming, CAckTiming{});
}

LinkCounters CLink::GetCounters() const {
  return {m_rxUnacked.load(), m_rxUnackedCrcErrors.load(), m_rxAckedCrcErrors.load(), m_rxDuplicates.load(),
          m_txUnacked.load(), m_txAcked.load(), m_rxTimeouts.load(), m_linkSyncs.load(), m_rxBadControl.load(),
          m_txNakResends.load()};
}

// ---------------------------------------------------------------------------------------
// Receiver

void CLink::ReceiverThread() {
  try {
    ReceiveLoop();
  } catch (...) {
    // The port failed for good (1101-1104) or memory ran out (1203): tell the
    // transmitter at once, so that the link goes down now rather than at a time-out.
    m_failed = true;
    m_wakeTransmitter.Set();
    WakeReceiveWaiter();
  }
  m_receiverStopped.Set();
  NotifyReceiveWaiter();  // an owner waiting for ThreadsEnded looks again
}

// The receiver's events and queued frames take effect at once, but the threads waiting
// for them are woken only when the receiver is about to wait for the line: a burst of
// bytes read in one go (the far end's acknowledgement and its reply) wakes the
// transmitter and the owner once each, not once per unit. A wake is held back for at
// most the bytes of one read of the port.
void CLink::ReceiveLoop() {
  CWakeBatch wakes;
  LastGoodFrame last;
  auto quietSince = Clock::now();
  for (;;) {
    if (m_stopReceiver.load() || m_failed.load()) return;
    try {
      std::uint8_t first = 0;
      WakeBeforeWaiting(1);
      if (!ReadUnitStart(first, quietSince)) return;
      const auto cutShortAt = HandleUnit(first, last);
      quietSince = cutShortAt ? *cutShortAt : Clock::now();
    } catch (const StopRequested&) {
      return;  // the frame being built went with the stack
    } catch (const CFailure& failure) {
      if (failure.code() != 1105) throw;
      if (m_stopReceiver.load()) return;  // Stop woke the read
      ++m_rxTimeouts;
      m_receiveTimeout.Set();
      quietSince = Clock::now();
    }
  }
}

// The read that starts a unit waits until the line has been silent for the read limit
// since `quietSince` (the last byte of a frame given up on a gap, else the start of this
// read); Stop wakes it through the port. A read that ends early without a stop (a wake
// meant for an earlier start) goes on waiting for what is left of the limit, and loses
// nothing. False when stopping.
bool CLink::ReadUnitStart(std::uint8_t& byte, Clock::time_point quietSince) {
  const auto limit = quietSince + std::chrono::milliseconds(m_limits.readTimeoutMs);
  for (;;) {
    if (m_stopReceiver.load() || m_failed.load()) return false;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(limit - Clock::now()).count();
    if (left <= 0) ThrowCode(1105);
    try {
      m_port->Read(&byte, 1, static_cast<std::uint32_t>(left));
      return true;
    } catch (const CFailure& failure) {
      if (failure.code() != 1105) throw;
    }
  }
}

std::uint32_t CLink::WakeBeforeWaiting(std::size_t count) {
  const std::uint32_t waiting = m_port->BytesWaiting();
  if (waiting < count) DeliverPendingWakes();
  return waiting;
}

void CLink::RejectFrame(bool ackWanted) {
  if (ackWanted) {
    ++m_rxAckedCrcErrors;
    m_nakRequest.Set();
  } else {
    ++m_rxUnackedCrcErrors;
  }
}

std::optional<Clock::time_point> CLink::HandleUnit(std::uint8_t first, LastGoodFrame& last) {
  if (first & 0x80) {
    switch (first) {
      case LINK_KEEPALIVE: ++m_rxKeepAlives; break;
      case LINK_ACK:
        m_ackReadAt.store(Clock::now().time_since_epoch().count());
        m_ackSeen.Set();
        break;
      case LINK_NAK: m_nakSeen.Set(); break;
      case LINK_SYNC: m_syncSeen.Set(); break;
      case LINK_WAKE: m_wakeSeen.Set(); break;
      default:
        ++m_rxBadControl;
        m_badControlSeen.Set();
        break;
    }
    return std::nullopt;
  }
  ReceiverSource source(*this);
  DecodedFrame decoded;
  try {
    decoded = DecodeFrame(first, source);
  } catch (const FrameCutShort&) {
    // The far end stopped short of what the length byte promised: the byte was damaged,
    // and the far end now waits for an answer. Our 0xDA has it send the frame again.
    RejectFrame(source.AckWanted());
    return source.LastByteAt();
  }
  if (m_stopReceiver.load()) return std::nullopt;
  const bool acked = decoded.frame->ackWanted == 1;
  if (!decoded.crcGood) {
    RejectFrame(acked);
    return std::nullopt;
  }
  if (!acked) {
    ++m_rxUnacked;
    last.Remember(*decoded.frame, 0);
    Accept(std::move(decoded.frame));
    return std::nullopt;
  }
  m_ackRequest.Set();
  if (last.Repeats(*decoded.frame, decoded.sequence)) {
    ++m_rxDuplicates;  // a repeat whose first copy's acknowledgement was lost
    return std::nullopt;
  }
  if (decoded.sequence == 1 && m_rxNumbered && m_rxLastSequence != 255) ++m_rxRenumberings;
  m_rxNumbered = true;
  m_rxLastSequence = decoded.sequence;
  last.Remember(*decoded.frame, decoded.sequence);
  Accept(std::move(decoded.frame));
  return std::nullopt;
}

// ---------------------------------------------------------------------------------------
// Transmitter

void CLink::TransmitterThread() {
  try {
    TransmitLoop();
  } catch (...) {
    // A write failed for good (1101-1104), a wait was abandoned (1202), the queue lost
    // a counted frame (1204) or memory ran out: the link is down from here on.
    m_failed = true;
    if (m_active.exchange(false)) {
      try {
        Notice(kNoticeNowInactive);
      } catch (...) {
      }
    }
    WakeReceiveWaiter();
  }
  DropOutstanding();
  m_transmitterStopped.Set();
  NotifyReceiveWaiter();
}

void CLink::TransmitLoop() {
  m_txSequence = 1;
  m_outstanding.reset();
  m_resentOnQuiet = false;
  m_settledAt = {};
  // One longest frame on the line at the port's rate (the updater's 57600 baud where
  // the port has no rate of its own), rounded up to the millisecond.
  const std::uint32_t baud = m_port->GetInfo() != 0 ? m_port->GetInfo() : 57600;
  m_settleTime = std::chrono::milliseconds((kMaxFrameBytes * 10 * 1000 + baud - 1) / baud);
  m_lineBaud = m_port->GetInfo();
  m_ackClockRunning = false;
  bool first = true;
  while (DownState(first) && UpState()) first = false;
}

bool CLink::DownState(bool first) {
  m_active = false;
  if (!first) {  // Start has cleared them already
    m_wakeSeen.Reset();
    m_syncSeen.Reset();
  }
  for (;;) {
    if (m_stopTransmitter.load() || m_failed.load()) return false;
    const int ready = WaitForAny({&m_wakeSeen, &m_syncSeen, &m_wakeTransmitter}, m_limits.wakeIntervalMs);
    if (ready == kWaitTimeout) {
      WriteBytes(WakeBurst().data(), WakeBurst().size());
      continue;
    }
    if (ready == 2) continue;  // stop or failure: seen at the top
    m_active = true;
    Notice(kNoticeNowActive);
    if (ready == 0) WriteSyncBlock();
    m_wakeSeen.Reset();
    ++m_linkSyncs;
    return true;
  }
}

bool CLink::UpState() {
  for (;;) {
    if (m_stopTransmitter.load()) return false;
    if (m_failed.load()) {
      LinkDown();
      return false;
    }
    // While a frame is outstanding, or while the line settles after a resend, the
    // semaphore is left out, so new frames wait.
    const auto now = Clock::now();
    const bool settling = now < m_settledAt;
    CWaitable* objects[kWaitObjects + 2] = {&m_ackRequest, &m_nakRequest, &m_wakeSeen,     &m_syncSeen,
                                           &m_ackSeen,    &m_nakSeen,    &m_badControlSeen, &m_receiveTimeout};
    std::size_t count = kTransmitPending;
    if (!m_outstanding && !settling) objects[count++] = &m_transmitPending;
    objects[count++] = &m_farLinkDownRequest;
    objects[count++] = &m_wakeTransmitter;
    std::uint32_t timeoutMs = m_limits.keepAliveMs;
    if (settling) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(m_settledAt - now).count();
      timeoutMs = std::min<std::uint32_t>(timeoutMs, static_cast<std::uint32_t>(left));
    }
    const int ready = WaitForAny(std::span<CWaitable* const>(objects, count), timeoutMs);
    if (ready != kWaitTimeout && objects[ready] == &m_wakeTransmitter) continue;
    if (ready != kWaitTimeout && objects[ready] == &m_farLinkDownRequest) {
      // No such control byte in the protocol: the far end's link goes down on it.
      static constexpr std::uint8_t kFarLinkDown[] = {LINK_NAK, 0x80};
      WriteBytes(kFarLinkDown, sizeof kFarLinkDown);
      continue;
    }
    if (ready == kWaitTimeout && settling && Clock::now() >= m_settledAt) continue;  // settled: frames may go

    switch (ready) {
      case kAckRequest: {
        const std::uint8_t ack = LINK_ACK;
        WriteBytes(&ack, 1);
        break;
      }
      case kNakRequest: {
        const std::uint8_t nak = LINK_NAK;
        WriteBytes(&nak, 1);
        break;
      }
      case kWakeSeen:
        ++m_linkSyncs;
        WriteSyncBlock();
        break;
      case kSyncSeen:
        break;
      case kAckSeen:
        if (m_outstanding) {
          StopAckClock();
          DropOutstanding();
          m_txSequence = m_txSequence == 255 ? 1 : static_cast<std::uint8_t>(m_txSequence + 1);
          // A frame resent on the quiet time-out may have had only a late answer: the far
          // end then answers both copies, and its second 0xA5 must find nothing
          // outstanding. The next frame waits until the line has been quiet that long.
          if (m_resentOnQuiet) m_settledAt = Clock::now() + m_settleTime;
          m_resentOnQuiet = false;
        } else if (settling) {
          m_settledAt = Clock::now() + m_settleTime;
        }
        break;
      case kNakSeen:
        if (m_outstanding) {
          ++m_txNakResends;
          // Refused more than once: the far end may be reading our copies out of step.
          if (++m_outstandingResends > 1) WriteSyncBlock();
          StartAckClock(WriteFrame(*m_outstanding, m_txSequence));
        } else if (settling) {
          m_settledAt = Clock::now() + m_settleTime;
        }
        break;
      case kBadControlSeen:
      case kReceiveTimeout:
        LinkDown();
        return true;
      case kTransmitPending: {
        FramePtr frame = TakeTransmit();
        if (!frame) ThrowCode(1204);
        // Counted before the write: the far end's answer can be taken and acted on before
        // this thread is back from writing the frame.
        const bool ackWanted = frame->ackWanted == 1;
        ++(ackWanted ? m_txAcked : m_txUnacked);
        const std::size_t written = WriteFrame(*frame, m_txSequence);
        if (ackWanted) {
          StartAckClock(written);
          m_outstanding = std::move(frame);
          m_outstandingResends = 0;
        } else {
          --m_inFlight;
        }
        break;
      }
      default: {  // quiet for the keep-alive interval
        // A frame still outstanding here has lost its acknowledgement (or its NAK) on
        // the line: the far end drops a repeat and acknowledges it again, so sending it
        // once more keeps the download moving and keeps the line alive just as well.
        // A damaged length byte can leave the far end's receiver out of step with our
        // frames: it takes the tail of one and the head of the next for a frame, refuses
        // it silently when its acknowledgement flag reads clear, and a copy of the same
        // length sent every interval is misread the same way for ever. The sync block
        // ahead of the copy (one longest frame and a byte) finishes whatever the far end
        // is in the middle of reading, and the rest of it reads as sync bytes, which a
        // link that is up passes over: the copy then starts where a unit starts.
        if (m_outstanding) {
          WriteSyncBlock();
          ++m_outstandingResends;
          WriteFrame(*m_outstanding, m_txSequence);
          m_resentOnQuiet = true;
          m_ackClockRunning = false;
        } else {
          const std::uint8_t keepAlive = LINK_KEEPALIVE;
          WriteBytes(&keepAlive, 1);
        }
        break;
      }
    }
  }
}

void CLink::DropOutstanding() {
  if (m_outstanding) --m_inFlight;
  m_outstanding.reset();
}

void CLink::LinkDown() {
  m_active = false;
  m_ackClockRunning = false;
  Notice(kNoticeNowInactive);
}

void CLink::Notice(std::uint16_t id) {
  FramePtr notice = MakeNotice(id);
  if (!notice) throw std::bad_alloc();
  AppendReceived(std::move(notice));
}

void CLink::WriteBytes(const std::uint8_t* bytes, std::size_t count) {
  m_port->Write(bytes, static_cast<std::uint32_t>(count), 0);
}

void CLink::WriteSyncBlock() { WriteBytes(SyncBlock().data(), SyncBlock().size()); }

std::size_t CLink::WriteFrame(const Frame& frame, std::uint8_t sequence) {
  const EncodedFrame encoded = EncodeFrame(frame, sequence);
  WriteBytes(encoded.bytes.data(), encoded.size);
  return encoded.size;
}

void CLink::StartAckClock(std::size_t frameBytes) {
  m_outstandingWrittenAt = Clock::now();
  m_outstandingBytes = frameBytes;
  m_ackClockRunning = true;
}

void CLink::StopAckClock() {
  if (!m_ackClockRunning) return;
  m_ackClockRunning = false;
  const Clock::time_point readAt{Clock::duration(m_ackReadAt.load())};
  const auto roundTrip = std::chrono::duration_cast<std::chrono::microseconds>(readAt - m_outstandingWrittenAt);
  std::lock_guard<std::mutex> guard(m_ackTimingLock);
  m_ackTiming.Add(roundTrip.count(), m_outstandingBytes, m_lineBaud);
}

}  // namespace cvm6
