#pragma once
// What the technician sees of cvm6-flash's units: the one screen they share. One unit
// prints as it always has (its lines as they come, a live progress line on a terminal).
// Several units on a terminal get one live line each (port, status, bar, percent, rate),
// kept at the bottom while their messages scroll above it, "[port] " in front; without a
// terminal every line carries its port instead and nothing is redrawn.
//
// Threading rule: each unit's thread calls in with its own index; one lock of the board's
// own keeps lines whole and the live lines in order. Nothing here waits for anything but
// that lock: the text goes to a writer of the board's own (output_writer.h), so a paused
// terminal holds back no unit; redraws of the live lines waiting meanwhile are merged.
// Output that fails (a closed pipe) is given up.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "output_writer.h"

namespace cvm6 {

class CUnitBoard {
 public:
  // `out`: where the run's output goes (standard output; standard error under --json).
  // `ports`: the units, in --port order. `terminal`: whether `out` is one.
  CUnitBoard(std::FILE* out, std::vector<std::string> ports, bool terminal);

  // Whole lines of `unit`, to standard error when `error` is set.
  void Print(std::size_t unit, const std::string& text, bool error = false);
  // The unit's status text changed ("Erasing Digital Board Memory."): a line of its own
  // for one unit or without a terminal (unless `printLine` is false), the live line's
  // status with several on one.
  void Status(std::size_t unit, const std::string& text, bool printLine = true);
  // The unit's block pass went on: bytes sent of total, at `rate` bytes a second.
  void Progress(std::size_t unit, std::uint32_t sent, std::uint32_t total, double rate);
  // The unit's block pass is over (or was cut short): one unit's live line ends.
  void EndProgress(std::size_t unit);
  // The unit's run has ended with `result` ("done", "download failed"): its live line
  // says so at once, with no rate, while the others go on.
  void Ended(std::size_t unit, const std::string& result);
  // While a question waits on the terminal nothing is drawn or printed; what came
  // meanwhile follows once it is answered.
  void Pause();
  void Resume();
  // Every unit has ended: the live lines are drawn a last time and left as they are, and
  // everything is written (a paused terminal is waited for).
  void Close();
  // Returns once everything queued so far is on its way to the stream.
  void WaitWritten() { m_writer.Drain(); }

  bool Several() const { return m_rows.size() > 1; }

 private:
  struct Row {
    std::string port;
    std::string status;
    std::uint32_t sent = 0, total = 0;
    double rate = 0;
    bool ended = false;
  };
  bool Live() const { return m_terminal && Several() && !m_closed; }
  void Emit(std::size_t unit, const std::string& text, bool error);  // under the lock
  // Output that nobody takes any more (a closed pipe, a terminal that hung up) is given
  // up: the write failed once, and the units must not pay for it again.
  void Put(std::FILE* stream, const std::string& text);
  // Under the lock, at the end of each call: what it composed goes to the writer, kept.
  void Send();
  // Erases and draws the live lines as one redraw, which a later one may replace while
  // both still wait.
  void Redraw();
  void Erase();
  void Draw();
  std::string RowText(const Row& row) const;

  std::mutex m_lock;
  std::FILE* m_out;
  const bool m_terminal;
  std::vector<Row> m_rows;
  int m_drawn = 0;          // live lines on the screen below the scrolled output
  bool m_lineOpen = false;  // one unit: its progress line waits for its end
  std::size_t m_lineLength = 0;  // the longest text of that line drawn since it opened
  bool m_paused = false;
  bool m_closed = false;
  struct Held {
    std::size_t unit;
    std::string text;
    bool error;
  };
  std::vector<Held> m_held;
  std::chrono::steady_clock::time_point m_lastDraw{};
  struct Piece {
    std::FILE* stream;
    std::string text;
  };
  std::vector<Piece> m_batch;  // what the running call has composed
  COutputWriter m_writer;      // last: its thread ends before the rest goes
};

}  // namespace cvm6
