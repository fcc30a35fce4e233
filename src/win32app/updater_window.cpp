#include "win32app/updater_window.h"

#include <dbt.h>
#include <shellscalingapi.h>

#include <algorithm>
#include <string>
#include <vector>

#include "port/port_list.h"
#include "update/control_ids.h"
#include "win32app/dialog_font.h"
#include "win32app/dialog_init.h"
#include "win32app/port_choices.h"
#include "win32app/wide_text.h"

namespace cvm6 {
namespace {

constexpr int kIconId = 128;

HICON LoadIconAt(HINSTANCE instance, int width, int height) {
  return static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(kIconId), IMAGE_ICON, width, height, LR_DEFAULTCOLOR));
}

// The scales the window is drawn at as it opens: the system's, at which Windows makes
// it, and that of the screen with the cursor, where it is moved to (OnInitDialog).
std::vector<unsigned> ScalesWhereItOpens() {
  std::vector<unsigned> dpis{GetDpiForSystem()};
  POINT cursor{};
  UINT x = 0, y = 0;
  if (GetCursorPos(&cursor) &&
      GetDpiForMonitor(MonitorFromPoint(cursor, MONITOR_DEFAULTTONEAREST), MDT_EFFECTIVE_DPI, &x, &y) == S_OK &&
      y != dpis.front()) {
    dpis.push_back(y);
  }
  return dpis;
}

}  // namespace

CWin32UpdaterWindow::CWin32UpdaterWindow(HINSTANCE instance, UpdateLimits limits, LinkLimits linkLimits)
    : m_instance(instance),
      m_dlg(limits, linkLimits),
      m_icon(LoadIconAt(instance, GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON))),
      m_smallIcon(LoadIconAt(instance, GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON))) {}

CWin32UpdaterWindow::~CWin32UpdaterWindow() {
  m_dlg.AttachHost(nullptr);
  if (m_icon) DestroyIcon(m_icon);
  if (m_smallIcon) DestroyIcon(m_smallIcon);
}

INT_PTR CWin32UpdaterWindow::Run() {
  // Template 102 as it stands, or in a TrueType face where its own cannot be drawn at
  // the screen's scale.
  const auto inFace = DialogForScales(m_instance, m_dlg.TemplateId(), ScalesWhereItOpens());
  const auto self = reinterpret_cast<LPARAM>(this);
  const INT_PTR result =
      inFace ? DialogBoxIndirectParamW(m_instance, reinterpret_cast<LPCDLGTEMPLATEW>(inFace->data()), nullptr,
                                       &DialogProc, self)
             : DialogBoxParamW(m_instance, MAKEINTRESOURCEW(m_dlg.TemplateId()), nullptr, &DialogProc, self);
  m_host.reset();
  m_window = nullptr;
  return result;
}

INT_PTR CALLBACK CWin32UpdaterWindow::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* self = reinterpret_cast<CWin32UpdaterWindow*>(lParam);
    SetWindowLongPtrW(window, DWLP_USER, lParam);
    self->m_window = window;
    return self->OnInitDialog();
  }
  auto* self = reinterpret_cast<CWin32UpdaterWindow*>(GetWindowLongPtrW(window, DWLP_USER));
  return self ? self->OnMessage(message, wParam, lParam) : FALSE;
}

INT_PTR CWin32UpdaterWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT:
      if (!IsIconic(m_window)) return FALSE;  // the dialog manager paints the controls
      OnPaint();
      return TRUE;
    case WM_QUERYDRAGICON:
      // One of the messages whose answer a dialog procedure returns directly.
      return reinterpret_cast<INT_PTR>(m_icon);
    case WM_SETCURSOR:
      if (!m_host || !m_host->OnSetCursor()) return FALSE;
      SetWindowLongPtrW(m_window, DWLP_MSGRESULT, TRUE);
      return TRUE;
    case WM_COMMAND:
      OnCommand(LOWORD(wParam), HIWORD(wParam));
      return TRUE;
    case WM_QUERYENDSESSION:
      // Refused while the unit's flash is being written: the reason given to
      // ShutdownBlockReasonCreate is what Windows shows the user meanwhile.
      SetWindowLongPtrW(m_window, DWLP_MSGRESULT, m_host && !m_host->SessionMayEnd() ? FALSE : TRUE);
      return TRUE;
    case WM_DEVICECHANGE:
      // An adapter plugged in or pulled out: the port list follows at once.
      if (wParam == DBT_DEVICEARRIVAL || wParam == DBT_DEVICEREMOVECOMPLETE) RefreshPortList();
      SetWindowLongPtrW(m_window, DWLP_MSGRESULT, TRUE);
      return TRUE;
    case WM_DESTROY:
      OnDestroy();
      return FALSE;
    default:
      (void)lParam;
      return FALSE;
  }
}

BOOL CWin32UpdaterWindow::OnInitDialog() {
  m_host = std::make_unique<CWin32DialogHost>(m_window);
  // The text fields draw from their left edge to their right, as they do in the
  // template's raster face. In a TrueType face Windows gives them margins from its
  // letters' overhangs, which would cut "Offline" in the 26 units of field 1002.
  for (const int id : {IDC_ONLINE_TEXT, IDC_DEVICE_NAME}) {
    SendDlgItemMessageW(m_window, id, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN, MAKELPARAM(0, 0));
  }
  // The list items of the template (its dialog-initialisation data), as the dialog
  // framework adds them right after the controls are made. Damaged data adds nothing.
  RunDialogInit(m_window, m_instance, m_dlg.TemplateId());
  m_templatePorts.clear();
  for (int i = 0;; ++i) {
    const std::string item = m_host->GetListItemText(IDC_PORT_LIST, i);
    if (item.empty()) break;
    m_templatePorts.push_back(item);
  }
  m_host->SetAddedListItems(IDC_PORT_LIST, PortsToAdd(m_templatePorts, ListSerialPorts()));
  m_dlg.AttachHost(m_host.get());
  // Writes the variables over the template's texts, sets the total bar's range and
  // disables Update.
  const bool focusToFirst = m_dlg.OnInitDialog();
  SendMessageW(m_window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_icon));
  SendMessageW(m_window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_smallIcon ? m_smallIcon : m_icon));
  CentreOnCursorScreen();
  // Update, the first control, is disabled now: the dialog manager gives the focus to
  // the first control that can take it, which is Close.
  return focusToFirst ? TRUE : FALSE;
}

// The template places the window at 0,0 of the desktop; it opens in the middle of the
// screen the technician is looking at, the one with the mouse on it.
void CWin32UpdaterWindow::CentreOnCursorScreen() {
  POINT cursor{};
  GetCursorPos(&cursor);
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  if (!GetMonitorInfoW(MonitorFromPoint(cursor, MONITOR_DEFAULTTONEAREST), &monitor)) return;
  const RECT& work = monitor.rcWork;
  RECT window;
  GetWindowRect(m_window, &window);
  const int width = window.right - window.left, height = window.bottom - window.top;
  const int x = std::max(work.left, work.left + (work.right - work.left - width) / 2);
  const int y = std::max(work.top, work.top + (work.bottom - work.top - height) / 2);
  SetWindowPos(m_window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// The ports as the system has them now, the chosen one kept by its name; one that went
// away leaves nothing chosen, so Connect cannot open another port in its place.
void CWin32UpdaterWindow::RefreshPortList() {
  if (!m_host) return;
  const int chosen = m_host->GetListSelection(IDC_PORT_LIST);
  const std::string name = chosen >= 0 ? m_host->GetListItemText(IDC_PORT_LIST, chosen) : "";
  m_host->SetAddedListItems(IDC_PORT_LIST, PortsToAdd(m_templatePorts, ListSerialPorts()));
  int index = -1;
  for (int i = 0; !name.empty(); ++i) {
    const std::string item = m_host->GetListItemText(IDC_PORT_LIST, i);
    if (item.empty()) break;
    if (SamePort(item, name)) {
      index = i;
      break;
    }
  }
  SendDlgItemMessageW(m_window, IDC_PORT_LIST, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  m_dlg.OnPortListChanged();
}

// The window's command map.
void CWin32UpdaterWindow::OnCommand(int id, int notification) {
  if (id == IDC_DEVICE_LIST) {
    if (notification == CBN_SELCHANGE) m_dlg.OnSelchangeDevice();
    return;
  }
  if (id == IDC_PORT_LIST) {
    if (notification == CBN_DROPDOWN) RefreshPortList();
    return;
  }
  if (notification != BN_CLICKED) return;
  switch (id) {
    case IDC_CONNECT:
      if (m_host->IsControlEnabled(IDC_CONNECT)) m_dlg.OnConnect();
      break;
    case IDOK:
      // Enter reaches here as IDOK only while Update, the default button, is enabled;
      // a command that is already running (the block loop pumps messages) is not
      // started a second time.
      if (m_host->IsControlEnabled(IDC_UPDATE) && !m_dlg.IsCommandRunning()) m_dlg.OnUpdate();
      break;
    case IDCANCEL:
      // Close, Escape, Alt+F4 and the title bar's close box all arrive as IDCANCEL.
      // While a command runs the window refuses them: the procedure is still inside
      // the command, which holds the port and the link, and must end it first.
      if (!m_dlg.IsCommandRunning()) m_dlg.OnCancel();
      break;
    default:
      break;
  }
}

// Minimized, the window shows icon 128 centred in its client area.
void CWin32UpdaterWindow::OnPaint() {
  PAINTSTRUCT paint;
  const HDC dc = BeginPaint(m_window, &paint);
  SendMessageW(m_window, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  RECT client;
  GetClientRect(m_window, &client);
  const int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
  const int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
  DrawIcon(dc, x, y, m_icon);
  EndPaint(m_window, &paint);
}

// Whenever the dialog ends: the link stops, then the port is deleted.
void CWin32UpdaterWindow::OnDestroy() {
  if (m_host) m_host->SetDestroying();
  m_dlg.OnDestroy();
  m_dlg.AttachHost(nullptr);
}

}  // namespace cvm6
