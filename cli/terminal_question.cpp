#include "terminal_question.h"

#include "console_io.h"
#include "unit_board.h"

namespace cvm6 {

bool CTerminalQuestion::Ask(std::size_t unit, const std::string& question, std::string& answered) {
  std::lock_guard<std::mutex> guard(m_lock);
  if (InterruptRequested()) throw Interrupted{};
  if (m_answer) {
    answered = *m_answer ? "Yes (answered for an earlier unit)" : "No (answered for an earlier unit)";
    return *m_answer;
  }
  if (m_assumeYes) {
    answered = "Yes (--yes)";
    m_board.Print(unit, question + "\n" + answered);
    m_answer = true;
    return true;
  }
  m_board.Pause();
  const TerminalAnswer answer = AskOnTerminal(question);
  m_board.Resume();
  switch (answer) {
    case TerminalAnswer::kYes: answered = "Yes"; break;
    case TerminalAnswer::kNo: answered = "No"; break;
    case TerminalAnswer::kInterrupted: answered = "interrupted"; throw Interrupted{};
    case TerminalAnswer::kNoTerminal:
      answered = "No (no terminal to ask on)";
      m_board.Print(unit, question + "\nThere is no terminal to ask on, so the answer is No; --yes confirms.", true);
      break;
  }
  m_answer = answer == TerminalAnswer::kYes;
  return *m_answer;
}

}  // namespace cvm6
