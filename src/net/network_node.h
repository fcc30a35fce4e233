#pragma once
// CNetworkNode: the updater's endpoint on the unit's network. It owns the link, turns
// requests into message payloads addressed to a device, takes received frames off the
// link, checks each against the message catalogue and calls one virtual handler per kind
// of message, and keeps the updater's view of the network (own address, peer address,
// which addresses are present).
//
// Threading rule: everything here runs on the one thread that owns the node (the
// window's). The node starts no thread and never waits: handlers run inside Poll.
//
// Failures thrown as CFailure:
//   1302 no memory for a payload or a frame record
//   1303 the unit announced itself incorrectly (DID_CONFIG not from address 0, IDENTIFY
//        without acknowledgement wanted); thrown out of Poll, nothing changed, the frames
//        behind it stay queued
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "link/link.h"

namespace cvm6 {

struct MessageRow;

// What a handler learns about the frame that carried its message; valid during the call.
struct FrameInfo {
  std::uint8_t destination;
  std::uint8_t source;
  bool ackWanted;
};

class CNetworkNode {
 public:
  using Payload = std::unique_ptr<std::uint8_t[]>;
  using TraceSink = std::function<void(const std::string&)>;

  explicit CNetworkNode(LinkLimits limits = {});
  CNetworkNode(const CNetworkNode&) = delete;
  CNetworkNode& operator=(const CNetworkNode&) = delete;
  virtual ~CNetworkNode() = default;  // destroying m_link stops it

  // Dispatches received frames one at a time until the receive queue is empty or, when
  // count is not 0, after count frames. Never waits for a frame.
  void Poll(std::uint32_t count);

  // Every send takes the payload, also when it refuses. They refuse (false, nothing
  // queued) when the link is down, the destination is not present, or the source (255 =
  // our own address) is not a network address. `lengthByte` is the wire's (0 = 256) and
  // must not exceed the payload's size; it is not checked against the catalogue.
  bool Send(std::uint8_t destination, std::uint8_t source, bool ackWanted, std::uint8_t lengthByte,
            Payload payload);
  bool SendSimple(std::uint8_t destination, std::uint8_t source, bool ackWanted, std::uint16_t id);
  bool SendStartFlashDownload(std::uint8_t target, std::uint8_t destination, std::uint8_t source,
                              bool ackWanted);
  bool SendEndFlashDownload(std::uint8_t destination, std::uint8_t source, bool ackWanted);
  // At most kMaxWriteFlashData data bytes: more is a caller's mistake and throws
  // std::invalid_argument. Refusing instead would keep the download's resend loop
  // spinning, and cutting the data short would lose firmware bytes.
  bool SendWriteFlash(std::uint32_t address, std::uint16_t sequence, const std::uint8_t* data,
                      std::uint8_t dataLength, std::uint8_t destination, std::uint8_t source,
                      bool ackWanted);
  bool SendRequestDeviceData(std::uint8_t destination, std::uint8_t source, bool ackWanted);

  // `size` bytes with `id` in bytes 0-1 (little-endian). Throws 1302 when memory is short.
  static Payload AllocPayload(std::uint32_t size, std::uint16_t id);

  bool IsPresent(std::uint8_t address) const;
  std::uint8_t GetPeerAddress() const { return m_peerAddress; }
  std::uint8_t GetOwnAddress() const { return m_ownAddress; }

  // The link, for whoever starts and stops it on a port.
  CLink& Link() { return m_link; }

  // Trace lines ("SND: ", "RCV: ", "DEL: " + message name + "\n") go here. The default
  // sink discards them; an empty function restores that.
  void SetTraceSink(TraceSink sink) { m_traceSink = std::move(sink); }

  static constexpr std::uint8_t kMaxWriteFlashData = 248;  // 256-byte payload less its head
  static constexpr std::uint8_t kFirstNonNetworkAddress = 128;

 protected:
  // Handler slots. `payload` is the whole payload, identifier included, valid only during
  // the call. The window overrides the ones it needs; the rest keep this behaviour.
  virtual void OnNowActive() {}
  virtual void OnNowInactive();  // forgets the network
  virtual void OnNetworkChanged() {}
  virtual void OnInvalidLength(std::uint16_t, std::uint8_t, const std::uint8_t*, std::uint8_t,
                               std::uint8_t, bool) {}
  virtual void OnUnhandled(std::uint16_t, std::uint8_t, const std::uint8_t*, std::uint8_t,
                           std::uint8_t, bool) {}
  virtual void OnPing(const FrameInfo&) {}
  virtual void OnDidConfig(const std::uint8_t* payload, const FrameInfo& info);  // takes it
  virtual void OnIdentify(const FrameInfo& info);                              // takes it
  virtual void OnDoAddToList(const std::uint8_t*, const FrameInfo&) {}
  virtual void OnDidAddToList(const std::uint8_t*, const FrameInfo&) {}
  virtual void OnDoRemoveFromList(const std::uint8_t*, const FrameInfo&) {}
  virtual void OnDidRemoveFromList(const std::uint8_t*, const FrameInfo&) {}
  virtual void OnDoClearList(const std::uint8_t*, const FrameInfo&) {}
  virtual void OnPollListReply(const std::uint8_t*, const FrameInfo&) {}
  virtual void OnDoSoftReset(const FrameInfo&) {}
  virtual void OnDoFactoryReset(const FrameInfo&) {}
  virtual void OnDidPowerOnReset(const FrameInfo&) {}
  virtual void OnDidSoftReset(const FrameInfo&) {}
  virtual void OnDidFactoryReset(const FrameInfo&) {}
  virtual void OnDoStartFlashDownload(const std::uint8_t*, const FrameInfo&) {}
  virtual void OnDidStartFlashDownload(const std::uint8_t*, const FrameInfo&) {}
  virtual void OnDoEndFlashDownload(const FrameInfo&) {}
  virtual void OnDidEndFlashDownload(const std::uint8_t*, const FrameInfo&) {}
  // dataLength: (length byte - 8) mod 256, so a full 256-byte payload gives 248.
  virtual void OnDoWriteFlash(const std::uint8_t*, std::uint8_t /*dataLength*/, const FrameInfo&) {}
  virtual void OnDidWriteFlash(const std::uint8_t*, const FrameInfo&) {}
  virtual void OnRequestDeviceData(const FrameInfo&) {}
  virtual void OnReplyDeviceData(const std::uint8_t*, const FrameInfo&) {}

  // Puts a line of the owner's own to the trace sink.
  void TraceLine(const std::string& line) const {
    if (m_traceSink) m_traceSink(line);
  }

  CLink m_link;
  std::uint8_t m_presence[16] = {};  // bit (a mod 8) of byte (a div 8): address a present
  std::uint8_t m_ownAddress = kNoAddress;
  std::uint8_t m_peerAddress = kNoAddress;

 private:
  void Dispatch(const Frame& frame);
  void Trace(const char* prefix, const MessageRow& row) const;

  TraceSink m_traceSink;
};

}  // namespace cvm6
