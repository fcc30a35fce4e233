#include "flash_unit.h"

#include <chrono>
#include <cstdio>
#include <exception>

#include "event_stream.h"
#include "exit_status.h"
#include "flash_log.h"
#include "platform/failure.h"
#include "update/block_plan.h"
#include "update/control_ids.h"
#include "update/latency_advice.h"

namespace cvm6 {
namespace {

constexpr const char* kFlashIncomplete = "The unit's flash is incomplete: run the update again before using the unit.";
constexpr const char* kUntouched = "The erase had not begun: the unit's flash is as it was.";
constexpr std::uint8_t kDeviceTypeM6 = 0x45;

}  // namespace

CFlashUnit::CFlashUnit(std::size_t index, const std::string& port, const UnitShared& shared)
    : m_host(port, index, shared.board, shared.question, shared.log),
      m_dialog(m_host, shared.simulator, shared.image, shared.report),
      m_maxDamaged(shared.maxDamaged) {
  m_outcome.port = port;
  m_index = index;
  m_host.SetEvents(shared.events, shared.image ? CountBlocks(*shared.image) : 0);
  if (shared.trace)
    m_dialog.SetTraceSink([this](const std::string& line) {
      std::string text = line;
      while (!text.empty() && text.back() == '\n') text.pop_back();
      m_host.Say(text);
    });
}

CFlashUnit::~CFlashUnit() { Join(); }

void CFlashUnit::Start() {
  m_thread = std::thread([this] { Run(); });
}

void CFlashUnit::Join() {
  if (m_thread.joinable()) m_thread.join();
}

void CFlashUnit::Run() {
  const auto start = std::chrono::steady_clock::now();
  m_host.Log("unit started on port " + m_outcome.port);
  int status = kDone;
  std::string result;
  bool interrupted = false;
  try {
    m_dialog.OnInitDialog();
    m_dialog.OnConnect();
    if (m_dialog.Identified()) {
      char data[96];
      std::snprintf(data, sizeof data, "device data: type 0x%02X, firmware version %.3f, address %u",
                    m_dialog.DeviceType(), m_dialog.FirmwareVersion(), m_dialog.DeviceAddress());
      m_host.Log(data);
      if (CEventStream* events = m_host.Events())
        events->UnitIdentified(m_index, m_outcome.port, m_dialog.DeviceType(), m_dialog.FirmwareVersion(),
                               m_dialog.DeviceAddress());
    }
    if (m_host.Result() == 0 && !m_host.IsControlEnabled(IDC_CONNECT) && m_host.IsControlEnabled(IDC_UPDATE)) {
      // Asking for an update is choosing the device: a unit of another type is then
      // refused by the procedure itself.
      if (m_host.GetListSelection(IDC_DEVICE_LIST) <= 0) m_host.SetListSelection(IDC_DEVICE_LIST, 1);
      m_dialog.OnUpdate();
    } else if (m_dialog.Result() == UpdateResult::kNotIdentified) {
      m_host.Say("The device did not answer the device data request; Update stays disabled.", true);
    }
    m_host.FinishLine();
    status = ExitStatusFor(m_dialog.Result());
    result = ResultName(m_dialog.Result());
    ReportAckTiming();
    if (status == kDone && NoisyLine()) {
      status = kNoisyLine;
      result = "complete on a noisy line";
    }
    if (status == kPortNotOpened) m_host.Say(m_outcome.port + ": " + m_dialog.PortOpenError(), true);
    if (status == kCancelled) m_host.Say("Cancelled: nothing was written.", true);
  } catch (const Interrupted&) {
    m_host.FinishLine();
    status = kInterrupted;
    result = "interrupted";
    interrupted = true;
  } catch (const std::exception& error) {
    // Nothing below is meant to throw past the procedure; whatever does ends this unit
    // alone, said plainly, never the program and the other units with it.
    m_host.FinishLine();
    m_host.Say(std::string("Unexpected failure: ") + error.what(), true);
    status = kCommunicationError;
    result = "communication error";
  }
  // The unit's last words go out as one message: with several units, another unit's
  // lines must not come between "Interrupted." and what it means for this unit's flash.
  std::string lastWords = interrupted ? "Interrupted." : "";
  const auto add = [&lastWords](const char* line) { lastWords += (lastWords.empty() ? "" : "\n") + std::string(line); };
  if (status != kDone && status != kNoisyLine && m_dialog.EraseRequested())
    add(kFlashIncomplete);
  else if (interrupted)
    add(kUntouched);
  if (!lastWords.empty()) m_host.Say(lastWords, true);
  if (status != kDone && m_dialog.PortLost()) result += " (port lost)";
  try {
    m_dialog.OnDestroy();
  } catch (const std::exception&) {
  }
  m_outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  Fill(status, result);
  if (CEventStream* events = m_host.Events()) events->UnitDone(m_index, m_outcome);
  m_ended = true;
  m_host.Ended(m_outcome.result);
  m_host.Log("unit ended: " + m_outcome.result + ", exit status " + std::to_string(status));
}

bool CFlashUnit::NoisyLine() {
  const LineDamage& damage = m_dialog.LastLineDamage();
  m_host.Log("line: " + std::to_string(damage.toUnit) + " of " + std::to_string(damage.framesSent) +
             " frames reached the unit damaged, " + std::to_string(damage.fromUnit) + " came back damaged");
  if (damage.toUnit <= m_maxDamaged) return false;
  char chance[64];
  const double percent = UnnoticedDamageChance(damage) * 100;
  if (percent < 0.1)
    std::snprintf(chance, sizeof chance, "below 0.1 %%");
  else
    std::snprintf(chance, sizeof chance, "about %.*f %%", percent < 10 ? 1 : 0, percent);
  char share[48] = "";
  if (damage.framesSent != 0)
    std::snprintf(share, sizeof share, " (one in %.0f)", static_cast<double>(damage.framesSent) / damage.toUnit);
  m_host.Say(std::to_string(damage.toUnit) + " of " + std::to_string(damage.framesSent) +
                 " frames reached the unit damaged" + share + (damage.toUnit == 1 ? " and was" : " and were") +
                 " sent again; " +
                 std::to_string(damage.fromUnit) + " came back damaged.\n" +
                 "On a line this noisy a damaged frame can also pass the unit's check unnoticed: the flash may not "
                 "be exact.\n" +
                 "The chance that this update stored such a frame is " + chance +
                 ", by an estimate from these counts (docs/noisy-line.md).\n" +
                 "Update again over a shorter cable or another adapter until no frame is damaged.",
             true);
  return true;
}

void CFlashUnit::ReportAckTiming() {
  const CAckTiming& timing = m_dialog.LastAckTiming();
  const std::string figures = AckTimingText(timing);
  if (figures.empty()) return;
  m_host.Say(figures);
  const std::string advice = SlowAdapterAdvice(timing, m_dialog.LastAdapterLatency());
  if (!advice.empty()) m_host.Say(advice, true);
}

std::string CFlashUnit::StateNow() const {
  const std::string port = "[" + m_outcome.port + "] ";
  if (m_ended) return port + m_outcome.result + ", exit status " + std::to_string(m_outcome.exitStatus);
  return port + (m_dialog.EraseRequested() ? std::string("Interrupted. ") + kFlashIncomplete
                                           : std::string("Interrupted. ") + kUntouched);
}

void CFlashUnit::Fill(int exitStatus, const std::string& result) {
  m_outcome.exitStatus = exitStatus;
  m_outcome.result = result;
  m_outcome.eraseBegun = m_dialog.EraseRequested();
  m_outcome.blocksWritten = m_host.BlocksWritten();
  m_outcome.rideThroughs = m_host.RideThroughs();
  m_outcome.framesDamagedToUnit = m_dialog.LastLineDamage().toUnit;
  m_outcome.framesDamagedFromUnit = m_dialog.LastLineDamage().fromUnit;
  const CAckTiming& timing = m_dialog.LastAckTiming();
  m_outcome.acksTimed = static_cast<std::uint32_t>(timing.Count());
  m_outcome.ackExtraMsMedian = timing.MedianExtraMs();
  m_outcome.ackExtraMsTotal = timing.TotalExtraMs();
  m_outcome.latencyAdvice = SlowAdapterAdvice(timing, m_dialog.LastAdapterLatency());
  if (m_dialog.Identified()) {
    m_outcome.deviceType = m_dialog.DeviceType();
    m_outcome.firmwareVersion = m_dialog.FirmwareVersion();
    m_outcome.deviceName = m_dialog.DeviceType() == kDeviceTypeM6 ? "Corvane M6" : "";
  }
  if (exitStatus == kInterrupted)
    m_outcome.message = m_outcome.eraseBegun ? std::string("Interrupted. ") + kFlashIncomplete
                                             : std::string("Interrupted. ") + kUntouched;
  else if (exitStatus == kNoisyLine)
    m_outcome.message = NoisyLineWarning(m_outcome.framesDamagedToUnit);
  else if (exitStatus == kPortNotOpened)
    m_outcome.message = m_dialog.PortOpenError();
  else if (!m_host.Boxes().empty())
    m_outcome.message = m_host.Boxes().back();
  else
    m_outcome.message = m_dialog.StatusText();
  if (exitStatus != kDone && exitStatus != kInterrupted && exitStatus != kNoisyLine && m_outcome.eraseBegun)
    m_outcome.message += std::string(" ") + kFlashIncomplete;
}

}  // namespace cvm6
