#include "trace/logger.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include <string>
#include <vector>

#include "trace/clock.h"
#include "trace/trace.h"

namespace ordalis {
namespace {

TEST(LevelName, SixCharactersOrUnknown) {
  const std::vector<std::pair<std::int32_t, std::string>> rows = {
      {finest, "Finest"}, {finer, "Finer "},  {fine, "Fine  "},  {configuration, "Config"},
      {information, "Info  "}, {warning, "Warn  "}, {severe, "Severe"}, {9, "Unknown 9"},
      {-1, "Unknown -1"}};
  for (const auto& [level, name] : rows) EXPECT_EQ(LevelName(level), name) << level;
}

class CapturingLogger : public Logger {
 public:
  using Logger::Log;
  explicit CapturingLogger(LoggingLevel lowest = finest) : lowest_(lowest) {}
  void Log(LoggingLevel level, const std::string& name, const std::string& message) override {
    lines.push_back({level, name, message});
  }
  bool IsLogging(LoggingLevel level) const override { return level >= lowest_; }
  struct Line {
    LoggingLevel level;
    std::string name, message;
  };
  std::vector<Line> lines;

 private:
  LoggingLevel lowest_;
};

TEST(Logger, FormatsAndCutsLongMessagesTo1023Characters) {
  CapturingLogger logger;
  std::string long_text(2000, 'x');
  logger.Log(warning, "script", "%s", long_text.c_str());
  logger.Log(information, std::string("meter"), "value %d of %s", 3, "four");
  ASSERT_EQ(logger.lines.size(), 2u);
  EXPECT_EQ(logger.lines[0].message, std::string(1023, 'x'));
  EXPECT_EQ(logger.lines[1].name, "meter");
  EXPECT_EQ(logger.lines[1].message, "value 3 of four");
}

TEST(Logger, SkipsLinesNobodyListensTo) {
  CapturingLogger logger(configuration);
  logger.Log(finest, "script", "executing command \"%s\"", "x = 1");
  logger.Log(configuration, "script", "kept");
  ASSERT_EQ(logger.lines.size(), 1u);
  EXPECT_EQ(logger.lines[0].message, "kept");
}

TEST(Trace, UnboundDropsAndBindingHappensOnce) {
  CapturingLogger first, second;
  auto trace = std::make_shared<Trace>();
  EXPECT_EQ(trace->Log(severe, "lost"), S_OK);
  trace->Bind(&first, "meter");
  trace->Bind(&second, "other");
  EXPECT_EQ(trace->Log(LoggingLevel(9), "reading 5"), S_OK);
  EXPECT_EQ(trace->variable_name(), "meter");
  ASSERT_EQ(first.lines.size(), 1u);
  EXPECT_TRUE(second.lines.empty());
  EXPECT_EQ(first.lines[0].name, "meter");
  EXPECT_EQ(first.lines[0].level, 9);
  EXPECT_EQ(first.lines[0].message, "reading 5");
}

TEST(Clock, CountsNanosecondsFromItsStartTime) {
  const Clock& clock = Clock::Instance();
  EXPECT_EQ(&clock, &Clock::Instance());
  EXPECT_EQ(Clock::Frequency(), 1'000'000'000);
  EXPECT_GT(clock.start_time(), 1'600'000'000);
  std::int64_t a = clock.ElapsedTicks();
  std::int64_t b = clock.ElapsedTicks();
  EXPECT_GE(a, 0);
  EXPECT_GE(b, a);
}

}  // namespace
}  // namespace ordalis

namespace ordalis {
namespace {

class CountingLogger : public Logger {
 public:
  using Logger::Log;
  void Log(LoggingLevel, const std::string& name, const std::string&) override {
    if (name == "meter") ++count;
  }
  std::atomic<int> count{0};
};

// A tester may log from a thread of its own while the engine binds its trace.
TEST(Trace, BindingRacesWithLoggingSafely) {
  CountingLogger logger;
  auto trace = std::make_shared<Trace>();
  std::jthread tester([&] {
    for (int i = 0; i < 1000; ++i) trace->Log(information, "line");
  });
  trace->Bind(&logger, "meter");
  tester.join();
  trace->Log(information, "after");
  EXPECT_GE(logger.count.load(), 1);
}

}  // namespace
}  // namespace ordalis
