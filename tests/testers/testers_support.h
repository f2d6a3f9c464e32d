#pragma once
// Shared helpers of the tester tests: the fixture directories and a trace that records lines
// and lets a test wait for one.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "ordalis/interfaces.h"

namespace ordalis::testing_support {

inline const std::string kGoodFixtures = std::string(ORDALIS_TEST_FIXTURE_DIR) + "/good";
inline const std::string kBrokenFixtures = std::string(ORDALIS_TEST_FIXTURE_DIR) + "/broken";
inline const std::string kProjectPlugins = ORDALIS_BUILD_PLUGIN_DIR;

inline constexpr const char* kEchoId = "{AE96A215-DD09-45A8-9075-26D1616B16E9}";
inline constexpr const char* kDemoId = "{E79B5A99-0E41-4A6D-954C-4E9ED8486377}";
inline constexpr const char* kScopeUpperId = "{B1522E2A-712F-4367-B033-1968713397CC}";
inline constexpr const char* kScopeLowerId = "{C71098F3-07DE-42A9-8740-9A50FCA7D380}";
inline constexpr const char* kNoTypesId = "{56DB7ECD-E86D-4017-B3BD-B23C1DCED84A}";
inline constexpr const char* kUnnamedId = "{D6AF5640-C0F7-4282-B9EE-4B6663A9354C}";
inline constexpr const char* kBatchId = "{745CF019-AF1A-4315-ABD4-8B9FC333F88D}";
inline constexpr const char* kGreeterId = "{CCC62904-8CB2-4C7F-8EE4-1DFCD693752E}";

// An ITrace that keeps every line; WaitFor blocks until a line containing a text arrives.
class RecordingTrace : public ITrace {
 public:
  Status Log(LoggingLevel level, const std::string& text) override {
    {
      std::lock_guard lock(mutex_);
      lines_.emplace_back(level, text);
    }
    arrived_.notify_all();
    return S_OK;
  }
  bool WaitFor(const std::string& part, std::chrono::seconds timeout = std::chrono::seconds(30)) {
    std::unique_lock lock(mutex_);
    return arrived_.wait_for(lock, timeout, [&] {
      for (const auto& line : lines_) {
        if (line.second.find(part) != std::string::npos) return true;
      }
      return false;
    });
  }
  std::vector<std::pair<LoggingLevel, std::string>> Lines() {
    std::lock_guard lock(mutex_);
    return lines_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<std::pair<LoggingLevel, std::string>> lines_;
};

}  // namespace ordalis::testing_support
