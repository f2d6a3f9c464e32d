#pragma once
// A thread with a stack of a chosen size. A script run thread recurses as deep as the script's
// function calls go; the default 8 MiB stack would end a deep recursion in a crash before the
// interpreter's own nesting limit could stop it. The stack is reserved address space: only the
// pages a run touches take memory.
//
// Joinable until joined or detached, like std::thread; destroying a joinable one ends the
// process, so owners join or detach first.

#include <pthread.h>

#include <cstddef>
#include <functional>

namespace ordalis {

class LargeStackThread {
 public:
  LargeStackThread() = default;
  // Starts [body] on a new thread with a stack of [stack_bytes]; throws std::system_error when
  // the thread cannot be made.
  LargeStackThread(std::size_t stack_bytes, std::function<void()> body);
  LargeStackThread(LargeStackThread&& other) noexcept;
  LargeStackThread& operator=(LargeStackThread&& other) noexcept;
  LargeStackThread(const LargeStackThread&) = delete;
  LargeStackThread& operator=(const LargeStackThread&) = delete;
  ~LargeStackThread();

  bool joinable() const { return joinable_; }
  // True when called on this (joinable) thread itself.
  bool IsCurrent() const { return joinable_ && pthread_equal(handle_, pthread_self()) != 0; }
  void join();
  void detach();

 private:
  pthread_t handle_{};
  bool joinable_ = false;
};

}  // namespace ordalis
