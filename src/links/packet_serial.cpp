#include "links/packet_serial.h"

#include <algorithm>
#include <cstring>

#include "links/serial_creator.h"

namespace ordalis {

namespace {

std::string WithoutSuffix(const std::string& text, const char* suffix) {
  std::size_t length = std::strlen(suffix);
  if (text.size() >= length && text.compare(text.size() - length, length, suffix) == 0) {
    return text.substr(0, text.size() - length);
  }
  return text;
}

// The inner link's status without " online"/" offline", and without its " send queue full"
// note, which this link carries as its own.
std::string WithoutOnlineSuffix(const std::string& status) {
  std::string description = WithoutSuffix(WithoutSuffix(status, " online"), " offline");
  return WithoutSuffix(description, " send queue full");
}

}  // namespace

PacketSerial::PacketSerial(ISerialClient* client, const std::string& inner_type)
    : ISerial(client), inner_(SerialCreator::Instance().Create(this, inner_type)) {
  // The inner link carries this link's frames, so whether its peer has shown the key is this
  // link's to say.
  if (inner_) inner_->SetCipherOwner(this);
}

PacketSerial::~PacketSerial() {
  if (inner_) inner_->Close();
  inner_.reset();  // its threads end before this object's reassembly state goes
}

bool PacketSerial::Open(const LinkParameters& parameters) {
  if (!inner_) return false;
  header_count_ = 0;
  payload_count_ = 0;
  return inner_->Open(parameters);
}

bool PacketSerial::Close() { return inner_ && inner_->Close(); }

bool PacketSerial::IsOpen() { return inner_ && inner_->IsOpen(); }

bool PacketSerial::SendRaw(const std::uint8_t* bytes, std::size_t length) {
  return SendRawWithin(bytes, length, SendWaitNow(send_wait()));
}

bool PacketSerial::SendRawWithin(const std::uint8_t* bytes, std::size_t length,
                                 std::chrono::milliseconds wait) {
  if (!inner_ || length > 0xFFFFFFFFu) return false;
  std::vector<std::uint8_t> packet(4 + length);
  auto size = static_cast<std::uint32_t>(length);
  packet[0] = static_cast<std::uint8_t>(size >> 24);
  packet[1] = static_cast<std::uint8_t>(size >> 16);
  packet[2] = static_cast<std::uint8_t>(size >> 8);
  packet[3] = static_cast<std::uint8_t>(size);
  if (length > 0) std::memcpy(packet.data() + 4, bytes, length);
  // This link has decided how long to wait (its note of a full queue mirrors the inner one's).
  bool sent = inner_->Send(packet.data(), packet.size(), wait, Patience::kFullWait);
  NoteSendQueueFull(inner_->send_queue_full());
  return sent;
}

bool PacketSerial::WaitForQueueRoom(std::size_t length, std::chrono::milliseconds wait) {
  return !inner_ || inner_->WaitForSendRoom(4 + length, wait);
}

void PacketSerial::DiscardQueued() {
  if (inner_) inner_->DiscardQueued();
}

void PacketSerial::Received(ISerial*, const std::uint8_t* bytes, std::size_t length) {
  ReceivedAt(bytes, length, FrameReader::Clock::now());
}

// Reassembles packets: a 4-byte length, then that many payload bytes, across any number of
// chunks. An over-long packet is dropped together with the rest of the chunk it started in.
// Bytes that come kFramePause or more after the last ones start a new packet: the unfinished
// one (stray bytes read as a length, a packet cut short) is dropped with a report.
void PacketSerial::ReceivedAt(const std::uint8_t* bytes, std::size_t length, FrameReader::Clock::time_point arrival) {
  if (length == 0) return;
  if (header_count_ > 0 && arrival - last_arrival_ >= kFramePause) {
    NotifyFrameRejected("an unfinished packet (" + std::to_string(header_count_ < 4 ? header_count_ : 4 + payload_count_) +
                        " bytes) that stopped arriving for " + std::to_string(kFramePause.count()) + " ms");
    header_count_ = 0;
    payload_count_ = 0;
  }
  last_arrival_ = arrival;
  std::size_t offset = 0;
  while (offset < length) {
    if (header_count_ < 4) {
      header_[header_count_++] = bytes[offset++];
      if (header_count_ < 4) continue;
      std::uint32_t size = (std::uint32_t{header_[0]} << 24) | (std::uint32_t{header_[1]} << 16) |
                           (std::uint32_t{header_[2]} << 8) | std::uint32_t{header_[3]};
      if (size > kMaxPacket) {
        header_count_ = 0;
        return;
      }
      if (payload_.size() < size) payload_.resize(size);
      payload_count_ = 0;
    }
    std::uint32_t size = (std::uint32_t{header_[0]} << 24) | (std::uint32_t{header_[1]} << 16) |
                         (std::uint32_t{header_[2]} << 8) | std::uint32_t{header_[3]};
    std::size_t take = std::min<std::size_t>(size - payload_count_, length - offset);
    std::memcpy(payload_.data() + payload_count_, bytes + offset, take);
    payload_count_ += take;
    offset += take;
    if (payload_count_ == size) {
      header_count_ = 0;
      payload_count_ = 0;
      if (size > 0) DeliverReceived(payload_.data(), size);
    }
  }
}

void PacketSerial::Sent(ISerial*, const std::uint8_t* bytes, std::size_t length) {
  if (length > 4) NotifySent(bytes + 4, length - 4);
}

// A new connection starts a new packet stream: a packet cut short by the old one is dropped.
void PacketSerial::Connected(ISerial*) {
  header_count_ = 0;
  payload_count_ = 0;
  SetOnline(true);
}

void PacketSerial::Disconnected(ISerial*) { SetOnline(false); }

void PacketSerial::LineEvent(ISerial*, int code) { NotifyLineEvent(code); }

void PacketSerial::PeerDropped(ISerial*, const std::string& reason) { NotifyPeerDropped(reason); }

void PacketSerial::StatusChanged(ISerial* link) { SetDescription(WithoutOnlineSuffix(link->Status())); }

}  // namespace ordalis
