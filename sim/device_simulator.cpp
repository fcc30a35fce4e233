#include "sim/device_simulator.h"

#include <chrono>
#include <fstream>

#include "platform/sync.h"
#include "sim/flash_report.h"

namespace cvm6 {
namespace {

// How often the model thread looks at its link and at the end replies it waits to see
// acknowledged.
constexpr std::uint32_t kIdlePollMs = 1;
// How long an end reply may wait for its acknowledgement before the download counts
// as done anyway (the updater may close the port at once).
constexpr std::uint32_t kEndAckWaitMs = 2000;
// An updater in the middle of a download sends a frame far more often than this (a
// block, or its outstanding one again after a keep-alive interval of quiet), damaged or
// not, once the unit has answered its last request.
constexpr auto kDownloadFrameGap = std::chrono::milliseconds(2000);

}  // namespace

CDeviceSimulator::CDeviceSimulator(const SimulatorConfig& config)
    : m_config(config), m_model(config.identity, config.faults) {}

CDeviceSimulator::~CDeviceSimulator() { Stop(); }

bool CDeviceSimulator::Start() {
  if (m_thread.joinable()) {
    m_error = "the simulator is already running";
    return false;
  }
  m_unitLine = CUnitLine::Open(m_error);
  if (!m_unitLine) return false;
  m_path = m_unitLine->HostName();
  m_line = std::make_unique<CLinePort>(m_unitLine->UnitEnd(), m_config.baud, m_config.faults.line,
                                       m_config.adapterLatencyMs);
  m_link = std::make_unique<CUnitLink>(m_config.link, [this](FramePtr request) { Answer(std::move(request)); });
  m_stop = false;
  m_link->Start(m_line.get());
  m_thread = std::thread(&CDeviceSimulator::ModelThread, this);
  return true;
}

void CDeviceSimulator::Stop() {
  {
    std::lock_guard<std::mutex> guard(m_lock);
    m_stop = true;
  }
  m_changed.notify_all();
  if (m_thread.joinable()) m_thread.join();
  // Unplug first: a write that waits on the line ends at once, so the link stops promptly.
  if (m_unitLine) m_unitLine->UnitEnd().Close();
  if (m_link) m_link->Stop();
}

std::unique_ptr<CSerialPort> CDeviceSimulator::OpenHostPort() {
  if (!m_unitLine) return nullptr;
  return m_unitLine->OpenHostEnd();
}

bool CDeviceSimulator::Pause(std::uint32_t ms) {
  std::unique_lock<std::mutex> guard(m_lock);
  return !m_changed.wait_for(guard, std::chrono::milliseconds(ms), [&] { return m_stop.load(); });
}

void CDeviceSimulator::ModelThread() {
  // The link counts every link-up and every sync block it sends because the far end
  // woke it while up. Either may mean that an updater has (re)started its link and knows
  // nothing of the network, so the model announces itself again; but not in the middle
  // of a download, where it is the same updater bringing back a link that damage on the
  // line took down, and it carries on. A download is given up when the unit's read limit
  // ran out with nothing at all heard from the updater meanwhile: that updater went away
  // (one that is there sends at least a keep-alive a second). A read that ran out in a
  // frame spoilt by noise, with bytes still coming, is not that.
  // An updater that starts afresh while the unit's link is still up from one that went
  // away mid-download takes the unit's link down with an unrecognised control byte when
  // no announcement comes. Noise can make such a byte too, but in the middle of a
  // download frames keep coming; a bad byte after a long while without any frame from
  // the updater, good or damaged, since the unit last answered means that the download
  // was given up.
  std::uint32_t syncsSeen = 0, timeoutsSeen = 0, badControlSeen = 0, framesSeen = 0;
  auto lastFrame = std::chrono::steady_clock::now();
  const auto readLimit = std::chrono::milliseconds(m_config.link.readTimeoutMs);
  while (!m_stop) {
    const LinkCounters counters = m_link->GetCounters();
    const auto now = std::chrono::steady_clock::now();
    const std::uint32_t frames =
        counters.rxUnacked + counters.rxUnackedCrcErrors + counters.rxAckedCrcErrors + counters.rxDuplicates;
    if (frames != framesSeen) {
      framesSeen = frames;
      lastFrame = now;
    }
    if (counters.rxTimeouts != timeoutsSeen) {
      timeoutsSeen = counters.rxTimeouts;
      if (m_unitLine->QuietFor() >= readLimit) m_model.AbandonDownload();
    }
    if (counters.rxBadControl != badControlSeen) {
      badControlSeen = counters.rxBadControl;
      if (now - lastFrame >= kDownloadFrameGap && m_model.SinceLastRequest() >= kDownloadFrameGap)
        m_model.AbandonDownload();
    }
    if (counters.linkSyncs != syncsSeen && m_link->IsActive()) {
      syncsSeen = counters.linkSyncs;
      if (!m_model.DownloadInProgress())
        if (FramePtr announcement = m_model.Announce()) m_link->QueueTransmit(std::move(announcement));
    }
    FollowUp();
    // Only the link's notices come this way. Wakes as soon as one is queued; the limit
    // keeps the follow-ups and the stop flag looked at.
    if (!m_link->TakeReceived()) m_link->WaitForReceived(kIdlePollMs);
  }
}

void CDeviceSimulator::Answer(FramePtr request) { Carry(m_model.Respond(*request)); }

void CDeviceSimulator::Carry(DeviceAction action) {
  // Faults of the line that strike as the unit takes the request.
  const FaultPlan& plan = m_config.faults;
  if (action.silenceToHost) m_line->BreakToHost(plan.silenceMs);
  if (action.silenceFromHost) m_line->BreakFromHost(plan.silenceMs);
  if (action.garbageFromHost) m_line->InjectFromHost(m_line->Garbage(plan.garbageBytes));
  if (action.delayMs != 0) {
    // The acknowledgement of the request goes out now, not after the unit's busy time.
    DeliverPendingWakes();
    if (!Pause(action.delayMs)) return;
  }
  if (action.goSilent) m_line->Silence();
  if (action.unplug) m_unitLine->UnitEnd().Close();
  const LineCounters before = m_line->Counters();
  // The bad byte goes out right behind the reply, ahead of whatever the link sends next.
  if (action.badControl) m_line->InjectControl(*action.badControl, before.framesWritten);
  if (action.garbageToHost) m_line->InjectToHost(m_line->Garbage(plan.garbageBytes), before.framesWritten);
  if (action.badLength) m_line->DamageLengthToHost(before.framesWritten + 1);
  if (action.badLengthFromHost) m_line->DamageNextFromHost(CLinePort::FrameDamage::kLength);
  if (action.badCheckFromHost) m_line->DamageNextFromHost(CLinePort::FrameDamage::kCheck);
  if (action.reply) m_link->QueueTransmit(std::move(action.reply));
  m_model.NoteAnswered();
  // Whether the end reply was acknowledged is settled later by FollowUp, so that the
  // model keeps answering meanwhile (a new updater may already be talking).
  std::lock_guard<std::mutex> guard(m_followLock);
  if (action.completedUpdate)
    m_pendingEnds.push_back({before.acksFromHost, std::chrono::steady_clock::now() + std::chrono::milliseconds(kEndAckWaitMs)});
}

void CDeviceSimulator::FollowUp() {
  std::unique_lock<std::mutex> follow(m_followLock);
  if (m_pendingEnds.empty()) return;
  const LineCounters line = m_line->Counters();
  // The updater acknowledges its last write reply before it sends the end request, so
  // the next acknowledgement it sends is the end reply's. One that never comes (the
  // updater closed at once, or its byte was lost) counts after a while all the same.
  const auto now = std::chrono::steady_clock::now();
  std::uint32_t done = 0;
  while (!m_pendingEnds.empty() &&
         (line.acksFromHost != m_pendingEnds.front().acksBefore || now >= m_pendingEnds.front().deadline)) {
    m_pendingEnds.erase(m_pendingEnds.begin());
    ++done;
  }
  follow.unlock();
  if (done == 0) return;
  {
    std::lock_guard<std::mutex> guard(m_lock);
    m_acknowledgedUpdates += done;
  }
  m_changed.notify_all();
}

bool CDeviceSimulator::WaitForUpdates(std::uint32_t count, std::uint32_t timeoutMs) {
  std::unique_lock<std::mutex> guard(m_lock);
  return m_changed.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                            [&] { return m_acknowledgedUpdates >= count; });
}

SimulatorSummary CDeviceSimulator::Summary() const {
  SimulatorSummary summary;
  summary.counts = m_model.Counts();
  m_model.WithFlash([&](const CFlashImage& flash) {
    summary.storedBytes = flash.GetCount();
    summary.sha256 = FlashDigest(flash);
    return 0;
  });
  if (m_line) summary.line = m_line->Counters();
  std::lock_guard<std::mutex> guard(m_lock);
  summary.acknowledgedUpdates = m_acknowledgedUpdates;
  return summary;
}

std::optional<std::uint32_t> CDeviceSimulator::FirstDifference(const CFlashImage& expected) const {
  return m_model.WithFlash([&](const CFlashImage& flash) { return cvm6::FirstDifference(flash, expected); });
}

bool CDeviceSimulator::DumpHex(const std::string& path) const {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  m_model.WithFlash([&](const CFlashImage& flash) {
    WriteIntelHex(flash, out);
    return 0;
  });
  out.flush();
  return static_cast<bool>(out);
}

}  // namespace cvm6
