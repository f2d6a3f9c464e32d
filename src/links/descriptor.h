#pragma once
// Small owners of file descriptors for the link kinds: a move-only descriptor that closes on
// destruction, a wake signal (an eventfd) that interrupts a thread blocked in poll, and a wait
// for a descriptor to become ready that also wakes on that signal. Every blocking call of a link
// thread goes through WaitReady, so Close never waits out a time-out or a silent peer.

#include <cstddef>
#include <cstdint>
#include <utility>

namespace ordalis {

class FileDescriptor {
 public:
  FileDescriptor() = default;
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.fd_, -1));
    return *this;
  }
  ~FileDescriptor() { Reset(); }

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  explicit operator bool() const { return valid(); }
  // Closes the descriptor held (close is never retried) and takes [fd].
  void Reset(int fd = -1);
  int Release() { return std::exchange(fd_, -1); }

 private:
  int fd_ = -1;
};

// A level-triggered signal: once Set, every poll on fd() reports it readable until Clear.
// Safe to call from any thread.
class WakeSignal {
 public:
  WakeSignal();
  void Set();
  void Clear();
  bool IsSet() const;
  // False when the system gave no descriptor for it (then no thread may rely on it).
  bool valid() const { return fd_.valid(); }
  int fd() const { return fd_.get(); }

 private:
  FileDescriptor fd_;
};

enum class Readiness { kReady, kWoken, kTimeout, kError };

// Waits until [fd] reports one of [events] (POLLIN, POLLOUT), or hang-up or error, or [wake] is
// set, or [timeout_ms] passes (-1: no time-out). The wake signal wins over readiness.
Readiness WaitReady(int fd, short events, const WakeSignal& wake, int timeout_ms = -1);

// Waits up to [timeout_ms] for [wake]; true when it was set.
bool WaitWake(const WakeSignal& wake, int timeout_ms);

// read/write/send with EINTR retried; they return what the system call returns.
long ReadRetry(int fd, void* buffer, std::size_t length);
long WriteRetry(int fd, const void* buffer, std::size_t length);

// Writes all [length] bytes to the non-blocking [fd], waiting for room while [wake] is clear.
// Returns the bytes written (fewer when woken or on an error).
std::size_t WriteAll(int fd, const std::uint8_t* data, std::size_t length, const WakeSignal& wake,
                     bool is_socket);

// Sets O_NONBLOCK on [fd].
bool SetNonBlocking(int fd);

}  // namespace ordalis
