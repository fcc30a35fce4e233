// FTDI adapters' latency timers, in keys the test registers (under Wine in its prefix).
#include <windows.h>

#include <gtest/gtest.h>

#include "port/win32_adapter_latency.h"

namespace cvm6 {
namespace {

// FTDIBUS\<device>\0000\Device Parameters with PortName and, when given, LatencyTimer.
struct RegisteredFtdiAdapter {
  RegisteredFtdiAdapter(const std::string& device, const std::string& port, const DWORD* timer) : base(kFtdi + device) {
    HKEY key = nullptr;
    set = RegCreateKeyExA(HKEY_LOCAL_MACHINE, (base + kParameters).c_str(), 0, nullptr, REG_OPTION_VOLATILE,
                          KEY_ALL_ACCESS, nullptr, &key, nullptr) == ERROR_SUCCESS &&
          RegSetValueExA(key, "PortName", 0, REG_SZ, reinterpret_cast<const BYTE*>(port.c_str()),
                         static_cast<DWORD>(port.size() + 1)) == ERROR_SUCCESS &&
          (!timer || RegSetValueExA(key, "LatencyTimer", 0, REG_DWORD, reinterpret_cast<const BYTE*>(timer),
                                    sizeof *timer) == ERROR_SUCCESS);
    if (key) RegCloseKey(key);
  }
  ~RegisteredFtdiAdapter() {
    for (const char* below : {kParameters, "\\0000", ""}) RegDeleteKeyA(HKEY_LOCAL_MACHINE, (base + below).c_str());
  }
  static constexpr const char* kFtdi = "SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS\\";
  static constexpr const char* kParameters = "\\0000\\Device Parameters";
  const std::string base;
  bool set = false;
};

TEST(Win32AdapterLatency, ReadsTheLatencyTimerOfTheFtdiAdapterOnThePort) {
  const DWORD sixteen = 16;
  const RegisteredFtdiAdapter first("VID_0403+PID_6001+CVM6TEST1A", "COM121", &sixteen),
      noTimer("VID_0403+PID_6010+CVM6TEST3A", "COM123", nullptr);
  ASSERT_TRUE(first.set && noTimer.set) << "cannot register a test adapter";
  const AdapterLatency ftdi = ReadWin32AdapterLatency("\\\\.\\com121");  // as the port may be named
  EXPECT_TRUE(ftdi.device == "COM121" && ftdi.latencyTimerMs == 16u);
  EXPECT_EQ(ftdi.timerSource, "HKLM\\" + first.base + "\\0000\\Device Parameters\\LatencyTimer");
  // An adapter without the value, and a port on no FTDI adapter, show no timer.
  EXPECT_FALSE(ReadWin32AdapterLatency("COM123").latencyTimerMs || ReadWin32AdapterLatency("COM124").latencyTimerMs);
}

}  // namespace
}  // namespace cvm6
