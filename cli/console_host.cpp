#include "console_host.h"

#include <unistd.h>

#include <cstdio>

#include "console_io.h"
#include "update/control_ids.h"

namespace cvm6 {

CConsoleHost::CConsoleHost(std::string portName, bool assumeYes)
    : m_portName(std::move(portName)), m_assumeYes(assumeYes), m_tty(isatty(STDOUT_FILENO)) {}

int CConsoleHost::GetListSelection(int id) {
  auto it = m_selection.find(id);
  return it == m_selection.end() ? -1 : it->second;
}

// The port list holds the one port given on the command line.
std::string CConsoleHost::GetListItemText(int id, int index) {
  if (id == IDC_PORT_LIST && index == 0) return m_portName;
  if (id == IDC_DEVICE_LIST) return index == 0 ? "Not Selected" : index == 1 ? "Corvane M4/M4S" : "";
  return "";
}

bool CConsoleHost::IsControlEnabled(int id) {
  auto it = m_enabled.find(id);
  return it == m_enabled.end() ? true : it->second;
}

void CConsoleHost::SetControlText(int id, const std::string& text) {
  const bool changed = m_texts[id] != text;
  m_texts[id] = text;
  if (!changed || text.empty()) return;
  if (id == IDC_STATUS) {
    FinishLine();
    std::string line = text;
    while (!line.empty() && line.back() == '\n') line.pop_back();
    std::printf("%s\n", line.c_str());
    m_writing = line.rfind("Updating", 0) == 0;
    if (m_writing) {
      m_blocksWritten = m_bytesWritten = 0;
      m_writeStart = std::chrono::steady_clock::now();
    }
  } else if (id == IDC_ONLINE_TEXT || id == IDC_DEVICE_NAME) {
    EndLiveLine();
    std::printf("%s: %s\n", id == IDC_ONLINE_TEXT ? "Status" : "Device", text.c_str());
  }
  std::fflush(stdout);
}

void CConsoleHost::SetProgressRange(int id, int, int) { m_progress[id] = 0; }

int CConsoleHost::MessageBox(const std::string& text, MsgIcon icon, MsgButtons buttons) {
  FinishLine();
  m_boxes.push_back(text);
  if (buttons == MsgButtons::YesNo) {
    if (m_assumeYes) {
      std::printf("%s\nYes (--yes)\n", text.c_str());
      std::fflush(stdout);
      return IDYES;
    }
    switch (AskOnTerminal(text)) {
      case TerminalAnswer::kYes: return IDYES;
      case TerminalAnswer::kNo: return IDNO;
      case TerminalAnswer::kInterrupted: throw Interrupted{};
      case TerminalAnswer::kNoTerminal:
        std::fprintf(stderr, "%s\nThere is no terminal to ask on, so the answer is No; --yes confirms.\n",
                     text.c_str());
        return IDNO;
    }
    return IDNO;
  }
  std::FILE* out = icon == MsgIcon::Stop ? stderr : stdout;
  std::fprintf(out, "%s\n", text.c_str());
  std::fflush(out);
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
  if (!m_tty || totalBytes == 0) return;
  const double fraction = static_cast<double>(bytesSent) / totalBytes;
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - m_writeStart).count();
  const double rate = seconds > 0 ? bytesSent / seconds : 0;
  const double eta = rate > 0 ? (totalBytes - bytesSent) / rate : 0;
  char bar[31];
  const int filled = static_cast<int>(fraction * 30);
  for (int i = 0; i < 30; ++i) bar[i] = i < filled ? '#' : '.';
  bar[30] = 0;
  std::printf("\r%s [%s] %3d%% %u/%u bytes %.1f KiB/s ETA %ds ", m_texts[IDC_STATUS].c_str(), bar,
              static_cast<int>(fraction * 100), bytesSent, totalBytes, rate / 1024, static_cast<int>(eta));
  std::fflush(stdout);
  m_lineOpen = true;
}

void CConsoleHost::ShowRideThrough(std::uint16_t block, std::uint32_t ms) {
  EndLiveLine();
  ++m_rideThroughs;
  std::printf("link lost at block %u, carried on after %u ms\n", static_cast<unsigned>(block), ms);
  std::fflush(stdout);
}

void CConsoleHost::EndBlockPass() {
  if (!m_writing) return;
  m_writing = false;
  const double seconds = std::chrono::duration<double>(m_lastBlock - m_writeStart).count();
  if (m_blocksWritten == 0) return;
  std::printf("Block pass: %u blocks, %u bytes in %.3f s", m_blocksWritten, m_bytesWritten, seconds);
  if (m_rideThroughs != 0) std::printf(", %u dropped link%s ridden through", m_rideThroughs, m_rideThroughs == 1 ? "" : "s");
  std::printf("\n");
}

void CConsoleHost::EndLiveLine() {
  if (m_lineOpen) std::printf("\n");
  m_lineOpen = false;
}

void CConsoleHost::FinishLine() {
  EndLiveLine();
  EndBlockPass();
  std::fflush(stdout);
}

}  // namespace cvm6
