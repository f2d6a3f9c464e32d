#pragma once
// The JUnit XML document of a run, in the form Jenkins, GitLab and GitHub's test reporters read:
// one testsuite for the run, one testcase per named result (or one for the whole script when it
// has none), failures, errors and skipped cases from their results, and the run's log lines.

#include <string>
#include <vector>

#include "report/run_digest.h"

namespace ordalis::report {

// The run's log text is cut to this many bytes, keeping its beginning and its end.
inline constexpr std::size_t kMaxSystemOut = 1024 * 1024;

// Conditions that could not be evaluated, which the language lets pass, are listed under this
// heading on the console and in the JUnit document's system-err.
inline constexpr const char* kUncountedHeading =
    "Conditions that could not be evaluated, not counted in the verdict; --strict fails the run:";

// The heading and the uncounted condition failures of [digest], one line each; empty when none.
std::string UncountedText(const RunDigest& digest);

// The JUnit document for [digest], with [log_text] as the suite's standard output.
std::string JunitDocument(const RunDigest& digest, const std::string& log_text);

// Writes the JUnit document of the results document [xml_path] (whose log file is read from
// beside it) to [junit_path], or to standard output when [junit_path] is "-".
bool WriteJunit(const RunDigest& digest, const std::string& xml_path, const std::string& junit_path,
                std::string* error);

// The JUnit document of a script that was not run because it cannot be loaded (or was
// refused): one test case named after the file [script], in error, whose text is [problems],
// one line each. CI then sees the run fail rather than keep an older, passing document.
std::string NotRunJunitDocument(const std::string& script, const std::vector<std::string>& problems);

// Writes NotRunJunitDocument to [junit_path] as WriteJunit does.
bool WriteNotRunJunit(const std::string& script, const std::vector<std::string>& problems,
                      const std::string& junit_path, std::string* error);

}  // namespace ordalis::report
