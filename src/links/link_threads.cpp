#include "links/link_threads.h"

namespace ordalis {

PushResult SendQueue::Push(const std::uint8_t* bytes, std::size_t length,
                           std::chrono::milliseconds wait, Room room) {
  bool half_full = false;
  {
    std::unique_lock lock(mutex_);
    if (room == Room::kBounded &&
        !room_.wait_for(lock, wait, [&] { return closed_ || HasRoom(length); })) {
      return PushResult::kFull;
    }
    if (closed_) return PushResult::kClosed;
    buffers_.emplace_back(bytes, bytes + length);
    bytes_ += length;
    half_full = bytes_ >= limit_ / 2;
  }
  count_.Release();
  return half_full ? PushResult::kQueuedHalfFull : PushResult::kQueued;
}

std::optional<ByteBuffer> SendQueue::Pop() {
  count_.Acquire();
  return TryPop();
}

std::optional<ByteBuffer> SendQueue::TryPop() {
  std::optional<ByteBuffer> front;
  {
    std::lock_guard lock(mutex_);
    if (buffers_.empty()) return std::nullopt;
    front = std::move(buffers_.front());
    buffers_.pop_front();
    bytes_ -= front->size();
  }
  room_.notify_all();
  return front;
}

bool SendQueue::WaitForRoom(std::size_t length, std::chrono::milliseconds wait) {
  std::unique_lock lock(mutex_);
  room_.wait_for(lock, wait, [&] { return closed_ || HasRoom(length); });
  return !closed_ && HasRoom(length);
}

bool SendQueue::HasRoom(std::size_t length) const {
  return buffers_.empty() || bytes_ + length <= limit_;
}

void SendQueue::Clear() {
  {
    std::lock_guard lock(mutex_);
    buffers_.clear();
    bytes_ = 0;
  }
  room_.notify_all();
}

void SendQueue::Shutdown() {
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
  }
  room_.notify_all();
}

void SendQueue::Reopen() {
  std::lock_guard lock(mutex_);
  closed_ = false;
}

std::size_t SendQueue::queued_bytes() const {
  std::lock_guard lock(mutex_);
  return bytes_;
}

void SendQueue::set_limit(std::size_t bytes) {
  {
    std::lock_guard lock(mutex_);
    limit_ = bytes;
  }
  room_.notify_all();
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
