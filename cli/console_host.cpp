#include "console_host.h"

#include <cstdio>

#include "console_io.h"
#include "event_stream.h"
#include "flash_log.h"
#include "terminal_question.h"
#include "unit_board.h"
#include "update/control_ids.h"

namespace cvm6 {
namespace {

constexpr const char* kCompleteStatus = "Update Complete";

}  // namespace

CConsoleHost::CConsoleHost(std::string portName, std::size_t unit, CUnitBoard& board, CTerminalQuestion& question,
                           CFlashLog* log)
    : m_portName(std::move(portName)), m_unit(unit), m_board(board), m_question(question), m_log(log) {}

int CConsoleHost::GetListSelection(int id) {
  auto it = m_selection.find(id);
  return it == m_selection.end() ? -1 : it->second;
}

// The port list holds the one port of this unit.
std::string CConsoleHost::GetListItemText(int id, int index) {
  if (id == IDC_PORT_LIST && index == 0) return m_portName;
  if (id == IDC_DEVICE_LIST) return index == 0 ? "Not Selected" : index == 1 ? "Corvane M4/M4S" : "";
  return "";
}

bool CConsoleHost::IsControlEnabled(int id) {
  auto it = m_enabled.find(id);
  return it == m_enabled.end() ? true : it->second;
}

void CConsoleHost::Say(const std::string& text, bool error) {
  m_board.Print(m_unit, text, error);
  Log(text);
}

void CConsoleHost::Log(const std::string& text) {
  if (m_log) m_log->Write(m_portName, text);
}

void CConsoleHost::SetControlText(int id, const std::string& text) {
  const bool changed = m_texts[id] != text;
  m_texts[id] = text;
  if (!changed || text.empty()) return;
  if (id == IDC_STATUS) {
    FinishLine();
    std::string line = text;
    while (!line.empty() && line.back() == '\n') line.pop_back();
    // The completion prompt, "Update Complete!...", follows at once: the status alone
    // would say it twice.
    m_board.Status(m_unit, line, line != kCompleteStatus);
    Log("status: " + line);
    m_writing = line.rfind("Updating", 0) == 0;
    if (m_writing) {
      m_blocksWritten = m_bytesWritten = 0;
      m_writeStart = std::chrono::steady_clock::now();
    }
  } else if (id == IDC_ONLINE_TEXT || id == IDC_DEVICE_NAME) {
    // The online text goes "Offline" while the download rides through a dropped link.
    if (id == IDC_ONLINE_TEXT && m_events && m_found && text == "Offline" && !m_linkDown) {
      m_linkDown = true;
      m_events->LinkLost(m_unit, m_portName, m_blocksWritten);
    }
    if (id == IDC_ONLINE_TEXT && text == "Online") m_found = true;
    m_board.EndProgress(m_unit);
    Say(std::string(id == IDC_ONLINE_TEXT ? "Status" : "Device") + ": " + text);
  }
}

void CConsoleHost::SetProgressRange(int id, int, int) { m_progress[id] = 0; }

int CConsoleHost::MessageBox(const std::string& text, MsgIcon icon, MsgButtons buttons) {
  FinishLine();
  m_boxes.push_back(text);
  if (buttons == MsgButtons::YesNo) {
    Log("question: " + text);
    std::string answered;
    try {
      const bool yes = m_question.Ask(m_unit, text, answered);
      Log("answer: " + answered);
      return yes ? IDYES : IDNO;
    } catch (const Interrupted&) {
      Log("answer: none, interrupted");
      throw;
    }
  }
  m_board.Print(m_unit, text, icon == MsgIcon::Stop || icon == MsgIcon::Warning);
  Log(std::string(icon == MsgIcon::Stop ? "error: " : icon == MsgIcon::Warning ? "warning: " : "prompt: ") + text);
  return IDOK;
}

void CConsoleHost::PumpMessages() {
  if (InterruptRequested()) throw Interrupted{};
}

void CConsoleHost::ShowProgress(std::uint32_t bytesSent, std::uint32_t totalBytes) {
  m_lastBlock = std::chrono::steady_clock::now();
  ++m_blocksWritten;
  m_bytesWritten = bytesSent;
  if (InterruptRequested()) throw Interrupted{};
  const double seconds = std::chrono::duration<double>(m_lastBlock - m_writeStart).count();
  m_board.Progress(m_unit, bytesSent, totalBytes, seconds > 0 ? bytesSent / seconds : 0);
  if (m_events) m_events->Progress(m_unit, m_portName, m_blocksWritten, m_totalBlocks, bytesSent, totalBytes);
}

void CConsoleHost::ShowDeviceFound(std::uint8_t address) {
  if (m_events) m_events->UnitFound(m_unit, m_portName, address);
}

void CConsoleHost::ShowEraseBegun() {
  if (m_events) m_events->EraseBegun(m_unit, m_portName);
}

void CConsoleHost::ShowRideThrough(const std::string& where, std::uint32_t ms) {
  m_board.EndProgress(m_unit);
  ++m_rideThroughs;
  if (m_events) {
    // Lost before the online text could say so (while the device data were awaited).
    if (!m_linkDown) m_events->LinkLost(m_unit, m_portName, m_blocksWritten);
    m_events->LinkBack(m_unit, m_portName, where, ms);
  }
  m_linkDown = false;
  Say("link lost " + where + ", carried on after " + std::to_string(ms) + " ms");
}

void CConsoleHost::EndBlockPass() {
  if (!m_writing) return;
  m_writing = false;
  const double seconds = std::chrono::duration<double>(m_lastBlock - m_writeStart).count();
  if (m_blocksWritten == 0) return;
  char line[160];
  std::snprintf(line, sizeof line, "Block pass: %u blocks, %u bytes in %.3f s", m_blocksWritten, m_bytesWritten,
                seconds);
  std::string text = line;
  if (m_rideThroughs != 0)
    text +=
        ", " + std::to_string(m_rideThroughs) + " dropped link" + (m_rideThroughs == 1 ? "" : "s") + " ridden through";
  Say(text);
}

void CConsoleHost::Ended(const std::string& result) { m_board.Ended(m_unit, result); }

void CConsoleHost::FinishLine() {
  m_board.EndProgress(m_unit);
  EndBlockPass();
}

}  // namespace cvm6
