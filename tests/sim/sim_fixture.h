#pragma once
// A simulator on its line (a pseudo-terminal; in memory on Windows) with the test as the
// updater, and a small image whose blocks cover the awkward cases: bytes that look like
// control bytes, a block of 246 bytes and one of 248 (length byte 0 on the wire).
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "image/flash_image.h"
#include "raw_updater.h"
#include "sim/device_simulator.h"

namespace cvm6::test {

struct Block {
  std::uint32_t address;
  Bytes data;
};

inline std::vector<Block> SmallImage() {
  std::vector<Block> blocks;
  Bytes first(22);
  for (std::size_t i = 0; i < first.size(); ++i) first[i] = static_cast<std::uint8_t>(i * 7);
  blocks.push_back({0x02000, first});
  blocks.push_back({0x0201B, {0xFF, 0xA5, 0xDA}});
  Bytes full(246);
  for (std::size_t i = 0; i < full.size(); ++i) full[i] = static_cast<std::uint8_t>(i + 10);
  blocks.push_back({0x10000, full});
  Bytes longest(248);
  for (std::size_t i = 0; i < longest.size(); ++i) longest[i] = static_cast<std::uint8_t>(255 - i);
  blocks.push_back({0x2FF80, longest});
  return blocks;
}

inline void Fill(CFlashImage& image, const std::vector<Block>& blocks) {
  for (const auto& block : blocks)
    for (std::size_t i = 0; i < block.data.size(); ++i)
      image.SetByte(block.address + static_cast<std::uint32_t>(i), block.data[i]);
}

inline Bytes Le16(std::uint16_t id, std::initializer_list<std::uint8_t> rest = {}) {
  Bytes out;
  out.reserve(2 + rest.size());
  out.push_back(static_cast<std::uint8_t>(id));
  out.push_back(static_cast<std::uint8_t>(id >> 8));
  for (std::uint8_t byte : rest) out.push_back(byte);
  return out;
}

class SimulatorTest : public ::testing::Test {
 protected:
  static SimulatorConfig FastConfig() {
    SimulatorConfig config;
    config.identity.eraseMs = 0;
    config.identity.writeMs = 0;
    return config;
  }
  void Start(const SimulatorConfig& config) {
    sim = std::make_unique<CDeviceSimulator>(config);
    ASSERT_TRUE(sim->Start()) << sim->ErrorText();
    Connect();
  }
  void Connect() {
    updater = std::make_unique<RawUpdater>(sim->OpenHostPort());
    ASSERT_TRUE(updater->IsOpen());
  }
  // Start, every block, end; the replies in order (a missing one ends the list).
  std::vector<WireUnit> Download(const std::vector<Block>& blocks, std::uint8_t target = 0) {
    std::vector<WireUnit> replies;
    auto reply = updater->Request(StartRequest(target));
    if (!reply) return replies;
    replies.push_back(*reply);
    std::uint16_t sequence = 0;
    for (const auto& block : blocks) {
      reply = updater->Request(WriteRequest(sequence++, block.address, block.data));
      if (!reply) return replies;
      replies.push_back(*reply);
    }
    reply = updater->Request(EndRequest());
    if (reply) replies.push_back(*reply);
    return replies;
  }

  std::unique_ptr<CDeviceSimulator> sim;
  std::unique_ptr<RawUpdater> updater;  // closed before the simulator goes
};

}  // namespace cvm6::test
