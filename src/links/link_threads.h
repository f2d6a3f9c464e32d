#pragma once
// Building blocks shared by the threaded link kinds: the send queue (a bounded FIFO of byte
// buffers under its own mutex, counted by a semaphore), the stop signal that wakes every blocked link thread,
// and a link thread that signals an exit event when it ends, so the owner waits for it a
// bounded time.

#include <chrono>
#include <condition_variable>
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

// How many bytes a link's send queue holds at most (1 MiB) before Send waits for room.
inline constexpr std::size_t kSendQueueLimit = std::size_t{1} << 20;

// kQueuedHalfFull: queued, and the queue holds half its limit or more.
enum class PushResult { kQueued, kQueuedHalfFull, kFull, kClosed };

// Whether a push respects the queue's limit: Close queues its last words (the interpreter's
// "exit") even when the queue is full.
enum class Room { kBounded, kAlways };

// FIFO of buffers waiting for a send thread, bounded in bytes, so a peer that never reads holds
// on to at most the limit (plus the buffer being transmitted). Safe to call from any thread.
class SendQueue {
 public:
  // Appends a copy of [bytes], waiting up to [wait] for room. A buffer larger than the whole
  // limit is taken once the queue is empty.
  PushResult Push(const std::uint8_t* bytes, std::size_t length, std::chrono::milliseconds wait,
                  Room room = Room::kBounded);
  // Waits for a buffer or for Wake; returns none when woken without a buffer.
  std::optional<ByteBuffer> Pop();
  // Takes the oldest buffer without waiting.
  std::optional<ByteBuffer> TryPop();
  // Waits up to [wait] until a buffer of [length] bytes would be taken at once.
  bool WaitForRoom(std::size_t length, std::chrono::milliseconds wait);
  // Releases a waiting Pop without a buffer (the send thread then checks its stop signal).
  void Wake() { count_.Release(); }
  void Clear();
  // Refuses pushes from now on and releases every sender waiting for room; Reopen takes them
  // again. The link's Close and Start call these.
  void Shutdown();
  void Reopen();
  std::size_t queued_bytes() const;
  // Changes the limit (tests use a small one).
  void set_limit(std::size_t bytes);

 private:
  bool HasRoom(std::size_t length) const;  // with mutex_ held

  mutable std::mutex mutex_;
  std::condition_variable room_;
  std::deque<ByteBuffer> buffers_;
  std::size_t bytes_ = 0;
  std::size_t limit_ = kSendQueueLimit;
  bool closed_ = false;
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
