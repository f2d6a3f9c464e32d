#pragma once
// Building blocks shared by the threaded link kinds: the send queue (a FIFO of byte buffers under
// its own mutex, counted by a semaphore), the stop signal that wakes every blocked link thread,
// and a link thread that signals an exit event when it ends, so the owner waits for it a
// bounded time.

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "links/descriptor.h"
#include "platform/event.h"

namespace ordalis {

using ByteBuffer = std::vector<std::uint8_t>;

// How long Close waits for each link thread.
inline constexpr std::uint32_t kThreadExitWaitMs = 10000;

// FIFO of buffers waiting for a send thread. Safe to call from any thread.
class SendQueue {
 public:
  void Push(const std::uint8_t* bytes, std::size_t length);
  // Waits for a buffer or for Wake; returns none when woken without a buffer.
  std::optional<ByteBuffer> Pop();
  // Takes the oldest buffer without waiting.
  std::optional<ByteBuffer> TryPop();
  // Releases a waiting Pop without a buffer (the send thread then checks its stop signal).
  void Wake() { count_.Release(); }
  void Clear();

 private:
  std::mutex mutex_;
  std::deque<ByteBuffer> buffers_;
  Semaphore count_;
};

// One worker thread of a link with its exit event.
class LinkThread {
 public:
  LinkThread() = default;
  LinkThread(const LinkThread&) = delete;
  LinkThread& operator=(const LinkThread&) = delete;
  ~LinkThread() { Join(); }

  void Start(std::function<void()> body);
  bool Running() const { return thread_.joinable(); }
  // Waits up to kThreadExitWaitMs for the exit event, then joins. Every link thread blocks only
  // in waits that its stop signal interrupts, so the join follows the exit event at once; a
  // thread still busy in foreign code (a VISA read) is joined when that call returns rather
  // than left running over a destroyed link. Called from the thread itself, it does nothing.
  void Join();

 private:
  Event exited_;
  std::jthread thread_;
};

// The stop signal of a link: an event for waits among events, and a wake descriptor that
// interrupts a thread blocked in poll. Set and Reset act on both. Safe from any thread.
class StopSignal {
 public:
  void Set() {
    event_.Set();
    wake_.Set();
  }
  void Reset() {
    event_.Reset();
    wake_.Clear();
  }
  bool IsSet() const { return event_.IsSet(); }
  Event& event() { return event_; }
  const WakeSignal& wake() const { return wake_; }

 private:
  Event event_;
  WakeSignal wake_;
};

}  // namespace ordalis
