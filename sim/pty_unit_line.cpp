#include "sim/pty_master_port.h"
#include "sim/unit_line.h"

namespace cvm6 {
namespace {

class CPtyUnitLine final : public CUnitLine {
 public:
  CPtyMasterPort& Master() { return m_master; }
  CSerialPort& UnitEnd() override { return m_master; }
  const std::string& HostName() const override { return m_master.SlavePath(); }
  std::unique_ptr<CSerialPort> OpenHostEnd() override {
    return std::make_unique<CSerialPort>(m_master.SlavePath().c_str(), 57600, false);
  }
  std::chrono::steady_clock::duration QuietFor() const override { return m_master.QuietFor(); }

 private:
  CPtyMasterPort m_master;
};

}  // namespace

std::unique_ptr<CUnitLine> CUnitLine::Open(std::string& error) {
  auto line = std::make_unique<CPtyUnitLine>();
  if (!line->Master().m_opened) {
    error = line->Master().ErrorText();
    return nullptr;
  }
  return line;
}

}  // namespace cvm6
