// The summary's parts: the flash comparison, the HEX dump, the wire watcher that counts
// damaged frames a receiver accepts, and the command line.
#include <gtest/gtest.h>

#include <sstream>

#include "image/byte_stream.h"
#include "link/crc8.h"
#include "sim/flash_report.h"
#include "sim/sim_options.h"
#include "sim/wire_watch.h"
#include "support/wire.h"

namespace cvm6::test {
namespace {

TEST(FlashReport, FirstDifferenceFindsTheLowestAddress) {
  CFlashImage expected, actual;
  for (std::uint32_t a = 0x100; a < 0x200; ++a) expected.SetByte(a, static_cast<std::uint8_t>(a));
  for (std::uint32_t a = 0x100; a < 0x200; ++a) actual.SetByte(a, static_cast<std::uint8_t>(a));
  EXPECT_FALSE(FirstDifference(actual, expected));
  actual.SetByte(0x1F0, 0);
  actual.SetByte(0x180, 0);
  EXPECT_EQ(FirstDifference(actual, expected), 0x180u);
  CFlashImage shorter;
  for (std::uint32_t a = 0x100; a < 0x1FF; ++a) shorter.SetByte(a, static_cast<std::uint8_t>(a));
  EXPECT_EQ(FirstDifference(shorter, expected), 0x1FFu);  // missing at the end
  shorter.SetByte(0x5, 0xFF);                              // stored where nothing should be
  EXPECT_EQ(FirstDifference(shorter, expected), 0x5u);
  CFlashImage empty;
  EXPECT_EQ(FirstDifference(empty, expected), 0x100u);
  EXPECT_FALSE(FirstDifference(empty, CFlashImage()));
}

TEST(FlashReport, HexDumpIsExactAndReadsBackIntoTheSameImage) {
  CFlashImage one;
  one.SetByte(0x10002, 0x12);
  std::ostringstream text;
  WriteIntelHex(one, text);
  EXPECT_EQ(text.str(), ":020000040001F9\n:0100020012EB\n:00000001FF\n");

  // Within the first bank (the updater's reader knows no address records): runs that
  // span records, a gap, a lone byte, bytes that equal the fill value.
  CFlashImage image;
  for (std::uint32_t a = 0x1FF0; a < 0x2025; ++a) image.SetByte(a, static_cast<std::uint8_t>(a * 3));
  image.SetByte(0xFFFF, 0xFF);
  std::ostringstream dump;
  WriteIntelHex(image, dump);
  const std::string hex = dump.str();
  CMemoryStream stream({reinterpret_cast<const std::uint8_t*>(hex.data()), hex.size()});
  CFlashImage back;
  ASSERT_TRUE(back.ReadHex(stream, 0));
  EXPECT_EQ(back.GetCount(), image.GetCount());
  EXPECT_FALSE(FirstDifference(back, image));
}

TEST(FlashReport, EmbeddedFirmwareLoads) {
  CFlashImage image;
  ASSERT_TRUE(LoadEmbeddedFirmware(image));
  EXPECT_EQ(image.GetCount(), 617256u);
  EXPECT_TRUE(image.IsSet(0x02000));
}

void FeedAll(CWireWatch& watch, const Bytes& bytes, std::size_t damagedAt = SIZE_MAX) {
  for (std::size_t i = 0; i < bytes.size(); ++i) watch.Feed(bytes[i], i == damagedAt);
}

TEST(WireWatch, TellsIntactRejectedAndWronglyAcceptedFramesApart) {
  CWireWatch watch;
  const Bytes good = WireFrame(0, 1, 3, {0x24, 0x00, 0xFF, 0xF0});
  FeedAll(watch, good);
  watch.Feed(0x8C, false);
  // One payload byte flipped: the check fails.
  Bytes rejected = good;
  rejected[5] ^= 0x01;
  FeedAll(watch, rejected, 5);
  // Flipped and the check byte happening to match: a receiver takes it.
  Bytes accepted = good;
  accepted[5] ^= 0x01;
  accepted.back() = Crc8(accepted.data(), accepted.size() - 1);
  FeedAll(watch, accepted, 5);
  // A 256-byte payload (length byte 0), intact.
  FeedAll(watch, WireFrame(0, 1, std::nullopt, Bytes(256, 0xA5)));
  const WireCounts& counts = watch.Counts();
  EXPECT_EQ(counts.frames, 4u);
  EXPECT_EQ(counts.controlBytes, 1u);
  EXPECT_EQ(counts.damagedFrames, 2u);
  EXPECT_EQ(counts.rejectedFrames, 1u);
  EXPECT_EQ(counts.damagedAccepted, 1u);
}

TEST(SimOptions, EverySwitchReachesTheConfiguration) {
  SimOptions options;
  std::string error;
  ASSERT_TRUE(ParseSimOptions(
      {"--link", "/tmp/x", "--updates", "2", "--expect-embedded", "--dump", "f.hex", "--address", "4",
       "--updater-address", "0x10", "--device-type", "0x41", "--version-chars", "2001", "--erase-ms", "5",
       "--write-ms", "0", "--baud", "57600", "--latency-ms", "16", "--seed", "9", "--corrupt-to-host", "0.01", "--corrupt-from-host", "0.02",
       "--drop-to-host", "0.03", "--drop-from-host", "0.04", "--nak-ack", "3", "--nak-every", "11", "--lose-ack", "4", "--duplicate-every",
       "5", "--silent-after-block", "6", "--close-after-block", "7", "--wrong-sequence-at-block", "8", "--wrong-target",
       "--block-count-offset", "-2", "--reply-from", "9", "--no-announce", "--bad-control-after-block", "10",
       "--bad-control-byte", "0x8B", "--bad-length-to-host-at", "12", "--bad-length-from-host-at", "13",
       "--bad-check-from-host-at", "14", "--lose-acked-block", "15"},
      options, error))
      << error;
  const auto& c = options.config;
  EXPECT_EQ(options.linkPath, "/tmp/x");
  EXPECT_EQ(options.updates, 2u);
  EXPECT_TRUE(options.expectEmbedded);
  EXPECT_EQ(options.dumpPath, "f.hex");
  EXPECT_EQ(c.identity.address, 4);
  EXPECT_EQ(c.identity.updaterAddress, 16);
  EXPECT_EQ(c.identity.deviceType, 0x41);
  EXPECT_EQ(std::string(c.identity.version.data(), 4), "2001");
  EXPECT_EQ(c.identity.eraseMs, 5u);
  EXPECT_EQ(c.identity.writeMs, 0u);
  EXPECT_EQ(c.baud, 57600u);
  EXPECT_EQ(c.adapterLatencyMs, 16u);
  EXPECT_EQ(c.faults.line.seed, 9u);
  EXPECT_DOUBLE_EQ(c.faults.line.corruptToHost, 0.01);
  EXPECT_DOUBLE_EQ(c.faults.line.corruptFromHost, 0.02);
  EXPECT_DOUBLE_EQ(c.faults.line.dropToHost, 0.03);
  EXPECT_DOUBLE_EQ(c.faults.line.dropFromHost, 0.04);
  EXPECT_EQ(c.faults.line.nakAck, 3u);
  EXPECT_EQ(c.faults.line.nakEvery, 11u);
  EXPECT_EQ(c.faults.line.loseAck, 4u);
  EXPECT_EQ(c.faults.line.duplicateEvery, 5u);
  EXPECT_EQ(c.faults.silentAfterBlock, 6);
  EXPECT_EQ(c.faults.closeAfterBlock, 7);
  EXPECT_EQ(c.faults.wrongSequenceAtBlock, 8);
  EXPECT_TRUE(c.faults.wrongTarget);
  EXPECT_EQ(c.faults.blockCountOffset, -2);
  EXPECT_EQ(c.faults.replyFrom, 9);
  EXPECT_TRUE(c.faults.noAnnounce);
  EXPECT_EQ(c.faults.badControlAfterBlock, 10);
  EXPECT_EQ(c.faults.badControlByte, 0x8B);
  EXPECT_EQ(c.faults.badLengthToHostAtBlock, 12);
  EXPECT_EQ(c.faults.badLengthFromHostAtBlock, 13);
  EXPECT_EQ(c.faults.badCheckFromHostAtBlock, 14);
  EXPECT_EQ(c.faults.loseAckedBlock, 15);
}

TEST(SimOptions, ConfigurationAnnouncementMovesTheDefaultAddresses) {
  SimOptions options;
  std::string error;
  ASSERT_TRUE(ParseSimOptions({"--announce", "config"}, options, error));
  EXPECT_TRUE(options.config.identity.announceWithConfig);
  EXPECT_EQ(options.config.identity.address, 0);
  EXPECT_EQ(options.config.identity.updaterAddress, 1);
}

TEST(SimOptions, BadCommandLinesAreRefusedWithAReason) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"--bogus"},
           {"--updates"},
           {"--updates", "x"},
           {"--address", "128"},
           {"--corrupt-to-host", "1.5"},
           {"--corrupt-to-host", "-0.1"},
           {"--version-chars", "12345"},
           {"--announce", "loud"},
           {"--bad-control-byte", "0xA5"},
           {"--bad-control-byte", "0x10"},
           {"--baud", "0"},
           {"--address", "3", "--updater-address", "3"},
           {"--block-count-offset", "1x"}}) {
    SimOptions options;
    std::string error;
    EXPECT_FALSE(ParseSimOptions(args, options, error)) << args[0];
    EXPECT_FALSE(error.empty()) << args[0];
  }
}

}  // namespace
}  // namespace cvm6::test
