#pragma once
// The simulated unit behind `cvm6-flash --simulate`: started in-process on a
// pseudo-terminal (on Windows a line in memory), and asked at the end whether its flash
// holds the image that the updater loaded.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace cvm6 {

class CDeviceSimulator;
class CFlashImage;
class CSerialPort;

class CFlashSimulator {
 public:
  // Options: those of cvm6-sim that shape the unit (--baud, --erase-ms, --write-ms, the
  // fault switches, ...). Null with `error` set when they are wrong or
  // the line cannot be made.
  static std::unique_ptr<CFlashSimulator> Start(const std::vector<std::string>& options, std::string& error);
  ~CFlashSimulator();

  const std::string& PortPath() const;
  // The updater's end of the unit's line, opened as the updater opens a port.
  std::unique_ptr<CSerialPort> OpenHostPort();
  // Stops the unit, prints its summary and verdict to `out`; true when its flash is
  // identical to `expected`, the image the run wrote.
  bool Finish(const CFlashImage& expected, std::FILE* out);

 private:
  explicit CFlashSimulator(std::unique_ptr<CDeviceSimulator> simulator);
  std::unique_ptr<CDeviceSimulator> m_simulator;
};

}  // namespace cvm6
