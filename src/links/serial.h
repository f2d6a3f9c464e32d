#pragma once
// ISerial: a bidirectional byte channel to a peer (serial port, TCP, UDP, a child command
// interpreter, a VISA instrument session or a loop-back) behind one abstract class, and
// ISerialClient, the callbacks through which the owner of a link receives everything the link
// reports. The base class also carries the optional encryption, so every link kind is encrypted
// the same way. Two cipher modes:
//   rc4                Send(n bytes) -> [n as 32-bit big-endian][n bytes of ciphertext], every
//                      message under the same key stream. Kept for existing peers; it hides the
//                      traffic from a casual look but protects nothing: one known message gives
//                      away the key stream, and frames can be forged or replayed.
//   chacha20-poly1305  authenticated frames under a session key agreed for each connection
//                      (AuthenticatedSession); forged, altered, replayed and reordered frames
//                      are refused and reported through FrameRejected.
// On stream links (TCP, serial port, process pipe) frames split across receive chunks are put
// together again; message links (UDP, loop-back, packet links, VISA) take each chunk on its own.
//
// The kinds with a send queue bound it (kSendQueueLimit bytes): Send waits up to the send wait
// for room and then fails, and the status text says " send queue full" until a later message
// gets through (the note raises no StatusChanged of its own; the next status change shows it).
//
// Threads: callbacks run on the link's own threads (receive, send), except Sent of the loop-back
// and VISA kinds, which runs on the caller of SendRaw. Every operation is safe to call from any thread
// except Open and Close, which the owner calls from one thread at a time and never from inside
// a callback.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <deque>
#include <string>
#include <vector>

#include "links/authenticated_session.h"
#include "links/encrypt.h"
#include "links/frame_reader.h"
#include "links/link_threads.h"
#include "ordalis/variant.h"

namespace ordalis {

class ISerial;

// Link parameters: the values of a parameter text, e.g. "localhost", 5025.
using LinkParameters = VariantArray;

enum class CipherMode { kNone, kRc4, kChaCha20Poly1305 };

// "none", "rc4", "chacha20-poly1305".
const char* CipherName(CipherMode mode);
// Reads "rc4" or "chacha20-poly1305" (any case); false for anything else.
bool ParseCipherName(const std::string& text, CipherMode* mode);

// How received bytes relate to the peer's messages: a byte stream that may cut them anywhere,
// or chunks that each hold whole messages.
enum class LinkFraming { kMessages, kStream };

class ISerialClient {
 public:
  virtual ~ISerialClient() = default;
  // Decrypted incoming data.
  virtual void Received(ISerial* link, const std::uint8_t* bytes, std::size_t length) = 0;
  // The bytes that were actually transmitted.
  virtual void Sent(ISerial* link, const std::uint8_t* bytes, std::size_t length) = 0;
  // The online flag went from false to true.
  virtual void Connected(ISerial* link) = 0;
  // The online flag went from true to false.
  virtual void Disconnected(ISerial* link) = 0;
  // A serial-line event (break 0, CTS 1, DSR 2, line error 3, ring 4, carrier detect 5,
  // received character 6, event character 7, transmit empty 8).
  virtual void LineEvent(ISerial* link, int code) = 0;
  // The status text changed; read it with link->Status().
  virtual void StatusChanged(ISerial* link) = 0;
  // A received frame was refused and nothing of it delivered: it failed authentication, came
  // again or out of order, or was too long. [reason] says which.
  virtual void FrameRejected(ISerial* /*link*/, const std::string& /*reason*/) {}
  // A server dropped a connection whose peer did not show that it holds the key, so that it
  // cannot hold the link's one connection. [reason] says when.
  virtual void PeerDropped(ISerial* /*link*/, const std::string& /*reason*/) {}
};

// Codes passed to ISerialClient::LineEvent.
enum LineEventCode : int {
  kLineBreak = 0,
  kLineCts = 1,
  kLineDsr = 2,
  kLineError = 3,
  kLineRing = 4,
  kLineCarrierDetect = 5,
  kLineReceivedCharacter = 6,
  kLineEventCharacter = 7,
  kLineTransmitEmpty = 8,
};

class ISerial {
 public:
  explicit ISerial(ISerialClient* client) : client_(client) {}
  ISerial(const ISerial&) = delete;
  ISerial& operator=(const ISerial&) = delete;
  virtual ~ISerial() = default;

  // Opens the link with the kind's parameters; false for a wrong count or type of parameter
  // or when the device cannot be opened.
  virtual bool Open(const LinkParameters& parameters) = 0;
  virtual bool Close() = 0;
  // The public send: applies the encryption framing when a key is set, then SendRaw; waits up
  // to the send wait for room in a full send queue.
  virtual bool Send(const std::uint8_t* bytes, std::size_t length);
  virtual bool IsOpen() = 0;
  virtual bool IsOnline() { return online_.load(); }
  // Kind-specific transmission of the bytes as given.
  virtual bool SendRaw(const std::uint8_t* bytes, std::size_t length) = 0;

  bool Send(const std::string& text) {
    return Send(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  }
  // Send waiting at most [wait] for room (0: fail at once when the queue is full). While the
  // queue is known to be full a message does not wait, unless [patience] is kFullWait (a
  // message that must not be given up as lightly, such as a result). With the authenticated
  // cipher before the session key is agreed, the message waits in the link (up to
  // kSendQueueLimit bytes of them) and goes out once it is.
  enum class Patience { kUsual, kFullWait };
  bool Send(const std::uint8_t* bytes, std::size_t length, std::chrono::milliseconds wait,
            Patience patience = Patience::kUsual);

  // The most bytes one transmission of this kind carries whole to the peer (a datagram, a
  // packet the far end accepts); no limit on a stream.
  virtual std::size_t MaxTransmission() const { return SIZE_MAX; }
  // The longest message Send carries whole, the cipher's framing taken into account.
  std::size_t LargestMessage() const;
  // How received chunks are cut into frames; the stream kinds override it.
  virtual LinkFraming framing() const { return LinkFraming::kMessages; }
  // True for a link that hears what it sends (the loop-back).
  virtual bool HearsItself() const { return false; }
  // Waits up to [wait] until a message of [length] bytes would be queued at once. Kinds
  // without a queue always have room.
  bool WaitForSendRoom(std::size_t length, std::chrono::milliseconds wait);
  // Drops the buffers waiting for transmission.
  virtual void DiscardQueued() {}

  // Stores the online flag, raises Connected/Disconnected on a change, rebuilds the status text
  // and raises StatusChanged. Coming online starts a new authenticated session.
  void SetOnline(bool online);
  // Stores the description, rebuilds the status text and raises StatusChanged.
  void SetDescription(const std::string& description);
  // Description followed by " online" or " offline".
  std::string Status() const;
  // The kind's description, followed by " send queue full" while a message could not be queued.
  std::string Description() const;
  // True while the " send queue full" note stands.
  bool send_queue_full() const { return queue_full_.load(); }

  // Waits the key-change pause, then replaces the key with an RC4 key; [length] 0 switches
  // encryption off.
  void SetEncryptionKey(const std::uint8_t* bytes, std::size_t length);
  void SetEncryptionKey(const std::string& key) {
    SetEncryptionKey(reinterpret_cast<const std::uint8_t*>(key.data()), key.size());
  }
  // Waits the key-change pause, then switches to [mode] under [key]; kNone or an empty key
  // switches encryption off. A link that is online starts the authenticated session at once.
  void SetEncryption(CipherMode mode, const std::string& key);
  CipherMode cipher_mode() const;
  // True once the authenticated session key is agreed with the peer.
  bool SessionEstablished() const;
  // True while, with the authenticated cipher, the peer of this connection has not shown that
  // it holds the key (no data frame of it has authenticated yet). An inner link asks the link
  // whose cipher it carries.
  bool PeerUnproven() const;
  // Makes [outer] the link whose cipher this (inner) link carries; set before Open.
  void SetCipherOwner(const ISerial* outer) { cipher_owner_ = outer; }
  // How long a server gives a new peer, with the authenticated cipher, to show that it holds
  // the key before it drops the connection, so that a peer without the key cannot hold the one
  // connection; 0 (the default) sets no limit. Read as each connection starts; an inner link
  // uses its cipher owner's.
  void SetHandshakeDeadline(std::chrono::milliseconds deadline) { handshake_deadline_ms_.store(deadline.count()); }
  std::chrono::milliseconds handshake_deadline() const;
  // Waits up to [wait] for SessionEstablished.
  bool WaitForSession(std::chrono::milliseconds wait);
  // The pause before a key change, so that traffic framed under the old key drains first
  // (1000 ms unless changed; tests and the command line set 0).
  void SetKeyChangeWait(std::uint32_t milliseconds) { key_change_wait_ms_.store(milliseconds); }
  // The pause given to links created from now on.
  static void SetDefaultKeyChangeWait(std::uint32_t milliseconds);
  static std::uint32_t DefaultKeyChangeWait();
  // How long Send waits for room in a full send queue (10000 ms unless changed).
  void SetSendWait(std::chrono::milliseconds wait) { send_wait_ms_.store(wait.count()); }
  std::chrono::milliseconds send_wait() const { return std::chrono::milliseconds(send_wait_ms_.load()); }
  static void SetDefaultSendWait(std::chrono::milliseconds wait);
  static std::chrono::milliseconds DefaultSendWait();

  // The single path by which a link kind hands received bytes to the client. On a keyed stream
  // link [arrival] tells the frame reader when the bytes came (a frame the stream paused inside
  // for kFramePause is dropped, see FrameReader).
  void DeliverReceived(const std::uint8_t* bytes, std::size_t length);
  void DeliverReceived(const std::uint8_t* bytes, std::size_t length, FrameReader::Clock::time_point arrival);
  void NotifySent(const std::uint8_t* bytes, std::size_t length);
  void NotifyLineEvent(int code);
  void NotifyPeerDropped(const std::string& reason);
  // Tells the client that a received frame or packet was refused; [reason] says why.
  void NotifyFrameRejected(const std::string& reason) { Reject(reason); }

 protected:
  ISerialClient* client() const { return client_; }
  // Transmission waiting at most [wait] for room; the queued kinds override it (and SendRaw
  // calls it with the send wait), the others send as SendRaw does.
  virtual bool SendRawWithin(const std::uint8_t* bytes, std::size_t length,
                             std::chrono::milliseconds wait) {
    (void)wait;
    return SendRaw(bytes, length);
  }
  // The kind's own wait for queue room; kinds without a queue always have room.
  virtual bool WaitForQueueRoom(std::size_t /*length*/, std::chrono::milliseconds /*wait*/) { return true; }
  // The kinds report whether a message found room in their queue; a message that did not sets
  // the " send queue full" note in the status text, the next one that does clears it.
  void NoteSendQueueFull(bool full);
  // What a queued kind's SendRawWithin returns for the outcome of its push, with the note set
  // or cleared.
  bool Queued(PushResult result);
  // The send wait to use now: none while the queue is known to be full, so a peer that stopped
  // reading costs each sender one wait, not one per message.
  std::chrono::milliseconds SendWaitNow(std::chrono::milliseconds wait) const;

 private:
  using Bytes = std::vector<std::uint8_t>;

  bool SendSealed(const std::uint8_t* bytes, std::size_t length, std::chrono::milliseconds wait);
  bool HoldUntilSession(const std::uint8_t* bytes, std::size_t length, std::chrono::milliseconds wait,
                        bool* held);
  std::vector<Bytes> SealPending();  // with cipher_mutex_ held
  void RestartSession();
  void EndSession();
  void OpenRc4(Bytes& body);
  void OpenAuthenticated(const Bytes& body);
  void Reject(const std::string& reason);
  void ForgiveLostFrame();
  std::string StatusFor(bool online) const;  // with status_mutex_ held
  // A copy of the current RC4 cipher, or none; each message is enciphered on its own copy, so
  // the key may change while traffic flows without a data race.
  std::unique_ptr<Encrypt> CurrentCipher() const;

  ISerialClient* const client_;
  const ISerial* cipher_owner_ = nullptr;  // the outer link whose cipher this one carries, if any
  std::atomic<bool> online_{false};
  mutable std::mutex status_mutex_;
  std::string description_ = "unknown";
  std::string status_ = "unknown offline";
  std::atomic<bool> queue_full_{false};
  std::atomic<std::uint32_t> key_change_wait_ms_{DefaultKeyChangeWait()};
  std::atomic<std::int64_t> send_wait_ms_{DefaultSendWait().count()};
  std::atomic<std::int64_t> handshake_deadline_ms_{0};

  // Held from sealing a frame until it is queued, so frames leave in counter order.
  std::recursive_mutex send_order_mutex_;
  mutable std::mutex cipher_mutex_;  // guards the cipher state below
  std::condition_variable session_changed_;
  CipherMode mode_ = CipherMode::kNone;
  std::unique_ptr<Encrypt> encrypt_;
  std::unique_ptr<AuthenticatedSession> session_;
  std::deque<Bytes> pending_;  // messages waiting for the session key
  std::size_t pending_bytes_ = 0;
  bool session_ended_ = false;  // a session ended since the last restart

  std::mutex receive_mutex_;  // guards the stream reader
  FrameReader stream_reader_;
};

}  // namespace ordalis
