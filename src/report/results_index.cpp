#include "report/results_index.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "platform/resources.h"
#include "report/html_report.h"
#include "report/report_text.h"
#include "report/run_digest.h"

namespace ordalis::report {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kHeadBytes = 16 * 1024;

struct RunEntryRow {
  std::string xml;    // file names inside the directory
  std::string html;   // empty when the run has no report
  std::string log;
  std::string name;
  std::string date;
  std::string time;
  Result verdict = TestNotRun;
  double duration = 0.0;
  std::array<std::size_t, 7> statements{};
  std::size_t failures = 0;
  std::string problem;  // why the document could not be read
  std::string kind;     // "batch" or "batch entry" for the documents of a batch; empty for a run
};

std::string FileStart(const fs::path& path, std::size_t bytes) {
  std::ifstream file(path, std::ios::binary);
  std::string text(bytes, '\0');
  file.read(text.data(), static_cast<std::streamsize>(bytes));
  text.resize(static_cast<std::size_t>(file.gcount()));
  return text;
}

std::string HtmlUnescaped(std::string text) {
  static const std::pair<const char*, const char*> kEntities[] = {
      {"&quot;", "\""}, {"&#39;", "'"}, {"&lt;", "<"}, {"&gt;", ">"}, {"&amp;", "&"}};
  for (const auto& [entity, plain] : kEntities) {
    std::size_t length = std::strlen(entity);
    for (std::size_t at = text.find(entity); at != std::string::npos; at = text.find(entity, at + 1)) {
      text.replace(at, length, plain);
    }
  }
  return text;
}

enum class DocumentKind { kNone, kRun, kBatch, kBatchEntry };

// What a document of the folder records: a script's run, a batch, or an attempt of a batch
// entry that ran no script (a command file's own small results document).
DocumentKind KindOf(const fs::path& path) {
  std::string start = FileStart(path, 1024);
  if (start.find("<odl_script_result") != std::string::npos) return DocumentKind::kRun;
  if (start.find("<odl_batch_result") != std::string::npos) return DocumentKind::kBatch;
  if (start.find("<results>") != std::string::npos && start.find("<batch_item>") != std::string::npos) {
    return DocumentKind::kBatchEntry;
  }
  return DocumentKind::kNone;
}

// The text of the first <[tag]> of [text], or empty.
std::string Field(const std::string& text, const std::string& tag) {
  std::size_t start = text.find("<" + tag + ">");
  if (start == std::string::npos) return std::string();
  start += tag.size() + 2;
  std::size_t end = text.find('<', start);
  return end == std::string::npos ? std::string() : HtmlUnescaped(text.substr(start, end - start));
}

// A batch, or an attempt of a batch entry, from the head of its document: the batch's name,
// start and overall result, or the entry's file, finish and result. Either links the page a
// person reads beside it: the batch report, the entry's log.
RunEntryRow ReadBatchDocument(const fs::path& xml, DocumentKind kind) {
  RunEntryRow row;
  row.xml = xml.filename().string();
  std::string head = FileStart(xml, kHeadBytes);
  bool batch = kind == DocumentKind::kBatch;
  row.kind = batch ? "batch" : "batch entry";
  row.name = batch ? Field(head, "name") : fs::path(Field(head, "batch_item")).filename().string();
  row.date = Field(head, batch ? "startdate" : "date");
  row.time = Field(head, batch ? "starttime" : "time");
  row.verdict = ResultFromWord(Field(head, batch ? "overall_result" : "result"));
  std::error_code error;
  fs::path page = xml;
  page.replace_extension(batch ? ".html" : ".log");
  if (fs::is_regular_file(page, error)) (batch ? row.html : row.log) = page.filename().string();
  if (row.name.empty()) row.name = row.xml;
  return row;
}

// The run summary an HTML report carries in its head.
bool FromReport(const fs::path& html, RunEntryRow* row) {
  std::string head = FileStart(html, kHeadBytes);
  const std::string marker = "<meta name=\"ordalis-run\" content=\"";
  std::size_t start = head.find(marker);
  if (start == std::string::npos) return false;
  start += marker.size();
  std::size_t end = head.find('"', start);
  if (end == std::string::npos) return false;
  nlohmann::json meta = nlohmann::json::parse(HtmlUnescaped(head.substr(start, end - start)), nullptr, false);
  if (meta.is_discarded() || !meta.is_object()) return false;
  row->name = meta.value("name", "");
  row->date = meta.value("date", "");
  row->time = meta.value("time", "");
  row->verdict = static_cast<Result>(std::clamp(meta.value("verdict", 5), 0, 6));
  row->duration = meta.value("duration", 0.0);
  row->failures = meta.value("failures", std::size_t{0});
  row->log = LogEntryFileName(meta.value("log", ""));
  if (meta.contains("statements") && meta["statements"].is_array()) {
    for (std::size_t r = 0; r < row->statements.size() && r < meta["statements"].size(); ++r) {
      if (meta["statements"][r].is_number_unsigned()) row->statements[r] = meta["statements"][r].get<std::size_t>();
    }
  }
  return true;
}

void FromDocument(const fs::path& xml, RunEntryRow* row) {
  RunDigest digest;
  std::string error;
  if (!DigestResults(xml.string(), nullptr, &digest, &error)) {
    row->problem = error;
    row->verdict = TestError;
  }
  row->name = digest.heading.name;
  row->date = digest.heading.date;
  row->time = digest.heading.time;
  if (row->problem.empty()) row->verdict = digest.verdict;
  row->duration = digest.duration;
  row->statements = digest.statements;
  row->failures = digest.failures_total;
  if (!digest.heading.log_files.empty()) row->log = LogEntryFileName(digest.heading.log_files[0]);
}

RunEntryRow ReadRun(const fs::path& xml) {
  RunEntryRow row;
  row.xml = xml.filename().string();
  fs::path html = HtmlPathFor(xml.string());
  std::error_code error;
  bool fresh = fs::exists(html, error) &&
               fs::last_write_time(html, error) >= fs::last_write_time(xml, error) && !error;
  if (fs::exists(html, error)) row.html = html.filename().string();
  if (!(fresh && FromReport(html, &row))) FromDocument(xml, &row);
  if (row.name.empty()) row.name = row.xml;
  return row;
}

std::string Link(const std::string& file, const char* label) {
  if (file.empty()) return std::string();
  return "<a href=\"" + Html(LinkFrom("index.html", file)) + "\">" + label + "</a>";
}

std::string CountsText(const RunEntryRow& row) {
  std::string out;
  for (Result result : {TestPassed, TestFailed, TestError, TestWarning}) {
    if (!out.empty()) out += " \xC2\xB7 ";
    std::string word = ResultWordOf(result);
    word[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(word[0])));
    out += std::to_string(row.statements[static_cast<std::size_t>(result)]) + " " + word;
  }
  return out;
}

std::string Page(const std::string& directory, const std::vector<RunEntryRow>& rows) {
  std::string title = "Ordalis results \xE2\x80\x94 " + fs::absolute(directory).filename().string();
  std::string out = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>";
  AppendHtml(out, title);
  out += "</title>\n<style>\n";
  out += EmbeddedResource("report.css");
  out += "</style>\n</head>\n<body class=\"index\">\n<h1>";
  AppendHtml(out, title);
  out += "</h1>\n<p class=\"muted\">" + std::to_string(rows.size()) + " run" + (rows.size() == 1 ? "" : "s") +
         ", newest first.</p>\n<table id=\"runs\">\n<tr><th>Date</th><th>Script</th><th>Verdict</th>"
         "<th>Statements</th><th>Failures</th><th>Duration</th><th>Files</th></tr>\n";
  for (const RunEntryRow& row : rows) {
    out += "<tr class=\"run\"><td>" + Html(row.date + " " + row.time) + "</td><td>";
    AppendHtml(out, row.name);
    out += "</td><td class=\"verdict-cell\"><span class=\"badge r-";
    out += ResultClass(row.verdict);
    out += "\">";
    out += row.problem.empty() ? ResultWordOf(row.verdict) : "Unreadable";
    std::string counts = !row.problem.empty() ? row.problem : row.kind.empty() ? CountsText(row) : row.kind;
    out += "</span></td><td>" + Html(counts) +
           "</td><td class=\"n\">" + std::to_string(row.failures) + "</td><td class=\"n\">" +
           Html(DurationText(row.duration)) + "</td><td>";
    std::string links = Link(row.html, "report");
    for (const std::string& link : {Link(row.xml, "XML"), Link(row.log, "log")}) {
      if (link.empty()) continue;
      if (!links.empty()) links += " \xC2\xB7 ";
      links += link;
    }
    out += links + "</td></tr>\n";
  }
  out += "</table>\n</body>\n</html>\n";
  return out;
}

// Holds an exclusive lock on a directory while the index is made.
class DirectoryLock {
 public:
  explicit DirectoryLock(const std::string& directory)
      : fd_(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    if (fd_ < 0) return;
    while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
    }
  }
  ~DirectoryLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  DirectoryLock(const DirectoryLock&) = delete;
  DirectoryLock& operator=(const DirectoryLock&) = delete;
  bool locked() const { return fd_ >= 0; }

 private:
  int fd_;
};

}  // namespace

bool WriteResultsIndex(const std::string& directory, std::string* error) {
  DirectoryLock lock(directory);
  if (!lock.locked()) {
    if (error) *error = std::strerror(errno);
    return false;
  }
  std::vector<RunEntryRow> rows;
  std::error_code failure;
  for (const fs::directory_entry& entry : fs::directory_iterator(directory, failure)) {
    if (entry.path().extension() != ".xml" || !entry.is_regular_file(failure)) continue;
    DocumentKind kind = KindOf(entry.path());
    if (kind == DocumentKind::kRun) rows.push_back(ReadRun(entry.path()));
    if (kind == DocumentKind::kBatch || kind == DocumentKind::kBatchEntry) {
      rows.push_back(ReadBatchDocument(entry.path(), kind));
    }
  }
  if (failure) {
    if (error) *error = failure.message();
    return false;
  }
  std::sort(rows.begin(), rows.end(), [](const RunEntryRow& a, const RunEntryRow& b) {
    if (a.date != b.date) return a.date > b.date;
    if (a.time != b.time) return a.time > b.time;
    return a.xml > b.xml;
  });
  // The index is made again from the folder's documents after every run.
  return WriteWholeFile((fs::path(directory) / kIndexFile).string(), Page(directory, rows), error, Sync::kNone);
}

}  // namespace ordalis::report
