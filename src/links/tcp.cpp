#include "links/tcp.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

#include "links/link_parameters.h"

namespace ordalis {

namespace {

constexpr std::size_t kReceiveChunk = 2048;
constexpr int kRetryPauseMs = 100;

int SocketError(int fd) {
  int error = 0;
  socklen_t size = sizeof error;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) return errno;
  return error;
}

// A message goes out as soon as it is written. With Nagle's algorithm a small message written
// while the previous one is still unacknowledged waits for the peer's delayed acknowledgement
// (some 40 ms), and a command, its log lines and its reply are just such small messages.
void SendAtOnce(int fd) {
  int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

}  // namespace

TCP::~TCP() { Close(); }

bool TCP::Open(const LinkParameters& parameters) {
  using namespace link_parameters;
  if (parameters.size() == 1 && IsPort(parameters[0])) {
    return Start("", static_cast<std::uint16_t>(parameters[0].as_int()));
  }
  if (parameters.size() == 2 && IsText(parameters[0]) && !parameters[0].as_string().empty() &&
      IsPort(parameters[1])) {
    return Start(parameters[0].as_string(), static_cast<std::uint16_t>(parameters[1].as_int()));
  }
  return false;
}

bool TCP::Start(const std::string& host, std::uint16_t port) {
  if (started_.load()) return false;
  if (!stop_.wake().valid()) return false;
  host_ = host;
  port_ = port;
  started_.store(true);
  stop_.Reset();
  queue_.Reopen();
  connected_.Reset();
  base_description_ = host.empty() ? "tcp server port " + std::to_string(port)
                                   : "tcp client of " + host + " port " + std::to_string(port);
  SetDescription(base_description_);
  connection_thread_.Start([this] { ConnectionThread(); });
  send_thread_.Start([this] { SendThread(); });
  return true;
}

bool TCP::Close() {
  if (!started_.load()) return false;
  stop_.Set();
  queue_.Shutdown();
  queue_.Wake();
  connection_thread_.Join();
  send_thread_.Join();
  {
    std::lock_guard lock(socket_mutex_);
    listening_.Reset();
    listening_port_ = 0;
    data_.reset();
  }
  queue_.Clear();
  started_.store(false);
  return true;
}

bool TCP::SendRaw(const std::uint8_t* bytes, std::size_t length) {
  return SendRawWithin(bytes, length, SendWaitNow(send_wait()));
}

bool TCP::SendRawWithin(const std::uint8_t* bytes, std::size_t length, std::chrono::milliseconds wait) {
  if (!started_.load()) return false;
  return Queued(queue_.Push(bytes, length, wait));
}

void TCP::SetBindAddress(const std::string& address) {
  std::lock_guard lock(socket_mutex_);
  bind_address_ = address;
}

std::uint16_t TCP::ListeningPort() const {
  std::lock_guard lock(socket_mutex_);
  return listening_port_;
}

void TCP::SetProgress(const std::string& suffix) { SetDescription(base_description_ + suffix); }

void TCP::DiscardQueued() {
  discards_.fetch_add(1);
  queue_.Clear();
}

TCP::SharedSocket TCP::DataSocket() {
  std::lock_guard lock(socket_mutex_);
  return data_;
}

// Connects or accepts, serves the connection until it drops, pauses and starts again. A
// connection accepted in place of a peer that did not show the key is served at once.
void TCP::ConnectionThread() {
  SharedSocket next;
  while (!stop_.IsSet()) {
    SharedSocket socket = next ? std::move(next) : host_.empty() ? AcceptAsServer() : ConnectAsClient();
    next = nullptr;
    if (socket) {
      {
        std::lock_guard lock(socket_mutex_);
        data_ = socket;
      }
      // Online first: a new authenticated session queues its hello (and drops what was sealed
      // for the old one) before the send thread may write on the new connection.
      SetOnline(true);
      connected_.Set();
      SetProgress(" connected");
      next = ReceiveUntilDisconnected(socket);
      if (next) continue;
    }
    if (WaitWake(stop_.wake(), kRetryPauseMs)) break;
  }
}

TCP::SharedSocket TCP::ConnectAsClient() {
  SetProgress(" creating connection socket");
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host_.c_str(), std::to_string(port_).c_str(), &hints, &found) != 0) {
    SetProgress(" failed to find server address");
    return nullptr;
  }
  SetProgress(" connecting to server");
  SharedSocket connected;
  int error = 0;
  for (addrinfo* address = found; address && !connected && !stop_.IsSet(); address = address->ai_next) {
    auto socket = std::make_shared<FileDescriptor>(::socket(
        address->ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!socket->valid()) {
      SetProgress(" Socket create error " + std::to_string(errno));
      break;
    }
    int result = ::connect(socket->get(), address->ai_addr, address->ai_addrlen);
    error = result == 0 ? 0 : errno;
    if (error == EINPROGRESS) {
      if (WaitReady(socket->get(), POLLOUT, stop_.wake()) != Readiness::kReady) break;
      error = SocketError(socket->get());
    }
    if (error == 0) {
      SendAtOnce(socket->get());
      connected = socket;
    }
  }
  ::freeaddrinfo(found);
  if (!connected && error != 0 && !stop_.IsSet()) {
    SetProgress(" Connection error " + std::to_string(error));
  }
  return connected;
}

// The listening socket stays open from one connection to the next, so a client that connects
// while another is being served waits in the backlog and is accepted when the first has gone.
bool TCP::PrepareListeningSocket() {
  std::string bind_address;
  {
    std::lock_guard lock(socket_mutex_);
    if (listening_.valid()) return true;
    bind_address = bind_address_;
  }
  SetProgress(" creating listening socket");
  FileDescriptor socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!socket.valid()) {
    SetProgress(" Socket create error " + std::to_string(errno));
    return false;
  }
  int reuse = 1;
  ::setsockopt(socket.get(), SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port_);
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  if (!bind_address.empty() && ::inet_pton(AF_INET, bind_address.c_str(), &address.sin_addr) != 1) {
    SetProgress(" Bind error " + std::to_string(EINVAL));
    return false;
  }
  SetProgress(" binding to listening socket");
  if (::bind(socket.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    SetProgress(" Bind error " + std::to_string(errno));
    return false;
  }
  SetProgress(" listening on socket");
  if (::listen(socket.get(), 1) != 0) {
    SetProgress(" Listen error " + std::to_string(errno));
    return false;
  }
  socklen_t size = sizeof address;
  ::getsockname(socket.get(), reinterpret_cast<sockaddr*>(&address), &size);
  std::lock_guard lock(socket_mutex_);
  listening_port_ = ntohs(address.sin_port);
  listening_ = std::move(socket);
  return true;
}

TCP::SharedSocket TCP::AcceptAsServer() {
  if (!PrepareListeningSocket()) return nullptr;
  SetProgress(" accepting connection");
  int listening = -1;
  {
    std::lock_guard lock(socket_mutex_);
    listening = listening_.get();
  }
  while (!stop_.IsSet()) {
    Readiness ready = WaitReady(listening, POLLIN, stop_.wake());
    if (ready == Readiness::kWoken) return nullptr;
    int accepted = ::accept4(listening, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (accepted >= 0) {
      SendAtOnce(accepted);
      return std::make_shared<FileDescriptor>(accepted);
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR || errno == ECONNABORTED) continue;
    int error = errno;
    {
      std::lock_guard lock(socket_mutex_);
      listening_.Reset();
    }
    SetProgress(" Accept error " + std::to_string(error));
    return nullptr;
  }
  return nullptr;
}

int TCP::ListeningSocket() const {
  std::lock_guard lock(socket_mutex_);
  return listening_.get();
}

// Waits for data on [data] or the stop signal; while [guarded] (a server whose peer has not
// shown the key) also for a new connection and for [deadline]. Data is served first.
TCP::Arrival TCP::WaitForArrival(int data, bool guarded, std::chrono::steady_clock::time_point deadline) {
  if (!guarded) {
    Readiness ready = WaitReady(data, POLLIN, stop_.wake());
    return ready == Readiness::kReady ? Arrival::kData : Arrival::kStopped;
  }
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return Arrival::kDeadline;
    pollfd entries[3] = {{stop_.wake().fd(), POLLIN, 0}, {data, POLLIN, 0}, {ListeningSocket(), POLLIN, 0}};
    int ready = ::poll(entries, 3, static_cast<int>(std::min<std::int64_t>(left.count(), 60000)));
    if (ready < 0 && errno != EINTR) return Arrival::kStopped;
    if (ready <= 0) continue;
    if (entries[0].revents) return Arrival::kStopped;
    if (entries[1].revents) return Arrival::kData;
    return Arrival::kNewPeer;
  }
}

TCP::SharedSocket TCP::AcceptWaiting() {
  int accepted = ::accept4(ListeningSocket(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
  if (accepted < 0) return nullptr;
  SendAtOnce(accepted);
  return std::make_shared<FileDescriptor>(accepted);
}

TCP::SharedSocket TCP::ReceiveUntilDisconnected(const SharedSocket& socket) {
  const auto deadline_wait = handshake_deadline();
  const auto deadline = std::chrono::steady_clock::now() + deadline_wait;
  std::uint8_t buffer[kReceiveChunk];
  SharedSocket next;
  std::string dropped;
  // The stream's clock runs only while this thread waits for bytes: a pause inside a frame is
  // then the peer's, never time this end spent handing on what it had received meanwhile.
  auto stream_clock = FrameReader::Clock::now();
  for (;;) {
    bool guarded = host_.empty() && deadline_wait.count() > 0 && PeerUnproven();
    auto waiting_since = FrameReader::Clock::now();
    Arrival arrival = WaitForArrival(socket->get(), guarded, deadline);
    stream_clock += FrameReader::Clock::now() - waiting_since;
    if (arrival == Arrival::kDeadline) {
      dropped = "a peer that did not show the key within " + std::to_string(deadline_wait.count()) + " ms";
      break;
    }
    if (arrival == Arrival::kNewPeer) {
      next = AcceptWaiting();
      if (!next) continue;
      dropped = "a peer that had not shown the key, for a new connection";
      break;
    }
    if (arrival == Arrival::kStopped) break;
    long received = ::recv(socket->get(), buffer, sizeof buffer, 0);
    if (received > 0) {
      DeliverReceived(buffer, static_cast<std::size_t>(received), stream_clock);
      continue;
    }
    if (received < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) continue;
    break;
  }
  connected_.Reset();
  {
    std::lock_guard lock(socket_mutex_);
    data_.reset();
  }
  ::shutdown(socket->get(), SHUT_RDWR);  // a send in progress ends at once
  if (!dropped.empty()) NotifyPeerDropped(dropped);
  SetOnline(false);
  SetProgress(" disconnected");
  return next;
}

// Sends each queued buffer whole over the current connection, waiting for one when none
// stands. A failed send shuts the connection down; the connection thread then reports it.
void TCP::SendThread() {
  for (;;) {
    std::optional<ByteBuffer> buffer = queue_.Pop();
    if (stop_.IsSet()) break;
    if (!buffer) continue;
    std::uint64_t generation = discards_.load();
    SharedSocket socket;
    while (!socket) {
      if (Event::WaitAny({&stop_.event(), &connected_}) == 0) return;
      socket = DataSocket();
    }
    if (discards_.load() != generation) continue;  // dropped with the queue it was taken from
    std::size_t sent = WriteAll(socket->get(), buffer->data(), buffer->size(), stop_.wake(), true);
    if (sent > 0) NotifySent(buffer->data(), sent);
    if (sent < buffer->size() && !stop_.IsSet()) ::shutdown(socket->get(), SHUT_RDWR);
  }
}

}  // namespace ordalis
