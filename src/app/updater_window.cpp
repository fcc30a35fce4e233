#include "app/updater_window.h"

#include <QIcon>
#include <QSerialPortInfo>
#include <algorithm>

#include "platform/resources.h"
#include "port/serial_port.h"
#include "update/control_ids.h"

static void LoadIconResources() { Q_INIT_RESOURCE(cvm6_updater); }

namespace cvm6 {

QIcon UpdaterIcon() {
  LoadIconResources();
  QIcon icon;
  for (int size : {16, 32, 48, 64, 128, 256})
    icon.addFile(QStringLiteral(":/icons/cvm6-updater-%1.png").arg(size), QSize(size, size));
  return icon;
}

QList<ExtraPort> ExtraPorts(const QStringList& listed) {
  QStringList seen;
  for (const QString& name : listed) seen << QString::fromStdString(MapPortName(name.toStdString()));
  QList<ExtraPort> ports;
  QList<QSerialPortInfo> found = QSerialPortInfo::availablePorts();
  std::sort(found.begin(), found.end(), [](const QSerialPortInfo& a, const QSerialPortInfo& b) {
    return a.systemLocation() < b.systemLocation();
  });
  for (const QSerialPortInfo& info : found) {
    if (seen.contains(info.systemLocation())) continue;
    seen << info.systemLocation();
    ports.append({info.systemLocation(), info.description()});
  }
  for (const QString& entry : qEnvironmentVariable("CVM6_PORTS").split(u':', Qt::SkipEmptyParts)) {
    const QString path = entry.trimmed();
    if (path.isEmpty() || seen.contains(path)) continue;
    seen << path;
    ports.append({path, QStringLiteral("listed in CVM6_PORTS")});
  }
  return ports;
}

CUpdaterWindow::CUpdaterWindow(UpdateLimits limits, LinkLimits linkLimits)
    : m_dlg(limits, linkLimits), m_window(FindDialogTemplate(static_cast<std::uint16_t>(m_dlg.TemplateId()))) {
  // Icon 128 is the window's large and small icon. Drawing it in place of a minimized
  // window and as the drag image of one is the window system's work under Qt; the
  // program only hands it the icon.
  m_window.setWindowIcon(UpdaterIcon());
  QStringList listed;
  for (int i = 0;; ++i) {
    const std::string item = m_window.GetListItemText(IDC_PORT_LIST, i);
    if (item.empty()) break;
    listed << QString::fromStdString(item);
  }
  for (const ExtraPort& port : ExtraPorts(listed)) m_window.AddListItem(IDC_PORT_LIST, port.path, port.description);
  m_window.SetCommandHandler([this](int id, Notification what) { OnCommand(id, what); });
  m_window.SetCloseGuard([this] { return !m_dlg.IsCommandRunning(); });
}

CUpdaterWindow::~CUpdaterWindow() { m_dlg.AttachHost(nullptr); }

// The window's command map.
void CUpdaterWindow::OnCommand(int id, Notification what) {
  if (what == Notification::SelectionChanged) {
    if (id == IDC_DEVICE_LIST) m_dlg.OnSelchangeDevice();
    return;
  }
  switch (id) {
    case IDC_CONNECT: m_dlg.OnConnect(); break;
    case IDC_UPDATE: m_dlg.OnUpdate(); break;
    case IDC_CLOSE: m_dlg.OnCancel(); break;
    default: break;
  }
}

int CUpdaterWindow::Run() {
  if (!m_window.IsBuilt()) return -1;
  m_dlg.AttachHost(&m_window);
  m_dlg.OnInitDialog();
  const int result = m_window.exec();
  m_dlg.OnDestroy();
  return result;
}

}  // namespace cvm6
