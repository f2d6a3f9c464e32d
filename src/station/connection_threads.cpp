#include "station/connection_threads.h"

#include <utility>

namespace ordalis::station {

void ConnectionThreads::enqueue(std::function<void()> fn) {
  std::lock_guard lock(mutex_);
  if (busy_ >= max_threads_) {
    waiting_.push_back(std::move(fn));
    return;
  }
  // Threads that ended are joined here, so their number stays at the connections alive.
  for (auto it = threads_.begin(); it != threads_.end();) {
    bool ended = false;
    for (auto id = finished_.begin(); id != finished_.end(); ++id) {
      if (*id == it->get_id()) {
        finished_.erase(id);
        ended = true;
        break;
      }
    }
    if (!ended) {
      ++it;
      continue;
    }
    it->join();
    it = threads_.erase(it);
  }
  ++busy_;
  threads_.emplace_back([this, fn = std::move(fn)]() mutable { Work(std::move(fn)); });
}

// Serves the connection it was started for, then those that waited for a thread.
void ConnectionThreads::Work(std::function<void()> fn) {
  for (;;) {
    fn();
    std::lock_guard lock(mutex_);
    if (waiting_.empty()) {
      --busy_;
      finished_.push_back(std::this_thread::get_id());
      idle_.notify_all();
      return;
    }
    fn = std::move(waiting_.front());
    waiting_.pop_front();
  }
}

void ConnectionThreads::shutdown() {
  std::list<std::thread> threads;
  {
    std::unique_lock lock(mutex_);
    if (shutting_down_) return;
    shutting_down_ = true;
    idle_.wait(lock, [this] { return busy_ == 0; });
    threads.swap(threads_);
  }
  for (std::thread& thread : threads) thread.join();
}

}  // namespace ordalis::station
