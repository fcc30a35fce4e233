#pragma once
// The updater window as cvm6-flash drives it for one unit: the same CUpdaterDlg, with
// the image loaded once for all units handed over, the progress hook and the
// synthetic-image question answered by the command line, and with --simulate the
// simulated unit's end of its line as the port.
#include <memory>

#include "console_host.h"
#include "console_io.h"
#include "flash_simulator.h"
#include "image/flash_image.h"
#include "port/serial_port.h"
#include "update/updater_dlg.h"

namespace cvm6 {

class CFlashDialog : public CUpdaterDlg {
 public:
  // `simulator`: the unit of --simulate, or null for a real port. `image` and `report`:
  // what cvm6-flash loaded before any unit started.
  CFlashDialog(CConsoleHost& host, CFlashSimulator* simulator, std::shared_ptr<const CFlashImage> image,
               ImageLoadReport report)
      : m_host(host), m_simulator(simulator), m_image(std::move(image)), m_report(std::move(report)) {
    AttachHost(&host);
  }

  std::shared_ptr<const CFlashImage> LoadImage(ImageLoadReport& report) override {
    report = m_report;
    return m_image;
  }
  bool ConfirmSyntheticImage() override { return m_simulator || CUpdaterDlg::ConfirmSyntheticImage(); }
  std::unique_ptr<CSerialPort> OpenPort(const std::string& name) override {
    return m_simulator ? m_simulator->OpenHostPort() : CUpdaterDlg::OpenPort(name);
  }
  void OnBlockWritten(std::uint32_t bytesSent, std::uint32_t totalBytes) override {
    m_host.ShowProgress(bytesSent, totalBytes);
  }
  void OnDeviceFound() override { m_host.ShowDeviceFound(DeviceAddress()); }
  void OnEraseRequested() override { m_host.ShowEraseBegun(); }
  void OnRideThrough(WaitStage stage, std::uint16_t block, std::uint32_t ms) override {
    m_host.ShowRideThrough(WhereText(stage, block), ms);
  }
  void OnAskedAgain(WaitStage stage) override {
    m_host.Say(std::string(stage == WaitStage::kStart ? "the start request" : "the end request") +
               " was made again: the unit took it, but no reply came after the link was back");
  }
  void OnBlockSentAgain(std::uint16_t block) override {
    m_host.Say("block " + std::to_string(block) +
               " was sent again: the unit refused it as damaged, then acknowledged it, and no reply came");
  }
  // cvm6-flash says itself, with the figures, what a noisy line means (CFlashUnit).
  void WarnNoisyLine(const LineDamage&) override {}
  void CheckInterrupt() override {
    if (InterruptRequested()) throw Interrupted{};
  }
  // cvm6-flash says itself why the port cannot be used (PortOpenError()).
  void OnPortUnusable(const CFailure&) override {}

  static std::string WhereText(WaitStage stage, std::uint16_t block) {
    switch (stage) {
      case WaitStage::kDeviceData: return "while the device data reply was awaited";
      case WaitStage::kStart: return "while the unit erased";
      case WaitStage::kEnd: return "while the end reply was awaited";
      case WaitStage::kBlocks: break;
    }
    return "at block " + std::to_string(block);
  }

  // What the unit said of itself, for the summary.
  bool Identified() const { return m_identified || m_deviceType != 0xFF; }
  std::uint8_t DeviceType() const { return m_deviceType; }
  // The port failed for good during the last connection (an unplugged adapter).
  bool PortLost() { return PortGone(); }

 private:
  CConsoleHost& m_host;
  CFlashSimulator* m_simulator;
  std::shared_ptr<const CFlashImage> m_image;
  ImageLoadReport m_report;
};

}  // namespace cvm6
