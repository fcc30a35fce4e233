#include "sim/flash_report.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace cvm6 {
namespace {

// Walks the stored addresses of one image in order.
class Cursor {
 public:
  explicit Cursor(const CFlashImage& image) : m_image(image) {
    m_done = image.GetCount() == 0;
    if (!m_done) m_address = image.IsSet(0) ? 0 : image.NextSetAddress(0);
  }
  bool Done() const { return m_done; }
  std::uint32_t Address() const { return m_address; }
  std::uint8_t Value() const { return m_image.GetByte(m_address); }
  void Next() {
    const std::uint32_t next = m_image.NextSetAddress(m_address);
    if (next <= m_address) m_done = true;
    else m_address = next;
  }

 private:
  const CFlashImage& m_image;
  std::uint32_t m_address = 0;
  bool m_done = true;
};

}  // namespace

std::optional<std::uint32_t> FirstDifference(const CFlashImage& actual, const CFlashImage& expected) {
  Cursor a(actual), b(expected);
  while (!a.Done() && !b.Done()) {
    if (a.Address() != b.Address()) return std::min(a.Address(), b.Address());
    if (a.Value() != b.Value()) return a.Address();
    a.Next();
    b.Next();
  }
  if (!a.Done()) return a.Address();
  if (!b.Done()) return b.Address();
  return std::nullopt;
}

bool LoadEmbeddedFirmware(CFlashImage& image) {
  for (std::uint16_t bank = 0; bank < 14; ++bank)
    if (!image.LoadHexResource(static_cast<std::uint16_t>(160 + bank), std::uint32_t{bank} * 0x10000u)) return false;
  return true;
}

namespace {

void Record(std::ostream& out, std::uint16_t offset, std::uint8_t type, const std::vector<std::uint8_t>& data) {
  unsigned sum = static_cast<unsigned>(data.size()) + (offset >> 8) + (offset & 0xFF) + type;
  char text[16];
  std::snprintf(text, sizeof text, ":%02X%04X%02X", static_cast<unsigned>(data.size()), offset, type);
  out << text;
  for (std::uint8_t byte : data) {
    std::snprintf(text, sizeof text, "%02X", byte);
    out << text;
    sum += byte;
  }
  std::snprintf(text, sizeof text, "%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
  out << text;
}

}  // namespace

void WriteIntelHex(const CFlashImage& image, std::ostream& out) {
  std::vector<std::uint8_t> data;
  std::uint32_t recordStart = 0;
  std::uint32_t upper = 0;  // the upper bits start at 0 without a record
  auto flush = [&] {
    if (data.empty()) return;
    const std::uint32_t high = recordStart >> 16;
    if (high != upper) {
      Record(out, 0, 4, {static_cast<std::uint8_t>(high >> 8), static_cast<std::uint8_t>(high)});
      upper = high;
    }
    Record(out, static_cast<std::uint16_t>(recordStart & 0xFFFF), 0, data);
    data.clear();
  };
  ForEachStored(image, [&](std::uint32_t address, std::uint8_t value) {
    const bool continues = !data.empty() && address == recordStart + data.size() && (address & 0xFFFF) != 0;
    if (!continues || data.size() == 16) {
      flush();
      recordStart = address;
    }
    data.push_back(value);
  });
  flush();
  Record(out, 0, 1, {});
}

}  // namespace cvm6
