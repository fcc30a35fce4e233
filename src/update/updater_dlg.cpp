// The window part of CUpdaterDlg: construction, data exchange, initialisation,
// destruction, the device-list handler and the shared failure paths.
#include "update/updater_dlg.h"

#include <new>

#include "platform/failure.h"
#include "port/serial_port.h"
#include "update/control_ids.h"

namespace cvm6 {

CUpdaterDlg::CUpdaterDlg(UpdateLimits limits, LinkLimits linkLimits)
    : CDialog(IDD_UPDATER), CNetworkNode(linkLimits), m_limits(limits) {}

CUpdaterDlg::~CUpdaterDlg() {
  // The link's threads use the port: stop them before the port goes. The host may be
  // gone by now: nothing wakes it any more.
  m_link.SetReceiveNotifier(nullptr);
  m_link.Stop();
  delete m_port;
  m_port = nullptr;
}

void CUpdaterDlg::DoDataExchange(CDataExchange& dx) {
  DDX_Control(dx, IDC_TOTAL_PROGRESS, m_totalProgress);
  DDX_Control(dx, IDC_DEVICE_LIST, m_deviceList);
  DDX_Control(dx, IDC_BLOCK_PROGRESS, m_blockProgress);
  DDX_CBIndex(dx, IDC_PORT_LIST, m_portChoice);
  DDX_CBIndex(dx, IDC_DEVICE_LIST, m_deviceChoice);
  DDX_Text(dx, IDC_STATUS, m_statusText);
  DDX_Text(dx, IDC_ONLINE_TEXT, m_onlineText);
  DDX_Text(dx, IDC_DEVICE_NAME, m_deviceNameText);
}

bool CUpdaterDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  // The window's icons are set by the host, which owns the window.
  m_totalProgress.SetRange(0, 159);
  m_totalProgress.SetPos(0);
  EnableControl(IDC_UPDATE, false);
  return true;
}

void CUpdaterDlg::OnDestroy() {
  CDialog::OnDestroy();
  StopLink();
  if (m_port) {
    delete m_port;
    m_port = nullptr;
  }
}

void CUpdaterDlg::OnSelchangeDevice() {
  if (m_commandRunning) return;  // see IsCommandRunning
  if (m_deviceSeen) {
    UpdateData(true);
    EnableControl(IDC_UPDATE, m_deviceChoice != 0);
  } else {
    EnableControl(IDC_UPDATE, false);
  }
}

void CUpdaterDlg::OnPortListChanged() {
  if (Host()) m_portChoice = Host()->GetListSelection(IDC_PORT_LIST);
}

void CUpdaterDlg::ShowStatus(const std::string& text) {
  m_statusText = text;
  UpdateData(false);
}

void CUpdaterDlg::StopLink() {
  DialogHost* host = Host();
  if (host && host->HandlesMessagesWhileWaiting() && m_link.IsStarted()) {
    m_link.RequestStop();
    // The threads' ends call the receive notifier; the slice only guards against a
    // notifier that was never set.
    while (!m_link.ThreadsEnded()) host->WaitHandlingMessages(100);
  }
  m_link.Stop();
  m_link.SetReceiveNotifier(nullptr);
}

void CUpdaterDlg::DropConnection() {
  StopLink();
  if (m_port) {
    delete m_port;
    m_port = nullptr;
  }
}

// A failure code from the layers below (a port, link, queue or node failure) reached a
// command: say which, tear the connection down, and leave Close as the one way on.
void CUpdaterDlg::ReportFailureCode(int code) {
  m_result = UpdateResult::kCommunicationError;
  MessageBoxText("Communication error " + std::to_string(code) + ": " + DescribeCode(code) + ".", MsgIcon::Stop);
  DropConnection();
  EnableControl(IDC_UPDATE, false);
  EnableControl(IDC_CONNECT, false);
  EnableControl(IDC_CLOSE, true);
}

void CUpdaterDlg::OnPortUnusable(const CFailure& failure) { ReportFailureCode(failure.code()); }

bool CUpdaterDlg::ConfirmSyntheticImage() {
  return MessageBoxText(kSyntheticImageQuestion, MsgIcon::Question, MsgButtons::YesNo) == IDYES;
}

}  // namespace cvm6
