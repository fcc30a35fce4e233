#pragma once
// A Corvane M6 in download mode on a pseudo-terminal (on Windows a line in memory; see
// CUnitLine), run in-process: the model, its own link engine, the line between them and
// the updater. Requests are answered on the link's receiver thread; a thread of the
// model's own announces the unit after each link-up and settles what follows a reply.
//
//   CDeviceSimulator sim(config);
//   if (!sim.Start()) fail(sim.ErrorText());
//   open sim.PortPath() as the serial port (or take sim.OpenHostPort()) ...
//   sim.WaitForUpdates(1, ms);
//   SimulatorSummary s = sim.Summary();   // or FirstDifference against an expected image
//   sim.Stop();                           // also done by the destructor
//
// The simulator outlives its updaters: when one closes the port and another opens it,
// the model answers the new link's wake and announces itself again.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "link/link.h"
#include "sim/device_model.h"
#include "sim/line_port.h"
#include "sim/unit_line.h"
#include "sim/unit_link.h"

namespace cvm6 {

struct SimulatorConfig {
  DeviceIdentity identity;
  FaultPlan faults;
  std::uint32_t baud = 0;  // 0: bytes take no time on the wire
  std::uint32_t adapterLatencyMs = 0;  // the host's adapter holds what it receives this long
  LinkLimits link;         // the model's own link limits (the unit's are the defaults;
                           // frameGapMs is not used, see CUnitLink)
};

struct SimulatorSummary {
  DeviceCounts counts;
  std::uint32_t storedBytes = 0;  // distinct addresses held in the flash
  std::string sha256;             // FlashDigest of the flash
  LineCounters line;
  std::uint32_t acknowledgedUpdates = 0;
};

class CDeviceSimulator {
 public:
  explicit CDeviceSimulator(const SimulatorConfig& config);
  ~CDeviceSimulator();
  CDeviceSimulator(const CDeviceSimulator&) = delete;
  CDeviceSimulator& operator=(const CDeviceSimulator&) = delete;

  // Opens the pseudo-terminal and starts answering. False (see ErrorText) when the
  // pseudo-terminal cannot be made or when already started.
  bool Start();
  // Unplugs the port and ends every thread; the summary stays readable.
  void Stop();

  // The name of the updater's end of the line (see CUnitLine::HostName).
  const std::string& PortPath() const { return m_path; }
  // The updater's end as an updater in this process opens it; null before Start.
  std::unique_ptr<CSerialPort> OpenHostPort();
  const std::string& ErrorText() const { return m_error; }

  // True once `count` downloads have ended with an end reply that the updater
  // acknowledged (or that had 2 s to be acknowledged); false after timeoutMs.
  bool WaitForUpdates(std::uint32_t count, std::uint32_t timeoutMs);

  SimulatorSummary Summary() const;
  std::optional<std::uint32_t> FirstDifference(const CFlashImage& expected) const;
  bool DumpHex(const std::string& path) const;

 private:
  void ModelThread();
  void Answer(FramePtr request);  // on the link's receiver thread
  void Carry(DeviceAction action);
  void FollowUp();
  bool Pause(std::uint32_t ms);  // false when stopping

  // End replies that wait for their acknowledgement: noted by Answer, settled by the
  // model thread's FollowUp, under m_followLock.
  struct PendingEnd {
    std::uint32_t acksBefore;
    std::chrono::steady_clock::time_point deadline;
  };
  std::vector<PendingEnd> m_pendingEnds;
  std::mutex m_followLock;

  const SimulatorConfig m_config;
  std::string m_path;
  std::string m_error;
  CDeviceModel m_model;
  std::unique_ptr<CUnitLine> m_unitLine;
  std::unique_ptr<CLinePort> m_line;
  std::unique_ptr<CUnitLink> m_link;
  std::thread m_thread;
  std::atomic<bool> m_stop{false};

  mutable std::mutex m_lock;
  std::condition_variable m_changed;
  std::uint32_t m_acknowledgedUpdates = 0;
};

}  // namespace cvm6
