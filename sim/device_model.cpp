#include "sim/device_model.h"

#include <cstring>

#include "net/message_ids.h"

namespace cvm6 {
namespace {

constexpr std::size_t kWriteHead = 8;  // id, sequence, address

std::uint16_t Get16(const std::uint8_t* bytes) { return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8)); }

std::uint32_t Get32(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
         (static_cast<std::uint32_t>(bytes[2]) << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
}

std::uint8_t Lo(unsigned value) { return static_cast<std::uint8_t>(value & 0xFF); }
std::uint8_t Hi(unsigned value) { return static_cast<std::uint8_t>((value >> 8) & 0xFF); }

}  // namespace

CDeviceModel::CDeviceModel(const DeviceIdentity& identity, const FaultPlan& faults)
    : m_identity(identity), m_faults(faults), m_flash(std::make_unique<CFlashImage>()) {}

DeviceCounts CDeviceModel::Counts() const {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_counts;
}

FramePtr CDeviceModel::Reply(const std::vector<std::uint8_t>& payload) const {
  auto frame = std::make_unique<Frame>();
  frame->destination = m_identity.updaterAddress;
  frame->source = m_faults.replyFrom >= 0 ? static_cast<std::uint8_t>(m_faults.replyFrom & 0x7F) : m_identity.address;
  frame->ackWanted = 1;
  frame->length = static_cast<std::uint8_t>(payload.size() & 0xFF);
  frame->payload = std::make_unique<std::uint8_t[]>(payload.size());
  std::memcpy(frame->payload.get(), payload.data(), payload.size());
  return frame;
}

FramePtr CDeviceModel::Announce() const {
  if (m_faults.noAnnounce) return nullptr;
  auto frame = std::make_unique<Frame>();
  frame->destination = m_identity.updaterAddress;
  frame->ackWanted = 1;
  if (m_identity.announceWithConfig) {
    // The network master (address 0) tells the updater its address and who is present:
    // the model itself.
    std::vector<std::uint8_t> payload(18, 0);
    payload[0] = Lo(MSG_NETWORK_DID_CONFIG);
    payload[1] = Hi(MSG_NETWORK_DID_CONFIG);
    const unsigned address = m_identity.address & 0x7F;
    payload[2 + address / 8] = static_cast<std::uint8_t>(1u << (address % 8));
    frame->source = 0;
    frame->length = 18;
    frame->payload = std::make_unique<std::uint8_t[]>(18);
    std::memcpy(frame->payload.get(), payload.data(), payload.size());
  } else {
    frame->source = m_identity.address;
    frame->length = 2;
    frame->payload = std::make_unique<std::uint8_t[]>(2);
    frame->payload[0] = Lo(MSG_NETWORK_IDENTIFY);
    frame->payload[1] = Hi(MSG_NETWORK_IDENTIFY);
  }
  return frame;
}

DeviceAction CDeviceModel::Respond(const Frame& request) {
  const std::size_t size = request.PayloadSize();
  if (request.destination != m_identity.address || size < 2 || !request.payload) {
    std::lock_guard<std::mutex> guard(m_lock);
    ++m_counts.ignored;
    return {};
  }
  {
    std::lock_guard<std::mutex> guard(m_lock);
    m_lastRequest = std::chrono::steady_clock::now();
  }
  const std::uint8_t* payload = request.payload.get();
  switch (Get16(payload)) {
    case MSG_SYSTEM_REQUEST_DEVICE_DATA:
      return DeviceData();
    case MSG_SYSTEM_DO_START_FLASH_DOWNLOAD:
      if (size >= 3) return StartDownload(payload[2]);
      break;
    case MSG_SYSTEM_DO_WRITE_FLASH:
      if (size >= kWriteHead) return WriteFlash(request);
      break;
    case MSG_SYSTEM_DO_END_FLASH_DOWNLOAD:
      return EndDownload();
    default:
      break;
  }
  std::lock_guard<std::mutex> guard(m_lock);
  ++m_counts.ignored;
  return {};
}

DeviceAction CDeviceModel::DeviceData() const {
  // Byte 2 and bytes 8-9 are not used by the updater; the model sends zeros.
  std::vector<std::uint8_t> payload = {Lo(MSG_SYSTEM_REPLY_DEVICE_DATA), Hi(MSG_SYSTEM_REPLY_DEVICE_DATA), 0,
                                       static_cast<std::uint8_t>(m_identity.version[0]),
                                       static_cast<std::uint8_t>(m_identity.version[1]),
                                       static_cast<std::uint8_t>(m_identity.version[2]),
                                       static_cast<std::uint8_t>(m_identity.version[3]), m_identity.deviceType, 0, 0};
  DeviceAction action;
  action.reply = Reply(payload);
  return action;
}

// A wrong echo names a target other than the one asked for, whatever it was.
static std::uint8_t Echo(std::uint8_t target, bool wrong) { return wrong ? static_cast<std::uint8_t>(target ^ 1) : target; }

DeviceAction CDeviceModel::StartDownload(std::uint8_t target) {
  {
    std::lock_guard<std::mutex> guard(m_lock);
    m_flash = std::make_unique<CFlashImage>();  // erased flash reads 0xFF everywhere
    ++m_counts.erases;
    m_counts.blocks = 0;
    m_counts.bytes = 0;
    m_counts.target = target;
    m_downloading = true;
  }
  DeviceAction action;
  AddLineFaults(action, DownloadPoint::kStart);
  DamageNextBlock(action, 0);
  action.delayMs = m_identity.eraseMs;
  action.reply = Reply({Lo(MSG_SYSTEM_DID_START_FLASH_DOWNLOAD), Hi(MSG_SYSTEM_DID_START_FLASH_DOWNLOAD),
                        Echo(target, m_faults.wrongTarget)});
  return action;
}

DeviceAction CDeviceModel::WriteFlash(const Frame& request) {
  const std::uint8_t* payload = request.payload.get();
  const std::uint16_t sequence = Get16(payload + 2);
  const std::uint32_t address = Get32(payload + 4);
  const std::size_t count = request.PayloadSize() - kWriteHead;
  {
    std::lock_guard<std::mutex> guard(m_lock);
    if (static_cast<std::int32_t>(sequence) == m_faults.loseAckedBlock && !m_ackedBlockLost) {
      m_ackedBlockLost = true;
      return {};
    }
    for (std::size_t i = 0; i < count; ++i)
      m_flash->SetByte(address + static_cast<std::uint32_t>(i), payload[kWriteHead + i]);
    if (count != 0 && static_cast<std::int32_t>(sequence) == m_faults.storeDamagedBlock)
      m_flash->SetByte(address, static_cast<std::uint8_t>(payload[kWriteHead] ^ 0x01));
    ++m_counts.writes;
    ++m_counts.blocks;
    m_counts.bytes += count;
  }
  DeviceAction action;
  AddLineFaults(action, DownloadPoint::kBlock, sequence);
  DamageNextBlock(action, sequence + 1u);
  action.delayMs = m_identity.writeMs;
  const auto block = static_cast<std::int32_t>(sequence);
  if (block == m_faults.silentAfterBlock || block == m_faults.closeAfterBlock) {
    // The unit took the block and then lost power, or its adapter was pulled: no reply.
    action.goSilent = block == m_faults.silentAfterBlock;
    action.unplug = block == m_faults.closeAfterBlock;
    return action;
  }
  const unsigned echoed = block == m_faults.wrongSequenceAtBlock ? (sequence + 1u) & 0xFFFF : sequence;
  action.reply = Reply({Lo(MSG_SYSTEM_DID_WRITE_FLASH), Hi(MSG_SYSTEM_DID_WRITE_FLASH), Lo(echoed), Hi(echoed)});
  if (block == m_faults.badControlAfterBlock) action.badControl = m_faults.badControlByte;
  action.badLength = block == m_faults.badLengthToHostAtBlock;
  return action;
}

DeviceAction CDeviceModel::EndDownload() {
  DeviceCounts counts;
  {
    std::lock_guard<std::mutex> guard(m_lock);
    ++m_counts.updates;
    m_downloading = false;
    counts = m_counts;
  }
  const unsigned reported = static_cast<unsigned>(static_cast<std::int64_t>(counts.blocks) + m_faults.blockCountOffset);
  // Bytes 2-3 are not used by the updater; the model sends zeros.
  DeviceAction action;
  AddLineFaults(action, DownloadPoint::kEnd);
  action.reply = Reply({Lo(MSG_SYSTEM_DID_END_FLASH_DOWNLOAD), Hi(MSG_SYSTEM_DID_END_FLASH_DOWNLOAD), 0, 0,
                        Lo(reported), Hi(reported), Echo(counts.target, m_faults.wrongTarget)});
  action.completedUpdate = true;
  return action;
}

void CDeviceModel::AddLineFaults(DeviceAction& action, DownloadPoint::Kind at, std::uint32_t block) const {
  action.garbageToHost = m_faults.garbageToHost.Is(at, block);
  action.garbageFromHost = m_faults.garbageFromHost.Is(at, block);
  action.silenceToHost = m_faults.silenceToHost.Is(at, block);
  action.silenceFromHost = m_faults.silenceFromHost.Is(at, block);
}

void CDeviceModel::DamageNextBlock(DeviceAction& action, std::uint32_t next) const {
  action.badLengthFromHost = static_cast<std::int64_t>(next) == m_faults.badLengthFromHostAtBlock;
  action.badCheckFromHost = static_cast<std::int64_t>(next) == m_faults.badCheckFromHostAtBlock;
}

bool CDeviceModel::DownloadInProgress() const {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_downloading;
}

std::chrono::steady_clock::duration CDeviceModel::SinceLastRequest() const {
  std::lock_guard<std::mutex> guard(m_lock);
  return std::chrono::steady_clock::now() - m_lastRequest;
}

void CDeviceModel::NoteAnswered() {
  std::lock_guard<std::mutex> guard(m_lock);
  m_lastRequest = std::chrono::steady_clock::now();
}

void CDeviceModel::AbandonDownload() {
  std::lock_guard<std::mutex> guard(m_lock);
  m_downloading = false;
}

}  // namespace cvm6
