#include "scripted_host.h"

#include "update/control_ids.h"

namespace cvm6::test {

ScriptedHost::ScriptedHost(const std::string& portItem) {
  m_controls[IDC_PORT_LIST].items = {portItem};
  m_controls[IDC_DEVICE_LIST].items = {"Not Selected", "Corvane M4/M4S"};
  m_controls[IDC_STATUS].text = "Status";  // the template's text, replaced at initialisation
}

void ScriptedHost::SetControlText(int id, const std::string& text) {
  m_controls[id].text = text;
  m_events.push_back({HostEvent::Text, id, text});
  if (m_textHook) m_textHook(id, text);
}

void ScriptedHost::SetListSelection(int id, int index) {
  auto& control = m_controls[id];
  // A list selects nothing for an index it does not hold.
  control.selection = index >= 0 && static_cast<std::size_t>(index) < control.items.size() ? index : -1;
  m_events.push_back({HostEvent::Selection, id, {}, index});
}

std::string ScriptedHost::GetListItemText(int id, int index) {
  const auto& items = m_controls[id].items;
  return index >= 0 && static_cast<std::size_t>(index) < items.size() ? items[static_cast<std::size_t>(index)] : "";
}

void ScriptedHost::EnableControl(int id, bool enable) {
  m_controls[id].enabled = enable;
  m_events.push_back({HostEvent::Enable, id, {}, enable ? 1 : 0});
}

void ScriptedHost::SetProgressRange(int id, int lower, int upper) {
  auto& control = m_controls[id];
  control.lower = lower;
  control.upper = upper;
  if (control.pos < lower || control.pos > upper) control.pos = lower;
  m_events.push_back({HostEvent::Range, id, {}, lower, upper});
}

void ScriptedHost::SetProgressPos(int id, int pos) {
  auto& control = m_controls[id];
  control.pos = pos < control.lower ? control.lower : pos > control.upper ? control.upper : pos;
  m_events.push_back({HostEvent::Pos, id, {}, pos});
}

int ScriptedHost::MessageBox(const std::string& text, MsgIcon icon, MsgButtons buttons) {
  m_boxes.push_back({text, icon, buttons, Clock::now()});
  if (!m_answers.empty()) {
    const int answer = m_answers.front();
    m_answers.pop_front();
    return answer;
  }
  return buttons == MsgButtons::YesNo ? IDYES : IDOK;
}

void ScriptedHost::PumpMessages() {
  m_pumps.push_back({m_controls[IDC_UPDATE].enabled, m_controls[IDC_CLOSE].enabled, m_controls[IDC_CONNECT].enabled});
  if (m_pumpHook) m_pumpHook(static_cast<int>(m_pumps.size()) - 1);
}

std::vector<int> ScriptedHost::Positions(int id) const {
  std::vector<int> out;
  for (const auto& event : m_events)
    if (event.kind == HostEvent::Pos && event.id == id) out.push_back(event.a);
  return out;
}

std::vector<std::string> ScriptedHost::Texts(int id) const {
  std::vector<std::string> out;
  for (const auto& event : m_events)
    if (event.kind == HostEvent::Text && event.id == id && (out.empty() || out.back() != event.text))
      out.push_back(event.text);
  return out;
}

bool ScriptedHost::EverEnabled(int id, bool enable) const {
  for (const auto& event : m_events)
    if (event.kind == HostEvent::Enable && event.id == id && (event.a != 0) == enable) return true;
  return false;
}

}  // namespace cvm6::test
