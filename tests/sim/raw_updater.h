#pragma once
// The updater's side of the line played with hand-built bytes: takes the simulator's
// port as the real updater opens it (on POSIX the product's CSerialPort on the
// pseudo-terminal: exclusive, flushed, raw), wakes the link and speaks frames built with
// the test's own encoder (support/wire.h).
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "port/serial_port.h"
#include "support/wire.h"

namespace cvm6::test {

class RawUpdater {
 public:
  explicit RawUpdater(std::unique_ptr<CSerialPort> port) : m_port(std::move(port)) {}
  bool IsOpen() const { return m_port && m_port->m_opened; }
  void Close() { m_port.reset(); }

  void Send(const Bytes& bytes);
  // The next unit, skipping keep-alive and sync bytes; nothing after `ms` (scaled).
  std::optional<WireUnit> Next(int ms, bool skipLinkFiller = true);
  // The code of the first read failure other than a time-out within `ms` (scaled), or 0.
  int LineFailure(int ms);
  // Every byte that arrives within `ms`.
  Bytes Drain(int ms);

  // One wake byte; true when the sync answer and the announcement frame came. The
  // announcement is acknowledged and kept in `announcement`.
  bool WakeUp();
  // Sends `payload` to the device with acknowledgement wanted and the next sequence
  // number, expects the 0xA5, then the reply frame, which it acknowledges. The reply is
  // returned whole; nothing when something else came.
  std::optional<WireUnit> Request(const Bytes& payload, int replyMs = 2000);
  // The frame bytes of the next request (for tests that send it themselves).
  Bytes NextFrame(const Bytes& payload);

  WireUnit announcement;
  std::uint8_t deviceAddress = 1;
  std::uint8_t ownAddress = 0;

 private:
  bool Fill(int ms);

  std::unique_ptr<CSerialPort> m_port;
  Bytes m_pending;
  std::uint8_t m_sequence = 0;
};

// Payloads of the updater's requests.
Bytes DeviceDataRequest();
Bytes StartRequest(std::uint8_t target);
Bytes WriteRequest(std::uint16_t sequence, std::uint32_t address, const Bytes& data);
Bytes EndRequest();

}  // namespace cvm6::test
