#include "sim/memory_line.h"
#include "sim/unit_line.h"

namespace cvm6 {
namespace {

class CMemoryUnitLine final : public CUnitLine {
 public:
  CSerialPort& UnitEnd() override { return m_line.UnitEnd(); }
  const std::string& HostName() const override { return m_name; }
  std::unique_ptr<CSerialPort> OpenHostEnd() override { return m_line.OpenHostEnd(); }
  std::chrono::steady_clock::duration QuietFor() const override { return m_line.QuietFor(); }

 private:
  CMemoryLine m_line;
  const std::string m_name = "the simulator's line in memory";
};

}  // namespace

std::unique_ptr<CUnitLine> CUnitLine::Open(std::string& /*error*/) { return std::make_unique<CMemoryUnitLine>(); }

}  // namespace cvm6
