// --list-ports on Windows reads the ports the serial drivers registered and what the Ports
// class knows of their devices; the test registers ports and a USB adapter's device of its
// own for the while (under Wine the prefix is the test's).
#include <windows.h>
#include <initguid.h>
#include <devguid.h>
#include <setupapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <cwchar>

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

// A device of the Ports class as a USB adapter's driver installs it: its instance id, its
// friendly name and maker, and the PortName in its device key. Removed again at the end.
class RegisteredPortDevice {
 public:
  RegisteredPortDevice(const wchar_t* instanceId, const wchar_t* friendly, const wchar_t* maker, const wchar_t* port)
      : m_set(SetupDiCreateDeviceInfoList(&GUID_DEVCLASS_PORTS, nullptr)) {
    m_device.cbSize = sizeof m_device;
    if (m_set == INVALID_HANDLE_VALUE ||
        !SetupDiCreateDeviceInfoW(m_set, instanceId, &GUID_DEVCLASS_PORTS, nullptr, nullptr, 0, &m_device))
      return;
    m_created = true;
    if (!SetupDiRegisterDeviceInfo(m_set, &m_device, 0, nullptr, nullptr, nullptr)) return;
    const auto text = [&](DWORD property, const wchar_t* value) {
      return SetupDiSetDeviceRegistryPropertyW(m_set, &m_device, property, reinterpret_cast<const BYTE*>(value),
                                               static_cast<DWORD>((std::wcslen(value) + 1) * sizeof(wchar_t)));
    };
    if (!text(SPDRP_FRIENDLYNAME, friendly) || !text(SPDRP_MFG, maker)) return;
    const HKEY key = SetupDiCreateDevRegKeyW(m_set, &m_device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, nullptr, nullptr);
    if (key == INVALID_HANDLE_VALUE) return;
    m_ready = RegSetValueExW(key, L"PortName", 0, REG_SZ, reinterpret_cast<const BYTE*>(port),
                             static_cast<DWORD>((std::wcslen(port) + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
    RegCloseKey(key);
  }
  ~RegisteredPortDevice() {
    if (m_created) SetupDiRemoveDevice(m_set, &m_device);
    if (m_set != INVALID_HANDLE_VALUE) SetupDiDestroyDeviceInfoList(m_set);
  }
  bool Ready() const { return m_ready; }

 private:
  HDEVINFO m_set;
  SP_DEVINFO_DATA m_device{};
  bool m_created = false, m_ready = false;
};

// The adapter's friendly name (without its " (COMn)"), maker, USB ids and serial number
// come with its port; a port whose device is not in the Ports class keeps the driver's name.
TEST(Win32PortList, ShowsTheUsbIdentityOfTheAdapterBehindAPort) {
  RegisteredPort adapter("\\Device\\VCP0", "COM131"), plain("\\Device\\Serial7", "COM132");
  RegisteredPortDevice device(L"USB\\VID_0403&PID_6001\\CVM6TEST9", L"USB Serial Port (COM131)", L"FTDI", L"COM131");
  ASSERT_TRUE(adapter.Set() && plain.Set() && device.Ready()) << "cannot register the test adapter";
  const auto ports = ListSerialPorts();
  const auto at = [&](const char* name) {
    return std::find_if(ports.begin(), ports.end(), [&](const SerialPortInfo& p) { return p.path == name; });
  };
  ASSERT_NE(at("COM131"), ports.end());
  const SerialPortInfo& usb = *at("COM131");
  EXPECT_EQ(usb.description, "USB Serial Port");
  EXPECT_EQ(usb.manufacturer, "FTDI");
  ASSERT_TRUE(usb.IsUsb());
  EXPECT_EQ(*usb.vendorId, 0x0403);
  EXPECT_EQ(*usb.productId, 0x6001);
  EXPECT_EQ(usb.serialNumber, "CVM6TEST9");
  ASSERT_NE(at("COM132"), ports.end());
  EXPECT_EQ(at("COM132")->description, "\\Device\\Serial7");
  EXPECT_FALSE(at("COM132")->IsUsb());
}

}  // namespace
}  // namespace cvm6
