#include "platform/large_stack_thread.h"

#include <cerrno>
#include <exception>
#include <memory>
#include <system_error>
#include <utility>

namespace ordalis {

namespace {

void* RunBody(void* argument) {
  std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(argument));
  (*body)();
  return nullptr;
}

}  // namespace

LargeStackThread::LargeStackThread(std::size_t stack_bytes, std::function<void()> body) {
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  int error = pthread_attr_setstacksize(&attributes, stack_bytes);
  auto argument = std::make_unique<std::function<void()>>(std::move(body));
  if (error == 0) error = pthread_create(&handle_, &attributes, RunBody, argument.get());
  pthread_attr_destroy(&attributes);
  if (error != 0) throw std::system_error(error, std::generic_category(), "cannot start a thread");
  argument.release();  // the thread owns it now
  joinable_ = true;
}

LargeStackThread::LargeStackThread(LargeStackThread&& other) noexcept
    : handle_(other.handle_), joinable_(std::exchange(other.joinable_, false)) {}

LargeStackThread& LargeStackThread::operator=(LargeStackThread&& other) noexcept {
  if (joinable_) std::terminate();
  handle_ = other.handle_;
  joinable_ = std::exchange(other.joinable_, false);
  return *this;
}

LargeStackThread::~LargeStackThread() {
  if (joinable_) std::terminate();
}

void LargeStackThread::join() {
  if (!joinable_) return;
  pthread_join(handle_, nullptr);
  joinable_ = false;
}

void LargeStackThread::detach() {
  if (!joinable_) return;
  pthread_detach(handle_);
  joinable_ = false;
}

}  // namespace ordalis
