#pragma once
// TCP: a stream-socket link, as a client that connects to a host and port, or as a server that
// listens on a port and serves one connection at a time (backlog 1). While started, a
// connection thread keeps (re)connecting or (re)accepting and receives; a send thread transmits
// the queued buffers whenever a connection stands. Progress shows in the description:
//   "tcp client of HOST port N connected", "tcp server port N listening on socket", ...
// Both ends send each write at once (TCP_NODELAY): the proxy's replies and log lines are small
// messages that would otherwise wait for the peer's delayed acknowledgements.
// With the authenticated cipher and a handshake deadline, a server gives a new peer that long to show that
// it holds the key (a data frame of it authenticates). A peer that has not is dropped when the
// deadline passes, or at once when another peer connects meanwhile, which is served in its
// place: a peer without the key cannot hold the one connection. A peer that has shown the key
// keeps it as before.

#include <chrono>
#include <memory>
#include <mutex>
#include <string>

#include "links/descriptor.h"
#include "links/link_threads.h"
#include "links/serial.h"

namespace ordalis {

class TCP : public ISerial {
 public:
  explicit TCP(ISerialClient* client) : ISerial(client) {}
  ~TCP() override;

  // (port) listens as a server; (host, port) connects as a client.
  bool Open(const LinkParameters& parameters) override;
  bool Close() override;
  bool IsOpen() override { return started_.load(); }
  bool SendRaw(const std::uint8_t* bytes, std::size_t length) override;
  void DiscardQueued() override;
  LinkFraming framing() const override { return LinkFraming::kStream; }
  // The send queue's limit in bytes (kSendQueueLimit unless changed).
  void SetSendQueueLimit(std::size_t bytes) { queue_.set_limit(bytes); }
  std::size_t QueuedBytes() const { return queue_.queued_bytes(); }

  // Starts the threads; an empty [host] means server mode. False when already started.
  bool Start(const std::string& host, std::uint16_t port);

  // The local address a server binds to; the default is every local address. Takes effect at
  // the next Start.
  void SetBindAddress(const std::string& address);
  // The port a server is listening on (useful when started on port 0), or 0.
  std::uint16_t ListeningPort() const;


 protected:
  bool SendRawWithin(const std::uint8_t* bytes, std::size_t length, std::chrono::milliseconds wait) override;
  bool WaitForQueueRoom(std::size_t length, std::chrono::milliseconds wait) override {
    return queue_.WaitForRoom(length, wait);
  }

 private:
  using SharedSocket = std::shared_ptr<FileDescriptor>;

  void ConnectionThread();
  void SendThread();
  SharedSocket ConnectAsClient();
  SharedSocket AcceptAsServer();
  bool PrepareListeningSocket();
  // Serves [socket] until it drops; returns the connection accepted in its place, if any.
  SharedSocket ReceiveUntilDisconnected(const SharedSocket& socket);
  enum class Arrival { kData, kNewPeer, kDeadline, kStopped };
  Arrival WaitForArrival(int data, bool guarded, std::chrono::steady_clock::time_point deadline);
  SharedSocket AcceptWaiting();
  int ListeningSocket() const;
  void SetProgress(const std::string& suffix);
  SharedSocket DataSocket();

  std::string host_;
  std::uint16_t port_ = 0;
  std::string base_description_;
  std::atomic<bool> started_{false};

  mutable std::mutex socket_mutex_;  // guards the sockets, the bind address and the bound port
  std::string bind_address_;
  FileDescriptor listening_;
  std::uint16_t listening_port_ = 0;
  SharedSocket data_;

  StopSignal stop_;
  Event connected_;
  SendQueue queue_;
  std::atomic<std::uint64_t> discards_{0};  // counts DiscardQueued, so a buffer in hand goes too
  LinkThread connection_thread_;
  LinkThread send_thread_;
};

}  // namespace ordalis
