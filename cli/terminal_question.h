#pragma once
// The synthetic-image question, asked once per run however many units reach it: the
// first unit asks on the terminal, and the answer holds for every other unit, which
// waits for it meanwhile. While it waits on the terminal, the units' output is held back
// so that the question stays the last thing on the screen.
#include <mutex>
#include <optional>
#include <string>

namespace cvm6 {

class CUnitBoard;

class CTerminalQuestion {
 public:
  CTerminalQuestion(CUnitBoard& board, bool assumeYes) : m_board(board), m_assumeYes(assumeYes) {}

  // True for yes. Throws Interrupted when an interrupt came before or while it waited.
  // `answered` receives how the answer came, for the log.
  bool Ask(std::size_t unit, const std::string& question, std::string& answered);

 private:
  CUnitBoard& m_board;
  const bool m_assumeYes;
  std::mutex m_lock;
  std::optional<bool> m_answer;
};

}  // namespace cvm6
