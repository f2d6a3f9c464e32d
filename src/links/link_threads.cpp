#include "links/link_threads.h"

namespace ordalis {

void SendQueue::Push(const std::uint8_t* bytes, std::size_t length) {
  {
    std::lock_guard lock(mutex_);
    buffers_.emplace_back(bytes, bytes + length);
  }
  count_.Release();
}

std::optional<ByteBuffer> SendQueue::Pop() {
  count_.Acquire();
  return TryPop();
}

std::optional<ByteBuffer> SendQueue::TryPop() {
  std::lock_guard lock(mutex_);
  if (buffers_.empty()) return std::nullopt;
  ByteBuffer front = std::move(buffers_.front());
  buffers_.pop_front();
  return front;
}

void SendQueue::Clear() {
  std::lock_guard lock(mutex_);
  buffers_.clear();
}

void LinkThread::Start(std::function<void()> body) {
  Join();
  exited_.Reset();
  thread_ = std::jthread([this, body = std::move(body)] {
    body();
    exited_.Set();
  });
}

void LinkThread::Join() {
  if (!thread_.joinable() || thread_.get_id() == std::this_thread::get_id()) return;
  exited_.Wait(kThreadExitWaitMs);
  thread_.join();
}

}  // namespace ordalis
