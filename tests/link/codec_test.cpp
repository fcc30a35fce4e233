#include <gtest/gtest.h>

#include <random>

#include "frames.h"
#include "link/crc8.h"
#include "link/frame_codec.h"
#include "platform/failure.h"
#include "support/wire.h"

namespace cvm6 {
namespace {

using test::Bytes;

class VectorSource : public IByteSource {
 public:
  explicit VectorSource(Bytes bytes) : m_bytes(std::move(bytes)) {}
  void ReadBytes(std::uint8_t* buffer, std::size_t count) override {
    if (m_at + count > m_bytes.size()) ThrowCode(1105);
    std::copy_n(m_bytes.begin() + static_cast<long>(m_at), count, buffer);
    m_at += count;
    ++m_reads;
  }
  std::size_t Consumed() const { return m_at; }
  int Reads() const { return m_reads; }

 private:
  Bytes m_bytes;
  std::size_t m_at = 0;
  int m_reads = 0;
};

Bytes Encoded(const Frame& frame, std::uint8_t sequence) {
  const EncodedFrame encoded = EncodeFrame(frame, sequence);
  return Bytes(encoded.bytes.begin(), encoded.bytes.begin() + static_cast<long>(encoded.size));
}

DecodedFrame Decode(const Bytes& wire, VectorSource* used = nullptr) {
  VectorSource source(Bytes(wire.begin() + 1, wire.end()));
  DecodedFrame decoded = DecodeFrame(wire[0], source);
  if (used) *used = source;
  return decoded;
}

TEST(Crc8, WorkedValues) {
  const std::uint8_t abc[] = {0x61, 0x62, 0x63};
  EXPECT_EQ(Crc8(abc, 3), 0x90);
  EXPECT_EQ(Crc8(nullptr, 0), 0xFF);
  const std::uint8_t first[] = {0x00, 0x5E, 0xBC, 0xE2, 0x61, 0x3F, 0xDD, 0x83};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(kCrc8Table[i], first[i]) << i;
}

TEST(Crc8, TableAgreesWithTheBitwiseDefinitionForEveryByte) {
  for (int crc = 0; crc < 256; ++crc)
    for (int byte = 0; byte < 256; byte += 17) {
      Bytes one{static_cast<std::uint8_t>(byte)};
      std::uint8_t viaTable = Crc8Update(static_cast<std::uint8_t>(crc), static_cast<std::uint8_t>(byte));
      std::uint8_t bitwise = static_cast<std::uint8_t>(crc ^ byte);
      for (int bit = 0; bit < 8; ++bit) bitwise = (bitwise & 1) ? (bitwise >> 1) ^ 0x8C : bitwise >> 1;
      ASSERT_EQ(viaTable, bitwise);
    }
}

TEST(FrameEncoding, DeviceDataRequestWithAndWithoutAcknowledgement) {
  auto frame = test::QueuedFrame(0x01, 0x00, true, {0x1A, 0x00});
  EXPECT_EQ(Encoded(*frame, 1), (Bytes{0x01, 0x80, 0x01, 0x02, 0x1A, 0x00, 0x61}));
  frame->ackWanted = 0;
  EXPECT_EQ(Encoded(*frame, 1), (Bytes{0x01, 0x00, 0x02, 0x1A, 0x00, 0x40}));
}

TEST(FrameEncoding, A256BytePayloadHasLengthByteZeroAndMakesThe261ByteFrame) {
  Bytes payload(256);
  for (int i = 0; i < 256; ++i) payload[i] = static_cast<std::uint8_t>(255 - i);
  auto frame = test::QueuedFrame(0x05, 0x01, true, payload);
  EXPECT_EQ(frame->length, 0);
  const Bytes wire = Encoded(*frame, 200);
  ASSERT_EQ(wire.size(), 261u);
  EXPECT_EQ(wire[3], 0x00);
  EXPECT_EQ(wire[2], 200);
  EXPECT_EQ(wire.back(), test::BitwiseCrc8(wire, 260));
  const DecodedFrame decoded = Decode(wire);
  EXPECT_TRUE(decoded.crcGood);
  EXPECT_EQ(decoded.frame->PayloadSize(), 256u);
  EXPECT_EQ(Bytes(decoded.frame->payload.get(), decoded.frame->payload.get() + 256), payload);
}

TEST(FrameDecoding, ControlValuesInsideAFrameAreData) {
  const Bytes payload{0x19, 0x00, 0xFF, 0xF0, 0xA5, 0xDA, 0x8C, 0x80};
  const Bytes wire = test::WireFrame(0x02, 0x03, std::nullopt, payload);
  VectorSource used({});
  const DecodedFrame decoded = Decode(wire, &used);
  EXPECT_TRUE(decoded.crcGood);
  EXPECT_EQ(used.Consumed(), wire.size() - 1);
  EXPECT_EQ(Bytes(decoded.frame->payload.get(), decoded.frame->payload.get() + payload.size()), payload);
}

TEST(FrameDecoding, SourceByteFFIsSource7FWithAcknowledgementWanted) {
  const Bytes wire = test::WireFrame(0x00, 0x7F, std::uint8_t{9}, {0x02, 0x00});
  ASSERT_EQ(wire[1], 0xFF);
  const DecodedFrame decoded = Decode(wire);
  EXPECT_TRUE(decoded.crcGood);
  EXPECT_EQ(decoded.frame->source, 0x7F);
  EXPECT_EQ(decoded.frame->ackWanted, 1u);
  EXPECT_EQ(decoded.sequence, 9);
}

TEST(FrameDecoding, ReadsHeaderBytesSinglyAndThePayloadInOneRead) {
  const Bytes wire = test::WireFrame(0x01, 0x02, std::uint8_t{3}, Bytes(100, 0x42));
  VectorSource used({});
  Decode(wire, &used);
  EXPECT_EQ(used.Reads(), 5);  // source, sequence, length, payload, CRC
}

TEST(FrameDecoding, AnyOtherCrcByteRejectsTheFrame) {
  Bytes wire = test::WireFrame(0x01, 0x02, std::uint8_t{3}, {0x1B, 0x00, 1, 2, 3});
  const std::uint8_t good = wire.back();
  for (int value = 0; value < 256; ++value) {
    wire.back() = static_cast<std::uint8_t>(value);
    EXPECT_EQ(Decode(wire).crcGood, value == good) << value;
  }
}

TEST(FrameDecoding, EverySingleBitFlipIsCaught) {
  const Bytes good = test::WireFrame(0x01, 0x02, std::uint8_t{3}, {0x1B, 0x00, 1, 2, 3, 4, 5, 6});
  // Flips in the length byte change where the frame ends; the rest are caught by the CRC.
  for (std::size_t at = 1; at < good.size(); ++at) {
    if (at == 3) continue;
    for (int bit = 0; bit < 8; ++bit) {
      Bytes wire = good;
      wire[at] ^= static_cast<std::uint8_t>(1 << bit);
      if (at == 1 && bit == 7) continue;  // turns off the sequence byte: another layout
      EXPECT_FALSE(Decode(wire).crcGood) << at << ":" << bit;
    }
  }
}

TEST(FrameCodec, RandomRecordsRoundTrip) {
  std::mt19937 random(12345);
  for (int i = 0; i < 2000; ++i) {
    const std::size_t size = 1 + random() % 256;
    Bytes payload(size);
    for (auto& byte : payload) byte = static_cast<std::uint8_t>(random());
    const bool ack = random() & 1;
    auto frame = test::QueuedFrame(random() % 128, random() % 128, ack, payload);
    const std::uint8_t sequence = static_cast<std::uint8_t>(1 + random() % 255);
    const Bytes wire = Encoded(*frame, sequence);
    ASSERT_EQ(wire.size(), size + (ack ? 5 : 4));
    const DecodedFrame decoded = Decode(wire);
    ASSERT_TRUE(decoded.crcGood);
    EXPECT_EQ(decoded.frame->destination, frame->destination);
    EXPECT_EQ(decoded.frame->source, frame->source);
    EXPECT_EQ(decoded.frame->ackWanted, frame->ackWanted);
    EXPECT_EQ(decoded.frame->length, frame->length);
    if (ack) {
      EXPECT_EQ(decoded.sequence, sequence);
    }
    ASSERT_EQ(Bytes(decoded.frame->payload.get(), decoded.frame->payload.get() + size), payload);
  }
}

}  // namespace
}  // namespace cvm6
