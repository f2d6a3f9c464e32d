#include "batch/batch_results.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "batch/batch_paths.h"
#include "platform/xml_text.h"
#include "platform/resources.h"
#include "platform/text.h"

namespace ordalis::batch {

namespace {

constexpr const char* kLineEnd = "\r\n";
// Lines longer than this end the reading of a batch results file.
constexpr std::size_t kMaxLoadedLine = 2047;

std::tm LocalParts(std::int64_t time) {
  std::time_t t = static_cast<std::time_t>(time);
  std::tm parts{};
  localtime_r(&t, &parts);
  return parts;
}

std::string DateText(std::int64_t time) {
  std::tm parts = LocalParts(time);
  char text[64];
  std::snprintf(text, sizeof text, "%d-%02d-%02d", parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday);
  return text;
}

std::string ClockText(std::int64_t time) {
  std::tm parts = LocalParts(time);
  char text[64];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", parts.tm_hour, parts.tm_min, parts.tm_sec);
  return text;
}

const char* RecordResultText(BatchQueueItemStatus status) {
  return status == BatchQueueItemPassed ? "Passed" : status == BatchQueueItemAborted ? "Aborted" : "Failed";
}

// An aborted attempt did not run to its end, so its iteration did not pass either: the
// iteration's result agrees with the overall result and the check code.
bool CountsAsPassed(BatchQueueItemStatus status) { return status == BatchQueueItemPassed; }

void Element(std::string& out, const char* indent, const char* name, const std::string& value) {
  out += indent;
  out += '<';
  out += name;
  out += '>';
  AppendXmlText(out, value);
  out += "</";
  out += name;
  out += '>';
  out += kLineEnd;
}

void AppendRecord(std::string& out, const BatchResultRecord& record) {
  out += "  <item>";
  out += kLineEnd;
  Element(out, "   ", "name", record.name);
  Element(out, "   ", "result", RecordResultText(record.status));
  if (!record.results_file.empty()) Element(out, "   ", "resultsfile", record.results_file);
  if (!record.comment.empty()) Element(out, "   ", "comments", record.comment);
  Element(out, "   ", "retry", std::to_string(record.retry));
  Element(out, "   ", "maxretry", std::to_string(record.maxretry));
  if (record.exit_status != BatchResultRecord::kNoExitStatus) {
    Element(out, "   ", "exitstatus", std::to_string(record.exit_status));
  }
  out += "  </item>";
  out += kLineEnd;
}

// Records are grouped by iteration in list order: a new group begins wherever a record's
// iteration differs from the one before it.
void AppendIterations(std::string& out, const std::vector<BatchResultRecord>& records) {
  for (std::size_t first = 0; first < records.size();) {
    std::size_t end = first;
    bool passed = true;
    out += " <iteration>";
    out += kLineEnd;
    while (end < records.size() && records[end].iteration == records[first].iteration) {
      AppendRecord(out, records[end]);
      passed = passed && CountsAsPassed(records[end].status);
      ++end;
    }
    Element(out, "  ", "result", passed ? "Passed" : "Failed");
    out += " </iteration>";
    out += kLineEnd;
    first = end;
  }
}

// The file's bytes up to the first zero byte, each line end (CR LF, a lone CR or a lone LF)
// written as CR LF.
std::string WithCrLf(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 16);
  for (std::size_t i = 0; i < bytes.size() && bytes[i] != '\0'; ++i) {
    if (bytes[i] == '\r' || bytes[i] == '\n') {
      out += kLineEnd;
      if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
    } else {
      out += bytes[i];
    }
  }
  return out;
}

// ---- loading -------------------------------------------------------------------------------------

// The state of reading a batch results file line by line.
class ResultsReader {
 public:
  ResultsReader(BatchResultsHeader* header, std::vector<BatchResultRecord>* records)
      : header_(*header), records_(*records) {}

  void Line(const std::string& line) {
    std::size_t open = line.find('<');
    if (open == std::string::npos) return;
    std::size_t tag_end = line.find_first_of("> \t", open + 1);
    std::string tag = line.substr(open + 1, tag_end == std::string::npos ? std::string::npos : tag_end - open - 1);
    std::string value;
    std::size_t close = line.find('>', open);
    if (close != std::string::npos) {
      std::size_t next = line.find('<', close + 1);
      value = line.substr(close + 1, next == std::string::npos ? std::string::npos : next - close - 1);
      while (!value.empty() && (value.back() == '\r' || value.back() == '\n')) value.pop_back();
    }
    Tag(tag, XmlUnescape(value));
  }

 private:
  static bool Is(const std::string& tag, const char* name) { return EqualsIgnoringCase(tag, name); }

  void Tag(const std::string& tag, const std::string& value) {
    if (Is(tag, "name")) return Name(value);
    if (Is(tag, "versionundertest")) header_.version_under_test = value;
    if (Is(tag, "host_name")) header_.host_name = value;
    if (Is(tag, "startdate")) header_.start_time = WithDate(header_.start_time, value);
    if (Is(tag, "starttime")) header_.start_time = WithClock(header_.start_time, value);
    if (Is(tag, "date")) header_.last_update_time = WithDate(header_.last_update_time, value);
    if (Is(tag, "time")) header_.last_update_time = WithClock(header_.last_update_time, value);
    if (Is(tag, "version")) header_.version_text = value;
    if (Is(tag, "overall_result")) header_.all_passed = EqualsIgnoringCase(value, "Passed");
    if (Is(tag, "iteration")) ++iteration_, inside_iteration_ = true;
    if (Is(tag, "/iteration")) inside_iteration_ = false;
    if (Is(tag, "item")) NewRecord();
    if (Is(tag, "/item")) inside_item_ = false;
    if (!inside_item_) return;
    BatchResultRecord& record = records_.back();
    if (Is(tag, "result")) record.status = StatusOf(value);
    if (Is(tag, "resultsfile")) record.results_file = value;
    if (Is(tag, "retry")) record.retry = Number(value);
    if (Is(tag, "maxretry")) record.maxretry = Number(value);
    if (Is(tag, "comments")) record.comment = value;
    if (Is(tag, "exitstatus")) record.exit_status = std::atoi(value.c_str());
  }

  void Name(const std::string& value) {
    if (inside_item_) {
      records_.back().name = value;
    } else if (!inside_iteration_) {
      header_.batch_name = value;
    }
  }

  void NewRecord() {
    BatchResultRecord record;
    record.status = BatchQueueItemFailed;
    record.iteration = iteration_;
    records_.push_back(record);
    inside_item_ = true;
  }

  static BatchQueueItemStatus StatusOf(const std::string& value) {
    if (EqualsIgnoringCase(value, "Passed")) return BatchQueueItemPassed;
    if (EqualsIgnoringCase(value, "Aborted")) return BatchQueueItemAborted;
    return BatchQueueItemFailed;
  }

  static std::uint32_t Number(const std::string& value) {
    return static_cast<std::uint32_t>(std::strtoul(value.c_str(), nullptr, 10));
  }

  // [time] with its local date replaced by [value] ("YYYY-MM-DD"); unchanged unless the value
  // has exactly ten characters.
  static std::int64_t WithDate(std::int64_t time, const std::string& value) {
    if (value.size() != 10) return time;
    std::tm parts = LocalParts(time);
    parts.tm_year = std::atoi(value.substr(0, 4).c_str()) - 1900;
    parts.tm_mon = std::atoi(value.substr(5, 2).c_str()) - 1;
    parts.tm_mday = std::atoi(value.substr(8, 2).c_str());
    parts.tm_isdst = -1;
    return static_cast<std::int64_t>(std::mktime(&parts));
  }

  // [time] with its local time of day replaced by [value] ("hh:mm:ss"); unchanged unless the
  // value has exactly eight characters.
  static std::int64_t WithClock(std::int64_t time, const std::string& value) {
    if (value.size() != 8) return time;
    std::tm parts = LocalParts(time);
    parts.tm_hour = std::atoi(value.substr(0, 2).c_str());
    parts.tm_min = std::atoi(value.substr(3, 2).c_str());
    parts.tm_sec = std::atoi(value.substr(6, 2).c_str());
    parts.tm_isdst = -1;
    return static_cast<std::int64_t>(std::mktime(&parts));
  }

  BatchResultsHeader& header_;
  std::vector<BatchResultRecord>& records_;
  std::uint32_t iteration_ = 0;
  bool inside_iteration_ = false;
  bool inside_item_ = false;
};

}  // namespace

std::uint32_t CheckCode(const std::vector<BatchResultRecord>& records) {
  std::uint32_t code = 0;
  for (const BatchResultRecord& record : records) {
    code += record.status == BatchQueueItemPassed ? 12345678u : 87654321u;
  }
  return code;
}

const char* OverallResultText(const BatchResultsHeader& header,
                              const std::vector<BatchResultRecord>& records) {
  if (!header.all_passed) return "Failed";
  return records.empty() ? "Not Run" : "Passed";
}

std::string BatchResultsXml(const BatchResultsHeader& header,
                            const std::vector<BatchResultRecord>& records) {
  std::string out;
  out.reserve(1024 + records.size() * 200);
  out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
  out += kLineEnd;
  out += std::string("<?xml-stylesheet type=\"text/xsl\" href=\"") + kBatchStylesheetFile + "\"?>";
  out += kLineEnd;
  out += "<odl_batch_result xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
         "xsi:noNamespaceSchemaLocation=\"";
  out += kBatchSchemaFile;
  out += "\">";
  out += kLineEnd;
  Element(out, " ", "name", header.batch_name);
  Element(out, " ", "versionundertest",
          header.version_under_test.empty() ? "Undefined" : header.version_under_test);
  Element(out, " ", "host_name", header.host_name);
  Element(out, " ", "startdate", DateText(header.start_time));
  Element(out, " ", "starttime", ClockText(header.start_time));
  Element(out, " ", "date", DateText(header.last_update_time));
  Element(out, " ", "version", header.version_text);
  Element(out, " ", "overall_result", OverallResultText(header, records));
  Element(out, " ", "time", ClockText(header.last_update_time));
  AppendIterations(out, records);
  Element(out, " ", "result_check_code", std::to_string(CheckCode(records)));
  out += "</odl_batch_result>";
  out += kLineEnd;
  return out;
}

bool WriteCompanionFile(const std::string& directory, const char* resource) {
  std::string_view bytes = EmbeddedResource(resource);
  if (bytes.empty()) return false;
  return WriteFileAtomically(directory + "/" + resource, WithCrLf(bytes));
}

bool WriteBatchResults(const std::string& path, const BatchResultsHeader& header,
                       const std::vector<BatchResultRecord>& records, CompanionFiles companions) {
  if (path.empty()) return false;
  std::string directory = SplitQueuePath(path).directory;
  for (const char* resource : {kBatchStylesheetFile, kBatchSchemaFile}) {
    std::error_code ignored;
    if (companions == CompanionFiles::kReplace || !std::filesystem::exists(directory + "/" + resource, ignored)) {
      WriteCompanionFile(directory, resource);
    }
  }
  return WriteFileAtomically(path, BatchResultsXml(header, records));
}

bool LoadBatchResults(const std::string& path, BatchResultsHeader* header,
                      std::vector<BatchResultRecord>* records) {
  // A FIFO or a device is never opened for reading: that could wait for ever.
  if (!UnreadableFile(path).empty()) return false;
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  BatchResultsHeader read;
  read.batch_name = read.version_under_test = read.version_text = read.host_name = "Unknown";
  std::vector<BatchResultRecord> read_records;
  ResultsReader reader(&read, &read_records);
  std::string line;
  while (std::getline(file, line)) {
    if (line.size() > kMaxLoadedLine) break;
    reader.Line(line);
  }
  *header = std::move(read);
  *records = std::move(read_records);
  return true;
}

}  // namespace ordalis::batch
