#pragma once
// Event: a signal that threads wait on, manual- or auto-reset, with a time-out and a wait for
// any of several events. It stands in for the platform events the engine's threads pace
// themselves with. All operations are safe to call from any thread.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace ordalis {

enum class EventReset { kManual, kAuto };

// A wait without a time-out.
inline constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;

class Event {
 public:
  explicit Event(EventReset reset = EventReset::kManual, bool initially_set = false);
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  void Set();
  void Reset();
  // Reads the state without waiting and without taking the event's lock.
  bool IsSet() const { return set_.load(std::memory_order_acquire); }

  // Waits until the event is set or [timeout_ms] passes; true when it was set. An auto-reset
  // event is reset by the wait that sees it set.
  bool Wait(std::uint32_t timeout_ms = kInfinite);

  // Waits until one of [events] is set; returns its index, or -1 on time-out. When several are
  // set, the lowest index wins.
  static int WaitAny(const std::vector<Event*>& events, std::uint32_t timeout_ms = kInfinite);

 private:
  struct Waiter;
  bool TryConsume();  // with mutex_ held

  const EventReset reset_;
  mutable std::mutex mutex_;
  std::atomic<bool> set_;  // written under mutex_, read without it by IsSet
  std::condition_variable changed_;
  std::vector<std::shared_ptr<Waiter>> waiters_;  // WaitAny callers watching this event
};

// A counting semaphore with a time-out on acquire.
class Semaphore {
 public:
  explicit Semaphore(std::uint32_t initial = 0) : count_(initial) {}
  void Release(std::uint32_t count = 1);
  // True when a unit was taken before [timeout_ms] passed.
  bool Acquire(std::uint32_t timeout_ms = kInfinite);

 private:
  std::mutex mutex_;
  std::condition_variable available_;
  std::uint32_t count_;
};

}  // namespace ordalis
