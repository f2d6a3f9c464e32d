#pragma once
// OwnedWorker: a thread that belongs to one owner, with one way of ending.
//
// The owner lets go with Release (or by destroying the worker): it waits for the worker's body
// to return, up to a bound when the owner gives one, and joins it. A worker that has not ended
// within the bound is let go: it must hold, through its body, whatever it still uses.
//
// An owner may also let go on the worker's own thread — a client dropping the last reference
// from a notification the worker delivers. Waiting there would wait for itself, so the worker is
// detached instead and ends by itself; the body learns of it through LetGoOnThisThread() and
// must then return without touching its owner again.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/large_stack_thread.h"

namespace ordalis {

class OwnedWorker {
 public:
  // The stack a worker gets unless its owner asks for more.
  static constexpr std::size_t kDefaultStackBytes = std::size_t{8} << 20;

  OwnedWorker() = default;
  // Starts [body] on a new thread; throws std::system_error when it cannot be made.
  explicit OwnedWorker(std::function<void()> body, std::size_t stack_bytes = kDefaultStackBytes);
  OwnedWorker(OwnedWorker&& other) noexcept = default;
  // Only onto a worker that has been released (or never started).
  OwnedWorker& operator=(OwnedWorker&& other) noexcept;
  OwnedWorker(const OwnedWorker&) = delete;
  OwnedWorker& operator=(const OwnedWorker&) = delete;
  // Releases with no bound.
  ~OwnedWorker();

  // Lets the worker go as described above; [bound] limits the wait (none: until it ends). True
  // when the worker has ended and been joined, false when it was let go or never started.
  bool Release(std::optional<std::chrono::milliseconds> bound = std::nullopt);

  bool started() const { return thread_.joinable(); }
  // True on the worker's own thread.
  bool OnWorkerThread() const;
  // True on a worker thread whose owner let it go from that very thread: the body returns.
  static bool LetGoOnThisThread();

 private:
  // What the thread and its owner share; the thread keeps it alive past its owner.
  struct Shared {
    std::mutex mutex;
    std::condition_variable ended_changed;
    bool ended = false;
  };

  std::shared_ptr<Shared> shared_;
  LargeStackThread thread_;
};

}  // namespace ordalis
