#include "platform/dialog.h"

#include "platform/resources.h"

namespace cvm6 {

void DDX_CBIndex(CDataExchange& dx, int id, int& index) {
  if (dx.m_bSaveAndValidate)
    index = dx.m_host.GetListSelection(id);
  else
    dx.m_host.SetListSelection(id, index);
}

void DDX_Text(CDataExchange& dx, int id, std::string& text) {
  if (dx.m_bSaveAndValidate)
    text = dx.m_host.GetControlText(id);
  else
    dx.m_host.SetControlText(id, text);
}

void DDX_Control(CDataExchange& dx, int id, CProgressCtrl& control) { control.Attach(&dx.m_host, id); }
void DDX_Control(CDataExchange& dx, int id, CComboBox& control) { control.Attach(&dx.m_host, id); }

void CProgressCtrl::SetRange(int lower, int upper) {
  if (m_host) m_host->SetProgressRange(m_id, lower, upper);
}
void CProgressCtrl::SetPos(int pos) {
  if (m_host) m_host->SetProgressPos(m_id, pos);
}
int CProgressCtrl::GetPos() const { return m_host ? m_host->GetProgressPos(m_id) : 0; }

bool CDialog::UpdateData(bool saveAndValidate) {
  if (!m_host) return false;
  CDataExchange dx(*m_host, saveAndValidate);
  DoDataExchange(dx);
  return true;
}

bool CDialog::OnInitDialog() {
  UpdateData(false);
  return true;
}

void CDialog::EndDialog(int result) {
  if (m_host) m_host->EndDialog(result);
}
void CDialog::EnableControl(int id, bool enable) {
  if (m_host) m_host->EnableControl(id, enable);
}
int CDialog::MessageBoxPrompt(std::uint32_t promptId, MsgIcon icon, MsgButtons buttons) {
  return MessageBoxText(LoadResString(promptId).value_or(""), icon, buttons);
}
int CDialog::MessageBoxText(const std::string& text, MsgIcon icon, MsgButtons buttons) {
  return m_host ? m_host->MessageBox(text, icon, buttons) : IDCANCEL;
}
void CDialog::BeginWaitCursor() {
  if (m_host) m_host->BeginWaitCursor();
}
void CDialog::EndWaitCursor() {
  if (m_host) m_host->EndWaitCursor();
}
void CDialog::PumpMessages() {
  if (m_host) m_host->PumpMessages();
}

}  // namespace cvm6
