#pragma once
// The Qt side of a dialog: builds real widgets from a dialog template and carries out the
// window operations of DialogHost on them. Commands (button clicks, Escape, the window
// system's close request, list selection changes) go to one command handler, the way a
// dialog's message map routes them.
//
// Threading rule: the widgets, like the dialog procedure, belong to the GUI thread.
#include <QDialog>
#include <QFont>
#include <QMap>
#include <QString>
#include <atomic>
#include <functional>

#include "platform/dialog.h"
#include "platform/dialog_template.h"

class QAbstractEventDispatcher;
class QMessageBox;
class QWidget;

namespace cvm6 {

enum class Notification { Clicked, SelectionChanged };

class CTemplateDialog : public QDialog, public DialogHost {
 public:
  // A null template leaves an empty window; IsBuilt then says so.
  explicit CTemplateDialog(const DialogTemplate* dialogTemplate, QWidget* parent = nullptr);
  ~CTemplateDialog() override;

  bool IsBuilt() const { return m_template != nullptr; }

  // Where commands go. `canClose` is asked before Escape or the window system's close
  // request are turned into the Cancel command; while it says no, they are refused.
  void SetCommandHandler(std::function<void(int id, Notification)> handler) { m_command = std::move(handler); }
  void SetCloseGuard(std::function<bool()> canClose) { m_canClose = std::move(canClose); }
  // Shows a prepared message box and returns the button pressed. The default runs it
  // modally; tests put in one that reads and answers it.
  void SetMessageBoxRunner(std::function<int(QMessageBox&)> runner) { m_boxRunner = std::move(runner); }

  // Adds an item after those of the template: it shows `text`, GetListItemText gives
  // `name` (the text when empty), and `toolTip` is its tooltip.
  void AddListItem(int id, const QString& text, const QString& toolTip = {}, const QString& name = {});
  // Takes away every item added after those of the template.
  void RemoveAddedListItems(int id);
  // Runs `handler` each time list `id` is about to drop down.
  void SetDropDownHandler(int id, std::function<void()> handler);

  QWidget* Control(int id) const { return m_controls.value(id, nullptr); }
  // Size of one dialog unit in pixels, horizontally and vertically (times 4 and 8).
  int BaseUnitX() const { return m_baseX; }
  int BaseUnitY() const { return m_baseY; }
  QRect DialogUnitsToPixels(int x, int y, int width, int height) const;
  int WaitDepth() const { return m_waitDepth; }
  static QString MessageBoxCaption();

  // DialogHost
  void SetControlText(int id, const std::string& text) override;
  std::string GetControlText(int id) override;
  void SetListSelection(int id, int index) override;
  int GetListSelection(int id) override;
  std::string GetListItemText(int id, int index) override;
  void EnableControl(int id, bool enable) override;
  bool IsControlEnabled(int id) override;
  void SetProgressRange(int id, int lower, int upper) override;
  void SetProgressPos(int id, int pos) override;
  int GetProgressPos(int id) override;
  void BeginWaitCursor() override;
  void EndWaitCursor() override;
  int MessageBox(const std::string& text, MsgIcon icon, MsgButtons buttons) override;
  void EndDialog(int result) override;
  void PumpMessages() override;
  bool HandlesMessagesWhileWaiting() override { return true; }
  void WaitHandlingMessages(std::uint32_t timeoutMs) override;
  void Wake() override;

 protected:
  void reject() override;  // Escape
  void closeEvent(QCloseEvent* event) override;

 private:
  void Build();
  QWidget* MakeControl(const DialogControl& control);
  void Command(int id, Notification what);
  // Shows a change at once: the procedure may not return to the event loop for a while.
  void ShowNow(QWidget* widget);

  const DialogTemplate* m_template;
  QFont m_font;
  int m_baseX = 0, m_baseY = 0;
  QMap<int, QWidget*> m_controls;
  QMap<int, int> m_templateItems;  // by list: how many of its items are the template's
  QMap<int, std::function<void()>> m_dropDown;
  QAbstractEventDispatcher* m_dispatcher;  // the window thread's, which Wake wakes
  std::atomic<bool> m_woken{false};
  int m_waitDepth = 0;
  std::function<void(int, Notification)> m_command;
  std::function<bool()> m_canClose;
  std::function<int(QMessageBox&)> m_boxRunner;
};

// The dialog font of a template: its own face where installed, else a small sans face
// at the same size. A desktop font set larger than usual enlarges it in proportion, and
// with it every dialog unit, so the layout keeps its shape.
QFont DialogFont(const DialogTemplate& dialogTemplate);

}  // namespace cvm6
