// The floor for a stop-and-wait download over a pseudo-terminal: the same write-flash
// frames the updater sends for the embedded image, each written whole to the slave side,
// each answered by a minimal thread on the master side with ten bytes (the unit's 0xA5
// and a nine-byte write reply), read whole before the next frame goes. No link engine,
// no queues, no events: only what the kernel needs to carry the bytes both ways.
//
// Prints "Floor: N frames, B bytes in S s" (S covers the frame loop only).
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "image/flash_image.h"
#include "link/crc8.h"
#include "net/message_ids.h"

namespace {

constexpr std::uint32_t kMaxBlock = 246;
constexpr std::uint8_t kUnit = 1, kUpdater = 0;

void MakeRaw(int fd) {
  termios tio{};
  tcgetattr(fd, &tio);
  cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD;
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  tcsetattr(fd, TCSANOW, &tio);
}

// All `count` bytes through `transfer` (read or write, blocking); false when the line fails.
template <typename Byte, typename Transfer>
bool Exactly(Transfer transfer, int fd, Byte* buffer, std::size_t count) {
  std::size_t done = 0;
  while (done < count) {
    const ssize_t n = transfer(fd, buffer + done, count - done);
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool ReadExactly(int fd, std::uint8_t* buffer, std::size_t count) { return Exactly(::read, fd, buffer, count); }
bool WriteExactly(int fd, const std::uint8_t* buffer, std::size_t count) { return Exactly(::write, fd, buffer, count); }

// The frames of the download, as on the wire: destination, source with the ack flag,
// link sequence, length (0 for 256), payload (id, block number, address, data), CRC-8.
std::vector<std::vector<std::uint8_t>> BuildFrames() {
  cvm6::CFlashImage image;
  for (std::uint16_t bank = 0; bank < 14; ++bank) image.LoadHexResource(160 + bank, bank * 0x10000u);
  std::vector<std::vector<std::uint8_t>> frames;
  if (image.GetCount() == 0) return frames;
  std::uint32_t next = 0;
  std::uint16_t block = 0;
  std::uint8_t sequence = 1;
  for (;;) {
    const std::uint32_t start = image.NextSetAddress(next - 1);
    if (start < next) break;
    std::uint32_t end = start;
    while (end - start < kMaxBlock - 1 && image.IsSet(end + 1)) ++end;
    const std::uint32_t n = end - start + 1;
    std::vector<std::uint8_t> f = {kUnit, static_cast<std::uint8_t>(kUpdater | 0x80), sequence,
                                   static_cast<std::uint8_t>(n + 8),
                                   static_cast<std::uint8_t>(cvm6::MSG_SYSTEM_DO_WRITE_FLASH), 0,
                                   static_cast<std::uint8_t>(block), static_cast<std::uint8_t>(block >> 8)};
    for (int i = 0; i < 4; ++i) f.push_back(static_cast<std::uint8_t>(start >> (8 * i)));
    for (std::uint32_t i = 0; i < n; ++i) f.push_back(image.GetByte(start + i));
    f.push_back(cvm6::Crc8(f.data(), f.size()));
    frames.push_back(std::move(f));
    sequence = sequence == 255 ? 1 : static_cast<std::uint8_t>(sequence + 1);
    ++block;
    next = end + 1;
    if (next == 0) break;
  }
  return frames;
}

// The answering side: reads one frame (header, then the rest its length byte names) and
// answers with 0xA5 and a nine-byte reply in one write.
void Answer(int master, std::size_t frames) {
  std::uint8_t buffer[300];
  std::uint8_t sequence = 1;
  for (std::size_t i = 0; i < frames; ++i) {
    if (!ReadExactly(master, buffer, 4)) return;
    const std::size_t payload = buffer[3] == 0 ? 256 : buffer[3];
    if (!ReadExactly(master, buffer + 4, payload + 1)) return;
    std::uint8_t reply[10] = {0xA5, kUpdater, static_cast<std::uint8_t>(kUnit | 0x80), sequence, 4,
                              static_cast<std::uint8_t>(cvm6::MSG_SYSTEM_DID_WRITE_FLASH), 0, buffer[6], buffer[7], 0};
    reply[9] = cvm6::Crc8(reply + 1, 8);
    if (!WriteExactly(master, reply, sizeof reply)) return;
    sequence = sequence == 255 ? 1 : static_cast<std::uint8_t>(sequence + 1);
  }
}

}  // namespace

int main() {
  const auto frames = BuildFrames();
  if (frames.empty()) {
    std::fprintf(stderr, "floor: no embedded image\n");
    return 1;
  }
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    std::perror("floor: pseudo-terminal");
    return 1;
  }
  const int slave = open(ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave < 0) {
    std::perror("floor: slave");
    return 1;
  }
  MakeRaw(master);
  MakeRaw(slave);

  std::thread answerer(Answer, master, frames.size());
  std::size_t bytes = 0;
  std::uint8_t answer[10];
  const auto started = std::chrono::steady_clock::now();
  for (const auto& frame : frames) {
    if (!WriteExactly(slave, frame.data(), frame.size()) || !ReadExactly(slave, answer, sizeof answer)) {
      std::fprintf(stderr, "floor: the line failed\n");
      return 1;
    }
    bytes += frame.size() + sizeof answer;
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  answerer.join();
  std::printf("Floor: %zu frames, %zu bytes in %.3f s\n", frames.size(), bytes, seconds);
  close(slave);
  close(master);
  return 0;
}
