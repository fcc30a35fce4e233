#include "update/line_damage.h"

#include <algorithm>
#include <cmath>

namespace cvm6 {

double UnnoticedDamageChance(const LineDamage& damage) {
  if (damage.toUnit == 0 || damage.framesSent == 0) return 0.0;
  // A rate of 1 (every frame refused) leaves the per-frame mean unbounded: no frame then
  // got through whole, and the chance is as high as it gets.
  const double refused = std::min(1.0, static_cast<double>(damage.toUnit) / damage.framesSent);
  if (refused >= 1.0) return 1.0;
  const double mean = -std::log1p(-refused);  // damaged bits per frame
  // The chance that a frame took an even number of damaged bits, two or more.
  const double even = std::exp(-mean) * (std::cosh(mean) - 1.0);
  const double unnoticed = damage.framesSent * even / 128.0;
  return 1.0 - std::exp(-unnoticed);
}

std::string NoisyLineWarning(std::uint32_t damagedToUnit) {
  const std::string count =
      std::to_string(damagedToUnit) + (damagedToUnit == 1 ? " frame reached" : " frames reached");
  return count +
         " the unit damaged during this update and " + (damagedToUnit == 1 ? "was" : "were") +
         " sent again. On a line this noisy a damaged frame can also pass the unit's check unnoticed, so the flash "
         "may not be exact: update again over a shorter cable or another adapter until no frame is damaged.";
}

}  // namespace cvm6
