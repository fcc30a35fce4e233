#include "net/network_node.h"

#include <cstring>
#include <new>
#include <stdexcept>

#include "net/message_catalogue.h"
#include "net/message_ids.h"
#include "platform/failure.h"

namespace cvm6 {

CNetworkNode::CNetworkNode(LinkLimits limits) : m_link(limits) {}

void CNetworkNode::Poll(std::uint32_t count) {
  for (std::uint32_t remaining = count; count == 0 || remaining > 0; --remaining) {
    // Held by a unique_ptr so that a handler failing with 1303 still releases the frame
    // in hand; the frames behind it stay queued for the next Poll.
    FramePtr frame = m_link.TakeReceived();
    if (!frame) return;
    Dispatch(*frame);
  }
}

void CNetworkNode::Dispatch(const Frame& frame) {
  const FrameInfo info{frame.destination, frame.source, frame.ackWanted == 1};
  const std::uint8_t lengthByte = frame.length;
  const std::size_t size = frame.PayloadSize();
  const std::uint8_t* payload = frame.payload.get();
  if (!payload) return;  // the link never delivers a record without payload

  // One byte holds no whole identifier: hand it on as unhandled, with byte 0 as the id,
  // and read nothing beyond it.
  if (size < 2) {
    OnUnhandled(payload[0], lengthByte, payload, info.destination, info.source, info.ackWanted);
    return;
  }
  const std::uint16_t id = static_cast<std::uint16_t>(payload[0] | (payload[1] << 8));

  // The length check comes before everything else, notices included.
  if (const MessageRow* row = FindMessage(id)) {
    if (!PassesLengthCheck(*row, static_cast<std::uint32_t>(size))) {
      Trace("DEL: ", *row);
      OnInvalidLength(id, lengthByte, payload, info.destination, info.source, info.ackWanted);
      return;
    }
    Trace("RCV: ", *row);
  }

  const bool notice = info.destination == kNoAddress && info.source == kNoAddress;
  switch (id) {
    case MSG_NETWORK_EVENT_NOW_ACTIVE:
      if (notice) return OnNowActive();
      break;
    case MSG_NETWORK_EVENT_NOW_INACTIVE:
      if (notice) return OnNowInactive();
      break;
    case MSG_NETWORK_PING: return OnPing(info);
    case MSG_NETWORK_DID_CONFIG: return OnDidConfig(payload, info);
    case MSG_NETWORK_IDENTIFY: return OnIdentify(info);
    case MSG_NETWORK_DO_ADD_TO_LIST: return OnDoAddToList(payload, info);
    case MSG_NETWORK_DID_ADD_TO_LIST: return OnDidAddToList(payload, info);
    case MSG_NETWORK_DO_REMOVE_FROM_LIST: return OnDoRemoveFromList(payload, info);
    case MSG_NETWORK_DID_REMOVE_FROM_LIST: return OnDidRemoveFromList(payload, info);
    case MSG_NETWORK_DO_CLEAR_LIST: return OnDoClearList(payload, info);
    case MSG_NETWORK_POLL_LIST_REPLY: return OnPollListReply(payload, info);
    case MSG_SYSTEM_DO_SOFT_RESET: return OnDoSoftReset(info);
    case MSG_SYSTEM_DO_FACTORY_RESET: return OnDoFactoryReset(info);
    case MSG_SYSTEM_DID_POWER_ON_RESET: return OnDidPowerOnReset(info);
    case MSG_SYSTEM_DID_SOFT_RESET: return OnDidSoftReset(info);
    case MSG_SYSTEM_DID_FACTORY_RESET: return OnDidFactoryReset(info);
    case MSG_SYSTEM_DO_START_FLASH_DOWNLOAD: return OnDoStartFlashDownload(payload, info);
    case MSG_SYSTEM_DID_START_FLASH_DOWNLOAD: return OnDidStartFlashDownload(payload, info);
    case MSG_SYSTEM_DO_END_FLASH_DOWNLOAD: return OnDoEndFlashDownload(info);
    case MSG_SYSTEM_DID_END_FLASH_DOWNLOAD: return OnDidEndFlashDownload(payload, info);
    case MSG_SYSTEM_DO_WRITE_FLASH:
      return OnDoWriteFlash(payload, static_cast<std::uint8_t>(lengthByte - 8), info);
    case MSG_SYSTEM_DID_WRITE_FLASH: return OnDidWriteFlash(payload, info);
    case MSG_SYSTEM_REQUEST_DEVICE_DATA: return OnRequestDeviceData(info);
    case MSG_SYSTEM_REPLY_DEVICE_DATA: return OnReplyDeviceData(payload, info);
    default: break;
  }
  // Everything else, including the link-event ids from real addresses.
  OnUnhandled(id, lengthByte, payload, info.destination, info.source, info.ackWanted);
}

bool CNetworkNode::Send(std::uint8_t destination, std::uint8_t source, bool ackWanted,
                        std::uint8_t lengthByte, Payload payload) {
  // Every refusal returns with `payload` going out of scope: it is released here.
  if (!payload) return false;
  if (!m_link.IsActive()) return false;
  if (!IsPresent(destination)) return false;  // 255 is never present
  const std::uint8_t from = source == kNoAddress ? m_ownAddress : source;
  if (from >= kFirstNonNetworkAddress) return false;  // includes an own address not yet known

  FramePtr frame(new (std::nothrow) Frame);
  if (!frame) ThrowCode(1302);
  frame->destination = destination;
  frame->source = from;
  frame->ackWanted = ackWanted ? 1 : 0;
  frame->length = lengthByte;
  frame->payload = std::move(payload);

  const std::uint16_t id =
      static_cast<std::uint16_t>(frame->payload[0] | (frame->PayloadSize() > 1 ? frame->payload[1] << 8 : 0));
  if (const MessageRow* row = FindMessage(id)) Trace("SND: ", *row);
  m_link.QueueTransmit(std::move(frame));
  return true;
}

bool CNetworkNode::SendSimple(std::uint8_t destination, std::uint8_t source, bool ackWanted,
                              std::uint16_t id) {
  return Send(destination, source, ackWanted, 2, AllocPayload(2, id));
}

bool CNetworkNode::SendStartFlashDownload(std::uint8_t target, std::uint8_t destination,
                                          std::uint8_t source, bool ackWanted) {
  Payload payload = AllocPayload(3, MSG_SYSTEM_DO_START_FLASH_DOWNLOAD);
  payload[2] = target;
  return Send(destination, source, ackWanted, 3, std::move(payload));
}

bool CNetworkNode::SendEndFlashDownload(std::uint8_t destination, std::uint8_t source, bool ackWanted) {
  return SendSimple(destination, source, ackWanted, MSG_SYSTEM_DO_END_FLASH_DOWNLOAD);
}

bool CNetworkNode::SendWriteFlash(std::uint32_t address, std::uint16_t sequence,
                                  const std::uint8_t* data, std::uint8_t dataLength,
                                  std::uint8_t destination, std::uint8_t source, bool ackWanted) {
  if (dataLength > kMaxWriteFlashData)
    throw std::invalid_argument("write-flash block of " + std::to_string(dataLength) +
                                " data bytes; at most 248 fit");
  // Always the full 256 bytes: the length byte, not the buffer, says how much goes out.
  Payload payload = AllocPayload(kMaxPayload, MSG_SYSTEM_DO_WRITE_FLASH);
  payload[2] = static_cast<std::uint8_t>(sequence);
  payload[3] = static_cast<std::uint8_t>(sequence >> 8);
  for (int i = 0; i < 4; ++i) payload[4 + i] = static_cast<std::uint8_t>(address >> (8 * i));
  if (dataLength > 0) std::memcpy(&payload[8], data, dataLength);
  // 248 data bytes make a 256-byte payload, whose length byte is 0.
  return Send(destination, source, ackWanted, static_cast<std::uint8_t>(dataLength + 8), std::move(payload));
}

bool CNetworkNode::SendRequestDeviceData(std::uint8_t destination, std::uint8_t source, bool ackWanted) {
  return SendSimple(destination, source, ackWanted, MSG_SYSTEM_REQUEST_DEVICE_DATA);
}

CNetworkNode::Payload CNetworkNode::AllocPayload(std::uint32_t size, std::uint16_t id) {
  Payload payload(new (std::nothrow) std::uint8_t[size]);
  if (!payload) ThrowCode(1302);
  // A size below 2 has no room for the whole identifier; write only what fits.
  if (size > 0) payload[0] = static_cast<std::uint8_t>(id);
  if (size > 1) payload[1] = static_cast<std::uint8_t>(id >> 8);
  return payload;
}

bool CNetworkNode::IsPresent(std::uint8_t address) const {
  if (address >= kFirstNonNetworkAddress) return false;
  return (m_presence[address / 8] >> (address % 8)) & 1;
}

void CNetworkNode::OnNowInactive() {
  m_peerAddress = kNoAddress;
  m_ownAddress = kNoAddress;
  std::memset(m_presence, 0, sizeof m_presence);
  OnNetworkChanged();
}

void CNetworkNode::OnDidConfig(const std::uint8_t* payload, const FrameInfo& info) {
  // Only the network's master, address 0, hands out configurations.
  if (info.source != 0) ThrowCode(1303, "network configuration from address " + std::to_string(info.source));
  m_ownAddress = info.destination;
  m_peerAddress = 0;
  std::memcpy(m_presence, payload + 2, sizeof m_presence);
  OnNetworkChanged();
}

void CNetworkNode::OnIdentify(const FrameInfo& info) {
  // A unit announces itself in an acknowledged frame; an unacknowledged one is not trusted.
  if (!info.ackWanted) ThrowCode(1303, "identification without acknowledgement");
  m_ownAddress = info.destination;
  m_peerAddress = info.source;
  std::memset(m_presence, 0, sizeof m_presence);
  if (m_peerAddress < kFirstNonNetworkAddress) m_presence[m_peerAddress / 8] |= 1u << (m_peerAddress % 8);
  OnNetworkChanged();
}

void CNetworkNode::Trace(const char* prefix, const MessageRow& row) const {
  if (!m_traceSink) return;  // the default sink discards: skip composing the line
  m_traceSink(prefix + MessageName(row) + "\n");
}

}  // namespace cvm6
