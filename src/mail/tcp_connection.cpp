#include "mail/tcp_connection.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <utility>

namespace ordalis {

namespace {

using Clock = TcpConnection::Clock;

struct AddrInfoDeleter {
  void operator()(addrinfo* list) const { freeaddrinfo(list); }
};
using AddrInfoList = std::unique_ptr<addrinfo, AddrInfoDeleter>;

// The addresses [host] resolves to; null, with the resolver's reason in [failure], when none.
AddrInfoList Resolve(const std::string& host, std::uint16_t port, std::string* failure) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* list = nullptr;
  std::string service = std::to_string(port);
  int error = getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
  if (error != 0) {
    *failure = error == EAI_SYSTEM ? std::strerror(errno) : gai_strerror(error);
    return nullptr;
  }
  return AddrInfoList(list);
}

int MillisecondsUntil(Clock::time_point deadline) {
  auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  if (left <= 0) return 0;
  return left > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(left);
}

}  // namespace

IoStatus TcpConnection::WaitFor(short events, Clock::time_point deadline) {
  while (true) {
    pollfd entry{fd_.get(), events, 0};
    int rc = ::poll(&entry, 1, MillisecondsUntil(deadline));
    if (rc > 0) return IoStatus::kOk;  // errors and hang-ups show in the call that follows
    if (rc == 0) return IoStatus::kTimedOut;
    if (errno != EINTR) return IoStatus::kError;
  }
}

ConnectStatus TcpConnection::Connect(const std::string& host, std::uint16_t port,
                                     std::chrono::milliseconds timeout) {
  Close();
  connect_failure_.clear();
  AddrInfoList addresses = Resolve(host, port, &connect_failure_);
  if (!addresses) return ConnectStatus::kUnresolved;
  ConnectStatus status = ConnectStatus::kNoSocket;
  for (const addrinfo* a = addresses.get(); a != nullptr; a = a->ai_next) {
    TcpConnection attempt(
        ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol));
    if (!attempt.is_open()) {
      connect_failure_ = std::strerror(errno);
      continue;
    }
    if (status == ConnectStatus::kNoSocket) status = ConnectStatus::kRefused;
    if (::connect(attempt.fd_.get(), a->ai_addr, a->ai_addrlen) != 0) {
      if (errno != EINPROGRESS && errno != EINTR) {
        connect_failure_ = std::strerror(errno);
        continue;
      }
      IoStatus waited = attempt.WaitFor(POLLOUT, Clock::now() + timeout);
      if (waited == IoStatus::kTimedOut) status = ConnectStatus::kTimedOut;
      if (waited == IoStatus::kTimedOut) connect_failure_ = "no answer";
      if (waited != IoStatus::kOk) continue;
      int error = 0;
      socklen_t length = sizeof error;
      if (::getsockopt(attempt.fd_.get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
        connect_failure_ = std::strerror(error != 0 ? error : errno);
        continue;
      }
    }
    *this = std::move(attempt);
    connect_failure_.clear();
    return ConnectStatus::kConnected;
  }
  return status;
}

IoStatus TcpConnection::SendAll(std::string_view data, std::chrono::milliseconds timeout) {
  if (!is_open()) return IoStatus::kError;
  while (!data.empty()) {
    ssize_t sent = ::send(fd_.get(), data.data(), data.size(), MSG_NOSIGNAL);
    if (sent > 0) {
      data.remove_prefix(static_cast<std::size_t>(sent));
      continue;
    }
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      IoStatus waited = WaitFor(POLLOUT, Clock::now() + timeout);
      if (waited != IoStatus::kOk) return waited;
      continue;
    }
    return IoStatus::kError;
  }
  return IoStatus::kOk;
}

IoStatus TcpConnection::Receive(char* buffer, std::size_t size, std::size_t* received,
                                Clock::time_point deadline) {
  *received = 0;
  if (!is_open()) return IoStatus::kError;
  while (true) {
    ssize_t got = ::recv(fd_.get(), buffer, size, 0);
    if (got > 0) {
      *received = static_cast<std::size_t>(got);
      return IoStatus::kOk;
    }
    if (got == 0) return IoStatus::kClosed;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return IoStatus::kError;
    IoStatus waited = WaitFor(POLLIN, deadline);
    if (waited != IoStatus::kOk) return waited;
  }
}

}  // namespace ordalis
