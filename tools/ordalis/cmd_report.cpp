// ordalis report: renders results documents as an HTML report or a JUnit document, and writes
// the index page of a results directory.

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "command.h"
#include "report/html_report.h"
#include "report/junit_writer.h"
#include "report/results_index.h"

namespace ordalis::cli {
namespace {

namespace fs = std::filesystem;

const char kDescription[] =
    "Renders a results document that `ordalis run` wrote (by this or an earlier version).\n"
    "\n"
    "  RESULTS.xml          writes its HTML report: one page with the verdict, the named\n"
    "                       results, the failures and the whole item tree, to open from\n"
    "                       disk in a browser. Written beside the document, as RESULTS.html,\n"
    "                       unless -o names another file.\n"
    "  --junit RESULTS.xml  writes the run as a JUnit XML document for CI test reporters,\n"
    "                       to standard output unless -o names a file.\n"
    "  DIR                  writes DIR/index.html, a page listing every run in a results\n"
    "                       directory, newest first, with links to their reports.\n";

const char kDetails[] =
    "`ordalis run` writes the report and the index itself after every run; its report also\n"
    "shows the line of each failing statement and the log lines before it, which the results\n"
    "document alone does not hold.\n"
    "\n"
    "Exit status: 0 when the page or document was written, 2 for a usage error or a file that\n"
    "cannot be read or written.\n";

const CommandSyntax kSyntax{
    "report",
    "RESULTS.xml [-o FILE.html]\n"
    "       ordalis report --junit RESULTS.xml [-o FILE.xml]\n"
    "       ordalis report DIR",
    kDescription,
    {
        {"--junit", 0, nullptr, "write a JUnit XML document instead of the HTML report"},
        {"--output", 'o', "FILE", "the file to write"},
    },
    kDetails};

enum class Output { kHtml, kJunit };

struct Options {
  Output output = Output::kHtml;
  std::string input;
  std::string file;  // -o
};

// Reads the command line into [options]: the exit status to end with after help or a usage
// error, else -1.
int ParseOptions(const std::vector<std::string>& args, Options* options) {
  ParsedArguments arguments;
  if (int status = ParseOrExit(kSyntax, args, &arguments); status >= 0) return status;
  if (arguments.Has("--junit")) options->output = Output::kJunit;
  options->file = arguments.Value("--output");
  const std::vector<std::string>& operands = arguments.operands();
  if (operands.empty()) return UsageError(kSyntax, "no results document or directory given");
  if (operands.size() > 1) {
    return UsageError(kSyntax, "one results document or directory at a time ('" + operands[1] + "')");
  }
  options->input = operands[0];
  return -1;
}

int Index(const Options& options) {
  if (!options.file.empty() || options.output == Output::kJunit) {
    std::fprintf(stderr, "ordalis report: a directory's index is always DIR/index.html\n");
    return 2;
  }
  std::string error;
  if (!report::WriteResultsIndex(options.input, &error)) {
    std::fprintf(stderr, "ordalis report: cannot write the index of %s: %s\n", options.input.c_str(),
                 error.c_str());
    return 2;
  }
  std::printf("Index: %s\n", (fs::path(options.input) / report::kIndexFile).c_str());
  return 0;
}

int Junit(const Options& options) {
  report::RunDigest digest;
  std::string error;
  if (!report::DigestResults(options.input, nullptr, &digest, &error)) {
    std::fprintf(stderr, "ordalis report: cannot read %s: %s\n", options.input.c_str(), error.c_str());
    return 2;
  }
  std::string target = options.file.empty() ? std::string("-") : options.file;
  if (!report::WriteJunit(digest, options.input, target, &error)) {
    std::fprintf(stderr, "ordalis report: cannot write %s: %s\n", target.c_str(), error.c_str());
    return 2;
  }
  return 0;
}

int Html(const Options& options) {
  std::string target = options.file.empty() ? report::HtmlPathFor(options.input) : options.file;
  std::string error;
  if (!report::WriteHtmlReport(options.input, target, nullptr, nullptr, &error)) {
    std::fprintf(stderr, "ordalis report: cannot make the report of %s: %s\n", options.input.c_str(),
                 error.c_str());
    return 2;
  }
  std::printf("Report: %s\n", target.c_str());
  return 0;
}

int ReportCommand(const std::vector<std::string>& args) {
  Options options;
  if (int status = ParseOptions(args, &options); status >= 0) return status;
  std::error_code error;
  if (fs::is_directory(options.input, error)) return Index(options);
  return options.output == Output::kJunit ? Junit(options) : Html(options);
}

const CommandRegistration kRegistration(
    {"report", "render results as an HTML report, a JUnit document or a directory index", ReportCommand});

}  // namespace
}  // namespace ordalis::cli
