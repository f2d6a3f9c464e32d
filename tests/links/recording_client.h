#pragma once
// A link client for the tests: records everything a link reports and lets a test wait until a
// condition on the record holds (with a generous safety time-out, never a fixed sleep).

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "links/serial.h"

namespace ordalis::testing {

inline constexpr auto kSafetyTimeout = std::chrono::seconds(20);

class RecordingClient : public ISerialClient {
 public:
  struct Record {
    std::string received;
    std::vector<std::string> received_chunks;
    std::string sent;
    int connected = 0;
    int disconnected = 0;
    std::vector<int> line_events;
    std::vector<std::string> statuses;
    std::vector<std::thread::id> sent_threads;
    std::vector<std::string> rejections;
  };

  void Received(ISerial*, const std::uint8_t* bytes, std::size_t length) override {
    Update([&](Record& r) {
      r.received.append(reinterpret_cast<const char*>(bytes), length);
      r.received_chunks.emplace_back(reinterpret_cast<const char*>(bytes), length);
    });
  }
  void Sent(ISerial*, const std::uint8_t* bytes, std::size_t length) override {
    Update([&](Record& r) {
      r.sent.append(reinterpret_cast<const char*>(bytes), length);
      r.sent_threads.push_back(std::this_thread::get_id());
    });
  }
  void Connected(ISerial*) override { Update([](Record& r) { ++r.connected; }); }
  void Disconnected(ISerial*) override { Update([](Record& r) { ++r.disconnected; }); }
  void LineEvent(ISerial*, int code) override { Update([&](Record& r) { r.line_events.push_back(code); }); }
  void StatusChanged(ISerial* link) override {
    std::string status = link->Status();
    Update([&](Record& r) { r.statuses.push_back(status); });
  }

  void FrameRejected(ISerial*, const std::string& reason) override {
    Update([&](Record& r) { r.rejections.push_back(reason); });
  }

  // Waits until [ready] holds for the record; false after the safety time-out.
  bool WaitFor(const std::function<bool(const Record&)>& ready) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, kSafetyTimeout, [&] { return ready(record_); });
  }
  bool WaitForReceived(const std::string& text) {
    return WaitFor([&](const Record& r) { return r.received.find(text) != std::string::npos; });
  }
  bool WaitForStatusContaining(const std::string& text) {
    return WaitFor([&](const Record& r) {
      for (const auto& s : r.statuses) {
        if (s.find(text) != std::string::npos) return true;
      }
      return false;
    });
  }
  Record Snapshot() {
    std::lock_guard lock(mutex_);
    return record_;
  }

 private:
  template <typename F>
  void Update(F change) {
    {
      std::lock_guard lock(mutex_);
      change(record_);
    }
    changed_.notify_all();
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  Record record_;
};

inline LinkParameters Params(std::initializer_list<Variant> values) { return LinkParameters(values); }

inline std::vector<std::uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

}  // namespace ordalis::testing
