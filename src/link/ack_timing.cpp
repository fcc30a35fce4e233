#include "link/ack_timing.h"

#include <algorithm>
#include <limits>

namespace cvm6 {

std::uint64_t CAckTiming::LineTimeUs(std::size_t bytes, std::uint32_t baud) {
  if (baud == 0) return 0;
  return (static_cast<std::uint64_t>(bytes) * 10 * 1000000 + baud / 2) / baud;
}

void CAckTiming::Add(std::int64_t roundTripUs, std::size_t frameBytes, std::uint32_t baud) {
  const auto line = static_cast<std::int64_t>(LineTimeUs(frameBytes + 1, baud));  // the frame and its 0xA5
  const std::int64_t extra = std::clamp<std::int64_t>(roundTripUs - line, 0, std::numeric_limits<std::uint32_t>::max());
  m_extraUs.push_back(static_cast<std::uint32_t>(extra));
}

double CAckTiming::MedianExtraMs() const {
  if (m_extraUs.empty()) return 0.0;
  std::vector<std::uint32_t> sorted = m_extraUs;
  const std::size_t middle = sorted.size() / 2;
  std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(middle), sorted.end());
  double median = sorted[middle];
  if (sorted.size() % 2 == 0)
    median = (median + *std::max_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(middle))) / 2;
  return median / 1000.0;
}

double CAckTiming::TotalExtraMs() const {
  std::uint64_t total = 0;
  for (const std::uint32_t extra : m_extraUs) total += extra;
  return static_cast<double>(total) / 1000.0;
}

}  // namespace cvm6
