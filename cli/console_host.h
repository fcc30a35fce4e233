#pragma once
// The terminal's side of the updater window for one of cvm6-flash's units: controls are
// plain values; status changes, device data and message boxes go to the shared screen
// (unit_board.h) and, with --log, to the transcript. A question is asked on the
// terminal itself (terminal_question.h), never on standard output.
//
// Threading rule: everything but the counters' readers runs on the unit's own thread.
#include <chrono>
#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "platform/dialog.h"

namespace cvm6 {

class CEventStream;
class CFlashLog;
class CTerminalQuestion;
class CUnitBoard;

class CConsoleHost : public DialogHost {
 public:
  // `log` may be null.
  CConsoleHost(std::string portName, std::size_t unit, CUnitBoard& board, CTerminalQuestion& question, CFlashLog* log);

  void SetControlText(int id, const std::string& text) override;
  std::string GetControlText(int id) override { return m_texts[id]; }
  void SetListSelection(int id, int index) override { m_selection[id] = index; }
  int GetListSelection(int id) override;
  std::string GetListItemText(int id, int index) override;
  void EnableControl(int id, bool enable) override { m_enabled[id] = enable; }
  bool IsControlEnabled(int id) override;
  void SetProgressRange(int id, int lower, int upper) override;
  void SetProgressPos(int id, int pos) override { m_progress[id] = pos; }
  int GetProgressPos(int id) override { return m_progress[id]; }
  void BeginWaitCursor() override {}
  void EndWaitCursor() override {}
  int MessageBox(const std::string& text, MsgIcon icon, MsgButtons buttons) override;
  void EndDialog(int result) override { m_result = result; }
  void PumpMessages() override;

  // With --events: where the unit's events go, and the image's blocks for their progress.
  void SetEvents(CEventStream* events, std::uint32_t totalBlocks) {
    m_events = events;
    m_totalBlocks = totalBlocks;
  }
  CEventStream* Events() const { return m_events; }
  // The unit announced itself at `address`; the erase request went out.
  void ShowDeviceFound(std::uint8_t address);
  void ShowEraseBegun();
  // Live progress of the block pass.
  void ShowProgress(std::uint32_t bytesSent, std::uint32_t totalBytes);
  // A dropped link the download rode through; counted in the block pass's summary.
  // The link was lost `where` ("at block 12") and was back `ms` later.
  void ShowRideThrough(const std::string& where, std::uint32_t ms);
  // Ends the live line and, after a block pass, prints its summary line.
  void FinishLine();
  // The unit's run is over: its live line shows `result` from now on.
  void Ended(const std::string& result);
  // A line of the unit's own (to standard error when `error`), also in the log.
  void Say(const std::string& text, bool error = false);
  // A line for the log alone (--trace messages go to both through Say).
  void Log(const std::string& text);

  int Result() const { return m_result; }
  const std::vector<std::string>& Boxes() const { return m_boxes; }
  std::uint32_t BlocksWritten() const { return m_blocksWritten; }
  std::uint32_t RideThroughs() const { return m_rideThroughs; }

 private:
  std::string m_portName;
  std::size_t m_unit;
  CUnitBoard& m_board;
  CTerminalQuestion& m_question;
  CFlashLog* m_log;
  int m_result = 0;
  std::map<int, std::string> m_texts;
  std::map<int, int> m_selection, m_progress;
  std::map<int, bool> m_enabled;
  std::vector<std::string> m_boxes;
  // Prints how long the block pass took, from the status "Updating ..." to the reply to
  // the last block, once the pass is over (scripts/bench reads this line).
  void EndBlockPass();

  std::chrono::steady_clock::time_point m_writeStart{};
  std::chrono::steady_clock::time_point m_lastBlock{};
  std::uint32_t m_blocksWritten = 0;
  std::uint32_t m_bytesWritten = 0;
  std::uint32_t m_rideThroughs = 0;
  bool m_writing = false;
  CEventStream* m_events = nullptr;
  std::uint32_t m_totalBlocks = 0;
  bool m_found = false;     // the online text said "Online" once
  bool m_linkDown = false;  // link-lost sent, link-back not yet
};

}  // namespace cvm6
