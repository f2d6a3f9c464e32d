#pragma once
// A peer of the script proxy for the tests, on a plain TCP socket: it speaks the proxy's
// protocol without the link classes, in the clear, in RC4 frames or in authenticated frames
// (with a session of its own), and reads the proxy's messages with a safety time-out.

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "links/authenticated_session.h"
#include "links/descriptor.h"
#include "links/encrypt.h"
#include "links/frame_reader.h"
#include "proxy/proxy_messages.h"

namespace ordalis::testing {

enum class PeerCipher { kNone, kRc4, kAuthenticated };

class ProxyPeer {
 public:
  ProxyPeer(FileDescriptor socket, PeerCipher cipher, std::string key = "")
      : socket_(std::move(socket)), cipher_(cipher), key_(std::move(key)) {
    if (cipher_ == PeerCipher::kAuthenticated) {
      session_ = std::make_unique<AuthenticatedSession>(key_, AuthenticatedSession::CounterRule::kNextInSequence,
                                                        AuthenticatedSession::OwnEcho::kRefused);
      WriteRaw(session_->Restart());
    }
  }

  // Sends one command as the proxy expects it: as it is, or in one frame.
  void Send(const std::string& command) { WriteRaw(Frame(command)); }
  // The bytes Send would write for [command] (so a test can alter or repeat them).
  std::vector<std::uint8_t> Frame(const std::string& command) {
    std::vector<std::uint8_t> bytes(command.begin(), command.end());
    if (cipher_ == PeerCipher::kRc4) {
      Encrypt(key_).Apply(bytes);
      bytes.insert(bytes.begin(), 4, 0);
      PutBigEndian32(bytes.data(), static_cast<std::uint32_t>(command.size()));
    } else if (cipher_ == PeerCipher::kAuthenticated) {
      WaitForSession();
      bytes = session_->Seal(bytes.data(), bytes.size());
    }
    return bytes;
  }
  void WriteRaw(const std::vector<std::uint8_t>& bytes) {
    written_.insert(written_.end(), bytes.begin(), bytes.end());
    ::send(socket_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
  }
  // Everything this peer wrote, as an eavesdropper would have recorded it.
  const std::vector<std::uint8_t>& written() const { return written_; }

  // The next message that is not a log line (a reply or a result word); empty after the
  // safety time-out.
  std::string NextAnswer() {
    for (;;) {
      std::optional<std::string> message = NextMessage();
      if (!message) return "";
      if (KindOf(*message) != ProxyMessageKind::kLogLine) return *message;
    }
  }
  // Reads messages until one contains [text]; false after the safety time-out.
  bool WaitForMessageContaining(const std::string& text) {
    for (;;) {
      std::optional<std::string> message = NextMessage();
      if (!message) return false;
      if (message->find(text) != std::string::npos) return true;
    }
  }
  void WaitForSession() {
    while (session_ && !session_->established() && ReadMore()) {
    }
  }
  // Every message read so far, log lines included.
  const std::vector<std::string>& messages() const { return messages_; }
  // The raw bytes received so far.
  const std::string& wire() const { return wire_; }
  int fd() const { return socket_.get(); }

 private:
  std::optional<std::string> NextMessage() {
    while (ready_.empty()) {
      if (!ReadMore()) return std::nullopt;
    }
    std::string message = std::move(ready_.front());
    ready_.pop_front();
    return message;
  }

  // Reads what arrives within the safety time-out and turns it into messages.
  bool ReadMore() {
    pollfd entry{socket_.get(), POLLIN, 0};
    if (::poll(&entry, 1, 20000) <= 0) return false;
    char buffer[4096];
    long got = ::read(socket_.get(), buffer, sizeof buffer);
    if (got <= 0) return false;
    wire_.append(buffer, static_cast<std::size_t>(got));
    std::vector<FrameReader::Frame> frames;
    outer_.Feed(reinterpret_cast<const std::uint8_t*>(buffer), static_cast<std::size_t>(got), frames);
    for (FrameReader::Frame& frame : frames) Unwrap(frame.body);
    return true;
  }

  // A received frame: in the clear it is a message already; otherwise the plaintext is the
  // proxy's message framing, read on.
  void Unwrap(std::vector<std::uint8_t>& body) {
    if (cipher_ == PeerCipher::kNone) {
      Take(std::string(body.begin(), body.end()));
      return;
    }
    std::vector<std::uint8_t> plain;
    if (cipher_ == PeerCipher::kRc4) {
      Encrypt(key_).Apply(body);
      plain = body;
    } else {
      AuthenticatedSession::Outcome outcome = session_->Open(body.data(), body.size());
      if (outcome.reply) WriteRaw(*outcome.reply);
      if (!outcome.plaintext) return;
      plain = *outcome.plaintext;
    }
    std::vector<FrameReader::Frame> messages;
    inner_.Feed(plain.data(), plain.size(), messages);
    for (FrameReader::Frame& message : messages) Take(std::string(message.body.begin(), message.body.end()));
  }

  void Take(std::string message) {
    messages_.push_back(message);
    ready_.push_back(std::move(message));
  }

  FileDescriptor socket_;
  PeerCipher cipher_;
  std::string key_;
  std::unique_ptr<AuthenticatedSession> session_;
  FrameReader outer_;  // the link's frames (or, in the clear, the messages themselves)
  FrameReader inner_;  // the messages inside decrypted frames
  std::deque<std::string> ready_;
  std::vector<std::string> messages_;
  std::string wire_;
  std::vector<std::uint8_t> written_;
};

}  // namespace ordalis::testing
