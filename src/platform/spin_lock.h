#pragma once
// SpinLock: a lock for critical sections of a few dozen instructions that one thread takes
// millions of times while others take it now and then (a run thread stepping a counter while a
// client reads variables). Taking it costs one atomic exchange and releasing it a plain store,
// half the atomic operations of a mutex; a waiter spins briefly and then yields its processor,
// so a holder that was preempted is not starved. Meets the Lockable requirements (std::lock_guard,
// std::scoped_lock).

#include <atomic>
#include <thread>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace ordalis {

class SpinLock {
 public:
  void lock() {
    for (int spins = 0; locked_.exchange(true, std::memory_order_acquire); ++spins) {
      // Wait on a plain read, which keeps the line shared, until the holder lets go.
      while (locked_.load(std::memory_order_relaxed)) {
        if (spins < kSpinsBeforeYield) {
          Pause();
          ++spins;
        } else {
          std::this_thread::yield();
        }
      }
    }
  }
  bool try_lock() { return !locked_.load(std::memory_order_relaxed) && !locked_.exchange(true, std::memory_order_acquire); }
  void unlock() { locked_.store(false, std::memory_order_release); }

 private:
  static constexpr int kSpinsBeforeYield = 64;
  static void Pause() {
#if defined(__x86_64__) || defined(__i386__)
    _mm_pause();
#endif
  }

  std::atomic<bool> locked_{false};
};

}  // namespace ordalis
