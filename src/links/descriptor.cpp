#include "links/descriptor.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace ordalis {

WakeSignal::WakeSignal() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

void WakeSignal::Set() {
  std::uint64_t one = 1;
  WriteRetry(fd_.get(), &one, sizeof one);
}

void WakeSignal::Clear() {
  std::uint64_t value = 0;
  ReadRetry(fd_.get(), &value, sizeof value);
}

bool WakeSignal::IsSet() const {
  pollfd entry{fd_.get(), POLLIN, 0};
  return ::poll(&entry, 1, 0) > 0 && (entry.revents & POLLIN);
}

Readiness WaitReady(int fd, short events, const WakeSignal& wake, int timeout_ms) {
  pollfd entries[2] = {{wake.fd(), POLLIN, 0}, {fd, events, 0}};
  for (;;) {
    int count = ::poll(entries, 2, timeout_ms);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) return Readiness::kError;
    if (count == 0) return Readiness::kTimeout;
    if (entries[0].revents & POLLIN) return Readiness::kWoken;
    if (entries[1].revents & POLLNVAL) return Readiness::kError;
    return Readiness::kReady;  // readable, writable, hang-up or error: the caller's I/O tells
  }
}

bool WaitWake(const WakeSignal& wake, int timeout_ms) {
  pollfd entry{wake.fd(), POLLIN, 0};
  for (;;) {
    int count = ::poll(&entry, 1, timeout_ms);
    if (count < 0 && errno == EINTR) continue;
    return count > 0;
  }
}

std::size_t WriteAll(int fd, const std::uint8_t* data, std::size_t length, const WakeSignal& wake,
                     bool is_socket) {
  std::size_t done = 0;
  while (done < length) {
    long result = is_socket ? ::send(fd, data + done, length - done, MSG_NOSIGNAL)
                            : ::write(fd, data + done, length - done);
    if (result > 0) {
      done += static_cast<std::size_t>(result);
      continue;
    }
    if (result < 0 && errno == EINTR) continue;
    if (result < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (WaitReady(fd, POLLOUT, wake) != Readiness::kReady) break;
      continue;
    }
    break;
  }
  return done;
}

bool SetNonBlocking(int fd) {
  int flags = ::fcntl(fd, F_GETFL);
  return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

}  // namespace ordalis
