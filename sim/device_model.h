#pragma once
// What a Corvane M6 in download mode does with the messages it is sent: announces itself,
// answers the device-data request, erases, stores write-flash blocks and reports its
// block count. The model decides; CDeviceSimulator carries out (waits, sends, and the
// line faults that belong to the port). It keeps the unit's flash as a sparse image.
//
// Threading: Respond runs on the simulator's link receiver thread, Announce (which reads
// only the identity and the plan) on its model thread; the read-only accessors may be
// called from any thread (they take the model's lock).
#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "image/flash_image.h"
#include "link/frame.h"
#include "sim/fault_plan.h"

namespace cvm6 {

struct DeviceIdentity {
  std::uint8_t address = 1;          // the model's own network address
  std::uint8_t updaterAddress = 0;   // the address it gives the updater
  bool announceWithConfig = false;   // network configuration from address 0 instead of
                                     // an identification
  std::uint8_t deviceType = 0x45;    // 'E', the Corvane M6
  std::array<char, 4> version{{'1', '0', '2', '3'}};
  std::uint32_t eraseMs = 1000;      // time the unit takes to erase a target
  std::uint32_t writeMs = 2;         // time it takes to program one block
};

// What to do after a request: wait `delayMs` (the unit is busy), then send `reply`
// (when there is one), then apply the faults that the request triggered.
struct DeviceAction {
  std::uint32_t delayMs = 0;
  FramePtr reply;
  bool goSilent = false;
  bool unplug = false;
  std::optional<std::uint8_t> badControl;
  bool badLength = false;  // the reply's length byte is damaged on the line
  // The next frame from the updater reaches the unit with its length or check byte damaged.
  bool badLengthFromHost = false, badCheckFromHost = false;
  bool completedUpdate = false;  // the reply ends a download
  // Line faults of the plan that strike at this request (see FaultPlan).
  bool garbageToHost = false, garbageFromHost = false;
  bool silenceToHost = false, silenceFromHost = false;
};

struct DeviceCounts {
  std::uint32_t erases = 0;       // start requests taken
  std::uint32_t writes = 0;       // write-flash requests taken, all downloads
  std::uint32_t blocks = 0;       // blocks taken since the last start
  std::uint64_t bytes = 0;        // data bytes taken since the last start
  std::uint32_t updates = 0;      // end replies sent
  std::uint32_t ignored = 0;      // frames not for the model, too short or unknown
  std::uint8_t target = 0;        // target of the last start request
};

class CDeviceModel {
 public:
  CDeviceModel(const DeviceIdentity& identity, const FaultPlan& faults);

  // The announcement to send after a link-up, or null when the plan forbids it.
  FramePtr Announce() const;
  // The model's answer to one received frame (never a link notice).
  DeviceAction Respond(const Frame& request);

  DeviceCounts Counts() const;
  // From a start request to its end reply, unless abandoned meanwhile.
  bool DownloadInProgress() const;
  // The updater went away in the middle of a download.
  void AbandonDownload();
  // How long ago the last frame addressed to the model came, or the model last answered
  // one (a long erase ends there); since construction when neither happened yet.
  std::chrono::steady_clock::duration SinceLastRequest() const;
  void NoteAnswered();
  // Runs `visit` on the flash under the model's lock.
  template <typename Visit>
  auto WithFlash(Visit visit) const {
    std::lock_guard<std::mutex> guard(m_lock);
    return visit(*m_flash);
  }

 private:
  FramePtr Reply(const std::vector<std::uint8_t>& payload) const;
  DeviceAction StartDownload(std::uint8_t target);
  DeviceAction WriteFlash(const Frame& request);
  DeviceAction EndDownload();
  DeviceAction DeviceData() const;
  // Marks the line faults of the plan that strike at this point of the download.
  void AddLineFaults(DeviceAction& action, DownloadPoint::Kind at, std::uint32_t block = 0) const;
  // Marks the damage of the plan that strikes block `next`, the next one the updater sends.
  void DamageNextBlock(DeviceAction& action, std::uint32_t next) const;

  const DeviceIdentity m_identity;
  const FaultPlan m_faults;
  mutable std::mutex m_lock;
  std::unique_ptr<CFlashImage> m_flash;
  DeviceCounts m_counts;
  bool m_downloading = false;
  bool m_ackedBlockLost = false;  // FaultPlan::loseAckedBlock has struck
  std::chrono::steady_clock::time_point m_lastRequest = std::chrono::steady_clock::now();
};

}  // namespace cvm6
