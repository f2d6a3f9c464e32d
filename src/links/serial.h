#pragma once
// ISerial: a bidirectional byte channel to a peer (serial port, TCP, UDP, a child command
// interpreter, a VISA instrument session or a loop-back) behind one abstract class, and
// ISerialClient, the callbacks through which the owner of a link receives everything the link
// reports. The base class also carries the optional RC4 framing, so every link kind is encrypted
// the same way:
//   Send(n bytes) with a key   ->  [n as 32-bit big-endian][n bytes of ciphertext]
//   DeliverReceived(chunk)     ->  walks whole frames, decrypts each, calls Received per frame
//
// Threads: callbacks run on the link's own threads (receive, send), except Sent of the loop-back
// and VISA kinds, which runs on the caller of SendRaw. Every operation is safe to call from any
// thread except Open and Close, which the owner calls from one thread at a time and never from
// inside a callback.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "links/encrypt.h"
#include "ordalis/variant.h"

namespace ordalis {

class ISerial;

// Link parameters: the values of a parameter text, e.g. "localhost", 5025.
using LinkParameters = VariantArray;

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
  // The public send: applies the encryption framing when a key is set, then SendRaw.
  virtual bool Send(const std::uint8_t* bytes, std::size_t length);
  virtual bool IsOpen() = 0;
  virtual bool IsOnline() { return online_.load(); }
  // Kind-specific transmission of the bytes as given.
  virtual bool SendRaw(const std::uint8_t* bytes, std::size_t length) = 0;

  bool Send(const std::string& text) {
    return Send(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  }

  // Stores the online flag, raises Connected/Disconnected on a change, rebuilds the status text
  // and raises StatusChanged.
  void SetOnline(bool online);
  // Stores the description, rebuilds the status text and raises StatusChanged.
  void SetDescription(const std::string& description);
  // Description followed by " online" or " offline".
  std::string Status() const;
  std::string Description() const;

  // Waits the key-change pause, then replaces the key; [length] 0 switches encryption off.
  void SetEncryptionKey(const std::uint8_t* bytes, std::size_t length);
  void SetEncryptionKey(const std::string& key) {
    SetEncryptionKey(reinterpret_cast<const std::uint8_t*>(key.data()), key.size());
  }
  // The pause before a key change, so that traffic framed under the old key drains first
  // (1000 ms unless changed; tests and the command line set 0).
  void SetKeyChangeWait(std::uint32_t milliseconds) { key_change_wait_ms_.store(milliseconds); }
  // The pause given to links created from now on.
  static void SetDefaultKeyChangeWait(std::uint32_t milliseconds);
  static std::uint32_t DefaultKeyChangeWait();

  // The single path by which a link kind hands received bytes to the client.
  void DeliverReceived(const std::uint8_t* bytes, std::size_t length);
  void NotifySent(const std::uint8_t* bytes, std::size_t length);
  void NotifyLineEvent(int code);

 protected:
  ISerialClient* client() const { return client_; }

 private:
  void DeliverFrames(const std::uint8_t* bytes, std::size_t length, Encrypt cipher);
  // A copy of the current cipher, or none; each message is encrypted on its own copy, so the
  // key may change while traffic flows without a data race.
  std::unique_ptr<Encrypt> CurrentCipher() const;

  ISerialClient* const client_;
  std::atomic<bool> online_{false};
  mutable std::mutex status_mutex_;
  std::string description_ = "unknown";
  std::string status_ = "unknown offline";
  mutable std::mutex encrypt_mutex_;
  std::unique_ptr<Encrypt> encrypt_;
  std::atomic<std::uint32_t> key_change_wait_ms_{DefaultKeyChangeWait()};
};

}  // namespace ordalis
