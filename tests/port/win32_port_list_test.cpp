// --list-ports on Windows reads the ports the serial drivers registered; the test
// registers two of its own for the while (under Wine the prefix is the test's).
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "port/port_list.h"

namespace cvm6 {
namespace {

class RegisteredPort {
 public:
  RegisteredPort(const char* device, const char* name) : m_device(device) {
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, nullptr, REG_OPTION_VOLATILE,
                    KEY_SET_VALUE, nullptr, &m_key, nullptr);
    m_set = m_key && RegSetValueExA(m_key, device, 0, REG_SZ, reinterpret_cast<const BYTE*>(name),
                                    static_cast<DWORD>(std::strlen(name) + 1)) == ERROR_SUCCESS;
  }
  ~RegisteredPort() {
    if (m_set) RegDeleteValueA(m_key, m_device);
    if (m_key) RegCloseKey(m_key);
  }
  bool Set() const { return m_set; }

 private:
  const char* m_device;
  HKEY m_key = nullptr;
  bool m_set = false;
};

TEST(Win32PortList, ListsTheRegisteredPortsInTheirNumbersOrderWithTheirDevices) {
  RegisteredPort high("\\Device\\cvm6TestAdapter1", "COM107");
  RegisteredPort low("\\Device\\cvm6TestAdapter0", "COM98");
  ASSERT_TRUE(high.Set() && low.Set()) << "cannot register a test port";
  const auto ports = ListSerialPorts();
  const auto at = [&](const char* name) {
    return std::find_if(ports.begin(), ports.end(), [&](const SerialPortInfo& p) { return p.path == name; });
  };
  ASSERT_NE(at("COM98"), ports.end());
  ASSERT_NE(at("COM107"), ports.end());
  EXPECT_LT(at("COM98"), at("COM107"));  // by number, not by text
  EXPECT_EQ(at("COM107")->description, "\\Device\\cvm6TestAdapter1");
}

}  // namespace
}  // namespace cvm6
