#pragma once
// CUpdaterDlg: the updater's one window and, at once, its endpoint on the unit's network.
// Connect opens the port, starts the link, waits for the unit to announce itself and asks
// for its device data; Update loads the firmware image and downloads it as one target:
// start (erase), acknowledged write-flash blocks, end, block-count check.
//
// Threading rule: everything here, the update state included, belongs to the window's
// thread. Handler overrides run inside Poll on that thread and only set members that the
// waiting loops test. Waits take received frames one at a time with Poll(1) against
// deadlines from the tick counter, and sleep in between until a frame arrives, the port
// fails, WakeWaits is called or the deadline passes; a window's thread handles the
// window's messages while it sleeps (see DialogHost). WakeWaits is the one member that
// any thread may call.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "image/image_load_report.h"
#include "link/ack_timing.h"
#include "net/network_node.h"
#include "update/line_damage.h"
#include "platform/dialog.h"
#include "port/adapter_latency.h"
#include "update/update_limits.h"
#include "update/update_result.h"

namespace cvm6 {

class CFailure;
class CFlashImage;
class CSerialPort;

class CUpdaterDlg : public CDialog, public CNetworkNode {
 public:
  explicit CUpdaterDlg(UpdateLimits limits = {}, LinkLimits linkLimits = {});
  ~CUpdaterDlg() override;

  // Commands and window events.
  void OnConnect();
  void OnUpdate();
  void OnSelchangeDevice();
  // The port list was read again and its items may have moved: the port choice follows
  // the item now selected, so that writing the variables back keeps it.
  void OnPortListChanged();
  bool OnInitDialog() override;
  void OnDestroy() override;

  // Whether a command is running (Update and Close disabled). The window handles its
  // messages while a command waits, so its handlers can be reached meanwhile: the window
  // refuses to be closed, and Connect, Update and the device list's selection handler do
  // nothing (a second update inside the first would erase the unit again).
  bool IsCommandRunning() const { return m_commandRunning; }
  // Whether the erase request of the running or last update was handed to the link.
  // Any thread may ask (a second Ctrl-C says for every unit whether its erase had begun).
  bool EraseRequested() const { return m_eraseRequested.load(); }
  // What the last command came to.
  UpdateResult Result() const { return m_result; }
  // The operating system's reason the port did not open, for hosts that can show more.
  const std::string& PortOpenError() const { return m_portOpenError; }
  const std::string& StatusText() const { return m_statusText; }
  std::uint16_t BlockCount() const { return m_blockCount; }
  std::uint8_t DeviceAddress() const { return m_deviceAddress; }
  float FirmwareVersion() const { return m_firmwareVersion; }
  bool HasPort() const { return m_port != nullptr; }

  // The image Update writes, and in `report` what loading it came to. The default makes a
  // new one from the first source found, the status line following the loading; a host
  // that loaded the image itself (cvm6-flash: once, for all of its units) hands it over.
  // The image is only read from here on, so units on other threads may share it.
  virtual std::shared_ptr<const CFlashImage> LoadImage(ImageLoadReport& report);
  // Before a build that carries the synthetic image erases a unit: true to go ahead.
  // The default asks the user; hosts that know better (the simulator) may answer.
  virtual bool ConfirmSyntheticImage();
  // Called on every turn of a waiting loop and right before the erase request; a host
  // that can be interrupted (the terminal's Ctrl-C) throws from here to abandon the
  // command. Whoever interrupts calls WakeWaits, so that a sleeping wait looks at once.
  virtual void CheckInterrupt() {}
  // Ends the sleep of the wait that runs (or of the next one) so that it looks at its
  // conditions again. Any thread may call it.
  void WakeWaits() { m_link.WakeReceiveWaiter(); }
  // The port opened but failed its set-up (not a serial line, line settings refused).
  // The window reports it as the communication error it is; hosts may say more.
  virtual void OnPortUnusable(const CFailure& failure);
  // The unit announced itself (before its device data are asked for); the erase request
  // was taken. Hooks for a host that reports the run as it goes; the window has none.
  virtual void OnDeviceFound() {}
  virtual void OnEraseRequested() {}
  // Progress of the block pass, for hosts that show more than the bars.
  virtual void OnBlockWritten(std::uint32_t /*bytesSent*/, std::uint32_t /*totalBytes*/) {}
  // The port Connect opens by `name`: the system's serial port at 57600 baud without
  // handshake. A host whose unit is simulated in the same process may hand over the
  // simulator's end instead (on Windows there is no other way to reach it).
  virtual std::unique_ptr<CSerialPort> OpenPort(const std::string& name);
  // The waits that ride through a dropped link.
  enum class WaitStage { kDeviceData, kStart, kBlocks, kEnd };
  // The link went down in `stage` (at block `block` of the download) and was back `ms`
  // later; the command carried on.
  virtual void OnRideThrough(WaitStage /*stage*/, std::uint16_t /*block*/, std::uint32_t /*ms*/) {}
  // A request of `stage` was made again after a ridden-through link (the unit took it, and
  // no reply came).
  virtual void OnAskedAgain(WaitStage /*stage*/) {}
  // Block `block` went out again as a new frame: the unit had refused it as damaged, its
  // acknowledgement came, and its reply did not (see AwaitWriteReply).
  virtual void OnBlockSentAgain(std::uint16_t /*block*/) {}
  // What the line did to the frames of the last download, from its start request on.
  const LineDamage& LastLineDamage() const { return m_lineDamage; }
  // After the completion prompt of an update in which the unit refused frames as damaged.
  // The default shows the warning with the warning icon; hosts that say more say it
  // themselves.
  virtual void WarnNoisyLine(const LineDamage& damage);
  // The round trips of the last download's acknowledgements, from its start request on,
  // and, when they were slow (CAckTiming::Slow), what the system showed of the adapter's
  // latency setting while the port was still open.
  const CAckTiming& LastAckTiming() const { return m_ackTiming; }
  const AdapterLatency& LastAdapterLatency() const { return m_adapterLatency; }

  static constexpr const char* kSyntheticImageQuestion =
      "This program carries a synthetic test image, not released firmware. Writing it to a real unit "
      "leaves the unit without working firmware. Write it anyway?";
  static constexpr const char* kNoImageText = "No firmware image was found. Nothing was written to the device.";

 protected:
  void DoDataExchange(CDataExchange& dx) override;

  // Network handler overrides.
  void OnNowActive() override;
  void OnNowInactive() override;
  void OnNetworkChanged() override;
  void OnReplyDeviceData(const std::uint8_t* payload, const FrameInfo& info) override;
  void OnDidStartFlashDownload(const std::uint8_t* payload, const FrameInfo& info) override;
  void OnDidEndFlashDownload(const std::uint8_t* payload, const FrameInfo& info) override;
  void OnDidWriteFlash(const std::uint8_t* payload, const FrameInfo& info) override;

  // Poll, with an announcement the node refuses (1303) taken as a message dropped: it
  // changed nothing, and a stray frame must not end a command, least of all a download.
  void PollFrames(std::uint32_t count);
  // With `untilLinkBack`, also until a dropped link that was ridden through is back.
  void PollUntil(const bool& flag, std::uint32_t deadline, bool untilLinkBack = false);
  // Sleeps until a frame is queued, WakeWaits is called or `limitMs` pass; a window's
  // thread handles the window's messages meanwhile (platform/dialog.h).
  void SleepForFrame(std::uint32_t limitMs);
  // The link's Stop; a window's thread handles its messages while the threads end.
  void StopLink();
  // Before the erase: the unit is asked again when its identification may no longer
  // hold. False (and the user told) when it does not answer as a Corvane M6.
  bool ConfirmIdentity();
  // Riding through a dropped link (ride_through.cpp). From the erase request to the end
  // reply, a link that goes down keeps the unit's address, and the download goes on if
  // the link is back within the grace time.
  // The same holds while the device data reply is awaited, from the moment the unit was
  // seen, and from the start of a download (before the start request is taken, too).
  bool RideThroughArmed() const { return (m_downloading && !m_endReplied) || m_identifying; }
  // The wait that armed the ride-through ends with the link still down: the unit is
  // forgotten, as any link-down forgets it.
  void GiveUpRideThrough();
  bool RideThroughOver(std::uint32_t now) const;  // riding through, and the grace time ran out
  // How long a wait may sleep from `now`: to its deadline, or the end of the grace time.
  std::uint32_t SleepLimit(std::uint32_t now, std::uint32_t deadline) const;
  // After the node refused a request: true to send it again at once (the link is up, or
  // came back within the grace time), false when it cannot go out.
  bool WaitToSendAgain();
  // `send` until the node takes the request, riding through a dropped link meanwhile;
  // false when it cannot go out.
  bool SendUntilTaken(const std::function<bool()>& send);
  // Waits for `replied` until the deadline; after each ridden-through link, `askAgain`
  // when the unit took the request and no reply came within replyAgainMs.
  void AwaitReply(const bool& replied, std::uint32_t deadline, const std::function<void()>& askAgain);
  // The block loop's wait for the write reply, up to `deadline`; `refusedBefore` is the
  // link's count of frames the unit refused before the block went out.
  void AwaitWriteReply(std::uint32_t deadline, std::uint32_t refusedBefore, const std::function<bool()>& sendAgain);
  void NoteLineDamage();
  bool WaitForDevice();
  void AwaitAnnouncement(std::uint32_t deadline);  // until m_deviceSeen or the deadline
  bool IdentifyDevice();
  bool DownloadTarget(const CFlashImage& image, std::uint8_t target);
  bool StartDownload(std::uint8_t target);
  bool SendBlocks(const CFlashImage& image);
  bool EndDownload();
  [[noreturn]] void FailDownload(const char* text);
  class SessionHold;
  void HoldSession(bool hold);
  void ShowStatus(const std::string& text);
  // A port that failed for good (an unplugged adapter) cannot come back: every wait
  // then ends at once as if its limit had run out.
  bool PortGone() { return m_link.HasFailed(); }
  void ReportFailureCode(int code);
  void DropConnection();

  // Window members.
  CProgressCtrl m_totalProgress;
  CComboBox m_deviceList;
  CProgressCtrl m_blockProgress;
  int m_portChoice = 0;
  int m_deviceChoice = 0;
  std::string m_statusText;
  std::string m_onlineText = "Offline";
  std::string m_deviceNameText = "No Device";
  CSerialPort* m_port = nullptr;  // owned; created by Connect

  // Update state.
  std::uint8_t m_deviceAddress = 0;
  std::uint16_t m_blockCount = 0;
  bool m_deviceSeen = false;
  bool m_identified = false;
  bool m_startReplied = false;
  bool m_writeAcked = false;
  bool m_endReplied = false;
  std::uint8_t m_deviceType = 0xFF;
  std::uint16_t m_deviceBlockCount = 0;
  std::uint8_t m_echoedTarget = 0;
  std::uint16_t m_echoedSequence = 0;
  float m_firmwareVersion = 0.0f;

  const UpdateLimits m_limits;
  UpdateResult m_result = UpdateResult::kNone;
  bool m_commandRunning = false;
  bool m_updateRunning = false;
  std::atomic<bool> m_eraseRequested{false};
  // The link went down or a unit announced itself after the identification: whatever
  // answers now may be another unit. Cleared by a fresh device data reply.
  bool m_identityStale = false;
  bool m_downloading = false;   // within DownloadTarget
  bool m_sessionHeld = false;   // the host asked its system to keep the session
  bool m_unitChanged = false;   // a unit announced itself while downloading
  bool m_linkUp = false;              // the link's last notice said up
  std::uint32_t m_linkUpAt = 0;       // tick count of that notice, or of the last TakeFarLinkDown
  std::uint32_t m_keepAlivesAtLinkUp = 0;  // the link's KeepAlivesReceived then
  bool m_ridingThrough = false;       // the link is down, the download waits for it
  std::uint32_t m_linkLostAt = 0;     // tick count when it went down
  std::uint16_t m_linkLostAtBlock = 0;
  WaitStage m_stage = WaitStage::kDeviceData;  // the wait that runs, for OnRideThrough
  WaitStage m_linkLostInStage = WaitStage::kDeviceData;
  bool m_identifying = false;         // within IdentifyDevice
  std::uint32_t m_ridesEnded = 0;     // ride-throughs whose link came back, since the window began
  std::uint32_t m_linkBackAt = 0;     // tick count when the last one came back
  bool m_startAskedAgain = false;     // the start request went out a second time
  LinkCounters m_countersAtStart{};   // the link's counters when the download began
  std::uint32_t m_renumberingsAtStart = 0;  // the link's FarEndRenumberings then
  LineDamage m_lineDamage;
  CAckTiming m_ackTiming;
  AdapterLatency m_adapterLatency;
  std::string m_portOpenError;
};

// Texts of the window.
const char* ErasingText(std::uint8_t target);
const char* UpdatingText(std::uint8_t target);

}  // namespace cvm6
