#include "app/updater_window.h"

#include <QCursor>
#include <QGuiApplication>
#include <QIcon>
#include <QScreen>

#include "platform/resources.h"
#include "port/port_list.h"
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
  // The ports as cvm6-flash --list-ports has them (sorted by path), so that the window
  // and the flasher name an adapter alike.
  for (const SerialPortInfo& info : ListSerialPorts()) {
    const QString path = QString::fromStdString(info.path);
    if (seen.contains(path)) continue;
    seen << path;
    const QString description = QString::fromStdString(info.description);
    const QString maker = QString::fromStdString(info.manufacturer);
    ExtraPort port{path, description, false, QString::fromStdString(info.serialNumber), description};
    if (!maker.isEmpty() && !description.contains(maker)) port.toolTip += QStringLiteral(" (%1)").arg(maker);
    if (info.IsUsb()) {
      QString name = QStringLiteral("usb:%1:%2")
                         .arg(*info.vendorId, 4, 16, QLatin1Char('0'))
                         .arg(*info.productId, 4, 16, QLatin1Char('0'));
      if (!port.serialNumber.isEmpty()) name += u':' + port.serialNumber;
      port.toolTip += (port.toolTip.isEmpty() ? QString() : QStringLiteral("\n")) + name;
    }
    ports.append(port);
  }
  for (const QString& entry : qEnvironmentVariable("CVM6_PORTS").split(u':', Qt::SkipEmptyParts)) {
    const QString path = entry.trimmed();
    if (path.isEmpty() || seen.contains(path)) continue;
    seen << path;
    ports.append({path, QStringLiteral("listed in CVM6_PORTS"), true, {}, QStringLiteral("listed in CVM6_PORTS")});
  }
  return ports;
}

CUpdaterWindow::CUpdaterWindow(UpdateLimits limits, LinkLimits linkLimits)
    : m_dlg(limits, linkLimits), m_window(FindDialogTemplate(static_cast<std::uint16_t>(m_dlg.TemplateId()))) {
  // Icon 128 is the window's large and small icon. Drawing it in place of a minimized
  // window and as the drag image of one is the window system's work under Qt; the
  // program only hands it the icon.
  m_window.setWindowIcon(UpdaterIcon());
  for (int i = 0;; ++i) {
    const std::string item = m_window.GetListItemText(IDC_PORT_LIST, i);
    if (item.empty()) break;
    m_templatePorts << QString::fromStdString(item);
  }
  AddExtraPorts();
  m_window.SetDropDownHandler(IDC_PORT_LIST, [this] { RefreshPortList(); });
  m_window.SetCommandHandler([this](int id, Notification what) { OnCommand(id, what); });
  m_window.SetCloseGuard([this] { return !m_dlg.IsCommandRunning(); });
}

CUpdaterWindow::~CUpdaterWindow() { m_dlg.AttachHost(nullptr); }

// An adapter's description follows its path; ports of CVM6_PORTS carry theirs only as
// tooltip, their paths being what the one who listed them knows them by.
void CUpdaterWindow::AddExtraPorts() {
  for (const ExtraPort& port : ExtraPorts(m_templatePorts)) {
    QString text = port.listed || port.description.isEmpty() ? port.path : port.path + " - " + port.description;
    // Two adapters of one kind differ by their serial number alone.
    if (!port.serialNumber.isEmpty()) text += QStringLiteral(" (%1)").arg(port.serialNumber);
    m_window.AddListItem(IDC_PORT_LIST, text, port.toolTip, port.path);
  }
}

// The ports as the system has them now, the chosen one kept by its path; one that went
// away leaves nothing chosen, so Connect cannot open another port in its place.
void CUpdaterWindow::RefreshPortList() {
  const int chosen = m_window.GetListSelection(IDC_PORT_LIST);
  const std::string name = chosen >= 0 ? m_window.GetListItemText(IDC_PORT_LIST, chosen) : "";
  m_window.RemoveAddedListItems(IDC_PORT_LIST);
  AddExtraPorts();
  int index = -1;
  for (int i = 0; !name.empty(); ++i) {
    const std::string item = m_window.GetListItemText(IDC_PORT_LIST, i);
    if (item.empty()) break;
    if (item == name) {
      index = i;
      break;
    }
  }
  m_window.SetListSelection(IDC_PORT_LIST, index);
  m_dlg.OnPortListChanged();
}

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
  // In the middle of the screen the technician is looking at, the one with the mouse.
  QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
  if (!screen) screen = QGuiApplication::primaryScreen();
  if (screen) {
    const QRect area = screen->availableGeometry();
    m_window.move(area.center() - QPoint(m_window.width() / 2, m_window.height() / 2));
  }
  const int result = m_window.exec();
  m_dlg.OnDestroy();
  return result;
}

}  // namespace cvm6
