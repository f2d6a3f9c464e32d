#pragma once
// The JUnit XML document of a run, in the form Jenkins, GitLab and GitHub's test reporters read:
// one testsuite for the run, one testcase per named result (or one for the whole script when it
// has none), failures, errors and skipped cases from their results, and the run's log lines.

#include <string>

#include "report/run_digest.h"

namespace ordalis::report {

// The run's log text is cut to this many bytes, keeping its beginning and its end.
inline constexpr std::size_t kMaxSystemOut = 1024 * 1024;

// The JUnit document for [digest], with [log_text] as the suite's standard output.
std::string JunitDocument(const RunDigest& digest, const std::string& log_text);

// Writes the JUnit document of the results document [xml_path] (whose log file is read from
// beside it) to [junit_path], or to standard output when [junit_path] is "-".
bool WriteJunit(const RunDigest& digest, const std::string& xml_path, const std::string& junit_path,
                std::string* error);

}  // namespace ordalis::report
