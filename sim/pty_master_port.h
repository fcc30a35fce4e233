#pragma once
// The model's end of a pseudo-terminal: the master side, seen as a CSerialPort so that a
// CLink can run on it. The slave side is the "serial port" that an updater opens.
//
// The model keeps a descriptor of the slave open for its whole life. Without it, every
// close of the slave by an updater would hang up the master (reads fail with EIO and
// poll reports POLLHUP until somebody reopens the slave), and the model would have to
// spin on that. Holding the slave also lets the model clear the exclusive-use flag that
// an updater sets on open, which would otherwise outlive the updater's close and refuse
// the next one (the updater's flock still keeps a second program out while one runs).
//
// Like a UART, the model never waits for a host that does not read: when the slave's
// input buffer stays full, what is pending there is thrown away (an overrun).
//
// Close is the unplugged adapter: both descriptors go, the slave path disappears and
// an updater that has it open sees a hang-up.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <shared_mutex>
#include <string>

#include "port/read_buffer.h"
#include "port/serial_port.h"

namespace cvm6 {

class CPtyMasterPort : public CSerialPort {
 public:
  // Opens a new pseudo-terminal in raw mode. m_opened is false when that fails;
  // ErrorText() then says why.
  CPtyMasterPort();
  ~CPtyMasterPort() override;

  const std::string& SlavePath() const { return m_slavePath; }
  const std::string& ErrorText() const { return m_error; }

  bool Close() override;
  bool IsOpen() override;
  void Read(void* buffer, std::uint32_t length, std::uint32_t timeoutMs) override;
  void Write(const void* buffer, std::uint32_t length, std::uint32_t timeoutMs) override;
  std::uint32_t BytesWaiting() override { return m_input.Size(); }
  void WakeReader() override;

  // Bytes thrown away because the host did not read them.
  std::uint64_t OverrunBytes() const { return m_overrun.load(); }
  // How long since bytes last came in from the host, whether or not a Read has handed
  // them on yet (a Read that runs out of time drops what it had gathered).
  std::chrono::steady_clock::duration QuietFor() const;

 private:
  void ReleaseExclusiveUse();

  int m_master = -1;
  int m_slave = -1;
  int m_wakeFd = -1;  // eventfd: Close ends a waiting transfer at once
  int m_readerWakeFd = -1;  // eventfd: WakeReader ends a waiting Read at once
  std::string m_slavePath;
  std::string m_error;
  std::shared_mutex m_closeLock;  // transfers hold it shared, Close exclusive
  CReadBuffer m_input;            // bytes read but not yet asked for (the reader's)
  std::atomic<std::uint64_t> m_overrun{0};
  std::atomic<std::chrono::steady_clock::rep> m_lastArrival{std::chrono::steady_clock::now().time_since_epoch().count()};
};

}  // namespace cvm6
