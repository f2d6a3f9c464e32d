// ordalis batch results: shows a batch results file and adds comments to its records.

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "batch/batch_paths.h"
#include "batch/batch_queue.h"
#include "batch/batch_results.h"
#include "batch_cli.h"
#include "command.h"

namespace ordalis::cli {
namespace {

const CommandSyntax kSyntax{
    "batch results",
    "FILE.xml [--comment POSITION TEXT]...",
    "Shows a batch results file: the batch, its host and times, the overall result, whether the\n"
    "check code still matches the records, and every attempt with its iteration, result, retry\n"
    "and results file.\n",
    {{"--comment", 0, "POSITION TEXT",
      "replace the comment of the attempt at POSITION (1 is the first, as listed) and rewrite the file; a "
      "comment keeps only printable ASCII characters",
      true, 2}}};

const char* ResultWord(BatchQueueItemStatus status) {
  return status == BatchQueueItemPassed ? "Passed" : status == BatchQueueItemAborted ? "Aborted" : "Failed";
}

std::string Date(std::int64_t time) {
  std::time_t t = static_cast<std::time_t>(time);
  std::tm parts{};
  localtime_r(&t, &parts);
  char text[64];
  std::snprintf(text, sizeof text, "%d-%02d-%02d %02d:%02d:%02d", parts.tm_year + 1900, parts.tm_mon + 1,
                parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
  return text;
}

// The text of the file's check code element, or empty when it has none.
std::string StoredCheckCode(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  // Searched by hand: a pattern engine that recurses per character would overflow the stack on a
  // large file.
  static constexpr std::string_view kOpen = "<result_check_code>", kClose = "</result_check_code>";
  std::string content = text.str();
  std::size_t start = content.find(kOpen);
  while (start != std::string::npos) {
    std::size_t digits = start + kOpen.size();
    std::size_t end = content.find_first_not_of("0123456789", digits);
    if (end != std::string::npos && end > digits && content.compare(end, kClose.size(), kClose) == 0) {
      return content.substr(digits, end - digits);
    }
    start = content.find(kOpen, digits);
  }
  return std::string();
}

bool IsBatchResults(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::string line;
  for (int i = 0; i < 3 && std::getline(file, line); ++i) {
    if (line.find("odl_batch_result") != std::string::npos) return true;
  }
  return false;
}

void Print(const std::string& path, CBatchQueue& queue) {
  batch::BatchResultsHeader header = queue.ResultsHeader();
  std::vector<batch::BatchResultRecord> records = queue.Records();
  std::printf("Batch results: %s\n", path.c_str());
  std::printf("Batch:              %s\n", header.batch_name.c_str());
  std::printf("Version under test: %s\n", header.version_under_test.c_str());
  std::printf("Host:               %s\n", header.host_name.c_str());
  std::printf("Started:            %s\n", Date(header.start_time).c_str());
  std::printf("Last update:        %s\n", Date(header.last_update_time).c_str());
  std::printf("Overall result:     %s\n", batch::OverallResultText(header, records));
  std::string stored = StoredCheckCode(path);
  std::string computed = std::to_string(batch::CheckCode(records));
  std::printf("Check code:         %s\n",
              stored.empty() ? "none" : stored == computed ? "matches the records" : "DOES NOT MATCH: the file has been modified");
  for (std::size_t i = 0; i < records.size(); ++i) {
    const batch::BatchResultRecord& r = records[i];
    std::printf("%4zu  iteration %u  %-7s %s  (attempt %u of %u)%s%s\n", i + 1, r.iteration, ResultWord(r.status),
                r.name.c_str(), r.retry + 1, r.maxretry + 1, r.results_file.empty() ? "" : "  results: ",
                r.results_file.c_str());
    if (!r.comment.empty()) std::printf("      comment: %s\n", r.comment.c_str());
  }
}

int ResultsCommand(const std::vector<std::string>& args) {
  ParsedArguments arguments;
  if (int status = ParseOrExit(kSyntax, args, &arguments); status >= 0) return status;
  std::vector<std::pair<std::uint32_t, std::string>> comments;
  const std::vector<std::string>& words = arguments.Values("--comment");
  for (std::size_t i = 0; i + 1 < words.size(); i += 2) {
    std::uint32_t position = 0;
    if (!ParseCount(words[i], &position) || position == 0) {
      return UsageError(kSyntax, "--comment needs a position (1 or more) and a text");
    }
    comments.emplace_back(position, words[i + 1]);
  }
  const std::vector<std::string>& operands = arguments.operands();
  if (operands.empty()) return UsageError(kSyntax, "no batch results file given");
  if (operands.size() > 1) return UsageError(kSyntax, "unexpected '" + operands[1] + "'");
  const std::string& path = operands[0];
  if (std::string problem = batch::UnreadableFile(path); !problem.empty()) {
    std::fprintf(stderr, "ordalis batch results: cannot open '%s': %s\n", path.c_str(), problem.c_str());
    return 2;
  }
  if (!IsBatchResults(path)) {
    std::fprintf(stderr, "ordalis batch results: '%s' cannot be read as a batch results file\n", path.c_str());
    return 2;
  }
  std::shared_ptr<CBatchQueue> queue = CBatchQueue::Create(nullptr, QueuePacing::kWakeOnChange);
  queue->Load(path);
  for (const auto& [position, text] : comments) {
    if (Failed(queue->AddResultComment(position - 1, text))) {
      std::fprintf(stderr, "ordalis batch results: no attempt at position %u\n", position);
      return 2;
    }
  }
  Print(path, *queue);
  return 0;
}

}  // namespace

int BatchResults(const std::vector<std::string>& args) { return ResultsCommand(args); }

}  // namespace ordalis::cli
