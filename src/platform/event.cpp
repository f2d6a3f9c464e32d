#include "platform/event.h"

#include <algorithm>

namespace ordalis {

// A WaitAny call registers one Waiter with every event it watches; Set notifies it.
struct Event::Waiter {
  std::mutex mutex;
  std::condition_variable wake;
  bool woken = false;
};

namespace {

template <typename Predicate>
bool WaitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
             std::uint32_t timeout_ms, Predicate ready) {
  if (timeout_ms == kInfinite) {
    cv.wait(lock, ready);
    return true;
  }
  return cv.wait_for(lock, std::chrono::milliseconds(timeout_ms), ready);
}

}  // namespace

Event::Event(EventReset reset, bool initially_set) : reset_(reset), set_(initially_set) {}

void Event::Set() {
  std::vector<std::shared_ptr<Waiter>> waiters;
  {
    std::lock_guard lock(mutex_);
    set_ = true;
    waiters = waiters_;
  }
  changed_.notify_all();
  for (const auto& waiter : waiters) {
    {
      std::lock_guard lock(waiter->mutex);
      waiter->woken = true;
    }
    waiter->wake.notify_all();
  }
}

void Event::Reset() {
  std::lock_guard lock(mutex_);
  set_ = false;
}

bool Event::TryConsume() {
  if (!set_.load()) return false;
  if (reset_ == EventReset::kAuto) set_ = false;
  return true;
}

bool Event::Wait(std::uint32_t timeout_ms) {
  std::unique_lock lock(mutex_);
  bool ready = WaitFor(changed_, lock, timeout_ms, [this] { return set_.load(); });
  return ready && TryConsume();
}

int Event::WaitAny(const std::vector<Event*>& events, std::uint32_t timeout_ms) {
  auto waiter = std::make_shared<Waiter>();
  for (Event* event : events) {
    std::lock_guard lock(event->mutex_);
    event->waiters_.push_back(waiter);
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  int found = -1;
  for (;;) {
    for (std::size_t i = 0; i < events.size() && found < 0; ++i) {
      std::lock_guard lock(events[i]->mutex_);
      if (events[i]->TryConsume()) found = static_cast<int>(i);
    }
    if (found >= 0) break;
    std::unique_lock lock(waiter->mutex);
    if (!waiter->woken) {
      if (timeout_ms == kInfinite) {
        waiter->wake.wait(lock, [&] { return waiter->woken; });
      } else if (!waiter->wake.wait_until(lock, deadline, [&] { return waiter->woken; })) {
        break;
      }
    }
    waiter->woken = false;
  }
  for (Event* event : events) {
    std::lock_guard lock(event->mutex_);
    auto& list = event->waiters_;
    list.erase(std::remove(list.begin(), list.end(), waiter), list.end());
  }
  return found;
}

void Semaphore::Release(std::uint32_t count) {
  {
    std::lock_guard lock(mutex_);
    count_ += count;
  }
  available_.notify_all();
}

bool Semaphore::Acquire(std::uint32_t timeout_ms) {
  std::unique_lock lock(mutex_);
  if (!WaitFor(available_, lock, timeout_ms, [this] { return count_ > 0; })) return false;
  --count_;
  return true;
}

}  // namespace ordalis
