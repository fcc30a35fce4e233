// The window answers its system in every wait of the procedure, as Windows checks it:
// a thread of the test pings it (SendMessageTimeout with WM_NULL) and asks
// IsHungAppWindow throughout an erase of 10 s and a unit that leaves a block without a
// reply for 15 s, against the unit played in raw bytes on a COM port. Shutting Windows
// down is refused while the unit is written and allowed when idle; the port list
// follows the adapters; the window opens in the middle of the cursor's screen.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "image/scratch.h"
#include "support/pty_pair.h"
#include "support/raw_device.h"
#include "support/time_scale.h"
#include "update/control_ids.h"
#include "window_fixture.h"

#include <dbt.h>

namespace cvm6::test {
namespace {

using Clock = std::chrono::steady_clock;

// Pings the window from a thread of its own the way Windows does, until stopped.
class HungProbe {
 public:
  HungProbe(HWND window, HWND status, UINT answerMs) : m_window(window), m_status(status), m_answerMs(answerMs) {
    m_thread = std::thread([this] { Run(); });
  }
  ~HungProbe() { Stop(); }
  void Stop() {
    {
      std::lock_guard<std::mutex> guard(m_lock);
      m_stop = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable()) m_thread.join();
  }

  int pings = 0, unanswered = 0, hung = 0, longestMs = 0;
  int sessionQueries = 0, sessionAllowed = 0;  // asked while the unit was being written
  std::vector<int> unansweredAt;               // ms after the probe started

 private:
  bool Writing() {
    wchar_t text[64] = {};
    DWORD_PTR result = 0;
    SendMessageTimeoutW(m_status, WM_GETTEXT, 64, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, m_answerMs, &result);
    return std::wcsncmp(text, L"Erasing", 7) == 0 || std::wcsncmp(text, L"Updating", 8) == 0;
  }
  void Run() {
    std::unique_lock<std::mutex> guard(m_lock);
    while (!m_stop) {
      guard.unlock();
      const auto start = Clock::now();
      DWORD_PTR result = 0;
      const bool answered = SendMessageTimeoutW(m_window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, m_answerMs, &result) != 0;
      const int ms = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
      // Asked while the status says the unit is being written, before and after.
      const bool writingBefore = Writing();
      DWORD_PTR mayEnd = TRUE;
      const bool queried = writingBefore && SendMessageTimeoutW(m_window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF,
                                                                SMTO_ABORTIFHUNG, m_answerMs, &mayEnd) != 0;
      if (queried && Writing()) {
        ++sessionQueries;
        if (mayEnd) ++sessionAllowed;
      }
      const bool hungNow = IsHungAppWindow(m_window) != FALSE;
      guard.lock();
      ++pings;
      // A ping that Stop itself held up (the window's thread stops handling messages
      // while it waits for this thread) is no fault of the window.
      if (!answered && !m_stop) {
        ++unanswered;
        unansweredAt.push_back(static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(start - m_started).count()));
      }
      if (hungNow) ++hung;
      if (answered) longestMs = std::max(longestMs, ms);
      m_wake.wait_for(guard, std::chrono::milliseconds(50), [this] { return m_stop; });
    }
  }

  HWND m_window, m_status;
  UINT m_answerMs;
  Clock::time_point m_started = Clock::now();
  std::mutex m_lock;
  std::condition_variable m_wake;
  bool m_stop = false;
  std::thread m_thread;
};

class Win32WindowWaitsTest : public Win32WindowTest {
 protected:
  // Adds the pty's COM port to the list and chooses it.
  void ChoosePort(const std::string& name) {
    const std::wstring wide(name.begin(), name.end());
    SendDlgItemMessageW(Dialog(), IDC_PORT_LIST, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide.c_str()));
    const auto index = SendDlgItemMessageW(Dialog(), IDC_PORT_LIST, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                           reinterpret_cast<LPARAM>(wide.c_str()));
    SendDlgItemMessageW(Dialog(), IDC_PORT_LIST, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  }
  // A list file of one hex file with `count` bytes at 0x2000, in the current folder.
  void WriteImage(std::uint32_t count) {
    std::string hex;
    for (std::uint32_t offset = 0; offset < count; offset += 16) {
      std::string data;
      for (std::uint32_t i = offset; i < count && i < offset + 16; ++i) data += static_cast<char>(i * 7 + 3);
      hex += HexRecord(static_cast<std::uint16_t>(offset), 0, data);
    }
    hex += kEndRecord;
    cwd.Write("fw.hex", hex);
    cwd.Write("cvm6.ini", "fw.hex 2000\r\n");
  }

  // Connect, then Update with a probe pinging the window all through the update.
  void UpdateWhileProbing(DeviceScript script, std::uint32_t imageBytes, HungProbe*& probeOut) {
    WriteImage(imageBytes);
    device = std::make_unique<RawDevice>(pty, script);
    device->Start();
    const INT_PTR result = Run([&] {
      ChoosePort(pty.SlavePath());
      Click(IDC_CONNECT);
      ASSERT_EQ(Text(Control(IDC_ONLINE_TEXT)), L"Online");
      probe = std::make_unique<HungProbe>(Dialog(), Control(IDC_STATUS), static_cast<UINT>(Scaled(200)));
      // The final prompt: the unit is written. (Ending the dialog afterwards hides the
      // window, which Wine without a window manager may take seconds over.)
      answer = [&](const MessageBoxRequest&) {
        probe->Stop();
        return IDOK;
      };
      Click(IDC_UPDATE);
    });
    EXPECT_EQ(result, IDOK);
    ASSERT_FALSE(boxes.empty());
    EXPECT_EQ(boxes.back().text.substr(0, 16), L"Update Complete!");
    probeOut = probe.get();
  }

  ScratchDir cwd;
  CurrentDirGuard cwdGuard{cwd.path()};
  PtyPair pty;
  std::unique_ptr<RawDevice> device;
  std::unique_ptr<HungProbe> probe;
};

struct WaitCase {
  const char* name;
  int eraseMs;           // the unit's erase
  int replyDelayAtBlock; // a block whose reply the unit holds back
  int replyDelayMs;
};
void PrintTo(const WaitCase& c, std::ostream* out) { *out << c.name; }

class Win32WindowWait : public Win32WindowWaitsTest, public ::testing::WithParamInterface<WaitCase> {};

TEST_P(Win32WindowWait, TheWindowAnswersAndIsNeverTakenForHung) {
  const WaitCase& c = GetParam();
  DeviceScript script;
  script.startReplyDelayMs = c.eraseMs;
  script.replyDelayAtBlock = c.replyDelayAtBlock;
  script.replyDelayMs = c.replyDelayMs;
  HungProbe* seen = nullptr;
  UpdateWhileProbing(script, 3000, seen);  // 13 blocks
  ASSERT_NE(seen, nullptr);
  std::printf("%s: %d pings, the longest answered after %d ms, %d unanswered, %d hung\n", c.name, seen->pings,
              seen->longestMs, seen->unanswered, seen->hung);
  RecordProperty("longest_ping_ms", seen->longestMs);
  EXPECT_GT(seen->pings, (c.eraseMs + c.replyDelayMs) / 200) << "the probe did not run through the wait";
  EXPECT_EQ(seen->unanswered, 0) << "the first at " << (seen->unansweredAt.empty() ? -1 : seen->unansweredAt[0])
                                 << " ms of the update";
  EXPECT_EQ(seen->hung, 0);
  // Windows asked to end the session meanwhile: refused every time.
  EXPECT_GT(seen->sessionQueries, 0);
  EXPECT_EQ(seen->sessionAllowed, 0);
  EXPECT_EQ(device->Blocks().size(), 13u);
}

INSTANTIATE_TEST_SUITE_P(Cases, Win32WindowWait,
                         ::testing::Values(WaitCase{"AnEraseOf10s", 10000, -1, 0},
                                           WaitCase{"AUnitSilentFor15sAfterABlock", 0, 2, 15000}),
                         [](const auto& row) { return std::string(row.param.name); });

TEST_F(Win32WindowWaitsTest, WindowsMayEndTheSessionWhenNothingIsWritten) {
  device = std::make_unique<RawDevice>(pty, DeviceScript{});
  device->Start();
  Run([&] {
    EXPECT_EQ(SendMessageW(Dialog(), WM_QUERYENDSESSION, 0, 0), TRUE) << "offline";
    ChoosePort(pty.SlavePath());
    Click(IDC_CONNECT);
    ASSERT_EQ(Text(Control(IDC_ONLINE_TEXT)), L"Online");
    EXPECT_EQ(SendMessageW(Dialog(), WM_QUERYENDSESSION, 0, 0), TRUE) << "online, no update";
    Click(IDC_CLOSE);
  });
}

// A port registered as the serial drivers do it, for the while of the test.
class RegisteredPort {
 public:
  RegisteredPort(const char* device, const char* name) : m_device(device) {
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, nullptr, REG_OPTION_VOLATILE,
                    KEY_SET_VALUE, nullptr, &m_key, nullptr);
    m_set = m_key && RegSetValueExA(m_key, device, 0, REG_SZ, reinterpret_cast<const BYTE*>(name),
                                    static_cast<DWORD>(std::strlen(name) + 1)) == ERROR_SUCCESS;
  }
  ~RegisteredPort() { Remove(); }
  void Remove() {
    if (m_set) RegDeleteValueA(m_key, m_device);
    m_set = false;
    if (m_key) RegCloseKey(m_key);
    m_key = nullptr;
  }
  bool Set() const { return m_set; }

 private:
  const char* m_device;
  HKEY m_key = nullptr;
  bool m_set = false;
};

TEST_F(Win32WindowTest, ThePortListFollowsTheAdaptersAndKeepsTheChosenPortByName) {
  Run([&] {
    CWin32DialogHost& host = *window->Host();
    const auto find = [&](const std::string& name) {
      for (int i = 0;; ++i) {
        const std::string item = host.GetListItemText(IDC_PORT_LIST, i);
        if (item.empty()) return -1;
        if (item == name) return i;
      }
    };
    const auto arrived = [&] { SendMessageW(Dialog(), WM_DEVICECHANGE, DBT_DEVICEARRIVAL, 0); };
    const auto removed = [&] { SendMessageW(Dialog(), WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, 0); };
    const auto droppedDown = [&] {
      SendMessageW(Dialog(), WM_COMMAND, MAKEWPARAM(IDC_PORT_LIST, CBN_DROPDOWN),
                   reinterpret_cast<LPARAM>(Control(IDC_PORT_LIST)));
    };
    ASSERT_EQ(find("COM77"), -1);

    RegisteredPort adapter("\\Device\\cvm6TestVCP77", "COM77");
    ASSERT_TRUE(adapter.Set());
    arrived();
    const int at = find("COM77");
    ASSERT_GE(at, 0) << "an adapter that arrived is not listed";
    wchar_t text[128] = {};
    SendDlgItemMessageW(Dialog(), IDC_PORT_LIST, CB_GETLBTEXT, static_cast<WPARAM>(at), reinterpret_cast<LPARAM>(text));
    EXPECT_EQ(std::wstring(text), L"COM77 - \\Device\\cvm6TestVCP77") << "the name, then the adapter's description";

    // Chosen by name: items that come and go around it do not move the choice.
    host.SetListSelection(IDC_PORT_LIST, find("COM3"));
    RegisteredPort other("\\Device\\cvm6TestVCP12", "COM12");
    ASSERT_TRUE(other.Set());
    droppedDown();
    ASSERT_GE(find("COM12"), 0) << "the list was not read again when it dropped down";
    EXPECT_EQ(host.GetListSelection(IDC_PORT_LIST), find("COM3"));
    EXPECT_EQ(Text(Control(IDC_PORT_LIST)), L"COM3");

    // Sorted as the template says (the list sorts its items itself).
    const auto count = static_cast<int>(SendDlgItemMessageW(Dialog(), IDC_PORT_LIST, CB_GETCOUNT, 0, 0));
    std::vector<std::wstring> texts;
    for (int i = 0; i < count; ++i) {
      wchar_t item[128] = {};
      SendDlgItemMessageW(Dialog(), IDC_PORT_LIST, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(item));
      texts.push_back(item);
    }
    EXPECT_TRUE(std::is_sorted(texts.begin(), texts.end(),
                               [](const std::wstring& a, const std::wstring& b) { return lstrcmpiW(a.c_str(), b.c_str()) < 0; }));

    // The chosen adapter pulled out: nothing is chosen, so Connect cannot open another.
    host.SetListSelection(IDC_PORT_LIST, find("COM77"));
    adapter.Remove();
    removed();
    EXPECT_EQ(find("COM77"), -1);
    EXPECT_EQ(host.GetListSelection(IDC_PORT_LIST), -1);
    EXPECT_GE(find("COM12"), 0);
    Click(IDC_CLOSE);
  });
}

TEST_F(Win32WindowTest, OpensInTheMiddleOfTheScreenThatHoldsTheCursor) {
  Run([&] {
    RECT rect;
    GetWindowRect(Dialog(), &rect);
    POINT cursor{};
    GetCursorPos(&cursor);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    ASSERT_TRUE(GetMonitorInfoW(MonitorFromPoint(cursor, MONITOR_DEFAULTTONEAREST), &monitor));
    const RECT& work = monitor.rcWork;
    EXPECT_NEAR((rect.left + rect.right) / 2, (work.left + work.right) / 2, 1);
    EXPECT_NEAR((rect.top + rect.bottom) / 2, (work.top + work.bottom) / 2, 1);
    EXPECT_GT(rect.left, work.left) << "at the screen's corner";
    Click(IDC_CLOSE);
  });
}

}  // namespace
}  // namespace cvm6::test
