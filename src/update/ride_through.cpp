// Riding through a dropped link. On a noisy line a damaged acknowledgement or keep-alive
// byte reaches our receiver as an unrecognised control byte, or a damaged length byte
// leaves it waiting out its read limit, and our link goes down although the unit's never
// did. The unit then answers our wake with a sync block and our link is back at once; the
// frame we had outstanding is still outstanding, and one 0xDA has the unit send again the
// reply that the damage may have swallowed (our receiver drops it if it had come). So
// while the device data reply is awaited and from the start of a download to the end
// reply, a link-down keeps the unit's address, and the command goes on if the link is
// back within the grace time. A request refused while the link was down goes out once it
// is back; one the unit took whose reply still does not come is made again. An
// announcement during a download still ends it (OnNetworkChanged): the unit started
// afresh, or is another one.
#include "platform/tick_count.h"
#include "update/updater_dlg.h"

namespace cvm6 {

void CUpdaterDlg::OnNowInactive() {
  m_linkUp = false;
  if (!RideThroughArmed()) return CNetworkNode::OnNowInactive();  // forgets the network
  if (m_ridingThrough) return;
  m_ridingThrough = true;
  m_linkLostAt = TimeGetTime();
  m_linkLostAtBlock = m_blockCount;
  m_linkLostInStage = m_stage;
  if (!m_updateRunning) return;  // Connect has not said "Online" yet
  m_onlineText = "Offline";
  UpdateData(false);
}

void CUpdaterDlg::OnNowActive() {
  m_linkUp = true;
  m_linkUpAt = TimeGetTime();
  m_keepAlivesAtLinkUp = m_link.KeepAlivesReceived();
  if (!m_ridingThrough) return;
  m_ridingThrough = false;
  m_link.AskForResend();
  ++m_ridesEnded;
  m_linkBackAt = TimeGetTime();
  if (m_updateRunning) {
    m_onlineText = "Online";
    UpdateData(false);
  }
  OnRideThrough(m_linkLostInStage, m_linkLostAtBlock, m_linkBackAt - m_linkLostAt);
}

void CUpdaterDlg::GiveUpRideThrough() {
  if (!m_ridingThrough) return;
  m_ridingThrough = false;
  CNetworkNode::OnNowInactive();
}

bool CUpdaterDlg::RideThroughOver(std::uint32_t now) const {
  return m_ridingThrough && !TickBefore(now, m_linkLostAt + m_limits.rideThroughMs);
}

std::uint32_t CUpdaterDlg::SleepLimit(std::uint32_t now, std::uint32_t deadline) const {
  const std::uint32_t graceEnd = m_linkLostAt + m_limits.rideThroughMs;
  return (m_ridingThrough && TickBefore(graceEnd, deadline) ? graceEnd : deadline) - now;
}

bool CUpdaterDlg::WaitToSendAgain() {
  PollFrames(0);
  for (;;) {
    if (!IsPresent(m_deviceAddress) || PortGone() || m_unitChanged) return false;
    // Refused with the link up (or its going down not yet seen): again at once.
    if (!m_ridingThrough) return true;
    CheckInterrupt();
    const std::uint32_t now = TimeGetTime();
    if (RideThroughOver(now)) return false;
    SleepForFrame(SleepLimit(now, now + m_limits.rideThroughMs));
    PollFrames(1);
  }
}

bool CUpdaterDlg::SendUntilTaken(const std::function<bool()>& send) {
  while (!send())
    if (!WaitToSendAgain()) return false;
  return true;
}

void CUpdaterDlg::AwaitReply(const bool& replied, std::uint32_t deadline, const std::function<void()>& askAgain) {
  std::uint32_t ridesSeen = m_ridesEnded;
  bool asking = false;  // a ride-through ended: the request is made again at askAt
  std::uint32_t askAt = 0;
  for (;;) {
    if (m_ridesEnded != ridesSeen) {
      ridesSeen = m_ridesEnded;
      asking = true;
      askAt = m_linkBackAt + m_limits.replyAgainMs;
    }
    PollUntil(replied, asking && TickBefore(askAt, deadline) ? askAt : deadline, true);
    const std::uint32_t now = TimeGetTime();
    if (replied || m_unitChanged || PortGone() || RideThroughOver(now) || !TickBefore(now, deadline)) return;
    if (!asking || TickBefore(now, askAt)) continue;
    if (m_ridingThrough) {
      asking = false;  // down again: its return sets a new time
    } else if (!m_link.TransmitIdle()) {
      askAt = now + m_limits.replyAgainMs;  // not taken yet: the link sends it again itself
    } else {
      asking = false;
      askAgain();
    }
  }
}

}  // namespace cvm6
