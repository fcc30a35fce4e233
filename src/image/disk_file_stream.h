#pragma once
// A disk file as a byte stream, bytes as stored (no newline translation).
#include <cstdio>
#include <memory>
#include <string>
#include <utility>

#include "image/byte_stream.h"

namespace cvm6 {

class CDiskFileStream final : public CByteStream {
 public:
  // Opens `windowsPath` (see OpenRegularFile: regular files only). Nothing on failure.
  static std::unique_ptr<CDiskFileStream> Open(const std::string& windowsPath);
  ~CDiskFileStream() override;
  CDiskFileStream(const CDiskFileStream&) = delete;
  CDiskFileStream& operator=(const CDiskFileStream&) = delete;

  // Throws CImageReadError when the system reports a read error.
  std::size_t Read(std::uint8_t* buffer, std::size_t n) override;

 private:
  CDiskFileStream(std::FILE* file, std::string path) : m_file(file), m_path(std::move(path)) {}

  // The reader asks for one byte at a time: those come from a buffer (the window
  // m_next..m_limit) filled by one fread of 64 KiB, not from one fread (and its lock) each.
  static constexpr std::size_t kBufferSize = 64 * 1024;

  std::FILE* m_file;
  std::string m_path;
  std::unique_ptr<std::uint8_t[]> m_buffer;
};

}  // namespace cvm6
