// The window as it opens: the controls of template 102 with their texts, states, order
// and places, and a layout that keeps its shape when the desktop font is larger.
#include <QApplication>
#include <QFontMetrics>
#include <QGroupBox>
#include <QTest>

#include "platform/dialog_template.h"
#include "window_fixture.h"

namespace cvm6::test {
namespace {

TEST_F(WindowTest, OpensInItsStartStateAndCloseEndsItCleanly) {
  MakeWindow({}, "/dev/cvm6-test-port");
  int threadsBefore = 0;
  bool checked = false;
  const int result = Run([&] {
    threadsBefore = ThreadCount();
    CTemplateDialog& w = window->Window();
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(w.windowTitle(), QString("M6 Corvane Updater "));
    EXPECT_FALSE(w.windowIcon().isNull());
    EXPECT_TRUE(w.windowIcon().availableSizes().contains(QSize(16, 16)));
    EXPECT_TRUE(w.windowIcon().availableSizes().contains(QSize(32, 32)));

    QComboBox* portList = Widget<QComboBox>(IDC_PORT_LIST);
    ASSERT_NE(portList, nullptr);
    EXPECT_EQ(portList->currentText(), QString("COM1"));
    ASSERT_GE(portList->count(), 5);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(portList->itemText(i), QString("COM%1").arg(i + 1));
    EXPECT_EQ(portList->itemText(portList->count() - 1), QString("/dev/cvm6-test-port"));

    EXPECT_FALSE(Enabled(IDC_UPDATE));
    EXPECT_TRUE(Enabled(IDC_CLOSE));
    EXPECT_TRUE(Enabled(IDC_CONNECT));
    EXPECT_TRUE(Enabled(IDC_PORT_LIST));
    EXPECT_TRUE(Widget<QPushButton>(IDC_UPDATE)->isDefault());
    EXPECT_EQ(Text(IDC_UPDATE), "Update");
    EXPECT_EQ(Text(IDC_CLOSE), "Close");
    EXPECT_EQ(Text(IDC_CONNECT), "Connect");
    EXPECT_EQ(Text(IDC_ONLINE_TEXT), "Offline");
    EXPECT_EQ(Text(IDC_DEVICE_NAME), "No Device");
    EXPECT_TRUE(Widget<QLineEdit>(IDC_ONLINE_TEXT)->isReadOnly());
    EXPECT_TRUE(Widget<QLineEdit>(IDC_DEVICE_NAME)->isReadOnly());
    EXPECT_EQ(Text(IDC_STATUS), "");
    for (const char* caption : {"Com Port:", "Status:", "Device:"}) {
      ASSERT_NE(LabelWithText(caption), nullptr) << caption;
      EXPECT_TRUE(LabelWithText(caption)->isVisible()) << caption;
    }

    QProgressBar* block = Widget<QProgressBar>(IDC_BLOCK_PROGRESS);
    EXPECT_TRUE(block->isVisible());
    EXPECT_EQ(block->value(), 0);
    EXPECT_FALSE(block->isTextVisible());

    // Held, never seen: the device choice, the total bar and its caption.
    QComboBox* deviceList = Widget<QComboBox>(IDC_DEVICE_LIST);
    EXPECT_FALSE(deviceList->isVisible());
    EXPECT_EQ(deviceList->currentText(), QString("Not Selected"));
    ASSERT_EQ(deviceList->count(), 2);
    EXPECT_EQ(deviceList->itemText(1), QString("Corvane M4/M4S"));
    QProgressBar* total = Widget<QProgressBar>(IDC_TOTAL_PROGRESS);
    EXPECT_FALSE(total->isVisible());
    EXPECT_EQ(total->minimum(), 0);
    EXPECT_EQ(total->maximum(), 159);
    EXPECT_EQ(total->value(), 0);
    ASSERT_NE(LabelWithText("Total Progress:"), nullptr);
    EXPECT_FALSE(LabelWithText("Total Progress:")->isVisible());

    // Tab goes through the controls in template order, skipping what is hidden or disabled.
    QWidget* expected[] = {window->Window().Control(IDC_CLOSE), portList,
                           window->Window().Control(IDC_ONLINE_TEXT), window->Window().Control(IDC_CONNECT),
                           window->Window().Control(IDC_DEVICE_NAME), window->Window().Control(IDC_CLOSE)};
    EXPECT_EQ(QApplication::focusWidget(), expected[0]) << "the first control that can take the focus has it";
    for (int i = 1; i < 6; ++i) {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
      EXPECT_EQ(QApplication::focusWidget(), expected[i]) << "tab " << i;
    }
    checked = true;
    Click(IDC_CLOSE);
  });
  EXPECT_TRUE(checked);
  EXPECT_EQ(result, IDCANCEL);
  EXPECT_TRUE(boxes.empty());
  EXPECT_FALSE(window->Dialog().HasPort());
  EXPECT_FALSE(window->Dialog().Link().IsStarted());
  EXPECT_EQ(ThreadCount(), threadsBefore);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

// Every control sits where its dialog units put it, texts fit their controls, and all of
// it stays inside the window, at the usual desktop font and at larger ones.
class WindowLayoutTest : public WindowTest, public ::testing::WithParamInterface<double> {
 protected:
  void SetUp() override {
    saved = QApplication::font();
    QFont font = saved;
    if (GetParam() > 0) font.setPointSizeF(GetParam());
    QApplication::setFont(font);
  }
  void TearDown() override {
    WindowTest::TearDown();
    QApplication::setFont(saved);
  }
  QFont saved;
};

TEST_P(WindowLayoutTest, ControlsSitAtTheirDialogUnitsAndTextsFit) {
  MakeWindow({}, "");
  CTemplateDialog& w = window->Window();
  const DialogTemplate* t = FindDialogTemplate(102);
  ASSERT_NE(t, nullptr);
  ASSERT_EQ(t->controls.size(), 15u);

  // Dialog units follow the font: a larger desktop font makes a larger, same-shaped window.
  const QFontMetrics metrics(w.font());
  EXPECT_EQ(w.BaseUnitY(), metrics.height());
  EXPECT_NEAR(w.BaseUnitX(), metrics.averageCharWidth(), metrics.averageCharWidth() / 2.0 + 1);
  EXPECT_EQ(w.size(), w.DialogUnitsToPixels(0, 0, 320, 111).size());
  if (GetParam() > 9) {
    EXPECT_GT(w.font().pointSizeF(), 7.0);
  }

  const QRect client(QPoint(0, 0), w.size());
  QGroupBox* frame = w.findChild<QGroupBox*>();
  ASSERT_NE(frame, nullptr);
  EXPECT_EQ(frame->geometry(), w.DialogUnitsToPixels(6, 3, 307, 84));
  for (const DialogControl& c : t->controls) {
    if (c.id == kNoControlId) continue;
    QWidget* widget = w.Control(c.id);
    ASSERT_NE(widget, nullptr) << c.id;
    const QRect expected = w.DialogUnitsToPixels(c.x, c.y, c.width, c.height);
    EXPECT_EQ(widget->pos(), expected.topLeft()) << c.id;
    EXPECT_EQ(widget->width(), expected.width()) << c.id;
    if (c.kind != ControlKind::ComboBox) {
      EXPECT_EQ(widget->height(), expected.height()) << c.id;
    }
    EXPECT_TRUE(client.contains(widget->geometry())) << c.id;
    if (c.id != IDC_UPDATE && c.id != IDC_CLOSE && c.id != IDC_DEVICE_LIST) {
      EXPECT_TRUE(frame->geometry().contains(widget->geometry())) << c.id;
    }
  }
  // Captions and button texts are not cut off.
  for (QLabel* label : w.findChildren<QLabel*>()) {
    if (label->text().isEmpty()) continue;
    EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width()) << label->text().toStdString();
    EXPECT_LE(label->fontMetrics().height(), label->height()) << label->text().toStdString();
  }
  for (QPushButton* button : w.findChildren<QPushButton*>())
    EXPECT_LT(button->fontMetrics().horizontalAdvance(button->text()), button->width())
        << button->text().toStdString();
  QComboBox* portList = Widget<QComboBox>(IDC_PORT_LIST);
  EXPECT_LE(portList->geometry().bottom(), w.Control(IDC_BLOCK_PROGRESS)->geometry().top());
  EXPECT_LE(portList->geometry().right(), w.Control(IDC_CONNECT)->geometry().left());
  QLineEdit* deviceName = Widget<QLineEdit>(IDC_DEVICE_NAME);
  EXPECT_LT(deviceName->fontMetrics().horizontalAdvance("Corvane M6"), deviceName->width());
}

// 0: the desktop font as it is.
INSTANTIATE_TEST_SUITE_P(DesktopFonts, WindowLayoutTest, ::testing::Values(0.0, 12.0, 18.0));

}  // namespace
}  // namespace cvm6::test
