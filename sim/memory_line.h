#pragma once
// A serial line inside one process: two CSerialPort ends, each reading what the other
// writes, in order, with nothing lost and nothing in between. The simulated unit sits on
// one end where there are no pseudo-terminals (Windows); the updater in the same process
// opens the other.
//
// The unit's end lives as long as the line; closing it is pulling the plug, after which
// the host's transfers fail at once with 1101, as with an unplugged adapter. Host ends
// come and go like an updater that opens and closes the port: one at a time (a second
// open is refused, as a held port is), and what the unit wrote while none was open is
// gone when the next one opens, as a port's open flushes its input.
//
// Like a UART, the unit's writes never wait for a host that does not read: beyond
// kHostBufferSize unread bytes, the oldest are thrown away (an overrun).
//
// Threading: per end, one thread may read while another writes, and Close may come from
// any thread and ends a transfer that waits.
#include <chrono>
#include <cstdint>
#include <memory>

#include "port/serial_port.h"

namespace cvm6 {

class CMemoryLine {
 public:
  static constexpr std::uint32_t kHostBufferSize = 64 * 1024;

  CMemoryLine();
  ~CMemoryLine();
  CMemoryLine(const CMemoryLine&) = delete;
  CMemoryLine& operator=(const CMemoryLine&) = delete;

  CSerialPort& UnitEnd();
  // A new host end; not opened (m_opened false, "port in use") while another is open.
  // It may outlive the line and then fails as if unplugged.
  std::unique_ptr<CSerialPort> OpenHostEnd();

  // Bytes thrown away because the host did not read them.
  std::uint64_t OverrunBytes() const;
  // How long since the host last wrote, whether or not the unit has read it yet.
  std::chrono::steady_clock::duration QuietFor() const;

 private:
  struct State;
  class End;

  std::shared_ptr<State> m_state;
  std::unique_ptr<End> m_unitEnd;
};

}  // namespace cvm6
