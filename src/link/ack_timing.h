#pragma once
// How long the far end's acknowledgements took beyond the line itself. The clock of an
// acknowledged frame starts when its last byte has been handed to the port and stops when
// its 0xA5 is read; the frame and the 0xA5 need bytes x 10 bits / baud of that on the
// wire. What is left over is what the adapter, its driver and the far end added: on USB
// adapters mostly the adapter's latency timer, which holds a lone received byte for up to
// 16 ms on common chips, on every block of a stop-and-wait download.
//
// Not thread-safe: CLink fills one under its lock and hands it over whole.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace cvm6 {

class CAckTiming {
 public:
  // A median extra time above this (in ms) is worth telling the technician about: the
  // unit answers well within it, and a latency timer left at its default does not.
  static constexpr double kSlowAdapterMs = 4.0;

  // Time on the wire of `bytes` bytes at `baud` (10 bits a byte), in microseconds; 0 for
  // a line without a rate.
  static std::uint64_t LineTimeUs(std::size_t bytes, std::uint32_t baud);

  // One acknowledgement: `roundTripUs` from the frame's last byte handed over to its 0xA5
  // read, for a frame of `frameBytes` bytes on a line of `baud`. The extra time is never
  // below 0 (a 0xA5 read before the writer had noted its time).
  void Add(std::int64_t roundTripUs, std::size_t frameBytes, std::uint32_t baud);

  std::size_t Count() const { return m_extraUs.size(); }
  // The middle extra time (the mean of the two middle ones for an even count); 0 when
  // there are none.
  double MedianExtraMs() const;
  // All extra time together: what the acknowledgements cost beyond the line.
  double TotalExtraMs() const;
  bool Slow() const { return MedianExtraMs() > kSlowAdapterMs; }

 private:
  std::vector<std::uint32_t> m_extraUs;
};

}  // namespace cvm6
