#pragma once
// What a noisy line did to one update, and what that means for the unit's flash.
//
// The unit checks each frame with its CRC-8 alone and cannot read its flash back. Every
// 0xDA it sends is a frame that reached it damaged and was caught; on a line that damages
// frames, now and then one is damaged in a way the check cannot see and is stored as if
// good. The updater cannot know which; it can say that the line was noisy and how likely
// such a frame is from what it counted.
#include <cstdint>
#include <string>

namespace cvm6 {

struct LineDamage {
  std::uint32_t toUnit = 0;      // frames the unit refused as damaged (each written again)
  std::uint32_t fromUnit = 0;    // frames from the unit that our receiver found damaged
  std::uint32_t framesSent = 0;  // frames written to the unit that asked for acknowledgement, resends included
};

// The chance, from 0 to 1, that an update with `damage` stored at least one damaged frame
// unnoticed, its frames `meanFrameBytes` long on the line. The per-frame damage rate is
// toUnit / framesSent; damaged bits fall on a frame as a Poisson count with that rate's
// mean, and this CRC-8 (its generator has the factor x + 1) catches every odd count and
// lets an even count pass about one time in 128. See docs/noisy-line.md.
double UnnoticedDamageChance(const LineDamage& damage);

// The two sentences both windows show after the completion prompt when the unit refused
// any frame as damaged.
std::string NoisyLineWarning(std::uint32_t damagedToUnit);

}  // namespace cvm6
