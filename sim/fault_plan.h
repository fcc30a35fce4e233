#pragma once
// Everything the model can do wrong on purpose. Every switch is off by default; the
// random ones draw from generators seeded with `seed`, one per direction, so a run with
// the same plan and the same traffic damages the same bytes.
//
// "To host" is the model's sending direction (toward the updater); "from host" is what
// the updater sends. Block numbers are the sequence numbers of write-flash requests.
#include <cstdint>

namespace cvm6 {

struct LineFaults {
  std::uint32_t seed = 1;
  double corruptToHost = 0.0;    // chance per byte that one of its bits flips
  double corruptFromHost = 0.0;
  double dropToHost = 0.0;       // chance per byte that it is lost
  double dropFromHost = 0.0;
  std::uint32_t nakAck = 0;         // the Nth acknowledgement (from 1) goes out as 0xDA
  std::uint32_t nakEvery = 0;       // every Nth acknowledgement goes out as 0xDA (N >= 2)
  std::uint32_t loseAck = 0;        // the Nth acknowledgement never reaches the line
  std::uint32_t duplicateEvery = 0; // every Nth frame the model sends goes out twice
};

struct FaultPlan {
  LineFaults line;
  std::int32_t silentAfterBlock = -1;     // takes this block, then never sends a byte
  std::int32_t closeAfterBlock = -1;      // takes this block, then the port is unplugged
  std::int32_t wrongSequenceAtBlock = -1; // answers this block with the next number
  bool wrongTarget = false;               // start and end replies echo another target
  std::int32_t blockCountOffset = 0;      // added to the count in the end reply
  std::int32_t replyFrom = -1;            // replies (not the announcement) from this address
  bool noAnnounce = false;                // never identifies itself
  std::int32_t badControlAfterBlock = -1; // after answering this block, sends badControlByte
  std::uint8_t badControlByte = 0x80;
};

}  // namespace cvm6
