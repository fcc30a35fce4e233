#include "fault_run.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <sstream>
#include <thread>

#include "image/flash_image.h"
#include "image/scratch.h"
#include "platform/resources.h"
#include "port/serial_port.h"
#include "scripted_host.h"
#include "sim/device_simulator.h"
#include "support/time_scale.h"
#include "update/control_ids.h"
#include "update/updater_dlg.h"

namespace cvm6::test {
namespace {

using std::chrono::milliseconds;

// The window as a technician drives it, except that it writes the synthetic image
// without asking and keeps the last few message names it traced. Its port is the
// simulator's, opened as the updater opens a port (on POSIX the pseudo-terminal by path).
class FaultDlg : public CUpdaterDlg {
 public:
  FaultDlg(UpdateLimits limits, LinkLimits link, CDeviceSimulator& sim) : CUpdaterDlg(limits, link), m_sim(sim) {
    SetTraceSink([this](const std::string& line) {
      m_trace.push_back(line.substr(0, line.find('\n')));
      if (m_trace.size() > 4) m_trace.pop_front();
    });
  }
  bool ConfirmSyntheticImage() override { return true; }
  std::unique_ptr<CSerialPort> OpenPort(const std::string&) override { return m_sim.OpenHostPort(); }
  std::string LastTrace() const {
    std::string out;
    for (const auto& line : m_trace) out += (out.empty() ? "" : " | ") + line;
    return out;
  }

 private:
  CDeviceSimulator& m_sim;
  std::deque<std::string> m_trace;
};

// Aborts the process when a run is not over by its deadline.
class Watchdog {
 public:
  Watchdog(const char* name, std::uint32_t seed, milliseconds limit)
      : m_thread([this, name, seed, limit] {
          std::unique_lock<std::mutex> lock(m_lock);
          if (!m_done.wait_for(lock, limit, [this] { return m_over; })) {
            std::fprintf(stderr, "HANG: case %s seed %u still running after %lld ms\n", name, seed,
                         static_cast<long long>(limit.count()));
            std::fflush(stderr);
            std::abort();
          }
        }) {}
  ~Watchdog() {
    {
      std::lock_guard<std::mutex> guard(m_lock);
      m_over = true;
    }
    m_done.notify_all();
    m_thread.join();
  }

 private:
  std::mutex m_lock;
  std::condition_variable m_done;
  bool m_over = false;
  std::thread m_thread;  // last: starts once the rest is built
};

std::string SmallImageHex() {
  struct Run {
    std::uint16_t address;
    std::uint16_t count;
  };
  // 1000 bytes: 246 x 4 + 16; 600: 246 x 2 + 108; a run of 3; 900: 246 x 3 + 162.
  const Run runs[] = {{0x2000, 1000}, {0x3000, 600}, {0x3400, 3}, {0x8000, 900}};
  std::string hex;
  std::uint32_t n = 0;
  for (const Run& run : runs) {
    for (std::uint32_t offset = 0; offset < run.count; offset += 16) {
      std::string data;
      for (std::uint32_t i = offset; i < run.count && i < offset + 16; ++i, ++n)
        data += static_cast<char>(n * 7 + 3);  // every value, control bytes included
      hex += HexRecord(static_cast<std::uint16_t>(run.address + offset), 0, data);
    }
  }
  return hex + kEndRecord;
}

void WriteImage(const ScratchDir& dir, ImageSize size) {
  switch (size) {
    case ImageSize::Small:
      dir.Write("small.hex", SmallImageHex());
      dir.Write("cvm6.ini", "small.hex 0\r\n");
      break;
    case ImageSize::Bank: {
      const auto text = FindBinaryResource(160);
      if (!text) throw std::runtime_error("no embedded bank 0");
      dir.Write("bank0.hex", std::string(text->begin(), text->end()));
      dir.Write("cvm6.ini", "bank0.hex 0\r\n");
      break;
    }
    case ImageSize::Full:
      break;  // no list file: the embedded texts
  }
}

UpdateLimits Scale(UpdateLimits limits) {
  const auto scale = static_cast<std::uint32_t>(TimeScale());
  for (std::uint32_t* ms : {&limits.deviceMs, &limits.startEndMs, &limits.writeMs, &limits.deviceDataRetryMs,
                            &limits.rideThroughMs})
    *ms *= scale;
  return limits;
}

std::string Detail(const LinkCounters& host, const SimulatorSummary& sim) {
  std::ostringstream out;
  const auto& line = sim.line;
  out << "line: flips to/from host " << line.corruptedToHost << "/" << line.corruptedFromHost << ", drops "
      << line.droppedToHost << "/" << line.droppedFromHost << ", frames rejected " << line.toHost.rejectedFrames
      << "/" << line.fromHost.rejectedFrames << ", damaged accepted " << line.toHost.damagedAccepted << "/"
      << line.fromHost.damagedAccepted << "; unit: blocks " << sim.counts.blocks << ", acks sent " << line.acks
      << ", acks got " << line.acksFromHost << "; updater: NAKs sent " << host.rxAckedCrcErrors << ", repeats "
      << host.rxDuplicates << ", read time-outs " << host.rxTimeouts << ", syncs " << host.linkSyncs
      << ", bad control " << host.rxBadControl;
  return out.str();
}

}  // namespace

const char* OutcomeName(Outcome outcome) {
  switch (outcome) {
    case Outcome::Success: return "success";
    case Outcome::CleanFailure: return "clean failure";
    case Outcome::Undetectable: return "undetectable";
    case Outcome::Warned: return "warned";
    case Outcome::Wrong: return "WRONG";
  }
  return "?";
}

std::string Brief(const std::string& text) {
  std::string out = text.substr(0, text.find('\n'));
  return out.size() > 40 ? out.substr(0, 40) + "..." : out;
}

RunResult RunUpdate(const FaultCase& fault, std::uint32_t seed) {
  RunResult result;
  ScratchDir cwd, drive;
  CurrentDirGuard cwdGuard(cwd.path());
  EnvGuard driveY("CVM6_DRIVE_Y", drive.path().string());
  WriteImage(cwd, fault.image);
  CFlashImage expected;
  expected.LoadFirmwareImage({});

  SimulatorConfig config;
  config.identity.eraseMs = 20;
  config.identity.writeMs = 0;
  config.faults = fault.plan;
  config.faults.line.seed = seed;
  LinkLimits link;
  link.readTimeoutMs = fault.readTimeoutMs * static_cast<std::uint32_t>(TimeScale());
  config.link = link;
  CDeviceSimulator sim(config);
  if (!sim.Start()) {
    result.text = "simulator did not start: " + sim.ErrorText();
    return result;
  }

  ScriptedHost host(sim.PortPath());
  auto dlg = std::make_unique<FaultDlg>(Scale(fault.limits), link, sim);
  dlg->AttachHost(&host);
  dlg->OnInitDialog();
  // The technician has chosen the device type, so Update is offered even when the
  // unit's device data never arrives.
  host.UserSelects(IDC_DEVICE_LIST, 1);

  const auto bound = milliseconds(Scaled(fault.boundMs));
  const auto start = Clock::now();
  Clock::time_point end;
  {
    Watchdog watchdog(fault.name, seed, bound + milliseconds(Scaled(30000)));
    dlg->OnConnect();
    if (host.Control(IDC_UPDATE).enabled) dlg->OnUpdate();
    end = Clock::now();
    dlg->OnDestroy();
  }
  const LinkCounters hostCounters = dlg->Link().GetCounters();
  result.damage = dlg->LastLineDamage();
  const std::string trace = dlg->LastTrace();
  dlg.reset();
  sim.Stop();
  const SimulatorSummary summary = sim.Summary();
  const auto difference = sim.FirstDifference(expected);
  result.detail = Detail(hostCounters, summary) + "; last traced: " + trace;
  result.host = hostCounters;
  result.unit = summary;

  const auto& boxes = host.Boxes();
  if (!boxes.empty()) end = boxes.back().when;
  result.ms = static_cast<int>(std::chrono::duration_cast<milliseconds>(end - start).count());
  const bool spoiledUnseen = summary.line.toHost.damagedAccepted + summary.line.fromHost.damagedAccepted > 0;
  const bool completed = std::any_of(boxes.begin(), boxes.end(),
                                     [](const MessageBoxShown& box) { return box.text == kUpdateCompleteText; });
  // After the completion prompt, the warning comes exactly when the unit refused frames.
  result.warned = completed && boxes.size() == 2 && boxes[0].text == kUpdateCompleteText &&
                  boxes[1].icon == MsgIcon::Warning && boxes[1].text == NoisyLineWarning(result.damage.toUnit);
  const bool warningRight = result.warned == (result.damage.toUnit != 0);
  char where[64] = "";
  if (difference) std::snprintf(where, sizeof where, " (flash differs at 0x%X)", *difference);

  if (boxes.empty()) {
    result.text = "no message at all";
  } else if (completed && !warningRight) {
    result.text = std::to_string(boxes.size()) + " messages after " + std::to_string(result.damage.toUnit) +
                  " frames refused: " + Brief(boxes.back().text);
  } else if (boxes.size() > 1 && !result.warned) {
    result.text = "more than one message: " + Brief(boxes[0].text) + ", " + Brief(boxes[1].text);
  } else if (completed) {
    result.text = boxes[0].text;
    if (!difference && fault.successAllowed) result.outcome = Outcome::Success;
    else if (difference && result.warned) result.outcome = Outcome::Warned;
    else if (spoiledUnseen) result.outcome = Outcome::Undetectable;
    else result.text += difference ? where : " (not a right outcome here)";
  } else {
    result.text = boxes.back().text;
    const bool listed = std::find(fault.failures.begin(), fault.failures.end(), result.text) != fault.failures.end();
    if (listed) result.outcome = Outcome::CleanFailure;
    else if (spoiledUnseen) result.outcome = Outcome::Undetectable;
  }
  if (result.outcome != Outcome::Wrong && result.ms > bound.count()) {
    result.outcome = Outcome::Wrong;
    result.text += " (after " + std::to_string(result.ms) + " ms, bound " + std::to_string(bound.count()) + ")";
  }
  return result;
}

}  // namespace cvm6::test
