#pragma once
// One unit of a cvm6-flash run: its own port, link, node and procedure (the updater
// window's, driven as Connect then Update), on a thread of its own. Units share only
// the screen, the log, the image (read only) and the answer to the synthetic-image
// question; one unit's failure, unplugging or slowness reaches no other.
#include <atomic>
#include <cstddef>
#include <memory>
#include <string>
#include <thread>

#include "console_host.h"
#include "flash_dialog.h"
#include "unit_outcome.h"

namespace cvm6 {

struct UnitShared {
  CUnitBoard& board;
  CTerminalQuestion& question;
  CFlashLog* log;  // null without --log
  std::shared_ptr<const CFlashImage> image;
  ImageLoadReport report;
  bool trace = false;
  CFlashSimulator* simulator = nullptr;  // --simulate: its one unit's line
  std::uint32_t maxDamaged = 0;          // --max-damaged
  CEventStream* events = nullptr;        // --events
};

class CFlashUnit {
 public:
  CFlashUnit(std::size_t index, const std::string& port, const UnitShared& shared);
  ~CFlashUnit();
  CFlashUnit(const CFlashUnit&) = delete;
  CFlashUnit& operator=(const CFlashUnit&) = delete;

  void Start();
  void Join();
  // Any thread: a sleeping wait of the procedure looks at the interrupt at once.
  void Wake() { m_dialog.WakeWaits(); }
  // After Join.
  const UnitOutcome& Outcome() const { return m_outcome; }
  // Any thread, at any moment: "[port] " and where the unit stands, for the last words
  // of a second Ctrl-C: its result once it has ended, else whether its erase had begun.
  std::string StateNow() const;

 private:
  void Run();
  void Fill(int exitStatus, const std::string& result);
  // After a complete update: the line's damage, said when the unit refused more frames
  // than allowed (status 9).
  bool NoisyLine();
  // After a download: what the acknowledgements' round trips cost beyond the line, and
  // what to do about a slow adapter.
  void ReportAckTiming();

  CConsoleHost m_host;
  CFlashDialog m_dialog;
  UnitOutcome m_outcome;
  std::uint32_t m_maxDamaged;
  std::size_t m_index = 0;
  std::atomic<bool> m_ended{false};  // m_outcome is whole
  std::thread m_thread;
};

}  // namespace cvm6
