// Connect and identify: open the port, start the link, wait for the unit to announce
// itself, ask for its device data.
#include <cstdio>
#include <cstdlib>

#include "platform/failure.h"
#include "platform/tick_count.h"
#include "port/serial_port.h"
#include "update/control_ids.h"
#include "update/updater_dlg.h"

namespace cvm6 {

void CUpdaterDlg::OnConnect() {
  if (m_commandRunning) return;  // see IsCommandRunning
  m_commandRunning = true;
  struct Done {
    bool& running;
    ~Done() { running = false; }
  } done{m_commandRunning};
  try {
    if (m_port) return;  // already connected: the window disables Connect by then
    UpdateData(true);
    char name[16];
    std::snprintf(name, sizeof name, "COM%d", m_portChoice + 1);
    // Ports beyond the four COM ports are listed by their system path.
    std::string portName = Host() ? Host()->GetListItemText(IDC_PORT_LIST, m_portChoice) : "";
    if (portName.empty()) portName = name;

    try {
      m_port = OpenPort(portName).release();
    } catch (const CFailure& failure) {
      // It opened, but is no serial line (a file, /dev/null) or refused the line settings.
      m_portOpenError = failure.detail();
      OnPortUnusable(failure);
      m_result = UpdateResult::kPortUnusable;
      return;
    }
    if (!m_port || !m_port->m_opened) {
      m_portOpenError = m_port ? m_port->OpenErrorText() : "";
      delete m_port;
      m_port = nullptr;
      m_result = UpdateResult::kPortNotOpened;
      MessageBoxPrompt(IDP_PORT_NOT_OPENED, MsgIcon::Stop);
      return;
    }
    m_portOpenError.clear();
    m_deviceAddress = GetPeerAddress();
    m_linkUp = false;
    // A window's thread sleeps handling its messages: the link's frames must wake it.
    if (DialogHost* host = Host(); host && host->HandlesMessagesWhileWaiting())
      m_link.SetReceiveNotifier([host] { host->Wake(); });
    m_link.Start(m_port);
    CWaitCursor wait(*this);
    if (!WaitForDevice()) {
      DropConnection();
      m_result = UpdateResult::kDeviceNotFound;
      MessageBoxPrompt(IDP_CANNOT_CONNECT, MsgIcon::Stop);
      return;
    }
    OnDeviceFound();
    m_result = IdentifyDevice() ? UpdateResult::kConnected : UpdateResult::kNotIdentified;
    UpdateData(true);
    if (m_deviceChoice != 0) EnableControl(IDC_UPDATE, true);
    m_onlineText = "Online";
    EnableControl(IDC_CONNECT, false);
    UpdateData(false);
  } catch (const CFailure& failure) {
    ReportFailureCode(failure.code());
  } catch (const std::bad_alloc&) {
    ReportFailureCode(1302);
  }
}

std::unique_ptr<CSerialPort> CUpdaterDlg::OpenPort(const std::string& name) {
  return std::make_unique<CSerialPort>(name.c_str(), 57600, false);
}

// Every wait of the procedure: received frames are processed one at a time until `flag`
// is set, the deadline passes or the port has failed for good. Between frames the wait
// sleeps until the next frame, a port failure or WakeWaits, with the deadline from the
// tick count as its limit; it never wakes on a timer of its own.
void CUpdaterDlg::PollUntil(const bool& flag, std::uint32_t deadline, bool untilLinkBack) {
  const std::uint32_t ridesEnded = m_ridesEnded;
  const auto done = [&] { return flag || m_unitChanged || (untilLinkBack && m_ridesEnded != ridesEnded); };
  for (;;) {
    CheckInterrupt();
    const std::uint32_t now = TimeGetTime();
    if (done() || !TickBefore(now, deadline) || RideThroughOver(now)) return;
    if (PortGone()) {
      // The frames the link took (and acknowledged) before the port went are still the
      // unit's word: a unit that closed its end right behind its reply did answer. The
      // link's own notice that it went down stays queued: the failure says that.
      const auto fromTheUnit = [](const Frame& frame) { return frame.source != 0xFF || frame.destination != 0xFF; };
      while (!done() && m_link.PeekReceived(fromTheUnit)) PollFrames(1);
      return;
    }
    PollFrames(1);
    if (!done()) SleepForFrame(SleepLimit(now, deadline));
  }
}

// With a window, its thread sleeps handling the window's messages; the link's receive
// notifier (set at Connect) wakes it for each frame and for WakeWaits.
void CUpdaterDlg::SleepForFrame(std::uint32_t limitMs) {
  DialogHost* host = Host();
  if (!host || !host->HandlesMessagesWhileWaiting()) {
    m_link.WaitForReceived(limitMs);
    return;
  }
  if (m_link.WaitForReceived(0)) return;  // a frame waits, or a wake came already
  host->WaitHandlingMessages(limitMs);
}

void CUpdaterDlg::PollFrames(std::uint32_t count) {
  for (;;) {
    try {
      Poll(count);
      return;
    } catch (const CFailure& failure) {
      if (failure.code() != 1303) throw;
      TraceLine(std::string("DEL: ") + failure.what() + "\n");
      if (count != 0) return;  // that was the frame asked for; Poll(0) drains on
    }
  }
}

bool CUpdaterDlg::WaitForDevice() {
  CWaitCursor wait(*this);
  const std::uint32_t deadline = TimeGetTime() + m_limits.deviceMs;
  for (;;) {
    m_deviceSeen = false;
    AwaitAnnouncement(deadline);
    if (m_deviceSeen && m_deviceAddress == kNoAddress) m_deviceAddress = GetPeerAddress();
    if (!TickBefore(TimeGetTime(), deadline) || PortGone()) break;
    if (IsPresent(m_deviceAddress)) break;
  }
  return m_deviceSeen && IsPresent(m_deviceAddress);
}

// Waits for the unit to be seen. A unit announces itself when its link comes up; one
// whose link stayed up from an earlier session that ended without taking it down (the
// technician pressed Ctrl-C or closed the window mid-download, or pulled the cable and
// put it back) answers our wake with a sync block, and the link is up at once, but it
// sees no link-up and says nothing. Our wake bursts keep its link from timing out, so it
// would stay silent until long after the wait. When the link has been up for a while
// with no announcement and the unit sends keep-alives (its link is up and it has nothing
// to say), the unit's link is taken down: it wakes us, comes up afresh and announces
// itself. A unit that announces itself in time never sees this; nor does one that is
// only slow, since it sends no keep-alive while its announcement waits to go out.
void CUpdaterDlg::AwaitAnnouncement(std::uint32_t deadline) {
  constexpr std::uint32_t kLookAgainMs = 100;  // for a keep-alive, once the limit has passed
  for (;;) {
    const std::uint32_t now = TimeGetTime();
    // Until the link is up, it is looked at again once a limit has passed.
    std::uint32_t lookAt = (m_linkUp ? m_linkUpAt : now) + m_limits.announceMs;
    if (!TickBefore(now, lookAt)) lookAt = now + kLookAgainMs;
    PollUntil(m_deviceSeen, TickBefore(lookAt, deadline) ? lookAt : deadline);
    const std::uint32_t after = TimeGetTime();
    if (m_deviceSeen || m_unitChanged || !TickBefore(after, deadline) || PortGone()) return;
    if (m_linkUp && !TickBefore(after, m_linkUpAt + m_limits.announceMs) &&
        m_link.KeepAlivesReceived() != m_keepAlivesAtLinkUp) {
      TraceLine("LINK: the unit's link is up but it has not announced itself; taking its link down\n");
      m_link.TakeFarLinkDown();
      m_linkUpAt = after;
      m_keepAlivesAtLinkUp = m_link.KeepAlivesReceived();
    }
  }
}

bool CUpdaterDlg::IdentifyDevice() {
  std::uint32_t deadline = TimeGetTime() + m_limits.deviceMs;
  m_stage = WaitStage::kDeviceData;
  // A link that drops meanwhile is ridden through; once it is back the unit has the whole
  // limit again to answer.
  m_identifying = true;
  struct Done {
    CUpdaterDlg& dlg;
    ~Done() {
      dlg.m_identifying = false;
      dlg.GiveUpRideThrough();
    }
  } done{*this};
  std::uint32_t ridesSeen = m_ridesEnded;
  const auto extend = [&] {
    if (m_ridesEnded == ridesSeen) return;
    ridesSeen = m_ridesEnded;
    if (TickBefore(deadline, m_linkBackAt + m_limits.deviceMs)) deadline = m_linkBackAt + m_limits.deviceMs;
  };
  // A unit that announces itself the moment it hears our wake is seen before our link's
  // transmitter has brought the link up, and the request is then refused. It is asked
  // again once the link is up, instead of waiting the whole limit for a reply to a
  // request that never went out. (The link counts itself up before it queues its link-up
  // notice, so the frame that ends the sleep finds the request accepted.)
  while (!SendRequestDeviceData(m_deviceAddress, kNoAddress, true)) {
    extend();
    const std::uint32_t now = TimeGetTime();
    if (!TickBefore(now, deadline) || PortGone() || !IsPresent(m_deviceAddress) || RideThroughOver(now)) return false;
    CheckInterrupt();
    SleepForFrame(SleepLimit(now, deadline));
    PollFrames(1);
  }
  m_identified = false;
  // A unit left powered since an earlier run keeps the sequence number of the last frame
  // it took, and every run numbers its frames from 1: it may take our request for a
  // repeat, acknowledge it and drop it. When no reply has come a while after the request
  // was acknowledged, it is asked again as a new message, with the next number.
  for (;;) {
    const std::uint32_t retryAt = TimeGetTime() + m_limits.deviceDataRetryMs;
    PollUntil(m_identified, TickBefore(retryAt, deadline) ? retryAt : deadline);
    extend();
    const std::uint32_t now = TimeGetTime();
    if (m_identified || PortGone() || !TickBefore(now, deadline) || RideThroughOver(now)) break;
    if (m_link.TransmitIdle() && !m_ridingThrough) SendRequestDeviceData(m_deviceAddress, kNoAddress, true);
  }
  return m_identified;
}

void CUpdaterDlg::OnNetworkChanged() {
  m_deviceSeen = true;
  // The link went down, or a unit announced itself: what answers at the address now
  // may be another unit (a cable moved), so the identification no longer holds.
  if (m_identified) {
    m_identified = false;
    m_identityStale = true;
  }
  if (!m_downloading || GetPeerAddress() == kNoAddress) return;
  // While the unit erases, its link may go down and come back (damage on the line took it
  // down); not yet downloading, it then announces itself again, numbering on from its
  // last frame, and goes on with the start request. One that numbers from 1 again
  // started afresh. Once it downloads, an announcement always means it started afresh or
  // is another unit.
  if (m_stage == WaitStage::kStart && m_link.FarEndRenumberings() == m_renumberingsAtStart) {
    TraceLine("LINK: the unit announced itself again while it erased; its numbering goes on: no restart\n");
    return;
  }
  m_unitChanged = true;
}

void CUpdaterDlg::OnReplyDeviceData(const std::uint8_t* payload, const FrameInfo& info) {
  if (info.source != m_deviceAddress) return;
  m_identified = true;
  m_identityStale = false;
  m_deviceType = payload[7];
  char version[8];
  std::snprintf(version, sizeof version, "%c.%c%c%c", payload[3], payload[4], payload[5], payload[6]);
  m_firmwareVersion = std::strtof(version, nullptr);
  if (m_deviceType == 0x45) {
    m_deviceChoice = 1;
    m_deviceNameText = "Corvane M6";
  }
  // A reply that arrives while a download runs must not let a second one start inside it.
  if (!m_updateRunning) EnableControl(IDC_UPDATE, true);
  UpdateData(false);
}

}  // namespace cvm6
