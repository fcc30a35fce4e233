#pragma once
// The updater's window on Qt: CUpdaterDlg (the procedure) shown through a CTemplateDialog
// built from template 102, with the window's commands routed to the procedure's handlers.
#include <QString>
#include <QStringList>

#include "app/template_dialog.h"
#include "update/updater_dlg.h"

namespace cvm6 {

class CUpdaterWindow {
 public:
  explicit CUpdaterWindow(UpdateLimits limits = {}, LinkLimits linkLimits = {});
  ~CUpdaterWindow();
  CUpdaterWindow(const CUpdaterWindow&) = delete;
  CUpdaterWindow& operator=(const CUpdaterWindow&) = delete;

  // Initialises the window, runs it modally and destroys it (the link stops, the port
  // closes). Returns the dialog's result: 1 after a completed update, 2 after Close,
  // -1 when the template is missing.
  int Run();

  CUpdaterDlg& Dialog() { return m_dlg; }
  CTemplateDialog& Window() { return m_window; }
  // Reads the port list again; the window does it each time the list drops down.
  void RefreshPortList();

 private:
  void OnCommand(int id, Notification what);
  void AddExtraPorts();

  CUpdaterDlg m_dlg;  // outlives the widgets
  CTemplateDialog m_window;
  QStringList m_templatePorts;  // the port list's items from the template
};

// Ports listed after "COM1".."COM4": every other serial port found on the system (its
// path and the adapter's description), then the paths in CVM6_PORTS
// (colon-separated). Paths already listed are not listed again.
struct ExtraPort {
  QString path;
  QString description;
  bool listed = false;  // from CVM6_PORTS
  QString serialNumber;  // the adapter's, "" when it has none
  QString toolTip;       // the description, the maker, and the usb: name cvm6-flash takes
};
QList<ExtraPort> ExtraPorts(const QStringList& listed);

// The program's icon in all its sizes.
QIcon UpdaterIcon();

}  // namespace cvm6
