// The Update command: load the image and download it as one target.
#include <functional>
#include <memory>
#include <new>

#include "image/flash_image.h"
#include "image/image_read_error.h"
#include "platform/failure.h"
#include "platform/firmware_kind.h"
#include "platform/tick_count.h"
#include "port/serial_port.h"
#include "update/block_plan.h"
#include "update/control_ids.h"
#include "update/updater_dlg.h"

namespace cvm6 {
namespace {

constexpr std::uint8_t kDeviceTypeM6 = 0x45;
constexpr int kBlockRange = 79;
constexpr int kTotalRange = 159;

// Sets a flag for as long as it lives.
class Running {
 public:
  explicit Running(bool& flag) : m_flag(flag) { m_flag = true; }
  ~Running() { m_flag = false; }

 private:
  bool& m_flag;
};

}  // namespace

const char* ErasingText(std::uint8_t target) {
  switch (target) {
    case 0: return "Erasing Digital Board Memory.";
    case 1: return "Erasing User Interface Memory.";
    case 2: return "Erasing Digital Board Flash Loader.\n";
    case 3: return "Erasing User Interface Flash Loader.\n";
    default: return "";
  }
}

const char* UpdatingText(std::uint8_t target) {
  switch (target) {
    case 0: return "Updating Digital Board.";
    case 1: return "Updating User Interface.";
    case 2: return "Updating Digital Board Flash Loader.\n";
    case 3: return "Updating User Interface Flash Loader.\n";
    default: return "";
  }
}

void CUpdaterDlg::OnUpdate() {
  if (m_commandRunning) return;  // see IsCommandRunning
  Running command(m_commandRunning), update(m_updateRunning);
  EnableControl(IDC_UPDATE, false);
  EnableControl(IDC_CLOSE, false);
  CWaitCursor wait(*this);
  UpdateData(true);
  if (m_deviceChoice != 1) {  // "Not Selected" (or no selection at all)
    m_result = UpdateResult::kCancelled;
    EnableControl(IDC_CLOSE, true);
    return;
  }
  std::shared_ptr<const CFlashImage> image;
  try {
    try {
      if (m_identified && m_deviceType != kDeviceTypeM6) {
        m_result = UpdateResult::kWrongDevice;
        MessageBoxPrompt(IDP_WRONG_DEVICE, MsgIcon::Stop);
        EnableControl(IDC_CLOSE, true);
        return;
      }
      m_totalProgress.SetRange(0, kTotalRange);
      m_totalProgress.SetPos(0);
      ImageLoadReport report;
      image = LoadImage(report);
      // A text that could not be read whole leaves a firmware the unit cannot run. Nothing
      // has been sent: the window stays as it was, so Update can go again once the
      // files are put right.
      if (!report.Usable()) {
        m_result = UpdateResult::kImageRefused;
        MessageBoxText(report.RefusalText(), MsgIcon::Stop);
        EnableControl(IDC_CLOSE, true);
        EnableControl(IDC_UPDATE, true);
        return;
      }
      // Erasing the unit and then reporting completion for zero blocks would leave it
      // without firmware while saying all went well.
      if (!image || image->GetCount() == 0) {
        m_result = UpdateResult::kNoImage;
        MessageBoxText(kNoImageText, MsgIcon::Stop);
        EnableControl(IDC_CLOSE, true);
        return;
      }
      if (res::IsSyntheticFirmware() && report.source == ImageSource::kEmbedded && !ConfirmSyntheticImage()) {
        m_result = UpdateResult::kCancelled;
        EnableControl(IDC_CLOSE, true);
        return;
      }
      if (!ConfirmIdentity()) return;
      DownloadTarget(*image, 0);
      image.reset();
    } catch (const CUserException&) {
      EnableControl(IDC_CLOSE, true);
      EnableControl(IDC_CONNECT, false);
      EnableControl(IDC_UPDATE, false);
      return;
    } catch (const CImageReadError& error) {
      // Nothing has been sent yet: the link and port stay as they are.
      m_result = UpdateResult::kImageRefused;
      MessageBoxText(std::string("The firmware image could not be read: ") + error.what(), MsgIcon::Stop);
      EnableControl(IDC_CLOSE, true);
      EnableControl(IDC_CONNECT, false);
      EnableControl(IDC_UPDATE, false);
      return;
    }
  } catch (const CFailure& failure) {
    ReportFailureCode(failure.code());
    return;
  } catch (const std::bad_alloc&) {
    ReportFailureCode(1302);
    return;
  }
  m_result = UpdateResult::kDone;
  ShowStatus("Update Complete");
  MessageBoxPrompt(IDP_UPDATE_COMPLETE, MsgIcon::None);
  if (m_lineDamage.toUnit != 0) WarnNoisyLine(m_lineDamage);
  EnableControl(IDC_CLOSE, true);
  EndDialog(IDOK);
}

std::shared_ptr<const CFlashImage> CUpdaterDlg::LoadImage(ImageLoadReport& report) {
  auto image = std::make_shared<CFlashImage>();
  report = image->LoadFirmwareImage([this](const std::string& text) { ShowStatus(text); });
  return image;
}

bool CUpdaterDlg::ConfirmIdentity() {
  PollFrames(0);  // what happened while the image loaded and the question waited
  if (!m_identityStale) return true;
  CWaitCursor wait(*this);
  // The unit may not have announced itself again yet.
  if ((IsPresent(m_deviceAddress) || WaitForDevice()) && IdentifyDevice() && m_deviceType == kDeviceTypeM6) return true;
  if (m_identified) {
    m_result = UpdateResult::kWrongDevice;
    MessageBoxPrompt(IDP_WRONG_DEVICE, MsgIcon::Stop);
  } else {
    m_result = UpdateResult::kDeviceNotFound;
    MessageBoxPrompt(IDP_CANNOT_CONNECT, MsgIcon::Stop);
  }
  EnableControl(IDC_CLOSE, true);
  return false;
}

// From here to the end of the download the unit's flash is incomplete: the system is
// asked not to end the session meanwhile.
class CUpdaterDlg::SessionHold {
 public:
  explicit SessionHold(CUpdaterDlg& dlg) : m_dlg(dlg) { m_dlg.HoldSession(true); }
  ~SessionHold() { m_dlg.HoldSession(false); }
  SessionHold(const SessionHold&) = delete;
  SessionHold& operator=(const SessionHold&) = delete;

 private:
  CUpdaterDlg& m_dlg;
};

void CUpdaterDlg::HoldSession(bool hold) {
  if (hold == m_sessionHeld) return;
  m_sessionHeld = hold;
  if (Host()) Host()->HoldSession(hold);
}

void CUpdaterDlg::WarnNoisyLine(const LineDamage& damage) {
  MessageBoxText(NoisyLineWarning(damage.toUnit), MsgIcon::Warning);
}

void CUpdaterDlg::NoteLineDamage() {
  const LinkCounters now = m_link.GetCounters();
  const LinkCounters& then = m_countersAtStart;
  m_lineDamage.toUnit = now.txNakResends - then.txNakResends;
  m_lineDamage.fromUnit =
      now.rxAckedCrcErrors + now.rxUnackedCrcErrors - (then.rxAckedCrcErrors + then.rxUnackedCrcErrors);
  m_lineDamage.framesSent = now.txAcked + now.txNakResends - (then.txAcked + then.txNakResends);
  m_ackTiming = m_link.TakeAckTiming();
  // A failed download has let go of its port already: the adapter then stays unknown.
  if (m_ackTiming.Slow() && m_port) m_adapterLatency = m_port->LatencySetting();
}

bool CUpdaterDlg::DownloadTarget(const CFlashImage& image, std::uint8_t target) {
  Running downloading(m_downloading);
  SessionHold hold(*this);
  // The line's damage is counted from here to however the download ends (the link's
  // counters outlive its Stop).
  m_countersAtStart = m_link.GetCounters();
  m_renumberingsAtStart = m_link.FarEndRenumberings();
  m_lineDamage = {};
  m_link.TakeAckTiming();  // the round trips of connecting and identifying are not the download's
  m_ackTiming = {};
  m_adapterLatency = {};
  struct NoteDamage {
    CUpdaterDlg& dlg;
    ~NoteDamage() { dlg.NoteLineDamage(); }
  } noteDamage{*this};
  m_unitChanged = false;
  m_ridingThrough = false;
  m_startAskedAgain = false;
  m_blockProgress.SetRange(0, kBlockRange);
  m_blockProgress.SetPos(0);
  ShowStatus(ErasingText(target));
  if (!StartDownload(target)) FailDownload("Error Starting Download.");
  ShowStatus(UpdatingText(target));
  if (!SendBlocks(image)) FailDownload("Error Sending Data.");
  if (!EndDownload()) FailDownload("Error Ending Download.");
  if (m_deviceBlockCount != m_blockCount) FailDownload("Block Transfer Error.");
  m_startReplied = m_writeAcked = m_endReplied = false;
  m_blockCount = m_deviceBlockCount = m_echoedSequence = 0;
  m_echoedTarget = 0;
  return true;
}

bool CUpdaterDlg::StartDownload(std::uint8_t target) {
  m_stage = WaitStage::kStart;
  m_blockCount = 0;
  m_startReplied = false;
  // The last moment at which an interrupt leaves the unit as it was. A request refused
  // while a dropped link is ridden through goes out once the link is back.
  CheckInterrupt();
  const auto send = [this, target] { return SendStartFlashDownload(target, m_deviceAddress, kNoAddress, true); };
  m_eraseRequested = SendUntilTaken(send);
  if (!m_eraseRequested) return false;  // refused: the unit is gone, no reply can come
  OnEraseRequested();
  const std::uint32_t deadline = TimeGetTime() + m_limits.startEndMs;
  // The unit erases once more for a second request: it is made only once, before any block.
  AwaitReply(m_startReplied, deadline, [this, &send] {
    if (m_startAskedAgain || m_blockCount != 0) return;
    m_startAskedAgain = true;
    OnAskedAgain(WaitStage::kStart);
    SendUntilTaken(send);
  });
  return m_startReplied && m_echoedTarget == target && !m_unitChanged;
}

bool CUpdaterDlg::SendBlocks(const CFlashImage& image) {
  m_stage = WaitStage::kBlocks;
  std::uint32_t nextAddress = 0, bytesSent = 0;
  std::uint8_t block[kMaxBlockBytes];
  for (;;) {
    const auto span = NextBlock(image, nextAddress);
    if (span && PortGone()) return false;  // the next block has nowhere to go
    PumpMessages();
    PollFrames(0);
    if (m_unitChanged) return false;
    if (!span) return true;
    const std::uint32_t start = span->start, end = span->end;
    const std::uint32_t n = end - start + 1;
    for (std::uint32_t i = 0; i < n; ++i) block[i] = image.GetByte(start + i);

    m_writeAcked = false;
    const std::uint32_t refusedBefore = m_link.FramesRefused();
    const auto send = [&] {
      while (!SendWriteFlash(start, m_blockCount, block, static_cast<std::uint8_t>(n), m_deviceAddress, kNoAddress,
                             true))
        if (!WaitToSendAgain()) return false;
      return true;
    };
    if (!send()) return false;
    bytesSent += n;
    AwaitWriteReply(TimeGetTime() + m_limits.writeMs, refusedBefore, send);
    if (!m_writeAcked || m_unitChanged) return false;
    if (m_echoedSequence != m_blockCount) return false;
    ++m_blockCount;

    const int pos = static_cast<int>(static_cast<float>(bytesSent) / image.GetCount() * kBlockRange + 0.5);
    const int old = m_blockProgress.GetPos();
    if (pos != old) {
      m_blockProgress.SetPos(pos);
      m_totalProgress.SetPos(m_totalProgress.GetPos() + (pos - old));
    }
    OnBlockWritten(bytesSent, image.GetCount());
    // end + 1 wraps to 0 after a block that ends at 0xFFFFFFFF, which ends the pass.
    nextAddress = end + 1;
    if (nextAddress == 0) return true;
  }
}

// A block the unit refused as damaged and then acknowledged, whose reply does not come.
// A damaged length byte leaves the unit reading the tail of the refused copy and what
// follows as frames of their own; now and then one of them passes its 8-bit check, and
// its 0xA5 releases our block although the unit never had it. One 0xDA first has the unit
// send again a reply it holds; when none comes either, the block goes once more as a new
// frame. A unit that did have it stores the same bytes again and counts it twice, which
// the end reply's block count then shows.
void CUpdaterDlg::AwaitWriteReply(std::uint32_t deadline, std::uint32_t refusedBefore,
                                  const std::function<bool()>& sendAgain) {
  enum { kWaiting, kAskedForReply, kSentAgain } step = kWaiting;
  for (;;) {
    const std::uint32_t checkAt = TimeGetTime() + m_limits.replyAgainMs;
    PollUntil(m_writeAcked, TickBefore(checkAt, deadline) ? checkAt : deadline);
    const std::uint32_t now = TimeGetTime();
    if (m_writeAcked || m_unitChanged || PortGone() || !TickBefore(now, deadline) || RideThroughOver(now)) return;
    if (step == kSentAgain || m_ridingThrough || !m_link.TransmitIdle()) continue;
    if (m_link.FramesRefused() == refusedBefore) continue;  // never refused: only slow
    if (step == kWaiting) {
      step = kAskedForReply;
      m_link.AskForResend();
      continue;
    }
    step = kSentAgain;
    OnBlockSentAgain(m_blockCount);
    if (!sendAgain()) return;
  }
}

bool CUpdaterDlg::EndDownload() {
  m_stage = WaitStage::kEnd;
  m_endReplied = false;
  const auto send = [this] { return SendEndFlashDownload(m_deviceAddress, kNoAddress, true); };
  if (!SendUntilTaken(send)) return false;  // the unit is gone: no reply can come
  const std::uint32_t deadline = TimeGetTime() + m_limits.startEndMs;
  AwaitReply(m_endReplied, deadline, [this, &send] {
    OnAskedAgain(WaitStage::kEnd);
    SendUntilTaken(send);
  });
  return m_endReplied && !m_unitChanged;
}

void CUpdaterDlg::FailDownload(const char* text) {
  m_result = UpdateResult::kDownloadFailed;
  HoldSession(false);  // nothing more is written: the session may end behind the message
  MessageBoxText(text, MsgIcon::Stop);
  DropConnection();
  throw CUserException{};
}

void CUpdaterDlg::OnDidStartFlashDownload(const std::uint8_t* payload, const FrameInfo& info) {
  if (info.source != m_deviceAddress) return;
  m_startReplied = true;
  m_echoedTarget = payload[2];
}

void CUpdaterDlg::OnDidEndFlashDownload(const std::uint8_t* payload, const FrameInfo& info) {
  if (info.source != m_deviceAddress) return;
  m_endReplied = true;
  m_deviceBlockCount = static_cast<std::uint16_t>(payload[4] | payload[5] << 8);
  m_echoedTarget = payload[6];
}

void CUpdaterDlg::OnDidWriteFlash(const std::uint8_t* payload, const FrameInfo& info) {
  if (info.source != m_deviceAddress) return;
  m_writeAcked = true;
  m_echoedSequence = static_cast<std::uint16_t>(payload[2] | payload[3] << 8);
}

}  // namespace cvm6
