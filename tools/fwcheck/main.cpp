// cvm6-fwcheck: run by the build after the firmware texts are embedded. It reads each of
// the fourteen texts from this program's own resources with the updater's reader and
// fails when one does not read whole, so that no program can carry an image that its
// Update command would refuse.
#include <cstdint>
#include <cstdio>

#include "image/flash_image.h"

int main() {
  bool whole = true;
  for (int bank = 0; bank < 14; ++bank) {
    const auto id = static_cast<std::uint16_t>(160 + bank);
    cvm6::CFlashImage image;
    cvm6::HexFault fault;
    if (!image.LoadHexResource(id, static_cast<std::uint32_t>(bank) * 0x10000, &fault)) {
      std::fprintf(stderr, "cvm6-fwcheck: embedded text %u (cvm6.H%02d), %s\n", id, bank + 1, fault.Describe().c_str());
      whole = false;
    }
  }
  return whole ? 0 : 1;
}
