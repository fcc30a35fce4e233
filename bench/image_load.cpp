// Loads the fourteen firmware texts DIR/cvm6.H01..H14 from disk into one CFlashImage, bank
// n at n * 0x10000, as the updater does with the hex files of a release. Timed as a whole
// process by scripts/bench, against srec_cat reading the same files.
#include <cstdio>
#include <string>

#include "image/flash_image.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "Usage: cvm6-bench-load DIR\n");
    return 2;
  }
  cvm6::CFlashImage image;
  for (unsigned bank = 0; bank < 14; ++bank) {
    char name[16];
    std::snprintf(name, sizeof name, "/cvm6.H%02u", bank + 1);
    if (!image.LoadHexFile(argv[1] + std::string(name), bank * 0x10000u)) {
      std::fprintf(stderr, "cvm6-bench-load: %s%s did not load\n", argv[1], name);
      return 1;
    }
  }
  std::printf("%u bytes\n", image.GetCount());
  return 0;
}
