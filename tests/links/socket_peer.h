#pragma once
// Plain-socket peers for the link tests, on 127.0.0.1 only: a listener on an ephemeral port,
// a connecting client and a datagram socket, each reading with a safety time-out.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "links/descriptor.h"

namespace ordalis::testing {

inline sockaddr_in Loopback(std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

inline std::uint16_t LocalPort(int fd) {
  sockaddr_in address{};
  socklen_t size = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  return ntohs(address.sin_port);
}

// A TCP listener on 127.0.0.1 and an ephemeral port.
inline FileDescriptor ListenLocal(std::uint16_t& port) {
  FileDescriptor fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in address = Loopback(0);
  ::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::listen(fd.get(), 4);
  port = LocalPort(fd.get());
  return fd;
}

// Accepts one connection, waiting at most the safety time-out.
inline FileDescriptor AcceptOne(int listener) {
  pollfd entry{listener, POLLIN, 0};
  if (::poll(&entry, 1, 20000) <= 0) return FileDescriptor();
  return FileDescriptor(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
}

inline FileDescriptor ConnectLocal(std::uint16_t port) {
  FileDescriptor fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in address = Loopback(port);
  if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) fd.Reset();
  return fd;
}

inline bool SendText(int fd, const std::string& text) {
  return ::send(fd, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<long>(text.size());
}

// Reads from [fd] until [wanted] bytes have arrived, the peer closes, or the safety time-out.
inline std::string ReceiveBytes(int fd, std::size_t wanted) {
  std::string data;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (data.size() < wanted && std::chrono::steady_clock::now() < deadline) {
    pollfd entry{fd, POLLIN, 0};
    if (::poll(&entry, 1, 1000) <= 0) continue;
    char buffer[4096];
    long got = ::read(fd, buffer, sizeof buffer);
    if (got <= 0) break;
    data.append(buffer, static_cast<std::size_t>(got));
  }
  return data;
}

// True when the peer closed [fd] (read returns 0) before the safety time-out.
inline bool WaitForClose(int fd) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd entry{fd, POLLIN, 0};
    if (::poll(&entry, 1, 1000) <= 0) continue;
    char buffer[4096];
    long got = ::read(fd, buffer, sizeof buffer);
    if (got <= 0) return true;
  }
  return false;
}

// A UDP port on 127.0.0.1 that was free a moment ago.
inline std::uint16_t FreeUdpPort() {
  FileDescriptor fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  sockaddr_in address = Loopback(0);
  ::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
  return LocalPort(fd.get());
}

}  // namespace ordalis::testing
