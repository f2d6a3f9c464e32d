#pragma once
// UDP: a datagram link between a local port and a remote host and port. A receive thread binds
// the socket and delivers each datagram; a send thread sends each queued buffer as one datagram.
// Online from Open to Close. Description: "udp LOCAL <--> HOST:REMOTE".

#include <memory>
#include <mutex>
#include <string>

#include "links/descriptor.h"
#include "links/link_threads.h"
#include "links/serial.h"

namespace ordalis {

class UDP : public ISerial {
 public:
  explicit UDP(ISerialClient* client) : ISerial(client) {}
  ~UDP() override;

  // (port) talks to "localhost" on the same port; (port, host); (local port, host, remote port).
  bool Open(const LinkParameters& parameters) override;
  bool Close() override;
  bool IsOpen() override { return started_.load(); }
  bool SendRaw(const std::uint8_t* bytes, std::size_t length) override;
  void DiscardQueued() override { queue_.Clear(); }
  // The largest datagram payload over IPv4.
  std::size_t MaxTransmission() const override { return 65507; }
  // The send queue's limit in bytes (kSendQueueLimit unless changed).
  void SetSendQueueLimit(std::size_t bytes) { queue_.set_limit(bytes); }
  std::size_t QueuedBytes() const { return queue_.queued_bytes(); }

  // False when already started.
  bool Start(std::uint16_t local_port, const std::string& host, std::uint16_t remote_port);
  // The local address the socket binds to; the default is every local address. Takes effect at
  // the next Start.
  void SetBindAddress(const std::string& address);


 protected:
  bool SendRawWithin(const std::uint8_t* bytes, std::size_t length, std::chrono::milliseconds wait) override;
  bool WaitForQueueRoom(std::size_t length, std::chrono::milliseconds wait) override {
    return queue_.WaitForRoom(length, wait);
  }

 private:
  using SharedSocket = std::shared_ptr<FileDescriptor>;

  void ReceiveThread();
  void SendThread();
  SharedSocket Bind();
  SharedSocket CurrentSocket();

  std::uint16_t local_port_ = 0;
  std::string host_;
  std::uint16_t remote_port_ = 0;
  std::atomic<bool> started_{false};

  std::mutex socket_mutex_;  // guards the socket and the bind address
  std::string bind_address_;
  SharedSocket socket_;
  Event socket_ready_;

  StopSignal stop_;
  SendQueue queue_;
  LinkThread receive_thread_;
  LinkThread send_thread_;
};

}  // namespace ordalis
