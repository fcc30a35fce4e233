#pragma once
// The updater window as cvm6-flash drives it: the same CUpdaterDlg, with the progress
// hook and the synthetic-image question answered by the command line, and with
// --simulate the simulated unit's end of its line as the port.
#include "console_host.h"
#include "console_io.h"
#include "flash_simulator.h"
#include "port/serial_port.h"
#include "update/updater_dlg.h"

namespace cvm6 {

class CFlashDialog : public CUpdaterDlg {
 public:
  // `simulator`: the unit of --simulate, or null for a real port.
  CFlashDialog(CConsoleHost& host, CFlashSimulator* simulator) : m_host(host), m_simulator(simulator) {
    AttachHost(&host);
  }

  bool ConfirmSyntheticImage() override { return m_simulator || CUpdaterDlg::ConfirmSyntheticImage(); }
  std::unique_ptr<CSerialPort> OpenPort(const std::string& name) override {
    return m_simulator ? m_simulator->OpenHostPort() : CUpdaterDlg::OpenPort(name);
  }
  void OnBlockWritten(std::uint32_t bytesSent, std::uint32_t totalBytes) override {
    m_host.ShowProgress(bytesSent, totalBytes);
  }
  void OnRideThrough(std::uint16_t block, std::uint32_t ms) override { m_host.ShowRideThrough(block, ms); }
  void CheckInterrupt() override {
    if (InterruptRequested()) throw Interrupted{};
  }
  // cvm6-flash says itself why the port cannot be used (main prints PortOpenError()).
  void OnPortUnusable(const CFailure&) override {}

 private:
  CConsoleHost& m_host;
  CFlashSimulator* m_simulator;
};

}  // namespace cvm6
