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

// A point of the download where a line fault strikes: as the unit takes the start
// request, block `block`, or the end request.
struct DownloadPoint {
  enum Kind : std::uint8_t { kNever, kStart, kBlock, kEnd };
  Kind kind = kNever;
  std::uint32_t block = 0;

  bool Is(Kind at, std::uint32_t atBlock = 0) const { return kind == at && (at != kBlock || block == atBlock); }
};

struct FaultPlan {
  LineFaults line;
  std::int32_t silentAfterBlock = -1;     // takes this block, then never sends a byte
  std::int32_t closeAfterBlock = -1;      // takes this block, then the port is unplugged
  std::int32_t wrongSequenceAtBlock = -1; // answers this block with the next number
  // Stores this block with one bit of its first byte flipped, as if a frame damaged in two
  // places had passed the check: what a noisy line does now and then.
  std::int32_t storeDamagedBlock = -1;
  bool wrongTarget = false;               // start and end replies echo another target
  std::int32_t blockCountOffset = 0;      // added to the count in the end reply
  std::int32_t replyFrom = -1;            // replies (not the announcement) from this address
  bool noAnnounce = false;                // never identifies itself
  std::int32_t badControlAfterBlock = -1; // after answering this block, sends badControlByte
  std::uint8_t badControlByte = 0x80;
  // The reply to this block reaches the updater with its length byte damaged into 0 (256
  // bytes), the rest as sent: the updater's receiver waits for bytes that never come.
  std::int32_t badLengthToHostAtBlock = -1;
  // The first copy of this block reaches the unit damaged: bit 3 of its length byte flipped
  // (the unit reads what is left of it, and what follows, out of step), or one bit of its
  // check byte (the unit refuses it).
  std::int32_t badLengthFromHostAtBlock = -1;
  std::int32_t badCheckFromHostAtBlock = -1;
  // The first copy of this block that reaches the unit whole is acknowledged by its link
  // and then lost, as when the 0xA5 answered a frame that noise made up and that passed
  // the check: the unit never takes the block and sends no reply.
  std::int32_t loseAckedBlock = -1;
  // A burst of `garbageBytes` random bytes (none of them one of the link's five control
  // bytes): toward the updater right behind the unit's reply, or into what the unit
  // reads, ahead of what the updater sends next.
  DownloadPoint garbageToHost, garbageFromHost;
  std::uint32_t garbageBytes = 64;
  // A break of `silenceMs` in one direction from the moment the unit takes the request:
  // nothing the unit sends gets through (to host), or nothing the updater sends does.
  DownloadPoint silenceToHost, silenceFromHost;
  std::uint32_t silenceMs = 10000;
};

}  // namespace cvm6
