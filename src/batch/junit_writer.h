#pragma once
// JUnit XML, the form CI systems read: testsuites > testsuite (name, tests, failures, errors,
// skipped, time, timestamp, hostname) > testcase (name, classname, time, file, line) with a
// failure, error or skipped element for a case that did not pass. Safe from any thread.

#include <cstdint>
#include <string>
#include <vector>

namespace ordalis::batch {

struct JUnitCase {
  enum class Outcome { kPassed, kFailed, kError, kSkipped };
  // An earlier attempt of the case that did not pass (its outcome kFailed or kError). Written as
  // CI servers that rerun tests read them: <flakyFailure>/<flakyError> when the case passed in
  // the end, <rerunFailure>/<rerunError> when it did not.
  struct Attempt {
    Outcome outcome = Outcome::kFailed;
    std::string message;
    std::string details;
  };
  std::string name;
  std::string classname;
  std::string file;        // left out when empty
  std::uint32_t line = 0;  // left out when 0
  double time = 0.0;       // seconds
  Outcome outcome = Outcome::kPassed;
  std::string message;     // of the failure, error or skipped element
  std::string details;     // its text
  std::vector<Attempt> earlier;  // in the order they ran
};

struct JUnitSuite {
  std::string name;
  std::string timestamp;  // ISO 8601 local time, "2024-05-01T10:00:00"
  std::string hostname;
  double time = 0.0;
  std::vector<JUnitCase> cases;
};

std::string JUnitXml(const std::vector<JUnitSuite>& suites);

// "YYYY-MM-DDThh:mm:ss" of [time] in local time.
std::string IsoTimestamp(std::int64_t time);

}  // namespace ordalis::batch
