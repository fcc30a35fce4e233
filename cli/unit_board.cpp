#include "unit_board.h"

#include <algorithm>

#include "terminal_width.h"

namespace cvm6 {
namespace {

// Live lines are redrawn at most this often: four units at 57600 baud finish some forty
// blocks a second between them, and a terminal need not show each.
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
constexpr int kBarWidth = 20;
constexpr int kLineBarWidth = 30;  // one unit's bar
constexpr int kNarrowestBar = 10;

// At most `columns` - 1 long (0: no limit): a line that reaches the last column makes
// some terminals wrap before the "\r" comes.
std::string Cut(std::string line, int columns) {
  if (columns > 1 && static_cast<int>(line.size()) > columns - 1) line.resize(static_cast<std::size_t>(columns - 1));
  return line;
}

std::string Bar(double fraction, int width) {
  const int filled = std::clamp(static_cast<int>(fraction * width), 0, width);
  return std::string(static_cast<std::size_t>(filled), '#') +
         std::string(static_cast<std::size_t>(width - filled), '.');
}

}  // namespace

CUnitBoard::CUnitBoard(std::FILE* out, std::vector<std::string> ports, bool terminal)
    : m_out(out), m_terminal(terminal) {
  for (auto& port : ports) m_rows.push_back(Row{std::move(port), "Waiting"});
}

void CUnitBoard::Put(std::FILE* stream, const std::string& text) {
  if (!m_batch.empty() && m_batch.back().stream == stream)
    m_batch.back().text += text;
  else
    m_batch.push_back({stream, text});
}

void CUnitBoard::Send() {
  for (Piece& piece : m_batch) m_writer.Write(piece.stream, std::move(piece.text));
  m_batch.clear();
}

void CUnitBoard::Redraw() {
  Send();
  Erase();
  std::string head = m_batch.empty() ? "" : std::move(m_batch.front().text);
  m_batch.clear();
  Draw();
  std::string body = m_batch.empty() ? "" : std::move(m_batch.front().text);
  m_batch.clear();
  m_writer.Progress(m_out, 0, std::move(head), std::move(body));
}

void CUnitBoard::Print(std::size_t unit, const std::string& text, bool error) {
  std::lock_guard<std::mutex> guard(m_lock);
  if (m_paused) {
    m_held.push_back({unit, text, error});
    return;
  }
  Erase();
  Emit(unit, text, error);
  Draw();
  Send();
}

void CUnitBoard::Emit(std::size_t unit, const std::string& text, bool error) {
  std::FILE* stream = error ? stderr : m_out;
  if (m_lineOpen) {
    Put(m_out, "\n");
    m_lineOpen = false;
    m_lineLength = 0;
  }
  if (!Several()) {
    Put(stream, text + "\n");
  } else {
    // Every line of a message carries its port: lines of other units may come between.
    std::size_t begin = 0;
    while (begin < text.size()) {
      std::size_t end = text.find('\n', begin);
      if (end == std::string::npos) end = text.size();
      if (end > begin)  // a blank line with a port in front only pulls the units' lines apart
        Put(stream, "[" + m_rows[unit].port + "] " + text.substr(begin, end - begin) + "\n");
      begin = end + 1;
    }
  }
}

void CUnitBoard::Status(std::size_t unit, const std::string& text, bool printLine) {
  std::string line = text;
  while (!line.empty() && line.back() == '\n') line.pop_back();
  std::lock_guard<std::mutex> guard(m_lock);
  m_rows[unit].status = line;
  if (Live()) {
    if (!m_paused) Redraw();
  } else if (!printLine) {
  } else if (m_paused) {
    m_held.push_back({unit, line, false});
  } else {
    Emit(unit, line, false);
    Send();
  }
}

void CUnitBoard::Progress(std::size_t unit, std::uint32_t sent, std::uint32_t total, double rate) {
  std::lock_guard<std::mutex> guard(m_lock);
  Row& row = m_rows[unit];
  row.sent = sent;
  row.total = total;
  row.rate = rate;
  if (!m_terminal || m_paused || total == 0) return;
  if (Several()) {
    if (!Live()) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - m_lastDraw < kRedrawInterval && sent != total) return;
    Redraw();
    return;
  }
  // One unit: the progress line is rewritten in place until its pass ends. On a narrow
  // terminal the bar gives way first, then the byte counts, then the status is cut.
  const double fraction = static_cast<double>(sent) / total;
  const double eta = rate > 0 ? (total - sent) / rate : 0;
  const int columns = TerminalColumns(m_out);
  std::string line;
  for (int bar = kLineBarWidth, bytes = 1;; bar -= 5) {
    if (bar < kNarrowestBar) {
      if (!bytes) break;
      bytes = 0, bar = kLineBarWidth;
    }
    char text[256];
    if (bytes)
      std::snprintf(text, sizeof text, "%s [%s] %3d%% %u/%u bytes %.1f KiB/s ETA %ds ", row.status.c_str(),
                    Bar(fraction, bar).c_str(), static_cast<int>(fraction * 100), sent, total, rate / 1024,
                    static_cast<int>(eta));
    else
      std::snprintf(text, sizeof text, "%s [%s] %3d%% %.1f KiB/s ETA %ds ", row.status.c_str(),
                    Bar(fraction, bar).c_str(), static_cast<int>(fraction * 100), rate / 1024, static_cast<int>(eta));
    line = text;
    if (columns <= 1 || static_cast<int>(line.size()) < columns) break;
  }
  // Still too long: the status goes first, so that the figures stay in sight.
  if (columns > 1 && static_cast<int>(line.size()) > columns - 1) {
    const std::size_t over = line.size() - static_cast<std::size_t>(columns - 1);
    const std::size_t keep = row.status.size() > over ? row.status.size() - over : 0;
    line = Cut(row.status.substr(0, keep) + line.substr(row.status.size()), columns);
  }
  // A shorter line than the longest since the line opened covers what is left of it:
  // the one on the screen may be any of them, the lines between merged away.
  if (m_lineOpen && m_lineLength > line.size()) line.append(m_lineLength - line.size(), ' ');
  m_lineLength = std::max(m_lineLength, line.size());
  m_writer.Progress(m_out, 0, "", "\r" + line);
  m_lineOpen = true;
}

void CUnitBoard::EndProgress(std::size_t) {
  std::lock_guard<std::mutex> guard(m_lock);
  if (!m_lineOpen) return;
  Put(m_out, "\n");
  Send();
  m_lineOpen = false;
  m_lineLength = 0;
}

void CUnitBoard::Ended(std::size_t unit, const std::string& result) {
  std::lock_guard<std::mutex> guard(m_lock);
  Row& row = m_rows[unit];
  row.status = result;
  row.rate = 0;
  row.ended = true;
  if (Live() && !m_paused) Redraw();
}

void CUnitBoard::Pause() {
  {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_lineOpen) {
      Put(m_out, "\n");
      m_lineOpen = false;
      m_lineLength = 0;
    }
    Erase();
    Send();
    m_paused = true;
  }
  // The question must come after all that was on its way to the screen; the other units
  // go on meanwhile (their lines are held).
  m_writer.Drain();
}

void CUnitBoard::Resume() {
  std::lock_guard<std::mutex> guard(m_lock);
  m_paused = false;
  for (const Held& held : m_held) Emit(held.unit, held.text, held.error);
  m_held.clear();
  Draw();
  Send();
}

void CUnitBoard::Close() {
  std::unique_lock<std::mutex> guard(m_lock);
  m_paused = false;
  for (const Held& held : m_held) Emit(held.unit, held.text, held.error);
  m_held.clear();
  if (m_lineOpen) {
    Put(m_out, "\n");
    m_lineOpen = false;
  }
  if (Live()) {
    Erase();
    Draw();
  }
  m_drawn = 0;  // the last picture stays; what follows goes below it
  m_closed = true;
  Send();
  guard.unlock();
  m_writer.Drain();  // what follows is written by the caller itself
}

void CUnitBoard::Erase() {
  if (m_drawn == 0) return;
  // Up to the first live line, and everything from there down goes.
  char text[32];
  std::snprintf(text, sizeof text, "\x1b[%dA\r\x1b[J", m_drawn);
  Put(m_out, text);
  m_drawn = 0;
}

void CUnitBoard::Draw() {
  if (!Live() || m_paused) return;
  for (const Row& row : m_rows) Put(m_out, "\x1b[2K" + RowText(row) + "\n");
  m_drawn = static_cast<int>(m_rows.size());
  m_lastDraw = std::chrono::steady_clock::now();
}

std::string CUnitBoard::RowText(const Row& row) const {
  std::size_t width = 0;
  for (const Row& other : m_rows) width = std::max(width, other.port.size());
  const double fraction = row.total ? static_cast<double>(row.sent) / row.total : 0;
  // On a narrow terminal the bar gives way first (to ten), then the status column.
  int statusWidth = 32, barWidth = kBarWidth;
  const int columns = TerminalColumns(m_out);
  const int fixed = static_cast<int>(width) + 24;  // port, gaps, brackets, percent, rate
  if (columns > 1) {
    int over = fixed + statusWidth + barWidth - (columns - 1);
    const int fromBar = std::clamp(over, 0, barWidth - kNarrowestBar);
    barWidth -= fromBar, over -= fromBar;
    statusWidth -= std::clamp(over, 0, statusWidth - 8);
  }
  std::string status = row.status.substr(0, static_cast<std::size_t>(statusWidth));
  char text[256];
  std::snprintf(text, sizeof text, "%-*s  %-*s [%s] %3d%%", static_cast<int>(width), row.port.c_str(), statusWidth,
                status.c_str(), Bar(fraction, barWidth).c_str(), static_cast<int>(fraction * 100));
  if (row.ended) return Cut(text, columns);  // a unit that has ended has no rate
  char rate[32];
  std::snprintf(rate, sizeof rate, " %7.1f KiB/s", row.rate / 1024);
  return Cut(text + std::string(rate), columns);
}

}  // namespace cvm6
