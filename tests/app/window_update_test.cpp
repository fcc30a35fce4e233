// Connect and Update worked with the mouse and the keyboard against the simulated unit:
// what the window shows on the way, how it ends, and what it refuses while it works.
#include <QApplication>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <thread>

#include "support/time_scale.h"
#include "window_fixture.h"

namespace cvm6::test {
namespace {

class WindowUpdateTest : public WindowTest {
 protected:
  // Records every status text the user could see: the ones that were painted.
  void WatchStatus() {
    QLabel* status = Widget<QLabel>(IDC_STATUS);
    watcher = std::make_unique<PaintWatcher>(status, statusSeen);
    status->installEventFilter(watcher.get());
    QObject::connect(Widget<QProgressBar>(IDC_BLOCK_PROGRESS), &QProgressBar::valueChanged,
                     [this](int value) { blockSeen.push_back(value); });
  }

  // Port of the simulator, then Connect; the window is online afterwards.
  void ConnectByMouse() {
    SelectLastPort();
    ASSERT_EQ(Widget<QComboBox>(IDC_PORT_LIST)->currentText().toStdString(), simulator->PortPath());
    Click(IDC_CONNECT);
    ASSERT_EQ(Text(IDC_ONLINE_TEXT), "Online");
    EXPECT_EQ(Text(IDC_DEVICE_NAME), "Corvane M6");
    EXPECT_TRUE(Enabled(IDC_UPDATE));
    EXPECT_FALSE(Enabled(IDC_CONNECT));
    EXPECT_TRUE(Enabled(IDC_CLOSE));
    EXPECT_TRUE(boxes.empty());
  }

  void ExpectCompleteUpdate(std::uint32_t bytes, std::uint32_t blocks) {
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text.toStdString(), kUpdateComplete);
    EXPECT_EQ(boxes[0].icon, QMessageBox::NoIcon);
    EXPECT_EQ(boxes[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    EXPECT_EQ(boxes[0].title, CTemplateDialog::MessageBoxCaption());
    EXPECT_FALSE(boxes[0].waitCursorShown);
    ASSERT_TRUE(simulator->WaitForUpdates(1, Scaled(2000)));
    const SimulatorSummary summary = simulator->Summary();
    EXPECT_EQ(summary.storedBytes, bytes);
    EXPECT_EQ(summary.counts.blocks, blocks);
  }

  void ExpectEndedCleanly(int threadsBefore) {
    EXPECT_FALSE(window->Dialog().HasPort());
    EXPECT_FALSE(window->Dialog().Link().IsActive());
    // A joined thread can stay listed in /proc for a moment after its join returned.
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(Scaled(2000));
    while (ThreadCount() != threadsBefore && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(ThreadCount(), threadsBefore) << "a link thread is left";
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(window->Window().WaitDepth(), 0);
  }

  struct PaintWatcher : QObject {
    PaintWatcher(QLabel* label, std::vector<std::string>& seen) : m_label(label), m_seen(seen) {}
    bool eventFilter(QObject*, QEvent* event) override {
      const std::string text = m_label->text().toStdString();
      if (event->type() == QEvent::Paint && !text.empty() && (m_seen.empty() || m_seen.back() != text))
        m_seen.push_back(text);
      return false;
    }
    QLabel* m_label;
    std::vector<std::string>& m_seen;
  };
  std::unique_ptr<PaintWatcher> watcher;
  std::vector<std::string> statusSeen;
  std::vector<int> blockSeen;
};

TEST_F(WindowUpdateTest, ConnectThenUpdateByMouseShowsEachStepAndEndsWithOk) {
  StartSimulator();
  WriteImage(3000);  // 13 blocks
  MakeWindow();
  int threadsBefore = 0;
  const int result = Run([&] {
    threadsBefore = ThreadCount();
    WatchStatus();
    ConnectByMouse();
    Click(IDC_UPDATE);
  });
  EXPECT_EQ(result, IDOK);
  EXPECT_EQ(statusSeen, (std::vector<std::string>{"fw.hex 0X02000", "Erasing Digital Board Memory.",
                                                  "Updating Digital Board.", "Update Complete"}));
  ASSERT_FALSE(blockSeen.empty());
  EXPECT_EQ(blockSeen.back(), 79);
  EXPECT_GE(blockSeen.size(), 10u) << "the block bar moves with the blocks";
  EXPECT_TRUE(std::is_sorted(blockSeen.begin(), blockSeen.end()));
  EXPECT_EQ(Widget<QProgressBar>(IDC_TOTAL_PROGRESS)->value(), 79);
  ExpectCompleteUpdate(3000, 13);
  ExpectEndedCleanly(threadsBefore);
}

TEST_F(WindowUpdateTest, WrongSequenceShowsTheErrorThenOnlyCloseIsLeft) {
  FaultPlan faults;
  faults.wrongSequenceAtBlock = 3;
  StartSimulator(faults);
  WriteImage(3000);
  MakeWindow();
  int threadsBefore = 0;
  const int result = Run([&] {
    threadsBefore = ThreadCount();
    ConnectByMouse();
    Click(IDC_UPDATE);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, QString("Error Sending Data."));
    EXPECT_EQ(boxes[0].icon, QMessageBox::Critical);
    EXPECT_EQ(boxes[0].title, CTemplateDialog::MessageBoxCaption());
    EXPECT_FALSE(boxes[0].waitCursorShown);
    EXPECT_TRUE(Enabled(IDC_CLOSE));
    EXPECT_FALSE(Enabled(IDC_UPDATE));
    EXPECT_FALSE(Enabled(IDC_CONNECT));
    EXPECT_EQ(Text(IDC_ONLINE_TEXT), "Online");
    EXPECT_EQ(Text(IDC_STATUS), "Updating Digital Board.");
    EXPECT_FALSE(window->Dialog().HasPort());
    EXPECT_TRUE(window->Window().isVisible());
    // Enter finds the default button disabled and does nothing; Close ends the program.
    Key(Qt::Key_Return);
    EXPECT_TRUE(window->Window().isVisible());
    Click(IDC_CLOSE);
  });
  EXPECT_EQ(result, IDCANCEL);
  EXPECT_EQ(boxes.size(), 1u);
  ExpectEndedCleanly(threadsBefore);
}

TEST_F(WindowUpdateTest, CloseAfterConnectStopsTheLinkAndClosesThePort) {
  StartSimulator();
  MakeWindow();
  int threadsBefore = 0;
  const int result = Run([&] {
    threadsBefore = ThreadCount();
    ConnectByMouse();
    EXPECT_TRUE(window->Dialog().HasPort());
    EXPECT_TRUE(window->Dialog().Link().IsActive());
    Click(IDC_CLOSE);
  });
  EXPECT_EQ(result, IDCANCEL);
  EXPECT_TRUE(boxes.empty());
  EXPECT_EQ(simulator->Summary().counts.erases, 0u);
  ExpectEndedCleanly(threadsBefore);
}

TEST_F(WindowUpdateTest, PortThatDoesNotOpenLeavesTheWindowOffline) {
  MakeWindow(UpdateLimits{}, "/nonexistent/cvm6-port");
  const int result = Run([&] {
    SelectLastPort();
    Click(IDC_CONNECT);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text.toStdString(), kPortNotOpened);
    EXPECT_EQ(boxes[0].icon, QMessageBox::Critical);
    EXPECT_EQ(boxes[0].title, CTemplateDialog::MessageBoxCaption());
    EXPECT_EQ(Text(IDC_ONLINE_TEXT), "Offline");
    EXPECT_TRUE(Enabled(IDC_CONNECT));
    EXPECT_FALSE(Enabled(IDC_UPDATE));
    Key(Qt::Key_Escape);
  });
  EXPECT_EQ(result, IDCANCEL);
  EXPECT_FALSE(window->Dialog().HasPort());
}

TEST_F(WindowUpdateTest, MessageBoxCaptionIsTheProgramFileNameWithoutExtension) {
  EXPECT_EQ(CTemplateDialog::MessageBoxCaption().toStdString(),
            std::filesystem::read_symlink("/proc/self/exe").stem().string());
}

TEST_F(WindowUpdateTest, EscapeClosesAtStart) {
  MakeWindow({}, "");
  const int result = Run([&] { Key(Qt::Key_Escape); });
  EXPECT_EQ(result, IDCANCEL);
}

TEST_F(WindowUpdateTest, EnterDoesNothingWhileUpdateIsDisabledAndUpdatesOnceItIsEnabled) {
  StartSimulator();
  WriteImage(500);
  MakeWindow();
  bool stillOpen = false;
  const int result = Run([&] {
    ASSERT_FALSE(Enabled(IDC_UPDATE));
    Key(Qt::Key_Return);  // the focus is on Close: Enter still means Update, which is off
    Key(Qt::Key_Enter);
    QApplication::processEvents();
    stillOpen = window->Window().isVisible();
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(simulator->Summary().counts.erases, 0u);
    ConnectByMouse();
    Key(Qt::Key_Return);
  });
  EXPECT_TRUE(stillOpen);
  EXPECT_EQ(result, IDOK);
  ExpectCompleteUpdate(500, 3);
}

TEST_F(WindowUpdateTest, CloseRequestsDuringTheBlockStreamAreRefusedAndTheUpdateCompletes) {
  StartSimulator();
  WriteImage(6000);  // 25 blocks
  MakeWindow();
  int requests = 0;
  bool refused = true, waitCursorWhileStreaming = true;
  QTimer intruder;
  intruder.setInterval(1);
  QObject::connect(&intruder, &QTimer::timeout, [&] {
    if (Text(IDC_STATUS) != "Updating Digital Board." || Widget<QProgressBar>(IDC_BLOCK_PROGRESS)->value() == 0)
      return;
    ++requests;
    waitCursorWhileStreaming = waitCursorWhileStreaming && QApplication::overrideCursor() &&
                               QApplication::overrideCursor()->shape() == Qt::WaitCursor;
    EXPECT_FALSE(Enabled(IDC_CLOSE));
    window->Window().close();  // the title bar's close button, Alt+F4
    QTest::keyClick(&window->Window(), Qt::Key_Escape);
    refused = refused && window->Window().isVisible();
  });
  const int result = Run([&] {
    ConnectByMouse();
    intruder.start();
    Click(IDC_UPDATE);
    intruder.stop();
  });
  EXPECT_GE(requests, 3) << "the close requests came while blocks were streaming";
  EXPECT_TRUE(refused);
  EXPECT_TRUE(waitCursorWhileStreaming);
  EXPECT_EQ(result, IDOK);
  ExpectCompleteUpdate(6000, 25);
}

}  // namespace
}  // namespace cvm6::test
