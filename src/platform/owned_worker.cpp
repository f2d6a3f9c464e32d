#include "platform/owned_worker.h"

#include <utility>

namespace ordalis {

namespace {

// Set on a worker thread once its owner has let it go from that thread.
thread_local bool let_go_here = false;

}  // namespace

OwnedWorker::OwnedWorker(std::function<void()> body, std::size_t stack_bytes)
    : shared_(std::make_shared<Shared>()) {
  thread_ = LargeStackThread(stack_bytes, [shared = shared_, body = std::move(body)] {
    body();
    {
      std::lock_guard lock(shared->mutex);
      shared->ended = true;
    }
    shared->ended_changed.notify_all();
  });
}

OwnedWorker& OwnedWorker::operator=(OwnedWorker&& other) noexcept {
  if (this != &other) {
    Release();
    shared_ = std::move(other.shared_);
    thread_ = std::move(other.thread_);
  }
  return *this;
}

OwnedWorker::~OwnedWorker() { Release(); }

bool OwnedWorker::OnWorkerThread() const {
  return thread_.IsCurrent();
}

bool OwnedWorker::LetGoOnThisThread() { return let_go_here; }

bool OwnedWorker::Release(std::optional<std::chrono::milliseconds> bound) {
  if (!thread_.joinable()) return false;
  if (OnWorkerThread()) {
    let_go_here = true;
    thread_.detach();
    return false;
  }
  bool ended = true;
  if (bound) {
    std::unique_lock lock(shared_->mutex);
    ended = shared_->ended_changed.wait_for(lock, *bound, [this] { return shared_->ended; });
  }
  if (ended) {
    thread_.join();
  } else {
    thread_.detach();  // still busy past the bound; it holds what it uses
  }
  return ended;
}

}  // namespace ordalis
