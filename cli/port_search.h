#pragma once
// --port auto: finding the unit by listening alone. A unit in download mode whose link
// is down sends a wake burst (16 bytes of 0xFF) every 100 ms on its own, so a port that
// delivers two of them has one, and nothing needs to be sent to find it: a search that
// wrote to every port would reach whatever else is plugged in (a modem dials, a PLC
// takes a command, another program's device loses its place).
//
// Each port is opened as the update opens it (57600 baud, 8N1, no sharing: a port that
// another program holds is not opened at all), read, and closed; nothing is written.
// Opening a port can still toggle its modem lines (DTR and RTS go on, and on some
// systems pulse at open), which resets some devices: that is why only USB adapters and
// the ports the technician lists in CVM6_PORTS are listened to, never the built-in ones.
#include <cstdint>
#include <string>
#include <vector>

#include "port/port_list.h"

namespace cvm6 {

// How long the search listens. The programs use these defaults; tests pass their own.
struct PortSearchLimits {
  std::uint32_t wakeListenMs = 400;       // for two wake bursts, 100 ms apart
  std::uint32_t keepAliveListenMs = 1200;  // for a keep-alive (one a second), when no port had wakes
};

enum class PortHeard {
  kUnit,         // two wake bursts: a unit in download mode, link down
  kUnitInSession,  // keep-alives (0x8C): a unit whose link is still up from an earlier session
  kOtherBytes,   // something else talks on this port
  kSilent,
  kNotOpened,    // in use by another program, gone, or not a serial port
};

// What came in on one port, byte by byte, and what it says.
class CHeardBytes {
 public:
  void Add(std::uint8_t byte);
  // kUnit, kOtherBytes: nothing more can change it.
  bool Decided() const;
  PortHeard Verdict() const;

  static constexpr std::uint8_t kWake = 0xFF, kKeepAlive = 0x8C;
  static constexpr std::uint32_t kBurst = 16, kBurstsForAUnit = 2;

 private:
  std::uint32_t m_wakes = 0, m_keepAlives = 0, m_others = 0;
};

struct HeardPort {
  std::string port;
  PortHeard heard = PortHeard::kSilent;
  std::string why;  // kNotOpened: the system's reason; else why the line failed, if it did
};

// What separates the ports of CVM6_PORTS, as it separates the folders of PATH.
#ifdef _WIN32
inline constexpr char kPortListSeparator = ';';
#else
inline constexpr char kPortListSeparator = ':';
#endif

// The ports to listen to: every USB adapter in `found`, then each path in `listed` (the
// value of CVM6_PORTS, separated by ':' on POSIX and ';' on Windows), leaving out the
// built-in ports and those in `excluded` (named on the command line already), each once.
std::vector<std::string> SearchCandidates(const std::vector<SerialPortInfo>& found, const std::string& listed,
                                          const std::vector<std::string>& excluded);

// Listens to every port at once: up to wakeListenMs for wake bursts (less when every
// port has been decided), and when no port had a unit, the silent ones on to
// keepAliveListenMs for keep-alives. Results in the order of `ports`.
std::vector<HeardPort> ListenForUnits(const std::vector<std::string>& ports, const PortSearchLimits& limits);

}  // namespace cvm6
