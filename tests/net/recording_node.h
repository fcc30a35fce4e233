#pragma once
// A node that records every handler call (and trace line) so that tests can see where
// Poll sent each message. The base behaviour of the address-keeping slots still runs.
// Raw frames are built here byte by byte, independent of the link's own code.
#include <cstdint>
#include <string>
#include <vector>

#include "link/frame.h"
#include "net/network_node.h"

namespace cvm6::test {

struct HandlerCall {
  std::string slot;
  std::uint16_t id = 0;             // OnUnhandled / OnInvalidLength, else payload bytes 0-1
  std::uint8_t lengthByte = 0;      // OnUnhandled / OnInvalidLength
  std::uint8_t dataLength = 0;      // OnDoWriteFlash
  FrameInfo info{0, 0, false};
  std::vector<std::uint8_t> payload;  // whole payload for OnUnhandled / OnInvalidLength
};

class RecordingNode : public CNetworkNode {
 public:
  explicit RecordingNode(LinkLimits limits = {});

  std::vector<HandlerCall> calls;
  std::vector<std::string> trace;
  int networkChanges = 0;

  std::vector<std::string> Slots() const;
  const std::uint8_t* Presence() const { return m_presence; }

 protected:
  void OnNowActive() override;
  void OnNowInactive() override;
  void OnNetworkChanged() override;
  void OnInvalidLength(std::uint16_t id, std::uint8_t lengthByte, const std::uint8_t* payload,
                       std::uint8_t destination, std::uint8_t source, bool ackWanted) override;
  void OnUnhandled(std::uint16_t id, std::uint8_t lengthByte, const std::uint8_t* payload,
                   std::uint8_t destination, std::uint8_t source, bool ackWanted) override;
  void OnPing(const FrameInfo& info) override;
  void OnDidConfig(const std::uint8_t* payload, const FrameInfo& info) override;
  void OnIdentify(const FrameInfo& info) override;
  void OnDoAddToList(const std::uint8_t* payload, const FrameInfo& info) override;
  void OnDidAddToList(const std::uint8_t* payload, const FrameInfo& info) override;
  void OnDoRemoveFromList(const std::uint8_t* payload, const FrameInfo& info) override;
  void OnDidRemoveFromList(const std::uint8_t* payload, const FrameInfo& info) override;
  void OnDoClearList(const std::uint8_t* payload, const FrameInfo& info) override;
  void OnPollListReply(const std::uint8_t* payload, const FrameInfo& info) override;
  void OnDoSoftReset(const FrameInfo& info) override;
  void OnDoFactoryReset(const FrameInfo& info) override;
  void OnDidPowerOnReset(const FrameInfo& info) override;
  void OnDidSoftReset(const FrameInfo& info) override;
  void OnDidFactoryReset(const FrameInfo& info) override;
  void OnDoStartFlashDownload(const std::uint8_t* payload, const FrameInfo& info) override;
  void OnDidStartFlashDownload(const std::uint8_t* payload, const FrameInfo& info) override;
  void OnDoEndFlashDownload(const FrameInfo& info) override;
  void OnDidEndFlashDownload(const std::uint8_t* payload, const FrameInfo& info) override;
  void OnDoWriteFlash(const std::uint8_t* payload, std::uint8_t dataLength, const FrameInfo& info) override;
  void OnDidWriteFlash(const std::uint8_t* payload, const FrameInfo& info) override;
  void OnRequestDeviceData(const FrameInfo& info) override;
  void OnReplyDeviceData(const std::uint8_t* payload, const FrameInfo& info) override;

 private:
  void Record(const char* slot, const FrameInfo& info);
  void Record(const char* slot, const std::uint8_t* payload, const FrameInfo& info);
  void RecordWhole(const char* slot, std::uint16_t id, std::uint8_t lengthByte, const std::uint8_t* payload,
                   std::uint8_t destination, std::uint8_t source, bool ackWanted);
};

// A received frame record as the link would deliver it; the payload buffer is exactly
// as long as the length byte says (256 for 0), so ASan sees any read beyond it.
FramePtr MakeReceived(std::uint8_t destination, std::uint8_t source, bool ackWanted,
                      std::vector<std::uint8_t> payload, int lengthByte = -1);
// An identifier-only payload of `size` bytes (filled with a marker after the id).
std::vector<std::uint8_t> IdPayload(std::uint16_t id, std::size_t size = 2);

// CRC-8 computed bit by bit (Dallas/Maxim polynomial, reflected 0x8C, start 0xFF), so the
// test's wire bytes do not come from the link's table.
std::uint8_t BitwiseCrc8(const std::vector<std::uint8_t>& bytes);
// A whole data frame as the far end puts it on the wire.
std::vector<std::uint8_t> WireFrame(std::uint8_t destination, std::uint8_t source, bool ackWanted,
                                    std::uint8_t sequence, const std::vector<std::uint8_t>& payload);

}  // namespace cvm6::test
