#include "recording_node.h"

#include <stdexcept>

namespace cvm6::test {

RecordingNode::RecordingNode(LinkLimits limits) : CNetworkNode(limits) {
  SetTraceSink([this](const std::string& line) { trace.push_back(line); });
}

std::vector<std::string> RecordingNode::Slots() const {
  std::vector<std::string> slots;
  for (const HandlerCall& call : calls) slots.push_back(call.slot);
  return slots;
}

void RecordingNode::Record(const char* slot, const FrameInfo& info) {
  HandlerCall call;
  call.slot = slot;
  call.info = info;
  calls.push_back(call);
}

void RecordingNode::Record(const char* slot, const std::uint8_t* payload, const FrameInfo& info) {
  Record(slot, info);
  calls.back().id = static_cast<std::uint16_t>(payload[0] | payload[1] << 8);
}

void RecordingNode::RecordWhole(const char* slot, std::uint16_t id, std::uint8_t lengthByte,
                                const std::uint8_t* payload, std::uint8_t destination, std::uint8_t source,
                                bool ackWanted) {
  Record(slot, FrameInfo{destination, source, ackWanted});
  calls.back().id = id;
  calls.back().lengthByte = lengthByte;
  calls.back().payload.assign(payload, payload + (lengthByte == 0 ? 256 : lengthByte));
}

void RecordingNode::OnNowActive() { Record("OnNowActive", FrameInfo{255, 255, false}); }
void RecordingNode::OnNowInactive() {
  Record("OnNowInactive", FrameInfo{255, 255, false});
  CNetworkNode::OnNowInactive();
}
void RecordingNode::OnNetworkChanged() { ++networkChanges; }
void RecordingNode::OnInvalidLength(std::uint16_t id, std::uint8_t lengthByte, const std::uint8_t* payload,
                                    std::uint8_t destination, std::uint8_t source, bool ackWanted) {
  RecordWhole("OnInvalidLength", id, lengthByte, payload, destination, source, ackWanted);
}
void RecordingNode::OnUnhandled(std::uint16_t id, std::uint8_t lengthByte, const std::uint8_t* payload,
                                std::uint8_t destination, std::uint8_t source, bool ackWanted) {
  RecordWhole("OnUnhandled", id, lengthByte, payload, destination, source, ackWanted);
}
void RecordingNode::OnPing(const FrameInfo& info) { Record("OnPing", info); }
void RecordingNode::OnDidConfig(const std::uint8_t* payload, const FrameInfo& info) {
  Record("OnDidConfig", payload, info);
  CNetworkNode::OnDidConfig(payload, info);
}
void RecordingNode::OnIdentify(const FrameInfo& info) {
  Record("OnIdentify", info);
  CNetworkNode::OnIdentify(info);
}
void RecordingNode::OnDoAddToList(const std::uint8_t* p, const FrameInfo& i) { Record("OnDoAddToList", p, i); }
void RecordingNode::OnDidAddToList(const std::uint8_t* p, const FrameInfo& i) { Record("OnDidAddToList", p, i); }
void RecordingNode::OnDoRemoveFromList(const std::uint8_t* p, const FrameInfo& i) {
  Record("OnDoRemoveFromList", p, i);
}
void RecordingNode::OnDidRemoveFromList(const std::uint8_t* p, const FrameInfo& i) {
  Record("OnDidRemoveFromList", p, i);
}
void RecordingNode::OnDoClearList(const std::uint8_t* p, const FrameInfo& i) { Record("OnDoClearList", p, i); }
void RecordingNode::OnPollListReply(const std::uint8_t* p, const FrameInfo& i) { Record("OnPollListReply", p, i); }
void RecordingNode::OnDoSoftReset(const FrameInfo& i) { Record("OnDoSoftReset", i); }
void RecordingNode::OnDoFactoryReset(const FrameInfo& i) { Record("OnDoFactoryReset", i); }
void RecordingNode::OnDidPowerOnReset(const FrameInfo& i) { Record("OnDidPowerOnReset", i); }
void RecordingNode::OnDidSoftReset(const FrameInfo& i) { Record("OnDidSoftReset", i); }
void RecordingNode::OnDidFactoryReset(const FrameInfo& i) { Record("OnDidFactoryReset", i); }
void RecordingNode::OnDoStartFlashDownload(const std::uint8_t* p, const FrameInfo& i) {
  Record("OnDoStartFlashDownload", p, i);
}
void RecordingNode::OnDidStartFlashDownload(const std::uint8_t* p, const FrameInfo& i) {
  Record("OnDidStartFlashDownload", p, i);
}
void RecordingNode::OnDoEndFlashDownload(const FrameInfo& i) { Record("OnDoEndFlashDownload", i); }
void RecordingNode::OnDidEndFlashDownload(const std::uint8_t* p, const FrameInfo& i) {
  Record("OnDidEndFlashDownload", p, i);
}
void RecordingNode::OnDoWriteFlash(const std::uint8_t* p, std::uint8_t dataLength, const FrameInfo& i) {
  Record("OnDoWriteFlash", p, i);
  calls.back().dataLength = dataLength;
  // Touch the last data byte the handler is told about: ASan checks it is in the payload.
  if (dataLength > 0) calls.back().payload.assign(p + 8, p + 8 + dataLength);
}
void RecordingNode::OnDidWriteFlash(const std::uint8_t* p, const FrameInfo& i) { Record("OnDidWriteFlash", p, i); }
void RecordingNode::OnRequestDeviceData(const FrameInfo& i) { Record("OnRequestDeviceData", i); }
void RecordingNode::OnReplyDeviceData(const std::uint8_t* p, const FrameInfo& i) {
  Record("OnReplyDeviceData", p, i);
}

FramePtr MakeReceived(std::uint8_t destination, std::uint8_t source, bool ackWanted,
                      std::vector<std::uint8_t> payload, int lengthByte) {
  if (payload.empty() || payload.size() > 256) throw std::invalid_argument("payload of 1..256 bytes");
  auto frame = std::make_unique<Frame>();
  frame->destination = destination;
  frame->source = source;
  frame->ackWanted = ackWanted ? 1 : 0;
  frame->length = lengthByte >= 0 ? static_cast<std::uint8_t>(lengthByte)
                                  : static_cast<std::uint8_t>(payload.size() == 256 ? 0 : payload.size());
  frame->payload = std::make_unique<std::uint8_t[]>(payload.size());
  std::copy(payload.begin(), payload.end(), frame->payload.get());
  return frame;
}

std::vector<std::uint8_t> IdPayload(std::uint16_t id, std::size_t size) {
  std::vector<std::uint8_t> payload(size, 0x5A);
  payload[0] = static_cast<std::uint8_t>(id);
  if (size > 1) payload[1] = static_cast<std::uint8_t>(id >> 8);
  return payload;
}

std::uint8_t BitwiseCrc8(const std::vector<std::uint8_t>& bytes) {
  unsigned crc = 0xFF;
  for (std::uint8_t byte : bytes) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0x8C : crc >> 1;
  }
  return static_cast<std::uint8_t>(crc);
}

std::vector<std::uint8_t> WireFrame(std::uint8_t destination, std::uint8_t source, bool ackWanted,
                                    std::uint8_t sequence, const std::vector<std::uint8_t>& payload) {
  std::vector<std::uint8_t> bytes{destination};
  if (ackWanted) {
    bytes.push_back(static_cast<std::uint8_t>(source | 0x80));
    bytes.push_back(sequence);
  } else {
    bytes.push_back(source);
  }
  bytes.push_back(static_cast<std::uint8_t>(payload.size() & 0xFF));
  bytes.insert(bytes.end(), payload.begin(), payload.end());
  bytes.push_back(BitwiseCrc8(bytes));
  return bytes;
}

}  // namespace cvm6::test
