// Micro benchmarks of the hot paths of a download: the frame check, encoding a
// write-flash frame, decoding one from memory, and walking the image block by block.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "image/flash_image.h"
#include "link/crc8.h"
#include "link/frame_codec.h"

namespace {

cvm6::FramePtr WriteFrame(std::size_t payloadSize) {
  auto frame = std::make_unique<cvm6::Frame>();
  frame->destination = 1;
  frame->source = 0;
  frame->ackWanted = 1;
  frame->length = static_cast<std::uint8_t>(payloadSize & 0xFF);
  frame->payload = std::make_unique<std::uint8_t[]>(payloadSize);
  for (std::size_t i = 0; i < payloadSize; ++i) frame->payload[i] = static_cast<std::uint8_t>(i * 7);
  return frame;
}

void BM_Crc8(benchmark::State& state) {
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(state.range(0)));
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 13);
  for (auto _ : state) benchmark::DoNotOptimize(cvm6::Crc8(bytes.data(), bytes.size()));
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_Crc8)->Arg(10)->Arg(259);

void BM_EncodeWriteFrame(benchmark::State& state) {
  const auto frame = WriteFrame(254);
  for (auto _ : state) {
    auto encoded = cvm6::EncodeFrame(*frame, 7);
    benchmark::DoNotOptimize(encoded);
  }
}
BENCHMARK(BM_EncodeWriteFrame);

class MemorySource : public cvm6::IByteSource {
 public:
  explicit MemorySource(const std::uint8_t* bytes) : m_bytes(bytes) {}
  void ReadBytes(std::uint8_t* buffer, std::size_t count) override {
    std::memcpy(buffer, m_bytes + m_at, count);
    m_at += count;
  }

 private:
  const std::uint8_t* m_bytes;
  std::size_t m_at = 0;
};

void BM_DecodeWriteFrame(benchmark::State& state) {
  const auto frame = WriteFrame(254);
  const auto encoded = cvm6::EncodeFrame(*frame, 7);
  for (auto _ : state) {
    MemorySource source(encoded.bytes.data() + 1);
    auto decoded = cvm6::DecodeFrame(encoded.bytes[0], source);
    benchmark::DoNotOptimize(decoded.crcGood);
  }
}
BENCHMARK(BM_DecodeWriteFrame);

// The download's own walk over the embedded image: NextSetAddress, then IsSet and
// GetByte byte by byte for each block of up to 246 bytes.
void BM_BlockWalk(benchmark::State& state) {
  cvm6::CFlashImage image;
  for (std::uint16_t bank = 0; bank < 14; ++bank) image.LoadHexResource(160 + bank, bank * 0x10000u);
  std::uint8_t block[246];
  std::size_t blocks = 0;
  for (auto _ : state) {
    std::uint32_t next = 0;
    for (;;) {
      const std::uint32_t start = image.NextSetAddress(next - 1);
      if (start < next) break;
      std::uint32_t end = start;
      while (end - start < 245 && image.IsSet(end + 1)) ++end;
      for (std::uint32_t i = 0; i <= end - start; ++i) block[i] = image.GetByte(start + i);
      benchmark::DoNotOptimize(block);
      ++blocks;
      next = end + 1;
      if (next == 0) break;
    }
  }
  state.counters["blocks"] = benchmark::Counter(static_cast<double>(blocks), benchmark::Counter::kAvgIterations);
  state.SetBytesProcessed(state.iterations() * image.GetCount());
}
BENCHMARK(BM_BlockWalk)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
