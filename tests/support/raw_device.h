#pragma once
// The unit, played in raw bytes on the master side of a pseudo-terminal by a thread of
// its own. It brings the link up, announces itself, answers the updater's requests and
// keeps a copy of the flash it was sent; the script bends its answers for the failure
// cases. It knows the wire only through tests/support/wire.h, never through the product.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "support/pty_pair.h"
#include "support/wire.h"

namespace cvm6::test {

struct DeviceScript {
  std::uint8_t address = 5;         // the unit's own address
  std::uint8_t updaterAddress = 1;  // the address it gives the updater
  bool announce = true;             // IDENTIFY once the link is up
  int announceDelayMs = 0;
  // IDENTIFY at the first wake, 200 ms ahead of the wake that brings the updater's link
  // up: its receiver takes the frame while the link still counts itself down.
  bool announceBeforeLinkUp = false;
  bool announceAckWanted = true;    // an IDENTIFY without it is a fault of the unit
  bool malformedAnnouncementFirst = false;  // an IDENTIFY without acknowledgement, then the real one
  int malformedAnnouncementAtBlock = -1;    // an IDENTIFY without acknowledgement after this block
  int announceAgainAtBlock = -1;            // a proper IDENTIFY after this block (the unit restarted)
  // The receiver's last accepted sequence number at start: a unit left powered since
  // an earlier run that ended after its first message.
  std::optional<std::uint8_t> lastAcceptedSequence;
  std::uint8_t firstTxSequence = 1;  // the number of its first frame that asks for acknowledgement
  // A wake while its link is up is answered with a sync block, and its link stays up (a
  // unit whose link never went down); otherwise it counts its link down and answers with
  // a wake, and announces itself again once up.
  bool stayUpOnWake = false;
  // Its link is still up from an earlier session that ended without taking it down, in
  // which it announced itself: a wake is answered with a sync block and its link stays
  // up; it announces itself only once an unrecognised control byte has taken its link
  // down (any unit's link goes down on one; it then wakes the far end on its own) and it
  // came up again. With `staleReply`, a reply of that session still waits for its
  // acknowledgement and holds back anything new until 0xA5 or 0xDA comes.
  bool linkUpFromEarlierSession = false;
  bool staleReply = false;
  // After acknowledging this many blocks the unit loses power for `restartMs` (it hears
  // and says nothing), then starts afresh: link down, wake bursts of its own, frames
  // numbered from 1 again, and its announcement once the link is up.
  int restartAfterBlocks = -1;
  int restartMs = 300;
  // The reply to this block is lost in damage on the line: in its place the updater gets
  // a bad control byte, and the reply (sent asking for acknowledgement) waits as the
  // unit's outstanding frame, sent again on 0xDA.
  int garbleReplyOfBlock = -1;
  // The same for the first reply to this request (0x1A device data, 0x15 start, 0x17 end);
  // with `loseGarbledReply` the reply is gone for good, as in a unit that lost it.
  std::uint16_t garbleReplyOfRequest = 0;
  bool loseGarbledReply = false;
  // On the start request, ahead of its reply: an IDENTIFY numbered on from its last frame
  // (its link went down and came back while it erased), or one numbered 1 (it started
  // afresh and is a new unit as far as the updater can tell).
  enum class AtStart { kNothing, kAnnouncesNumberingOn, kAnnouncesFromOne } atStart = AtStart::kNothing;
  // The first copy of these blocks is refused with 0xDA, as if it had arrived damaged.
  std::vector<int> refuseFirstCopyOfBlocks;
  // The reply to this block first goes out with a damaged check byte, asking for
  // acknowledgement: the updater's receiver refuses it and the unit sends it again.
  int damageReplyOfBlock = -1;
  bool answerDeviceData = true;
  std::optional<std::uint8_t> deviceDataSource;  // another source for the device data reply
  std::uint8_t deviceType = 0x45;
  char version[4] = {'1', '0', '2', '3'};
  bool answerStart = true;
  int startReplyDelayMs = 0;      // the erase takes this long before the start reply
  int replyDelayAtBlock = -1;     // the reply to this block comes only after replyDelayMs,
  int replyDelayMs = 0;           // the unit's keep-alives going on meanwhile
  int startEchoDelta = 0;         // added to the target echoed by the start reply
  int wrongSequenceAtBlock = -1;  // the acknowledgement of this block echoes sequence + 1
  int silentFromBlock = -1;       // no acknowledgement for this block and the ones after
  bool answerEnd = true;
  int endCountDelta = 0;          // added to the block count in the end reply
  // The end reply asks for acknowledgement, and the unit's adapter is pulled the moment
  // the updater's 0xA5 for it arrives: the reply was taken, then the port went.
  bool unplugOnEndReplyAck = false;
  int unplugAfterBlocks = -1;     // close the master once this many blocks are acknowledged
  int dropLinkAfterBlocks = -1;   // send a bad control byte after this many acknowledgements
                                  // and stay silent from then on
  bool deviceDataDuringUpdate = false;           // an unasked device data reply after the start request
  std::optional<std::uint8_t> flashReplySource;  // another source for the three flash replies
};

struct ReceivedBlock {
  std::uint16_t sequence;
  std::uint32_t address;
  Bytes data;
};

class RawDevice {
 public:
  RawDevice(PtyPair& pty, DeviceScript script)
      : m_pty(pty),
        m_script(script),
        m_txSequence(static_cast<std::uint8_t>(script.firstTxSequence - 1)),
        m_lastRxSequence(script.lastAcceptedSequence) {}
  ~RawDevice() { Stop(); }
  RawDevice(const RawDevice&) = delete;
  RawDevice& operator=(const RawDevice&) = delete;

  void Start();
  void Stop();

  // Every data frame the updater sent with a good CRC, repeats left out, in order.
  std::vector<WireUnit> Frames();
  // The message ids of those frames.
  std::vector<std::uint16_t> Ids();
  std::vector<ReceivedBlock> Blocks();
  std::map<std::uint32_t, std::uint8_t> Flash();
  bool LinkUp() const { return m_up.load(); }
  std::optional<std::chrono::steady_clock::time_point> UnplugTime();
  int BadFrames() const { return m_badFrames.load(); }
  // Start requests it acted on.
  int StartRequests() const { return m_startRequests.load(); }
  int NaksReceived() const { return m_naks.load(); }
  // 0xA5s that came back (the first, for its announcement, once the link is up).
  int AcksReceived() const { return m_acks.load(); }
  // Unrecognised control bytes that took its link down.
  int LinkDownsByBadControl() const { return m_badControlDowns.load(); }
  bool Restarted() const { return m_restarted.load(); }

 private:
  void Run();
  void HandleControl(std::uint8_t byte);
  void HandleFrame(const WireUnit& unit);
  void Send(const Bytes& payload, bool ackWanted = false, std::optional<std::uint8_t> source = {});
  void Raw(const Bytes& bytes);
  void MaybeAnnounce(std::chrono::steady_clock::time_point now);
  void LinkCameUp(std::chrono::steady_clock::time_point now);

  PtyPair& m_pty;
  const DeviceScript m_script;
  std::thread m_thread;
  std::atomic<bool> m_stop{false};
  std::atomic<bool> m_up{false};
  std::atomic<int> m_badFrames{0};
  std::atomic<int> m_naks{0};
  std::atomic<int> m_acks{0};
  std::atomic<int> m_badControlDowns{0};
  std::atomic<bool> m_restarted{false};

  // Device thread only.
  Bytes m_pending;
  bool m_announced = false;
  bool m_gone = false;  // unplugged or dropped: nothing more is said
  bool m_unplugOnAck = false;  // the next 0xA5 pulls the adapter
  bool m_wakesOnItsOwn = false;  // down, it sends wake bursts until a sync comes
  std::optional<std::chrono::steady_clock::time_point> m_powerBackAt;  // restartAfterBlocks
  std::chrono::steady_clock::time_point m_upSince, m_lastWrite, m_lastWakeAnswer;
  std::optional<std::chrono::steady_clock::time_point> m_wakeAnswerDue;  // announceBeforeLinkUp
  std::uint8_t m_txSequence = 0;
  std::optional<std::uint8_t> m_lastRxSequence;
  Bytes m_outstanding;  // a frame of ours that asked for acknowledgement, as sent
  bool m_garbled = false;  // garbleReplyOfRequest has struck
  std::vector<int> m_refused;  // blocks whose first copy was refused
  std::atomic<int> m_startRequests{0};
  // Garbles the reply to `request` per the script; false when the reply goes out as usual.
  bool GarbleReply(std::uint16_t request, const Bytes& reply);
  struct Delayed {
    std::chrono::steady_clock::time_point due;
    Bytes payload;
  };
  std::vector<Delayed> m_delayed;  // replies held back by the script
  std::uint8_t m_target = 0;

  std::mutex m_lock;  // guards what the test reads
  std::vector<WireUnit> m_frames;
  std::vector<ReceivedBlock> m_blocks;
  std::map<std::uint32_t, std::uint8_t> m_flash;
  std::optional<std::chrono::steady_clock::time_point> m_unplugTime;
};

}  // namespace cvm6::test
