#pragma once
// A DialogHost that plays the window for the tests: it keeps every control's state so
// that reads return what was written, records every change and every message box in
// order, and answers the boxes from a script (OK or Yes when the script is empty).
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/dialog.h"

namespace cvm6::test {

using Clock = std::chrono::steady_clock;

struct ControlState {
  std::string text;
  int selection = -1;
  std::vector<std::string> items;
  bool enabled = true;
  int lower = 0, upper = 100, pos = 0;
};

struct HostEvent {
  enum Kind { Text, Selection, Enable, Range, Pos } kind;
  int id;
  std::string text;  // Text
  int a = 0, b = 0;  // Selection: index; Enable: 0/1; Range: lower, upper; Pos: pos
};

struct MessageBoxShown {
  std::string text;
  MsgIcon icon;
  MsgButtons buttons;
  Clock::time_point when;
};

// What the three buttons looked like when the window processed its messages.
struct PumpSnapshot {
  bool update, close, connect;
};

class ScriptedHost : public DialogHost {
 public:
  // `portItem` is item 0 of the port list (control 1000), normally a pty's slave path.
  explicit ScriptedHost(const std::string& portItem);

  void SetControlText(int id, const std::string& text) override;
  std::string GetControlText(int id) override { return m_controls[id].text; }
  void SetListSelection(int id, int index) override;
  int GetListSelection(int id) override { return m_controls[id].selection; }
  std::string GetListItemText(int id, int index) override;
  void EnableControl(int id, bool enable) override;
  bool IsControlEnabled(int id) override { return m_controls[id].enabled; }
  void SetProgressRange(int id, int lower, int upper) override;
  void SetProgressPos(int id, int pos) override;
  int GetProgressPos(int id) override { return m_controls[id].pos; }
  void BeginWaitCursor() override { ++m_waitDepth; }
  void EndWaitCursor() override { --m_waitDepth; }
  int MessageBox(const std::string& text, MsgIcon icon, MsgButtons buttons) override;
  void EndDialog(int result) override { m_endResult = result; }
  void PumpMessages() override;

  // The user picks an item without a handler running (the test calls the handler).
  void UserSelects(int id, int index) { m_controls[id].selection = index; }
  void AnswerNext(int answer) { m_answers.push_back(answer); }
  // Runs at every PumpMessages, with the number of the pump (0 first).
  void OnPump(std::function<void(int)> hook) { m_pumpHook = std::move(hook); }
  // Runs whenever a control's text is written, with the control and the text.
  void OnText(std::function<void(int, const std::string&)> hook) { m_textHook = std::move(hook); }

  const ControlState& Control(int id) { return m_controls[id]; }
  const std::vector<HostEvent>& Events() const { return m_events; }
  const std::vector<MessageBoxShown>& Boxes() const { return m_boxes; }
  const std::vector<PumpSnapshot>& Pumps() const { return m_pumps; }
  std::optional<int> EndResult() const { return m_endResult; }
  int WaitDepth() const { return m_waitDepth; }
  void ClearEvents() { m_events.clear(); }

  // Every position written to one progress bar, in order.
  std::vector<int> Positions(int id) const;
  // Every text written to one control, with repeats of the same text folded.
  std::vector<std::string> Texts(int id) const;
  // Whether the control was ever switched on (or off) in the recorded events.
  bool EverEnabled(int id, bool enable) const;

 private:
  std::map<int, ControlState> m_controls;
  std::vector<HostEvent> m_events;
  std::vector<MessageBoxShown> m_boxes;
  std::vector<PumpSnapshot> m_pumps;
  std::deque<int> m_answers;
  std::function<void(int)> m_pumpHook;
  std::function<void(int, const std::string&)> m_textHook;
  std::optional<int> m_endResult;
  int m_waitDepth = 0;
};

}  // namespace cvm6::test
