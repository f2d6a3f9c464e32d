#pragma once
// ConnectionPoint: the sink list of one outgoing event interface. Sinks are called in
// connection order, outside the list's lock, and a sink that throws or fails does not stop the
// others. All operations are safe to call from any thread.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "ordalis/interfaces.h"

namespace ordalis {

template <typename Sink>
class ConnectionPoint : public IConnectionPoint<Sink> {
 public:
  Status Advise(std::shared_ptr<Sink> sink, std::uint32_t* cookie) override {
    if (cookie == nullptr) return E_POINTER;
    if (!sink) return E_INVALIDARG;
    std::lock_guard lock(mutex_);
    *cookie = ++last_cookie_;
    sinks_.emplace_back(*cookie, std::move(sink));
    count_.store(sinks_.size(), std::memory_order_release);
    return S_OK;
  }

  Status Unadvise(std::uint32_t cookie) override {
    std::lock_guard lock(mutex_);
    for (auto it = sinks_.begin(); it != sinks_.end(); ++it) {
      if (it->first == cookie) {
        sinks_.erase(it);
        count_.store(sinks_.size(), std::memory_order_release);
        return S_OK;
      }
    }
    return E_INVALIDARG;
  }

  bool empty() const { return count_.load(std::memory_order_acquire) == 0; }

  // The sinks connected now, in connection order; each stays alive while the copy holds it.
  std::vector<std::shared_ptr<Sink>> Snapshot() const {
    std::vector<std::shared_ptr<Sink>> sinks;
    std::lock_guard lock(mutex_);
    sinks.reserve(sinks_.size());
    for (const auto& entry : sinks_) sinks.push_back(entry.second);
    return sinks;
  }

  std::size_t size() const {
    std::lock_guard lock(mutex_);
    return sinks_.size();
  }

  // Calls [call](sink) for every sink connected when the call starts.
  template <typename Call>
  void Fire(Call&& call) const {
    // Events are raised for every statement: with nothing connected they cost no lock.
    if (empty()) return;
    std::vector<std::shared_ptr<Sink>> sinks = Snapshot();
    for (const auto& sink : sinks) {
      try {
        call(*sink);
      } catch (...) {
        // A failing sink must not keep the event from the others.
      }
    }
  }

 private:
  mutable std::mutex mutex_;
  std::uint32_t last_cookie_ = 0;
  std::atomic<std::size_t> count_{0};  // sinks_.size(), readable without the lock
  std::vector<std::pair<std::uint32_t, std::shared_ptr<Sink>>> sinks_;
};

}  // namespace ordalis
