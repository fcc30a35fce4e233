// The Qt window handles its events in every wait of the procedure: an event posted from
// another thread is handled within 200 ms throughout an erase of 10 s and a unit that
// goes silent for 15 s (the link drops and is ridden through). The port list is read
// again when it drops down and keeps the chosen port.
#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QScreen>
#include <QTest>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <thread>

#include "support/fake_sysfs.h"
#include "support/pty_pair.h"
#include "support/time_scale.h"
#include "window_fixture.h"

namespace cvm6::test {
namespace {

using Clock = std::chrono::steady_clock;

// Posts an event to the window's thread every 50 ms from a thread of its own and notes
// how long each took to be handled.
class EventProbe : public QObject {
 public:
  EventProbe() {
    m_thread = std::thread([this] { Run(); });
  }
  ~EventProbe() override { Stop(); }
  void Stop() {
    {
      std::lock_guard<std::mutex> guard(m_lock);
      m_stop = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable()) m_thread.join();
    QCoreApplication::sendPostedEvents(this);
  }
  int Handled() const { return m_handled.load(); }
  int LongestMs() const { return m_longestMs.load(); }

 protected:
  bool event(QEvent* e) override {
    if (e->type() != kType) return QObject::event(e);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - static_cast<Posted*>(e)->at);
    m_longestMs = std::max(m_longestMs.load(), static_cast<int>(ms.count()));
    ++m_handled;
    return true;
  }

 private:
  static constexpr QEvent::Type kType = static_cast<QEvent::Type>(QEvent::User + 26);
  struct Posted : QEvent {
    Posted() : QEvent(kType), at(Clock::now()) {}
    Clock::time_point at;
  };
  void Run() {
    std::unique_lock<std::mutex> guard(m_lock);
    while (!m_stop) {
      QCoreApplication::postEvent(this, new Posted);
      m_wake.wait_for(guard, std::chrono::milliseconds(50), [this] { return m_stop; });
    }
  }
  std::mutex m_lock;
  std::condition_variable m_wake;
  bool m_stop = false;
  std::thread m_thread;
  std::atomic<int> m_handled{0}, m_longestMs{0};
};

struct WaitCase {
  const char* name;
  std::uint32_t eraseMs;
  std::int32_t silentAtBlock;  // from this block the unit is not heard for 15 s
};
void PrintTo(const WaitCase& c, std::ostream* out) { *out << c.name; }

class WindowWait : public WindowTest, public ::testing::WithParamInterface<WaitCase> {};

TEST_P(WindowWait, APostedEventIsHandledWithin200ms) {
  const WaitCase& c = GetParam();
  SimulatorConfig config;
  config.identity.eraseMs = c.eraseMs;
  if (c.silentAtBlock >= 0) {
    config.faults.silenceToHost = {DownloadPoint::kBlock, static_cast<std::uint32_t>(c.silentAtBlock)};
    config.faults.silenceMs = 15000;
  }
  simulator = std::make_unique<CDeviceSimulator>(config);
  ASSERT_TRUE(simulator->Start()) << simulator->ErrorText();
  WriteImage(3000);
  MakeWindow();
  std::unique_ptr<EventProbe> probe;
  const int result = Run([&] {
    SelectLastPort();
    Click(IDC_CONNECT);
    ASSERT_EQ(Text(IDC_ONLINE_TEXT), "Online");
    probe = std::make_unique<EventProbe>();
    Click(IDC_UPDATE);
    probe->Stop();
  });
  ASSERT_TRUE(probe);
  std::printf("%s: %d events handled, the longest after %d ms\n", c.name, probe->Handled(), probe->LongestMs());
  EXPECT_EQ(result, IDOK);
  ASSERT_FALSE(boxes.empty());
  EXPECT_EQ(boxes.back().text.toStdString(), kUpdateComplete);
  const int waitedMs = static_cast<int>(c.eraseMs) + (c.silentAtBlock >= 0 ? 15000 : 0);
  EXPECT_GT(probe->Handled(), waitedMs / 200) << "the probe did not run through the wait";
  EXPECT_LT(probe->LongestMs(), Scaled(200));
}

INSTANTIATE_TEST_SUITE_P(Cases, WindowWait,
                         ::testing::Values(WaitCase{"AnEraseOf10s", 10000, -1},
                                           WaitCase{"AUnitSilentFor15s", 50, 4}),
                         [](const auto& row) { return std::string(row.param.name); });

TEST_F(WindowTest, ThePortListIsReadAgainWhenItDropsDownAndKeepsTheChosenPortAndShowsTheAdapter) {
  PtyPair first, second;
  MakeWindow({}, first.SlavePath());
  const int result = Run([&] {
    auto* list = Widget<QComboBox>(IDC_PORT_LIST);
    const auto find = [&](const std::string& name) {
      for (int i = 0;; ++i) {
        const std::string item = window->Window().GetListItemText(IDC_PORT_LIST, i);
        if (item.empty()) return -1;
        if (item == name) return i;
      }
    };
    ASSERT_GE(find(first.SlavePath()), 0);
    EXPECT_EQ(find(second.SlavePath()), -1);
    window->Window().SetListSelection(IDC_PORT_LIST, find(first.SlavePath()));
    // Another port appears: dropping the list down shows it, the choice stays.
    EnvGuard more("CVM6_PORTS", second.SlavePath() + ":" + first.SlavePath());
    list->showPopup();
    list->hidePopup();
    ASSERT_GE(find(second.SlavePath()), 0) << "the list was not read again";
    EXPECT_EQ(list->currentIndex(), find(first.SlavePath()));
    // The chosen port goes away: nothing is chosen.
    EnvGuard fewer("CVM6_PORTS", second.SlavePath());
    list->showPopup();
    list->hidePopup();
    EXPECT_EQ(find(first.SlavePath()), -1);
    EXPECT_EQ(list->currentIndex(), -1);
    EXPECT_EQ(find("COM1"), 0) << "the template's ports stay first";
    // A USB adapter plugged in: its description and serial number beside its path, its
    // maker and the usb: name cvm6-flash takes in the tooltip.
    ScratchDir root;
    FakeSysfs sysfs(root.path());
    sysfs.AddUsbTty("ttyUSB0", "0403:6001", "A50285BI", "FT232R USB UART");
    std::ofstream(root.path() / "sys/devices/usb1/ttyUSB0/manufacturer") << "FTDI\n";
    EnvGuard sys("CVM6_SYSFS_ROOT", sysfs.SysRoot()), dev("CVM6_DEV_ROOT", sysfs.DevRoot());
    list->showPopup();
    list->hidePopup();
    const int adapter = find(sysfs.DevRoot() + "/ttyUSB0");
    EXPECT_EQ(list->itemText(adapter).toStdString(), sysfs.DevRoot() + "/ttyUSB0 - FTDI FT232R USB UART (A50285BI)");
    EXPECT_EQ(list->itemData(adapter, Qt::ToolTipRole).toString().toStdString(),
              "FTDI FT232R USB UART\nusb:0403:6001:A50285BI");
    EXPECT_EQ(list->itemData(find(second.SlavePath()), Qt::ToolTipRole).toString().toStdString(),
              "listed in CVM6_PORTS");
    Click(IDC_CLOSE);
  });
  EXPECT_EQ(result, IDCANCEL);
}

TEST_F(WindowTest, OpensInTheMiddleOfTheScreen) {
  MakeWindow();
  Run([&] {
    const QRect area = window->Window().screen()->availableGeometry();
    const QPoint centre = window->Window().geometry().center();
    EXPECT_LE(std::abs(centre.x() - area.center().x()), 2);
    EXPECT_LE(std::abs(centre.y() - area.center().y()), 2);
    Click(IDC_CLOSE);
  });
}

}  // namespace
}  // namespace cvm6::test
