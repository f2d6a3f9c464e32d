#pragma once
// TcpConnection: a move-only owner of one connected TCP socket with time-outs on connecting,
// sending and receiving. The socket is non-blocking; every wait goes through poll with the
// time left, and interrupted calls are retried. One thread uses a connection at a time.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/file_descriptor.h"

namespace ordalis {

enum class ConnectStatus { kConnected, kUnresolved, kNoSocket, kRefused, kTimedOut };
enum class IoStatus { kOk, kTimedOut, kClosed, kError };

class TcpConnection {
 public:
  using Clock = std::chrono::steady_clock;

  TcpConnection() = default;
  TcpConnection(TcpConnection&& other) noexcept = default;
  TcpConnection& operator=(TcpConnection&& other) noexcept = default;
  TcpConnection(const TcpConnection&) = delete;
  TcpConnection& operator=(const TcpConnection&) = delete;

  // Resolves [host] and connects to [port], trying each address the name resolves to in turn;
  // each attempt may take up to [timeout]. Closes any earlier connection first.
  ConnectStatus Connect(const std::string& host, std::uint16_t port,
                        std::chrono::milliseconds timeout);
  // The system's reason the last Connect failed ("Connection refused", "Name or service not
  // known", ...); empty after a success.
  const std::string& connect_failure() const { return connect_failure_; }

  // Writes all of [data], looping over partial writes; fails when the peer accepts nothing
  // for [timeout]. A peer that has gone away gives kError, never a signal.
  IoStatus SendAll(std::string_view data, std::chrono::milliseconds timeout);

  // Reads what is available (at least one byte) into [buffer], waiting until [deadline].
  IoStatus Receive(char* buffer, std::size_t size, std::size_t* received,
                   Clock::time_point deadline);

  bool is_open() const { return fd_.valid(); }
  void Close() { fd_.Reset(); }

 private:
  explicit TcpConnection(int fd) : fd_(fd) {}
  // Waits for [events] on the socket until [deadline]; false on time-out or error.
  IoStatus WaitFor(short events, Clock::time_point deadline);

  FileDescriptor fd_;
  std::string connect_failure_;
};

}  // namespace ordalis
