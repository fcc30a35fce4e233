#include "support/raw_device.h"

#include <algorithm>

namespace cvm6::test {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

Bytes Id(std::uint16_t id) { return Bytes{static_cast<std::uint8_t>(id & 0xFF), static_cast<std::uint8_t>(id >> 8)}; }

}  // namespace

void RawDevice::Start() {
  if (m_script.linkUpFromEarlierSession) {
    m_up = true;
    m_announced = true;
    m_upSince = Clock::now();
    if (m_script.staleReply)
      m_outstanding = WireFrame(m_script.updaterAddress, m_script.address, ++m_txSequence, Bytes{0x24, 0x00, 7, 0});
  }
  m_thread = std::thread([this] { Run(); });
}

void RawDevice::Stop() {
  m_stop = true;
  if (m_thread.joinable()) m_thread.join();
}

std::vector<WireUnit> RawDevice::Frames() {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_frames;
}

std::vector<std::uint16_t> RawDevice::Ids() {
  std::vector<std::uint16_t> ids;
  for (const auto& frame : Frames())
    if (frame.payload.size() >= 2) ids.push_back(static_cast<std::uint16_t>(frame.payload[0] | frame.payload[1] << 8));
  return ids;
}

std::vector<ReceivedBlock> RawDevice::Blocks() {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_blocks;
}

std::map<std::uint32_t, std::uint8_t> RawDevice::Flash() {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_flash;
}

std::optional<Clock::time_point> RawDevice::UnplugTime() {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_unplugTime;
}

void RawDevice::Raw(const Bytes& bytes) {
  if (m_gone) return;
  m_pty.Write(bytes);
  m_lastWrite = Clock::now();
}

void RawDevice::Send(const Bytes& payload, bool ackWanted, std::optional<std::uint8_t> source) {
  std::optional<std::uint8_t> sequence;
  if (ackWanted) sequence = ++m_txSequence;
  Raw(WireFrame(m_script.updaterAddress, source.value_or(m_script.address), sequence, payload));
}

void RawDevice::Run() {
  m_lastWrite = m_lastWakeAnswer = Clock::now() - milliseconds(1000);
  while (!m_stop) {
    if (!m_pty.IsMasterOpen() || m_gone) {
      std::this_thread::sleep_for(milliseconds(5));
      continue;
    }
    std::uint8_t buffer[4096];
    const int n = m_pty.ReadSome(buffer, sizeof buffer, 5);
    if (m_powerBackAt) {  // without power: what comes is lost
      if (Clock::now() < *m_powerBackAt) continue;
      m_powerBackAt.reset();
      m_pending.clear();
      m_txSequence = 0;
      m_lastRxSequence.reset();
      m_outstanding.clear();
      m_wakesOnItsOwn = true;
      m_restarted = true;
      m_lastWrite = Clock::now() - milliseconds(1000);
      continue;
    }
    if (n > 0) m_pending.insert(m_pending.end(), buffer, buffer + n);
    // Take off every whole unit; an incomplete frame stays for the next read.
    std::size_t used = 0;
    for (const auto& unit : ParseUnits(m_pending)) {
      used += unit.control ? 1 : unit.raw.size();
      if (unit.control)
        HandleControl(unit.byte);
      else
        HandleFrame(unit);
      if (m_gone || m_powerBackAt) break;
    }
    m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<long>(std::min(used, m_pending.size())));
    if (m_gone) continue;

    const auto now = Clock::now();
    if (m_wakeAnswerDue && now >= *m_wakeAnswerDue) {
      m_wakeAnswerDue.reset();
      m_lastWakeAnswer = now;
      Raw(Bytes{0xFF});
    }
    if (m_powerBackAt) continue;
    MaybeAnnounce(now);
    for (auto due = m_delayed.begin(); due != m_delayed.end();) {
      if (now < due->due) {
        ++due;
        continue;
      }
      Send(due->payload, false, m_script.flashReplySource);
      due = m_delayed.erase(due);
    }
    if (m_up && now - m_lastWrite >= milliseconds(500)) Raw(Bytes{0x8C});
    if (!m_up && m_wakesOnItsOwn && now - m_lastWrite >= milliseconds(100)) Raw(Bytes(16, 0xFF));
  }
}

bool RawDevice::GarbleReply(std::uint16_t request, const Bytes& reply) {
  if (m_garbled || request != m_script.garbleReplyOfRequest) return false;
  m_garbled = true;
  if (!m_script.loseGarbledReply)
    m_outstanding = WireFrame(m_script.updaterAddress, m_script.address, ++m_txSequence, reply);
  Raw(Bytes{0x80});
  return true;
}

void RawDevice::LinkCameUp(Clock::time_point now) {
  m_up = true;
  m_upSince = now;
  m_wakesOnItsOwn = false;
  MaybeAnnounce(now);  // at once: ahead of anything it is asked in the same read
}

void RawDevice::MaybeAnnounce(Clock::time_point now) {
  if (!m_up || !m_script.announce || m_announced || now - m_upSince < milliseconds(m_script.announceDelayMs)) return;
  if (m_script.staleReply && !m_outstanding.empty()) return;  // nothing new goes out before it
  m_announced = true;
  if (m_script.malformedAnnouncementFirst) Send(Id(0x02), false);
  Send(Id(0x02), m_script.announceAckWanted);  // IDENTIFY
}

void RawDevice::HandleControl(std::uint8_t byte) {
  const auto now = Clock::now();
  if (byte == 0xDA) {
    ++m_naks;
    if (!m_outstanding.empty()) Raw(m_outstanding);
    return;
  }
  if (byte == 0xA5) {
    ++m_acks;
    m_outstanding.clear();
    if (m_unplugOnAck) {
      m_unplugOnAck = false;
      m_pty.CloseMaster();
      m_up = false;
      m_gone = true;
      std::lock_guard<std::mutex> guard(m_lock);
      m_unplugTime = now;
    }
    return;
  }
  if (byte >= 0x80 && byte != 0x8C && byte != 0xF0 && byte != 0xFF) {  // no such control byte
    if (!m_up) return;
    ++m_badControlDowns;
    m_up = false;
    m_announced = false;
    m_wakesOnItsOwn = true;
    m_lastWrite = now - milliseconds(1000);  // its first wake burst goes out at once
    return;
  }
  if (byte == 0xFF && m_up && (m_script.stayUpOnWake || m_script.linkUpFromEarlierSession)) {
    if (now - m_lastWakeAnswer >= milliseconds(50)) {
      m_lastWakeAnswer = now;
      Raw(Bytes(261, 0xF0));
    }
    return;
  }
  if (byte == 0xFF) {
    // A wake: the updater's link is down. Answer it once per burst with a wake of ours,
    // which brings it up with a sync block.
    if (m_up) {
      m_up = false;
      m_announced = false;
    }
    if (m_script.announceBeforeLinkUp && !m_announced && !m_wakeAnswerDue) {
      m_announced = true;
      Send(Id(0x02), true);  // IDENTIFY
      m_wakeAnswerDue = now + milliseconds(200);
      return;
    }
    if (m_wakeAnswerDue) return;
    if (now - m_lastWakeAnswer >= milliseconds(50)) {
      m_lastWakeAnswer = now;
      Raw(Bytes{0xFF});
    }
  } else if (byte == 0xF0 && !m_up) {
    LinkCameUp(now);
  }
  // 0xA5 for our IDENTIFY and the keep-alive 0x8C need nothing.
}

void RawDevice::HandleFrame(const WireUnit& unit) {
  if (!unit.crcGood) {
    ++m_badFrames;
    if (unit.ackWanted) Raw(Bytes{0xDA});
    return;
  }
  if (unit.ackWanted && !m_script.refuseFirstCopyOfBlocks.empty() && unit.payload.size() >= 4 &&
      unit.payload[0] == 0x19) {
    const int block = unit.payload[2] | unit.payload[3] << 8;
    const auto& refuse = m_script.refuseFirstCopyOfBlocks;
    if (std::find(refuse.begin(), refuse.end(), block) != refuse.end() &&
        std::find(m_refused.begin(), m_refused.end(), block) == m_refused.end()) {
      m_refused.push_back(block);
      Raw(Bytes{0xDA});
      return;
    }
  }
  if (unit.ackWanted) {
    Raw(Bytes{0xA5});
    if (m_lastRxSequence == unit.sequence) return;  // a repeat: acknowledged, not acted on
    m_lastRxSequence = unit.sequence;
  }
  {
    std::lock_guard<std::mutex> guard(m_lock);
    m_frames.push_back(unit);
  }
  const Bytes& p = unit.payload;
  if (p.size() < 2 || unit.dest != m_script.address) return;
  const std::uint16_t id = static_cast<std::uint16_t>(p[0] | p[1] << 8);
  auto deviceData = [&] {
    Bytes reply = Id(0x1B);
    reply.push_back(0);
    for (char c : m_script.version) reply.push_back(static_cast<std::uint8_t>(c));
    reply.push_back(m_script.deviceType);
    reply.insert(reply.end(), {0, 0});
    if (!GarbleReply(0x1A, reply)) Send(reply, false, m_script.deviceDataSource);
  };
  switch (id) {
    case 0x1A:  // REQUEST_DEVICE_DATA
      if (m_script.answerDeviceData) deviceData();
      break;
    case 0x15: {  // DO_START_FLASH_DOWNLOAD
      if (p.size() < 3) break;
      m_target = p[2];
      ++m_startRequests;
      {
        std::lock_guard<std::mutex> guard(m_lock);
        m_blocks.clear();
      }
      if (m_script.deviceDataDuringUpdate) deviceData();
      if (m_script.atStart != DeviceScript::AtStart::kNothing) {
        if (m_script.atStart == DeviceScript::AtStart::kAnnouncesFromOne) m_txSequence = 0;
        Send(Id(0x02), true);
      }
      if (m_script.answerStart) {
        Bytes reply = Id(0x16);
        reply.push_back(static_cast<std::uint8_t>(m_target + m_script.startEchoDelta));
        if (m_script.startReplyDelayMs > 0)
          m_delayed.push_back({Clock::now() + milliseconds(m_script.startReplyDelayMs), reply});
        else if (!GarbleReply(0x15, reply))
          Send(reply, false, m_script.flashReplySource);
      }
      break;
    }
    case 0x19: {  // DO_WRITE_FLASH
      if (p.size() < 8) break;
      ReceivedBlock block{static_cast<std::uint16_t>(p[2] | p[3] << 8),
                          static_cast<std::uint32_t>(p[4] | p[5] << 8 | p[6] << 16 | static_cast<std::uint32_t>(p[7]) << 24),
                          Bytes(p.begin() + 8, p.end())};
      int index;
      {
        std::lock_guard<std::mutex> guard(m_lock);
        index = static_cast<int>(m_blocks.size());
        for (std::size_t i = 0; i < block.data.size(); ++i) m_flash[block.address + static_cast<std::uint32_t>(i)] = block.data[i];
        m_blocks.push_back(block);
      }
      if (m_script.silentFromBlock >= 0 && index >= m_script.silentFromBlock) break;
      const std::uint16_t echo = static_cast<std::uint16_t>(block.sequence + (index == m_script.wrongSequenceAtBlock ? 1 : 0));
      const Bytes reply{0x24, 0x00, static_cast<std::uint8_t>(echo & 0xFF), static_cast<std::uint8_t>(echo >> 8)};
      if (index == m_script.replyDelayAtBlock) {
        m_delayed.push_back({Clock::now() + milliseconds(m_script.replyDelayMs), reply});
        break;
      }
      if (index == m_script.garbleReplyOfBlock) {
        m_outstanding = WireFrame(m_script.updaterAddress, m_script.address, ++m_txSequence, reply);
        Raw(Bytes{0x80});
        break;
      }
      if (index == m_script.damageReplyOfBlock) {
        m_outstanding = WireFrame(m_script.updaterAddress, m_script.address, ++m_txSequence, reply);
        Bytes damaged = m_outstanding;
        damaged.back() ^= 0x01;
        Raw(damaged);
        break;
      }
      Send(reply, false, m_script.flashReplySource);
      if (index == m_script.malformedAnnouncementAtBlock) Send(Id(0x02), false);
      if (index == m_script.announceAgainAtBlock) Send(Id(0x02), true);
      if (index + 1 == m_script.dropLinkAfterBlocks) {
        Raw(Bytes{0x80});  // no such control byte: the updater's link goes down
        m_up = false;
        m_gone = true;
      }
      if (index + 1 == m_script.restartAfterBlocks) {
        m_up = false;
        m_announced = false;
        m_powerBackAt = Clock::now() + milliseconds(m_script.restartMs);
      }
      if (index + 1 == m_script.unplugAfterBlocks) {
        m_pty.CloseMaster();
        m_up = false;
        m_gone = true;
        std::lock_guard<std::mutex> guard(m_lock);
        m_unplugTime = Clock::now();
      }
      break;
    }
    case 0x17: {  // DO_END_FLASH_DOWNLOAD
      if (!m_script.answerEnd) break;
      const auto count = static_cast<std::uint16_t>(static_cast<int>(Blocks().size()) + m_script.endCountDelta);
      const Bytes reply{0x18, 0x00, 0x00, 0x00, static_cast<std::uint8_t>(count & 0xFF), static_cast<std::uint8_t>(count >> 8),
                        m_target};
      if (m_script.unplugOnEndReplyAck) {
        Send(reply, true, m_script.flashReplySource);
        m_unplugOnAck = true;
      } else if (!GarbleReply(0x17, reply)) {
        Send(reply, false, m_script.flashReplySource);
      }
      break;
    }
    default: break;
  }
}

}  // namespace cvm6::test
