#pragma once
// SHA-256 (FIPS 180-4), small and self-contained: an image is named by its digest (see
// image_digest.h), so that what was loaded and what a unit holds compare at a glance.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace cvm6 {

class CSha256 {
 public:
  CSha256();
  void Update(const std::uint8_t* data, std::size_t size);
  std::array<std::uint8_t, 32> Finish();
  // Lower-case hex of Finish().
  std::string FinishHex();

 private:
  void Block(const std::uint8_t* block);

  std::array<std::uint32_t, 8> m_state;
  std::array<std::uint8_t, 64> m_buffer{};
  std::size_t m_buffered = 0;
  std::uint64_t m_length = 0;  // bytes
};

}  // namespace cvm6
