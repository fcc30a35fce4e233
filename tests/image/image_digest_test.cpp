// What names an image: SHA-256 itself, the digest over addresses and values that
// cvm6-flash prints and the simulator reports for its flash, and its address ranges.
#include "image/image_digest.h"

#include <gtest/gtest.h>

#include <string>

#include "image/image_ranges.h"
#include "image/sha256.h"

namespace cvm6::test {
namespace {

std::string Sha(const std::string& text) {
  CSha256 sha;
  sha.Update(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  return sha.FinishHex();
}

TEST(Sha256, KnownVectors) {
  EXPECT_EQ(Sha(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(Sha("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  // 56 bytes: the length no longer fits the first block.
  EXPECT_EQ(Sha("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  CSha256 million;
  const std::string chunk(1000, 'a');
  for (int i = 0; i < 1000; ++i) million.Update(reinterpret_cast<const std::uint8_t*>(chunk.data()), chunk.size());
  EXPECT_EQ(million.FinishHex(), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(ImageDigest, DigestDependsOnAddressesAndValuesNotOnWritingOrder) {
  CFlashImage a, b, moved;
  a.SetByte(0x10, 1);
  a.SetByte(0x20000, 2);
  b.SetByte(0x20000, 2);
  b.SetByte(0x10, 1);
  moved.SetByte(0x11, 1);
  moved.SetByte(0x20000, 2);
  EXPECT_EQ(FlashDigest(a), FlashDigest(b));
  EXPECT_NE(FlashDigest(a), FlashDigest(moved));
  // Address 0x10 then byte 1, little-endian, then address 0x20000 and byte 2.
  CSha256 sha;
  const std::uint8_t pairs[] = {0x10, 0, 0, 0, 1, 0, 0, 2, 0, 2};
  sha.Update(pairs, sizeof pairs);
  EXPECT_EQ(FlashDigest(a), sha.FinishHex());
}

TEST(ImageRanges, RunsAreMergedWhateverOrderTheyWereStoredIn) {
  CFlashImage image;
  EXPECT_TRUE(StoredRanges(image).empty());
  for (std::uint32_t a = 0x2100; a < 0x2200; ++a) image.SetByte(a, 1);  // stored after the run below it
  for (std::uint32_t a = 0x2000; a < 0x2100; ++a) image.SetByte(a, 2);
  image.SetByte(0x2201, 3);  // one unstored byte apart
  image.SetByte(0xFFFFFFFF, 4);
  image.SetByte(0, 5);  // the top and address 0 are not one run
  EXPECT_EQ(StoredRanges(image),
            (std::vector<AddressRange>{{0, 0}, {0x2000, 0x21FF}, {0x2201, 0x2201}, {0xFFFFFFFF, 0xFFFFFFFF}}));
}

}  // namespace
}  // namespace cvm6::test
