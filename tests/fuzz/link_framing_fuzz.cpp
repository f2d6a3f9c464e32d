// Fuzzing harness for the framing of links: received chunks cut into RC4 frames, authenticated
// frames and packets, on stream and message links. Each input is a configuration byte and a
// list of operations; the harness plays a peer that knows the key, so valid frames (whole,
// split across chunks, replayed or altered) meet arbitrary bytes.
//
//   input      config op...
//   config     bits 0-1: 0 plain, 1 RC4, 2 authenticated; bit 2: stream link; bit 3: the
//              chunks come through a packet link's reassembly (plain and RC4 only)
//   op 0 L B.. a chunk of L arbitrary bytes
//   op 1 L B.. a valid frame carrying L bytes, in one chunk
//   op 2 S L B.. the same, cut into two chunks at S
//   op 3       the last valid frame again
//   op 4 P     the last valid frame with the byte at P flipped
//   op 5       the peer starts a new session (authenticated)

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "links/authenticated_session.h"
#include "links/encrypt.h"
#include "links/frame_reader.h"
#include "links/packet_serial.h"
#include "links/serial.h"

namespace {

using namespace ordalis;
using Bytes = std::vector<std::uint8_t>;

constexpr char kKey[] = "fuzzing key";

// Reads every delivered byte, so a read beyond a buffer shows.
class Sink : public ISerialClient {
 public:
  void Received(ISerial*, const std::uint8_t* bytes, std::size_t length) override {
    for (std::size_t i = 0; i < length; ++i) sum_ += bytes[i];
  }
  void Sent(ISerial*, const std::uint8_t*, std::size_t) override {}
  void Connected(ISerial*) override {}
  void Disconnected(ISerial*) override {}
  void LineEvent(ISerial*, int) override {}
  void StatusChanged(ISerial*) override {}
  void FrameRejected(ISerial*, const std::string& reason) override { sum_ += reason.size(); }

 private:
  unsigned sum_ = 0;
};

// A link whose transmissions are handed to the harness's peer.
class FuzzLink : public ISerial {
 public:
  FuzzLink(ISerialClient* client, LinkFraming framing) : ISerial(client), framing_(framing) {}
  bool Open(const LinkParameters&) override { return true; }
  bool Close() override { return true; }
  bool IsOpen() override { return true; }
  bool SendRaw(const std::uint8_t* bytes, std::size_t length) override {
    sent.insert(sent.end(), bytes, bytes + length);
    return true;
  }
  LinkFraming framing() const override { return framing_; }
  std::vector<std::uint8_t> sent;

 private:
  LinkFraming framing_;
};

class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool empty() const { return at_ >= size_; }
  std::uint8_t Byte() { return empty() ? 0 : data_[at_++]; }
  Bytes Take(std::size_t count) {
    count = std::min(count, size_ - std::min(at_, size_));
    Bytes bytes(data_ + at_, data_ + at_ + count);
    at_ += count;
    return bytes;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

class Harness {
 public:
  Harness(std::uint8_t config) : mode_(config & 3), packets_((config & 8) && mode_ != 2) {
    LinkFraming framing = (config & 4) ? LinkFraming::kStream : LinkFraming::kMessages;
    link_ = std::make_unique<FuzzLink>(&sink_, framing);
    link_->SetKeyChangeWait(0);
    packet_ = std::make_unique<PacketSerial>(&sink_, "tcp");
    packet_->SetKeyChangeWait(0);
    if (mode_ == 1) {
      link_->SetEncryptionKey(kKey);
      packet_->SetEncryptionKey(kKey);
    }
    if (mode_ == 2) {
      auto rule = framing == LinkFraming::kStream ? AuthenticatedSession::CounterRule::kNextInSequence
                                                  : AuthenticatedSession::CounterRule::kIncreasing;
      peer_ = std::make_unique<AuthenticatedSession>(kKey, rule, AuthenticatedSession::OwnEcho::kRefused);
      link_->SetEncryption(CipherMode::kChaCha20Poly1305, kKey);
      link_->SetOnline(true);
      Converse(peer_->Restart());
    }
  }

  void Run(Input& input) {
    while (!input.empty()) {
      switch (input.Byte() % 6) {
        case 0: Deliver(input.Take(input.Byte())); break;
        case 1: Deliver(last_ = Frame(input.Take(input.Byte()))); break;
        case 2: {
          std::size_t split = input.Byte();
          last_ = Frame(input.Take(input.Byte()));
          split = std::min(split, last_.size());
          Deliver(Bytes(last_.begin(), last_.begin() + static_cast<long>(split)));
          Deliver(Bytes(last_.begin() + static_cast<long>(split), last_.end()));
          break;
        }
        case 3: Deliver(last_); break;
        case 4: {
          Bytes altered = last_;
          if (!altered.empty()) altered[input.Byte() % altered.size()] ^= 0x5A;
          Deliver(altered);
          break;
        }
        case 5:
          if (peer_) Converse(peer_->Restart());
          break;
      }
    }
  }

 private:
  // A frame the peer would send carrying [payload].
  Bytes Frame(const Bytes& payload) {
    if (mode_ == 2) return peer_->established() ? peer_->Seal(payload.data(), payload.size()) : Bytes();
    Bytes frame = payload;
    if (mode_ == 1) {
      Encrypt(kKey).Apply(frame);
      frame.insert(frame.begin(), 4, 0);
      PutBigEndian32(frame.data(), static_cast<std::uint32_t>(payload.size()));
    }
    if (packets_) {
      frame.insert(frame.begin(), 4, 0);
      PutBigEndian32(frame.data(), static_cast<std::uint32_t>(frame.size() - 4));
    }
    return frame;
  }

  void Deliver(const Bytes& chunk) {
    if (chunk.empty()) return;
    if (packets_) {
      packet_->Received(nullptr, chunk.data(), chunk.size());
    } else {
      link_->DeliverReceived(chunk.data(), chunk.size());
    }
    if (peer_) Answer();
  }

  // Carries the hellos between the link and the peer until both are quiet.
  void Converse(const Bytes& hello) {
    link_->DeliverReceived(hello.data(), hello.size());
    Answer();
  }

  void Answer() {
    for (int round = 0; round < 8 && !link_->sent.empty(); ++round) {
      Bytes sent;
      sent.swap(link_->sent);
      std::vector<FrameReader::Frame> frames;
      FrameReader reader;
      reader.Feed(sent.data(), sent.size(), frames);
      for (const FrameReader::Frame& frame : frames) {
        AuthenticatedSession::Outcome outcome = peer_->Open(frame.body.data(), frame.body.size());
        if (outcome.reply) link_->DeliverReceived(outcome.reply->data(), outcome.reply->size());
      }
    }
  }

  const int mode_;
  const bool packets_;
  Sink sink_;
  std::unique_ptr<FuzzLink> link_;
  std::unique_ptr<PacketSerial> packet_;
  std::unique_ptr<AuthenticatedSession> peer_;
  Bytes last_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool prepared = [] {
    AuthenticatedSession::SetKeyIterationsForFuzzing(1);
    return true;
  }();
  (void)prepared;
  if (size == 0) return 0;
  Input input(data + 1, size - 1);
  Harness harness(data[0]);
  harness.Run(input);
  return 0;
}
