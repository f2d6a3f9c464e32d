#pragma once
// The waits of the link kinds' threads: a wake signal (an eventfd) that interrupts a thread
// blocked in poll, and a wait for a descriptor to become ready that also wakes on that signal.
// Every blocking call of a link thread goes through WaitReady, so Close never waits out a
// time-out or a silent peer. Descriptors are owned by the platform's FileDescriptor.

#include <cstddef>
#include <cstdint>

#include "platform/file_descriptor.h"

namespace ordalis {

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

// Writes all [length] bytes to the non-blocking [fd], waiting for room while [wake] is clear.
// Returns the bytes written (fewer when woken or on an error).
std::size_t WriteAll(int fd, const std::uint8_t* data, std::size_t length, const WakeSignal& wake,
                     bool is_socket);

// Sets O_NONBLOCK on [fd].
bool SetNonBlocking(int fd);

}  // namespace ordalis
