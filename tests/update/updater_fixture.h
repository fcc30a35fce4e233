#pragma once
// The updater's window on the scripted host, connected over a pseudo-terminal to the
// unit played in raw bytes, in a scratch current directory with an empty Y: drive, so
// that the image comes from the test's own list file or, without one, the embedded texts.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "image/scratch.h"
#include "support/raw_device.h"
#include "scripted_host.h"
#include "support/pty_pair.h"
#include "support/time_scale.h"
#include "update/control_ids.h"
#include "update/updater_dlg.h"

namespace cvm6::test {

inline constexpr const char* kCannotConnect =
    "The Updater cannot connect to the device.  Make sure that the device is ready to receive a download\n\n"
    "To set a Corvane M4 to receive a download press and hold 'PREV PG' at power-up.\n\n"
    "To set a Corvane M4S to receive a download press and hold 'PROGRAM UP' and 'PROGRAM ' at power-up.";
inline constexpr const char* kPortNotOpened =
    "Failed to open Com Port, make sure that your selections is correct and try again.";
inline constexpr const char* kWrongDevice =
    "You are NOT connected to a Corvane M4/M4S.  Please change the device type and try again.";
inline constexpr const char* kUpdateComplete =
    "Update Complete!\n\nYou should now perform a hard reset.\nHold <STORE> and Press <NEXTPG> on the M6 to reset.";

// Limits short enough for a test to wait them out.
inline UpdateLimits ShortLimits() { return UpdateLimits{500, 1000, 1000, 1000, 1000}; }

class UpdaterTest : public ::testing::Test {
 protected:
  void TearDown() override {
    if (dlg) dlg->OnDestroy();
    dlg.reset();
    if (device) device->Stop();
  }

  // The window after its initialisation, and the unit on the line.
  void Begin(DeviceScript script = {}, UpdateLimits limits = {}, const std::string& portItem = "") {
    host = std::make_unique<ScriptedHost>(portItem.empty() ? pty.SlavePath() : portItem);
    dlg = std::make_unique<CUpdaterDlg>(limits);
    dlg->AttachHost(host.get());
    dlg->OnInitDialog();
    device = std::make_unique<RawDevice>(pty, script);
    device->Start();
  }

  // Connect, timed.
  int ConnectMs() {
    const auto start = Clock::now();
    dlg->OnConnect();
    return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
  }

  // Writes a list file naming one hex file with `count` bytes in one run at `base`.
  void WriteOneRunImage(std::uint32_t count, std::uint32_t base = 0x2000) {
    std::string hex;
    for (std::uint32_t offset = 0; offset < count; offset += 16) {
      std::string data;
      for (std::uint32_t i = offset; i < count && i < offset + 16; ++i) data += static_cast<char>(ImageByte(i));
      hex += HexRecord(static_cast<std::uint16_t>(offset), 0, data);
    }
    hex += kEndRecord;
    cwd.Write("fw.hex", hex);
    char line[64];
    std::snprintf(line, sizeof line, "fw.hex %X\r\n", base);
    cwd.Write("cvm6.ini", line);
  }
  // Byte i of that run: every value occurs, control byte values included.
  static std::uint8_t ImageByte(std::uint32_t i) { return static_cast<std::uint8_t>(i * 7 + 3); }

  // The three buttons as the user sees them.
  bool Enabled(int id) { return host->Control(id).enabled; }
  std::string Text(int id) { return host->Control(id).text; }

  ScratchDir cwd, drive;
  CurrentDirGuard cwdGuard{cwd.path()};
  EnvGuard driveY{"CVM6_DRIVE_Y", drive.path().string()};
  PtyPair pty;
  std::unique_ptr<ScriptedHost> host;
  std::unique_ptr<RawDevice> device;
  std::unique_ptr<CUpdaterDlg> dlg;
};

inline int MsSince(Clock::time_point start, Clock::time_point end) {
  return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(end - start).count());
}

}  // namespace cvm6::test
