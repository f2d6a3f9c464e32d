#include "trace/script_log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>
#include <vector>

#include "trace/logger.h"

namespace ordalis {
namespace {

namespace fs = std::filesystem;

struct Event {
  std::string file_name;
  std::uint32_t line;
  std::int64_t time;
  double seconds;
  LoggingLevel level;
  std::string variable_name, message;
};

class Sink : public ITraceEvents {
 public:
  Status Log(const std::string& file_name, std::uint32_t line, std::int64_t time, double seconds,
             LoggingLevel level, const std::string& name, const std::string& message) override {
    events.push_back({file_name, line, time, seconds, level, name, message});
    return S_OK;
  }
  Status LogClear() override {
    ++clears;
    return S_OK;
  }
  std::vector<Event> events;
  int clears = 0;
};

class ThrowingSink : public Sink {
 public:
  Status Log(const std::string&, std::uint32_t, std::int64_t, double, LoggingLevel,
             const std::string&, const std::string&) override {
    throw std::runtime_error("sink fault");
  }
  Status LogClear() override { return E_FAIL; }
};

class Client : public ITraceEventsClient {
 public:
  void Log(std::int64_t time, double seconds, LoggingLevel level, const std::string& name,
           const std::string& message) override {
    events.push_back({"", 0, time, seconds, level, name, message});
  }
  void LogClear() override { ++clears; }
  std::vector<Event> events;
  int clears = 0;
};

class ScriptLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    directory_ = fs::path(ORDALIS_BINARY_DIR) / "test_trace_data" /
                 ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(directory_);
    fs::create_directories(directory_);
    log_.SetLogFile(directory_.string(), "login.odl");
  }
  std::vector<std::string> FileLines() const {
    std::ifstream in(directory_ / "Results" / "login.odl.log");
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  fs::path directory_;
  std::shared_ptr<Sink> sink_ = std::make_shared<Sink>();
  std::shared_ptr<Sink> broken_ = std::make_shared<ThrowingSink>();
  ScriptLog log_{[this] { return ScriptLog::SinkList{broken_, sink_}; }};
};

TEST_F(ScriptLogTest, FinestReachesObserversOnlyConfigurationAlsoTheFile) {
  auto client = std::make_shared<Client>();
  log_.SetTraceClient(client);
  log_.SetSinkCount(2);
  log_.Log(finest, "script", "quiet", LogSource{"a.odl", 12});
  log_.Log(configuration, "meter", "loud", LogSource{});
  ASSERT_EQ(sink_->events.size(), 2u);  // the throwing sink before it did not stop delivery
  EXPECT_EQ(sink_->events[0].file_name, "a.odl");
  EXPECT_EQ(sink_->events[0].line, 12u);
  EXPECT_EQ(sink_->events[1].file_name, "");
  EXPECT_EQ(sink_->events[1].line, 0u);
  EXPECT_EQ(sink_->events[1].variable_name, "meter");
  ASSERT_EQ(client->events.size(), 2u);
  EXPECT_EQ(client->events[0].message, "quiet");
  for (const auto& event : sink_->events) {
    EXPECT_GE(event.seconds, 0.0);
    EXPECT_LT(event.seconds, 1.0);
  }
  auto lines = FileLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(std::regex_match(lines[0], std::regex(R"(\d{4}/\d\d/\d\d \d\d:\d\d:\d\d\.\d{3} Config:meter:loud)")))
      << lines[0];

  log_.LogClear();
  EXPECT_EQ(client->clears, 1);
  EXPECT_EQ(sink_->clears, 1);
}

TEST_F(ScriptLogTest, ListensBelowConfigurationOnlyWithObservers) {
  EXPECT_FALSE(log_.IsListening(finest));
  EXPECT_FALSE(log_.IsListening(fine));
  EXPECT_TRUE(log_.IsListening(configuration));
  EXPECT_TRUE(log_.IsListening(9));
  log_.SetSinkCount(1);
  EXPECT_TRUE(log_.IsListening(finest));
  log_.SetSinkCount(0);
  log_.SetTraceClient(std::make_shared<Client>());
  EXPECT_TRUE(log_.IsListening(finest));
  log_.SetTraceClient(nullptr);
  EXPECT_FALSE(log_.IsListening(finest));
}

TEST_F(ScriptLogTest, EventsCarryLevelsUnchangedAndStampsAdvance) {
  log_.Log(9, "script", "odd level", LogSource{});
  log_.Log(information, "script", "next", LogSource{});
  ASSERT_EQ(sink_->events.size(), 2u);
  EXPECT_EQ(sink_->events[0].level, 9);
  const Event& a = sink_->events[0];
  const Event& b = sink_->events[1];
  EXPECT_GE(b.time + b.seconds, a.time + a.seconds);
  auto lines = FileLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find(" Unknown 9:script:odd level"), std::string::npos) << lines[0];
}

// A log file that cannot be written (a full disk) loses its lines, never the run's events, and
// the loss is said once.
TEST_F(ScriptLogTest, UnwritableLogFileIsReportedOnce) {
  fs::create_directories(directory_ / "Results" / "login.odl.log");  // a directory in the way
  log_.Log(severe, "script", "still delivered", LogSource{});
  log_.Log(severe, "script", "also delivered", LogSource{});
  ASSERT_EQ(sink_->events.size(), 3u);
  EXPECT_EQ(sink_->events[0].message, "still delivered");
  EXPECT_EQ(sink_->events[1].message.rfind("Cannot write the log file '", 0), 0u) << sink_->events[1].message;
  EXPECT_NE(sink_->events[1].message.find("login.odl.log"), std::string::npos);
  EXPECT_EQ(sink_->events[2].message, "also delivered");
}

TEST(ScriptLogLine, FormatInLocalTime) {
  ::setenv("TZ", "UTC", 1);
  ::tzset();
  // 14:03:05.1235 on 7 August 2012.
  EXPECT_EQ(ScriptLog::FileLine(LogTime{1344348185, 0.1235}, information, "script", "Start"),
            "2012/08/07 14:03:05.123 Info  :script:Start");
  EXPECT_EQ(ScriptLog::FileLine(LogTime{1344348185, 0.9999}, warning, "", ""),
            "2012/08/07 14:03:05.999 Warn  ::");
}

TEST_F(ScriptLogTest, LinesFromManyThreadsNeverMix) {
  constexpr int kThreads = 4;
  constexpr int kLines = 200;
  ScriptLog log;
  log.SetLogFile(directory_.string(), "login.odl");
  {
    std::vector<std::jthread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&log, t] {
        std::string payload(300, static_cast<char>('a' + t));
        for (int i = 0; i < kLines; ++i) log.Log(information, "t" + std::to_string(t), payload, LogSource{});
      });
    }
  }
  auto lines = FileLines();
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kLines));
  const std::regex shape(R"(.{23} Info  :t([0-3]):([a-d]{300}))");
  for (const auto& line : lines) {
    std::smatch match;
    ASSERT_TRUE(std::regex_match(line, match, shape)) << line;
    EXPECT_EQ(match[2].str(), std::string(300, static_cast<char>('a' + std::stoi(match[1].str()))));
  }
}

}  // namespace
}  // namespace ordalis
