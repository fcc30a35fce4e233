#include "flash_simulator.h"

#include <cstdio>

#include "image/flash_image.h"
#include "port/serial_port.h"
#include "sim/device_simulator.h"
#include "sim/flash_report.h"
#include "sim/sim_options.h"

namespace cvm6 {

CFlashSimulator::CFlashSimulator(std::unique_ptr<CDeviceSimulator> simulator) : m_simulator(std::move(simulator)) {}
CFlashSimulator::~CFlashSimulator() = default;

std::unique_ptr<CFlashSimulator> CFlashSimulator::Start(const std::vector<std::string>& options, std::string& error) {
  SimOptions parsed;
  if (!ParseSimOptions(options, parsed, error)) return nullptr;
  const SimulatorConfig& config = parsed.config;
  auto simulator = std::make_unique<CDeviceSimulator>(config);
  if (!simulator->Start()) {
    error = "the simulator could not start: " + simulator->ErrorText();
    return nullptr;
  }
  return std::unique_ptr<CFlashSimulator>(new CFlashSimulator(std::move(simulator)));
}

const std::string& CFlashSimulator::PortPath() const { return m_simulator->PortPath(); }

std::unique_ptr<CSerialPort> CFlashSimulator::OpenHostPort() { return m_simulator->OpenHostPort(); }

bool CFlashSimulator::Finish(const CFlashImage& expected, std::FILE* out) {
  m_simulator->Stop();
  const SimulatorSummary summary = m_simulator->Summary();
  const auto difference = m_simulator->FirstDifference(expected);
  std::fprintf(out, "Simulator: %u blocks, %llu bytes, %u erases, %u writes; %u bytes in flash, SHA-256 %s\n",
               summary.counts.blocks, static_cast<unsigned long long>(summary.counts.bytes), summary.counts.erases,
               summary.counts.writes, summary.storedBytes, summary.sha256.c_str());
  if (!difference) {
    std::fprintf(out, "Verdict: identical\n");
    return true;
  }
  std::fprintf(out, "Verdict: differs from the image loaded first at 0x%05X\n", *difference);
  return false;
}

}  // namespace cvm6
