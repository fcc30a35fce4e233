#pragma once
// The Qt window against the device simulator on a pseudo-terminal, listed through
// CVM6_PORTS, in a scratch current directory with an empty Y: drive so that the image
// comes from the test's own list file. Message boxes are read and answered by the test.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/updater_window.h"
#include "image/scratch.h"
#include "sim/device_simulator.h"
#include "update/control_ids.h"

namespace cvm6::test {

inline constexpr const char* kUpdateComplete =
    "Update Complete!\n\nYou should now perform a hard reset.\nHold <STORE> and Press <NEXTPG> on the M6 to reset.";
inline constexpr const char* kPortNotOpened =
    "Failed to open Com Port, make sure that your selections is correct and try again.";

struct BoxSeen {
  QString title, text;
  QMessageBox::Icon icon;
  QMessageBox::StandardButtons buttons;
  bool waitCursorShown;  // the busy pointer was up while the box asked
};

class WindowTest : public ::testing::Test {
 protected:
  void TearDown() override;

  void StartSimulator(FaultPlan faults = {});
  // The window, with `extraPort` (the simulator's port by default) in CVM6_PORTS.
  void MakeWindow(UpdateLimits limits = {}, std::optional<std::string> extraPort = std::nullopt);
  // Runs the window modally; `script` runs once the window is up.
  int Run(std::function<void()> script);

  // A list file naming one hex file with `count` bytes in one run at 0x2000.
  void WriteImage(std::uint32_t count);

  // The user's actions.
  void Click(int id);
  void SelectLastPort();
  void Key(Qt::Key key);

  template <class W>
  W* Widget(int id) {
    return qobject_cast<W*>(window->Window().Control(id));
  }
  QLabel* LabelWithText(const QString& text);
  bool Enabled(int id) { return window->Window().Control(id)->isEnabled(); }
  QString Text(int id) { return QString::fromStdString(window->Window().GetControlText(id)); }

  static int ThreadCount();

  ScratchDir cwd, drive;
  CurrentDirGuard cwdGuard{cwd.path()};
  EnvGuard driveY{"CVM6_DRIVE_Y", drive.path().string()};
  std::unique_ptr<EnvGuard> ports;
  std::unique_ptr<CDeviceSimulator> simulator;
  std::unique_ptr<CUpdaterWindow> window;
  std::vector<BoxSeen> boxes;
  std::deque<QMessageBox::StandardButton> answers;  // empty: OK, or Yes to a question
};

}  // namespace cvm6::test
