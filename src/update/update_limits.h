#pragma once
#include <cstdint>

namespace cvm6 {

// The update procedure's time limits. The programs always use the defaults; tests pass
// shorter ones when they wait for a limit to run out.
struct UpdateLimits {
  std::uint32_t deviceMs = 5000;     // device to appear; device data reply
  std::uint32_t startEndMs = 60000;  // start (erase) reply; end reply
  std::uint32_t writeMs = 100000;    // each write acknowledgement
  // No device data this long after the request went out and was acknowledged: the
  // request is made again as a new message (within deviceMs).
  std::uint32_t deviceDataRetryMs = 1000;
  // While downloading, a link that went down may come back within this long; the
  // download then carries on.
  std::uint32_t rideThroughMs = 10000;
  // After a dropped link was ridden through, a start or end request the unit took whose
  // reply has not come this long after the link came back is made again (the start
  // request once, and only before the first block). The device data request has its
  // own, deviceDataRetryMs. A block the unit refused, then acknowledged, whose reply has
  // not come this long is asked for with 0xDA, and as long again after sent once more.
  std::uint32_t replyAgainMs = 3000;
  // The link is up, the unit has not announced itself this long and sends keep-alives:
  // its link is still up from a session that ended without taking it down (Ctrl-C, a
  // closed window, a cable pulled and put back), and a unit announces itself only when
  // its link comes up. Its link is then taken down (CLink::TakeFarLinkDown), and again
  // after as long.
  std::uint32_t announceMs = 1000;
};

}  // namespace cvm6
