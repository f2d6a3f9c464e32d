#pragma once
// PacketSerial: length-prefixed packets over an inner RS232 or TCP link. Each packet travels as
// a 32-bit big-endian length followed by that many bytes; the receiving side reassembles packets
// from chunks of any size and delivers each whole packet at once, so encrypted frames always
// arrive whole. Packets longer than kMaxPacket bytes are discarded. A packet the stream pauses
// inside for kFramePause is dropped and reported (FrameRejected), so stray bytes on the inner
// link cost at most the packet they overlap.

#include <memory>
#include <string>
#include <vector>

#include "links/serial.h"

namespace ordalis {

class PacketSerial : public ISerial, public ISerialClient {
 public:
  // The largest packet payload the receiving side accepts.
  static constexpr std::uint32_t kMaxPacket = 32763;

  // [inner_type] is "rs232" or "tcp"; the inner link is made by the link factory.
  PacketSerial(ISerialClient* client, const std::string& inner_type);
  ~PacketSerial() override;

  // Forwarded to the inner link.
  bool Open(const LinkParameters& parameters) override;
  bool Close() override;
  bool IsOpen() override;
  bool SendRaw(const std::uint8_t* bytes, std::size_t length) override;
  void DiscardQueued() override;
  std::size_t MaxTransmission() const override { return kMaxPacket; }

  // The inner link (to adjust kind-specific settings such as a bind address); may be null when
  // the inner kind could not be made.
  ISerial* inner() { return inner_.get(); }

  // As the client of the inner link.
  void Received(ISerial* link, const std::uint8_t* bytes, std::size_t length) override;
  void Sent(ISerial* link, const std::uint8_t* bytes, std::size_t length) override;
  void Connected(ISerial* link) override;
  void Disconnected(ISerial* link) override;
  void LineEvent(ISerial* link, int code) override;
  void StatusChanged(ISerial* link) override;
  void PeerDropped(ISerial* link, const std::string& reason) override;
  // Received, with the bytes arriving at [arrival].
  void ReceivedAt(const std::uint8_t* bytes, std::size_t length, FrameReader::Clock::time_point arrival);

 protected:
  bool SendRawWithin(const std::uint8_t* bytes, std::size_t length, std::chrono::milliseconds wait) override;
  bool WaitForQueueRoom(std::size_t length, std::chrono::milliseconds wait) override;

 private:
  std::unique_ptr<ISerial> inner_;
  // Reassembly state, touched only by the inner link's receive thread (and by Open, while the
  // inner link is closed).
  std::uint8_t header_[4] = {};
  std::size_t header_count_ = 0;
  std::vector<std::uint8_t> payload_ = std::vector<std::uint8_t>(1024);
  std::size_t payload_count_ = 0;
  FrameReader::Clock::time_point last_arrival_{};  // when the inner link's last bytes came
};

}  // namespace ordalis
