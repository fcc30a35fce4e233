// The receiver's frame decoding on an arbitrary byte stream: units are read one after
// another as the link's receiver reads them (a control byte, or a frame decoded from its
// first byte on). A frame that passes its check must encode back to the very bytes it
// was read from; a stream that ends inside a frame ends the decoding as a read failure
// does in the receiver.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "link/frame_codec.h"

namespace {

struct EndOfInput {};

class InputSource : public cvm6::IByteSource {
 public:
  InputSource(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}
  void ReadBytes(std::uint8_t* buffer, std::size_t count) override {
    if (count > m_size - m_at) throw EndOfInput{};
    std::memcpy(buffer, m_data + m_at, count);
    m_at += count;
  }
  bool ReadByte(std::uint8_t& byte) {
    if (m_at == m_size) return false;
    byte = m_data[m_at++];
    return true;
  }
  std::size_t At() const { return m_at; }
  const std::uint8_t* Data() const { return m_data; }

 private:
  const std::uint8_t* m_data;
  std::size_t m_size;
  std::size_t m_at = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  InputSource source(data, size);
  std::uint8_t first = 0;
  try {
    while (source.ReadByte(first)) {
      if (first & 0x80) continue;  // a control byte: complete in itself
      const std::size_t start = source.At() - 1;
      cvm6::DecodedFrame decoded = cvm6::DecodeFrame(first, source);
      if (!decoded.frame || !decoded.frame->payload) std::abort();
      if (!decoded.crcGood) continue;
      const cvm6::EncodedFrame again = cvm6::EncodeFrame(*decoded.frame, decoded.sequence);
      if (again.size != source.At() - start) std::abort();
      if (std::memcmp(again.bytes.data(), source.Data() + start, again.size) != 0) std::abort();
    }
  } catch (const EndOfInput&) {
  }
  return 0;
}
