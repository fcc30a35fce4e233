#pragma once
// The updater window as cvm6-flash drives it: the same CUpdaterDlg, with the progress
// hook and the synthetic-image question answered by the command line.
#include "console_host.h"
#include "console_io.h"
#include "update/updater_dlg.h"

namespace cvm6 {

class CFlashDialog : public CUpdaterDlg {
 public:
  CFlashDialog(CConsoleHost& host, bool simulated) : m_host(host), m_simulated(simulated) { AttachHost(&host); }

  bool ConfirmSyntheticImage() override { return m_simulated || CUpdaterDlg::ConfirmSyntheticImage(); }
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
  bool m_simulated;
};

}  // namespace cvm6
