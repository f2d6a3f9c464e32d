#include "links/udp.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "links/link_parameters.h"

namespace ordalis {

namespace {

constexpr std::size_t kDatagramBuffer = 65535;
constexpr int kRetryPauseMs = 100;
constexpr int kEmptyReceivePauseMs = 10;

}  // namespace

UDP::~UDP() { Close(); }

bool UDP::Open(const LinkParameters& parameters) {
  using namespace link_parameters;
  std::size_t count = parameters.size();
  if (count < 1 || count > 3 || !IsPort(parameters[0])) return false;
  if (count >= 2 && !IsText(parameters[1])) return false;
  if (count == 3 && !IsPort(parameters[2])) return false;
  auto local = static_cast<std::uint16_t>(parameters[0].as_int());
  std::string host = count >= 2 ? parameters[1].as_string() : "localhost";
  auto remote = count == 3 ? static_cast<std::uint16_t>(parameters[2].as_int()) : local;
  return Start(local, host, remote);
}

bool UDP::Start(std::uint16_t local_port, const std::string& host, std::uint16_t remote_port) {
  if (started_.load()) return false;
  if (!stop_.wake().valid()) return false;
  local_port_ = local_port;
  host_ = host;
  remote_port_ = remote_port;
  started_.store(true);
  stop_.Reset();
  queue_.Reopen();
  socket_ready_.Reset();
  std::string description = "udp " + std::to_string(local_port);
  if (!host.empty()) description += " <--> " + host + ":" + std::to_string(remote_port);
  SetDescription(description);
  // The first attempt to bind happens here, so datagrams can arrive as soon as Open returns;
  // the receive thread keeps trying when the port is taken.
  if (SharedSocket socket = Bind()) {
    std::lock_guard lock(socket_mutex_);
    socket_ = socket;
    socket_ready_.Set();
  }
  receive_thread_.Start([this] { ReceiveThread(); });
  send_thread_.Start([this] { SendThread(); });
  SetOnline(true);
  return true;
}

bool UDP::Close() {
  if (!started_.load()) return false;
  stop_.Set();
  queue_.Shutdown();
  queue_.Wake();
  receive_thread_.Join();
  send_thread_.Join();
  {
    std::lock_guard lock(socket_mutex_);
    socket_.reset();
  }
  queue_.Clear();
  started_.store(false);
  SetOnline(false);
  return true;
}

bool UDP::SendRaw(const std::uint8_t* bytes, std::size_t length) {
  return SendRawWithin(bytes, length, SendWaitNow(send_wait()));
}

bool UDP::SendRawWithin(const std::uint8_t* bytes, std::size_t length, std::chrono::milliseconds wait) {
  if (!started_.load()) return false;
  return Queued(queue_.Push(bytes, length, wait));
}

void UDP::SetBindAddress(const std::string& address) {
  std::lock_guard lock(socket_mutex_);
  bind_address_ = address;
}

UDP::SharedSocket UDP::CurrentSocket() {
  std::lock_guard lock(socket_mutex_);
  return socket_;
}

UDP::SharedSocket UDP::Bind() {
  std::string bind_address;
  {
    std::lock_guard lock(socket_mutex_);
    bind_address = bind_address_;
  }
  auto socket = std::make_shared<FileDescriptor>(
      ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!socket->valid()) return nullptr;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(local_port_);
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  if (!bind_address.empty() && ::inet_pton(AF_INET, bind_address.c_str(), &address.sin_addr) != 1) {
    return nullptr;
  }
  if (::bind(socket->get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return nullptr;
  return socket;
}

void UDP::ReceiveThread() {
  SharedSocket socket = CurrentSocket();
  if (!socket) {
    while (!socket) {
      if (WaitWake(stop_.wake(), kRetryPauseMs)) return;
      socket = Bind();
    }
    {
      std::lock_guard lock(socket_mutex_);
      socket_ = socket;
    }
    socket_ready_.Set();
  }
  std::vector<std::uint8_t> buffer(kDatagramBuffer);
  for (;;) {
    Readiness ready = WaitReady(socket->get(), POLLIN, stop_.wake());
    if (ready == Readiness::kWoken || ready == Readiness::kError) break;
    long received = ::recv(socket->get(), buffer.data(), buffer.size(), 0);
    if (received > 0) {
      DeliverReceived(buffer.data(), static_cast<std::size_t>(received));
    } else if (received < 0 && errno != EAGAIN && errno != EINTR) {
      // An ICMP error for an earlier datagram, for instance: pause briefly and go on.
      if (WaitWake(stop_.wake(), kEmptyReceivePauseMs)) break;
    }
  }
}

// Resolves the remote host once, then sends each queued buffer as one datagram from the bound
// socket, so replies come back to the local port.
void UDP::SendThread() {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* found = nullptr;
  bool resolved = ::getaddrinfo(host_.c_str(), std::to_string(remote_port_).c_str(), &hints, &found) == 0;
  sockaddr_storage remote{};
  socklen_t remote_size = 0;
  if (resolved && found) {
    std::memcpy(&remote, found->ai_addr, found->ai_addrlen);
    remote_size = found->ai_addrlen;
  }
  if (found) ::freeaddrinfo(found);
  if (Event::WaitAny({&stop_.event(), &socket_ready_}) == 0) return;
  SharedSocket socket = CurrentSocket();
  for (;;) {
    std::optional<ByteBuffer> buffer = queue_.Pop();
    if (stop_.IsSet()) break;
    if (!buffer || remote_size == 0) continue;
    long sent = -1;
    for (;;) {
      sent = ::sendto(socket->get(), buffer->data(), buffer->size(), MSG_NOSIGNAL,
                      reinterpret_cast<sockaddr*>(&remote), remote_size);
      if (sent >= 0 || errno == EINTR) {
        if (sent >= 0) break;
        continue;
      }
      if (errno != EAGAIN || WaitReady(socket->get(), POLLOUT, stop_.wake()) != Readiness::kReady) break;
    }
    if (sent > 0) NotifySent(buffer->data(), static_cast<std::size_t>(sent));
  }
}

}  // namespace ordalis
