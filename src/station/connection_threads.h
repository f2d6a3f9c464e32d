#pragma once
// ConnectionThreads: the server's task queue. Each connection gets a thread of its own, up to
// a limit; the connections beyond it wait for a thread to come free. A fixed pool would let a
// handful of idle or stalled connections (and every open live stream) hold every thread, so
// that nobody else is answered until their read timeouts run out.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <list>
#include <mutex>
#include <thread>

#include <httplib.h>

namespace ordalis::station {

class ConnectionThreads : public httplib::TaskQueue {
 public:
  explicit ConnectionThreads(std::size_t max_threads) : max_threads_(max_threads) {}
  ~ConnectionThreads() override { shutdown(); }

  // Safe to call from any thread.
  void enqueue(std::function<void()> fn) override;
  // Waits for every connection to end; the server has stopped accepting them.
  void shutdown() override;

 private:
  void Work(std::function<void()> fn);

  const std::size_t max_threads_;
  std::mutex mutex_;
  std::condition_variable idle_;  // a thread ended
  std::deque<std::function<void()>> waiting_;
  std::list<std::thread> threads_;
  std::list<std::thread::id> finished_;
  std::size_t busy_ = 0;
  bool shutting_down_ = false;
};

}  // namespace ordalis::station
