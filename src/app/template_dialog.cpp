#include "app/template_dialog.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QCloseEvent>
#include <QDeadlineTimer>
#include <QTimer>
#include <QAbstractItemView>
#include <QComboBox>
#include <QCoreApplication>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>
#include <exception>

namespace cvm6 {
namespace {

// The point size most desktops use for their general font; a larger one means the user
// wants larger text everywhere.
constexpr double kUsualDesktopPointSize = 9.0;
constexpr const char* kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

int MulDiv(int value, int numerator, int denominator) {
  const long long product = static_cast<long long>(value) * numerator;
  return static_cast<int>((product >= 0 ? product + denominator / 2 : product - denominator / 2) / denominator);
}

// A drop-down list that says when it is about to drop down (the port list is read
// again then, so that it shows the adapters plugged in now).
class CDropDownList : public QComboBox {
 public:
  CDropDownList(QWidget* parent, const QMap<int, std::function<void()>>& handlers, int id)
      : QComboBox(parent), m_handlers(handlers), m_id(id) {}
  void showPopup() override {
    if (const auto handler = m_handlers.find(m_id); handler != m_handlers.end() && *handler) (*handler)();
    QComboBox::showPopup();
  }

 private:
  const QMap<int, std::function<void()>>& m_handlers;
  int m_id;
};

}  // namespace

QFont DialogFont(const DialogTemplate& dialogTemplate) {
  const QFont desktop = QApplication::font();
  const double desktopSize = desktop.pointSizeF() > 0 ? desktop.pointSizeF() : kUsualDesktopPointSize;
  const double scale = std::max(1.0, desktopSize / kUsualDesktopPointSize);
  QFont font = desktop;
  const QString face = QString::fromUtf8(dialogTemplate.fontName);
  if (QFontDatabase::families().contains(face, Qt::CaseInsensitive)) {
    font = QFont(face);
  } else {
    font.setStyleHint(QFont::SansSerif);
  }
  font.setPointSizeF(dialogTemplate.fontPointSize * scale);
  return font;
}

CTemplateDialog::CTemplateDialog(const DialogTemplate* dialogTemplate, QWidget* parent)
    : QDialog(parent), m_template(dialogTemplate), m_dispatcher(QAbstractEventDispatcher::instance()) {
  if (m_template) Build();
}

CTemplateDialog::~CTemplateDialog() {
  while (m_waitDepth > 0) EndWaitCursor();
}

QRect CTemplateDialog::DialogUnitsToPixels(int x, int y, int width, int height) const {
  return QRect(MulDiv(x, m_baseX, 4), MulDiv(y, m_baseY, 8), MulDiv(width, m_baseX, 4), MulDiv(height, m_baseY, 8));
}

QString CTemplateDialog::MessageBoxCaption() {
  return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
}

void CTemplateDialog::Build() {
  const DialogTemplate& t = *m_template;
  setWindowTitle(QString::fromUtf8(t.title));
  Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::MSWindowsFixedSizeDialogHint;
  if (t.style & kWindowCaption) flags |= Qt::WindowTitleHint;
  if (t.style & kWindowSystemMenu) flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
  if (t.style & kWindowMinimizeBox) flags |= Qt::WindowMinimizeButtonHint;
  if (t.style & kWindowMaximizeBox) flags |= Qt::WindowMaximizeButtonHint;
  setWindowFlags(flags);

  // Dialog units as they are defined: a quarter of the font's average character width
  // (over the 52 letters, rounded) and an eighth of its character height.
  m_font = DialogFont(t);
  setFont(m_font);
  const QFontMetrics metrics(m_font);
  m_baseX = (metrics.horizontalAdvance(QString::fromLatin1(kAlphabet)) / 26 + 1) / 2;
  m_baseY = metrics.height();
  setFixedSize(DialogUnitsToPixels(0, 0, t.width, t.height).size());

  // Template order is the tab order; hidden controls keep their place and are skipped.
  QWidget* previous = nullptr;
  for (const DialogControl& control : t.controls) {
    QWidget* widget = MakeControl(control);
    if (!control.shown) widget->hide();
    if (control.id != kNoControlId) m_controls.insert(control.id, widget);
    if (widget->focusPolicy() & Qt::TabFocus) {
      if (previous) setTabOrder(previous, widget);
      previous = widget;
    }
  }
  for (const DialogListItems& list : t.lists) {
    auto* combo = qobject_cast<QComboBox*>(Control(list.controlId));
    if (!combo) continue;
    for (const char* item : list.items) combo->addItem(QString::fromUtf8(item));
    m_templateItems[list.controlId] = combo->count();
    combo->setCurrentIndex(-1);  // nothing is selected until the dialog selects it
  }
}

QWidget* CTemplateDialog::MakeControl(const DialogControl& control) {
  const QString text = QString::fromUtf8(control.text);
  const int id = control.id;
  const bool tabStop = control.style & kStyleTabStop;
  QRect geometry = DialogUnitsToPixels(control.x, control.y, control.width, control.height);
  QWidget* widget = nullptr;
  switch (control.kind) {
    case ControlKind::PushButton: {
      auto* button = new QPushButton(text, this);
      // Enter always means the default button, whichever button has the focus; Space
      // presses the focused one.
      button->setAutoDefault(false);
      button->setDefault(control.style & kStyleDefault);
      connect(button, &QPushButton::clicked, this, [this, id] { Command(id, Notification::Clicked); });
      widget = button;
      break;
    }
    case ControlKind::GroupBox:
      widget = new QGroupBox(text, this);
      break;
    case ControlKind::Label: {
      auto* label = new QLabel(text, this);
      label->setTextFormat(Qt::PlainText);
      label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
      widget = label;
      break;
    }
    case ControlKind::ComboBox: {
      auto* combo = new CDropDownList(this, m_dropDown, id);
      combo->setMaxVisibleItems(8);
      // The template's height includes the dropped-down list; the closed field is as
      // high as the font needs, within the height of the buttons beside it.
      geometry.setHeight(std::min(combo->sizeHint().height(), DialogUnitsToPixels(0, 0, 0, 14).height()));
      connect(combo, &QComboBox::activated, this, [this, id] { Command(id, Notification::SelectionChanged); });
      // The closed field may be too narrow for its text; the tooltip has it whole.
      connect(combo, &QComboBox::currentTextChanged, combo, [combo](const QString& current) { combo->setToolTip(current); });
      widget = combo;
      break;
    }
    case ControlKind::ProgressBar: {
      auto* bar = new QProgressBar(this);
      bar->setTextVisible(false);
      bar->setRange(0, 100);
      bar->setValue(0);
      widget = bar;
      break;
    }
    case ControlKind::Edit: {
      auto* edit = new QLineEdit(text, this);
      edit->setReadOnly(control.style & kStyleReadOnly);
      edit->setFrame(control.style & kStyleBorder);
      if (edit->isReadOnly()) {
        // Read-only fields look like the window behind them, as the user expects.
        QPalette palette = edit->palette();
        palette.setColor(QPalette::Base, palette.color(QPalette::Window));
        edit->setPalette(palette);
      }
      widget = edit;
      break;
    }
  }
  if (control.kind == ControlKind::PushButton || control.kind == ControlKind::ComboBox ||
      control.kind == ControlKind::Edit)
    widget->setFocusPolicy(tabStop ? Qt::StrongFocus : Qt::ClickFocus);
  else
    widget->setFocusPolicy(Qt::NoFocus);
  widget->setGeometry(geometry);
  return widget;
}

void CTemplateDialog::AddListItem(int id, const QString& text, const QString& toolTip, const QString& name) {
  auto* combo = qobject_cast<QComboBox*>(Control(id));
  if (!combo) return;
  combo->addItem(text, name.isEmpty() ? text : name);
  if (!toolTip.isEmpty()) combo->setItemData(combo->count() - 1, toolTip, Qt::ToolTipRole);
  // A system path is longer than the closed field: the open list shows it whole.
  const int needed = combo->fontMetrics().horizontalAdvance(text) + 4 * m_baseX;
  if (combo->view()->minimumWidth() < needed) combo->view()->setMinimumWidth(needed);
}

void CTemplateDialog::RemoveAddedListItems(int id) {
  auto* combo = qobject_cast<QComboBox*>(Control(id));
  if (!combo) return;
  while (combo->count() > m_templateItems.value(id, 0)) combo->removeItem(combo->count() - 1);
}

void CTemplateDialog::SetDropDownHandler(int id, std::function<void()> handler) { m_dropDown[id] = std::move(handler); }

void CTemplateDialog::Command(int id, Notification what) {
  if (!m_command) {
    if (what == Notification::Clicked && (id == IDOK || id == IDCANCEL)) done(id);
    return;
  }
  // An exception must not unwind through Qt's event handling: say what it was and carry on.
  try {
    m_command(id, what);
  } catch (const std::exception& error) {
    MessageBox(std::string("Unexpected error: ") + error.what(), MsgIcon::Stop, MsgButtons::Ok);
  } catch (...) {
    MessageBox("Unexpected error.", MsgIcon::Stop, MsgButtons::Ok);
  }
}

// Escape and the window system's close request are the Cancel command. While a command
// runs they are refused: the window pumps its events between blocks, and closing it then
// would tear it down under the running download.
void CTemplateDialog::reject() {
  if (m_canClose && !m_canClose()) return;
  if (QWidget* cancel = Control(IDCANCEL); cancel && !cancel->isEnabled()) return;
  Command(IDCANCEL, Notification::Clicked);
}

void CTemplateDialog::closeEvent(QCloseEvent* event) {
  event->ignore();
  reject();
}

void CTemplateDialog::ShowNow(QWidget* widget) {
  if (widget->isVisible()) widget->repaint();
}

void CTemplateDialog::SetControlText(int id, const std::string& text) {
  QWidget* widget = Control(id);
  const QString value = QString::fromStdString(text);
  if (auto* label = qobject_cast<QLabel*>(widget)) {
    if (label->text() == value) return;
    label->setText(value);
  } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
    if (edit->text() == value) return;
    edit->setText(value);
    edit->setCursorPosition(0);
  } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
    button->setText(value);
  } else if (auto* group = qobject_cast<QGroupBox*>(widget)) {
    group->setTitle(value);
  } else {
    return;
  }
  ShowNow(widget);
}

std::string CTemplateDialog::GetControlText(int id) {
  QWidget* widget = Control(id);
  if (auto* label = qobject_cast<QLabel*>(widget)) return label->text().toStdString();
  if (auto* edit = qobject_cast<QLineEdit*>(widget)) return edit->text().toStdString();
  if (auto* button = qobject_cast<QAbstractButton*>(widget)) return button->text().toStdString();
  if (auto* group = qobject_cast<QGroupBox*>(widget)) return group->title().toStdString();
  if (auto* combo = qobject_cast<QComboBox*>(widget)) return combo->currentText().toStdString();
  return "";
}

void CTemplateDialog::SetListSelection(int id, int index) {
  auto* combo = qobject_cast<QComboBox*>(Control(id));
  if (!combo) return;
  combo->setCurrentIndex(index >= 0 && index < combo->count() ? index : -1);
  ShowNow(combo);
}

int CTemplateDialog::GetListSelection(int id) {
  auto* combo = qobject_cast<QComboBox*>(Control(id));
  return combo ? combo->currentIndex() : -1;
}

std::string CTemplateDialog::GetListItemText(int id, int index) {
  auto* combo = qobject_cast<QComboBox*>(Control(id));
  if (!combo || index < 0 || index >= combo->count()) return "";
  const QVariant name = combo->itemData(index);
  return (name.isValid() ? name.toString() : combo->itemText(index)).toStdString();
}

void CTemplateDialog::EnableControl(int id, bool enable) {
  QWidget* widget = Control(id);
  if (!widget || widget->isEnabled() == enable) return;
  widget->setEnabled(enable);
  ShowNow(widget);
}

bool CTemplateDialog::IsControlEnabled(int id) {
  QWidget* widget = Control(id);
  return widget && widget->isEnabled();
}

// A progress control keeps its position inside its range, whatever it is told.
void CTemplateDialog::SetProgressRange(int id, int lower, int upper) {
  auto* bar = qobject_cast<QProgressBar*>(Control(id));
  if (!bar) return;
  const int pos = bar->value();
  upper = std::max(lower, upper);
  bar->setRange(lower, upper);
  bar->setValue(std::clamp(pos, lower, upper));
  ShowNow(bar);
}

void CTemplateDialog::SetProgressPos(int id, int pos) {
  auto* bar = qobject_cast<QProgressBar*>(Control(id));
  if (!bar) return;
  bar->setValue(std::clamp(pos, bar->minimum(), bar->maximum()));
  ShowNow(bar);
}

int CTemplateDialog::GetProgressPos(int id) {
  auto* bar = qobject_cast<QProgressBar*>(Control(id));
  return bar ? bar->value() : 0;
}

void CTemplateDialog::BeginWaitCursor() {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  ++m_waitDepth;
}

void CTemplateDialog::EndWaitCursor() {
  if (m_waitDepth == 0) return;
  QApplication::restoreOverrideCursor();
  --m_waitDepth;
}

int CTemplateDialog::MessageBox(const std::string& text, MsgIcon icon, MsgButtons buttons) {
  QMessageBox box(this);
  box.setWindowTitle(MessageBoxCaption());
  box.setTextFormat(Qt::PlainText);
  box.setText(QString::fromStdString(text));
  box.setIcon(icon == MsgIcon::Stop       ? QMessageBox::Critical
              : icon == MsgIcon::Question ? QMessageBox::Question
              : icon == MsgIcon::Warning  ? QMessageBox::Warning
                                          : QMessageBox::NoIcon);
  if (buttons == MsgButtons::YesNo) {
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    // The one yes/no question asks before erasing a unit: a stray Enter must not say yes.
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
  } else {
    box.setStandardButtons(QMessageBox::Ok);
    box.setDefaultButton(QMessageBox::Ok);
    box.setEscapeButton(QMessageBox::Ok);
  }
  // The user must see an ordinary pointer over a question, even in the middle of a command.
  const int depth = m_waitDepth;
  while (m_waitDepth > 0) EndWaitCursor();
  const int answer = m_boxRunner ? m_boxRunner(box) : box.exec();
  while (m_waitDepth < depth) BeginWaitCursor();
  if (buttons == MsgButtons::YesNo) return answer == QMessageBox::Yes ? IDYES : IDNO;
  return IDOK;
}

void CTemplateDialog::EndDialog(int result) { done(result); }

void CTemplateDialog::PumpMessages() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

// The window thread's event dispatcher sleeps until an event comes, the timer ends the
// wait or Wake wakes it; every event is handled as the dialog's own loop would.
void CTemplateDialog::WaitHandlingMessages(std::uint32_t timeoutMs) {
  const QDeadlineTimer deadline(static_cast<qint64>(timeoutMs));
  QTimer limit;
  limit.setSingleShot(true);
  limit.start(static_cast<int>(std::min<std::uint32_t>(timeoutMs, 0x7FFFFFFF)));
  while (!m_woken.exchange(false)) {
    if (deadline.hasExpired()) return;
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
  }
}

void CTemplateDialog::Wake() {
  m_woken = true;
  if (m_dispatcher) m_dispatcher->wakeUp();
}

}  // namespace cvm6
