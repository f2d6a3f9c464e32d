#include "engine/results_writer.h"

#include <unistd.h>

#include <array>
#include <charconv>
#include <cmath>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <utility>
#include <vector>

#include "interp/formatting.h"
#include "interp/variable_value.h"
#include "language/script_item.h"
#include "platform/atomic_file.h"
#include "platform/file_descriptor.h"
#include "platform/resources.h"
#include "platform/xml_text.h"

namespace ordalis {

namespace {

constexpr const char* kLineEnd = "\r\n";

// A log file name as the stylesheet links to it: '#' would start a fragment, so it is written
// as "%23".
std::string FileReference(const std::string& name) {
  std::string out;
  for (char c : name) {
    if (c == '#') {
      out += "%23";
    } else {
      out += c;
    }
  }
  return out;
}

void AppendLine(std::string& out, const std::string& indent, const char* text) {
  out += indent;
  out += text;
  out += kLineEnd;
}

// Formats local date and time of [time] as "YYYY-MM-DD" and "HH:MM:SS", remembering the last
// second converted: runs recorded within one second share the conversion.
class LocalTimeCache {
 public:
  void Convert(std::int64_t time, const char** date, const char** clock) {
    if (!valid_ || time != last_) {
      std::time_t t = static_cast<std::time_t>(time);
      std::tm parts{};
      localtime_r(&t, &parts);
      std::snprintf(date_, sizeof date_, "%04d-%02d-%02d", parts.tm_year + 1900,
                    parts.tm_mon + 1, parts.tm_mday);
      std::snprintf(clock_, sizeof clock_, "%02d:%02d:%02d", parts.tm_hour, parts.tm_min,
                    parts.tm_sec);
      last_ = time;
      valid_ = true;
    }
    *date = date_;
    *clock = clock_;
  }

 private:
  bool valid_ = false;
  std::int64_t last_ = 0;
  char date_[32] = {};
  char clock_[32] = {};
};

// The words of the results, made once: a run's result word costs no allocation.
const std::string& ResultWordOf(Result result) {
  static const std::array<std::string, 8> words = [] {
    std::array<std::string, 8> made;
    for (int i = 0; i < 8; ++i) made[static_cast<std::size_t>(i)] = VariableValue::ResultWord(i);
    return made;
  }();
  if (result >= 0 && result < 8) return words[static_cast<std::size_t>(result)];
  static const std::string other = VariableValue::ResultWord(result);
  return other;
}

// How many records are read back from an item at a time while its runs are written.
constexpr std::size_t kRecordBatch = 4096;

class DocumentWriter {
 public:
  DocumentWriter(XmlOutput& output, KeepRuns keep_runs)
      : output_(output), out_(output.text), keep_runs_(keep_runs) {}

  // <node> for [item] and, for if and while, its branches as following siblings.
  void Node(ScriptItem& item, int depth) {
    std::string indent(static_cast<std::size_t>(depth), ' ');
    AppendLine(out_, indent, "<node>");
    Element(indent, " <type>", ResultsTypeName(item.type()), "</type>");
    out_ += indent;
    out_ += " <text>";
    // Writing never changes a result: a malformed statement was made an Error when it ran.
    AppendXmlText(out_, item.SourceText());
    out_ += "</text>";
    out_ += kLineEnd;
    Runs(item, indent);
    Element(indent, " <overall_result>", ResultWordOf(OverallResult(item)).c_str(),
            "</overall_result>");
    std::size_t inside = ChildrenInside(item);
    for (std::size_t i = 0; i < inside; ++i) Node(*item.child(i), depth + 1);
    AppendLine(out_, indent, "</node>");
    if (item.type() == ifItem || item.type() == whileItem) {
      for (std::size_t i = 1; i < item.child_count(); ++i) Node(*item.child(i), depth);
    }
  }

 private:
  // How many of [item]'s children are written inside its node.
  static std::size_t ChildrenInside(const ScriptItem& item) {
    switch (item.type()) {
      case errorItem: case rootItem: case thenItem: case elseItem: case doItem:
      case testResultItem: case resultItem: case includeItem: case endIncludeItem:
      case ignoreResultItem: case functionItem:
        return item.child_count();
      case ifItem: case whileItem:
        return item.child_count() > 0 ? 1 : 0;
      default:
        return 0;
    }
  }

  // The item's records in order, read back a batch at a time so a spilled item never has all
  // of them in memory; the output is handed on as it fills.
  // With KeepRuns::kFailed the first Passed run stands for all of them, in its place, with
  // their count.
  void Runs(const ScriptItem& item, const std::string& indent) {
    std::uint32_t passed = keep_runs_ == KeepRuns::kFailed ? item.CountOf(TestPassed) : 0;
    // When every run passed, the first stands for all: the rest are not read back at all.
    const std::size_t batch_size = passed > 0 && passed == item.NumberOfRecords() ? 1 : kRecordBatch;
    bool folded = false;
    std::size_t first = 0;
    for (;;) {
      if (folded && batch_size == 1) return;
      batch_.clear();
      std::size_t got = item.ReadRecords(first, batch_size, &batch_);
      if (got == 0) return;
      for (const ResultRecord& record : batch_) {
        if (passed > 0 && record.result == TestPassed) {
          if (folded) continue;
          folded = true;
          Run(record, indent, passed);
        } else {
          Run(record, indent, 1);
        }
        output_.Pass();
      }
      first += got;
    }
  }

  void Element(const std::string& indent, const char* open, const char* value, const char* close) {
    out_ += indent;
    out_ += open;
    out_ += value;
    out_ += close;
    out_ += kLineEnd;
  }

  // A run element; one that stands for [count] folded runs says so (count 1 writes the plain
  // element of the format).
  void Run(const ResultRecord& record, const std::string& indent, std::uint32_t count) {
    char number[64];
    if (count > 1) {
      std::snprintf(number, sizeof number, " <run count=\"%u\">", count);
      AppendLine(out_, indent, number);
    } else {
      AppendLine(out_, indent, " <run>");
    }
    std::snprintf(number, sizeof number, "%u", record.iteration);
    Element(indent, "  <iteration>", number, "</iteration>");
    Element(indent, "   <result>", ResultWordOf(record.result).c_str(), "</result>");
    std::snprintf(number, sizeof number, "%.3f", record.time_taken);
    Element(indent, "  <timetakensec>", number, "</timetakensec>");
    const char* date;
    const char* clock;
    times_.Convert(record.time, &date, &clock);
    Element(indent, "  <date>", date, " </date>");
    Element(indent, "  <time>", clock, "</time>");
    if (!record.values.empty()) {
      AppendLine(out_, indent, "  <values>");
      for (const Variant& value : record.values) Value(value, indent);
      AppendLine(out_, indent, "  </values>");
    }
    if (!record.measurements.empty()) {
      AppendLine(out_, indent, "  <measurements>");
      for (const Measurement& measurement : record.measurements) MeasurementElement(measurement, indent);
      AppendLine(out_, indent, "  </measurements>");
    }
    AppendLine(out_, indent, " </run>");
  }

  void TextElement(const std::string& indent, const char* open, const std::string& value,
                   const char* close) {
    out_ += indent;
    out_ += open;
    AppendXmlText(out_, value);
    out_ += close;
    out_ += kLineEnd;
  }

  // A limit in the shortest form that reads back as the same number (an XML double's words for
  // the numbers that are not finite).
  void Limit(const std::string& indent, const char* open, double value, const char* close) {
    char number[64];
    if (std::isnan(value)) {
      Element(indent, open, "NaN", close);
    } else if (std::isinf(value)) {
      Element(indent, open, value > 0 ? "INF" : "-INF", close);
    } else {
      auto written = std::to_chars(number, number + sizeof number - 1, value);
      *written.ptr = '\0';
      Element(indent, open, number, close);
    }
  }

  void MeasurementElement(const Measurement& measurement, const std::string& indent) {
    AppendLine(out_, indent, "   <measurement>");
    TextElement(indent, "    <name>", measurement.name, "</name>");
    Element(indent, "    <type>", MeasuredKindWord(measurement.kind), "</type>");
    TextElement(indent, "    <value>", measurement.text, "</value>");
    if (!measurement.unit.empty()) TextElement(indent, "    <unit>", measurement.unit, "</unit>");
    if (measurement.low) Limit(indent, "    <low>", *measurement.low, "</low>");
    if (measurement.high) Limit(indent, "    <high>", *measurement.high, "</high>");
    Element(indent, "    <comparison>", ComparisonWord(measurement.comparison), "</comparison>");
    Element(indent, "    <result>", ResultWordOf(measurement.result).c_str(), "</result>");
    AppendLine(out_, indent, "   </measurement>");
  }

  void ScalarItem(const std::string& indent, const char* type, const std::string& value,
                  bool escape) {
    AppendLine(out_, indent, "   <item>");
    Element(indent, "    <type>", type, "</type>");
    out_ += indent;
    out_ += "    <value>";
    if (escape) {
      AppendXmlText(out_, value);
    } else {
      out_ += value;
    }
    out_ += "</value>";
    out_ += kLineEnd;
    AppendLine(out_, indent, "   </item>");
  }

  // One recorded value: Integer, Double, String, Boolean or a nested array; any other variant
  // type shows as Unknown.
  void Value(const Variant& value, const std::string& indent) {
    char number[64];
    switch (value.type()) {
      case VT_I4:
        std::snprintf(number, sizeof number, "%d", value.as_int());
        ScalarItem(indent, "Integer", number, false);
        break;
      case VT_R8:
        std::snprintf(number, sizeof number, "%.10f", value.as_double());
        ScalarItem(indent, "Double", number, false);
        break;
      case VT_BSTR:
        ScalarItem(indent, "String", value.as_string(), true);
        break;
      case VT_BOOL:
        ScalarItem(indent, "Boolean", value.as_bool() ? "true" : "false", false);
        break;
      case kVariantArrayType: {
        AppendLine(out_, indent, "   <item>");
        AppendLine(out_, indent, "    <type>Array</type>");
        AppendLine(out_, indent, "    <values>");
        std::string inner = indent + "    ";
        if (value.as_array()) {
          for (const Variant& element : *value.as_array()) Value(element, inner);
        }
        AppendLine(out_, indent, "    </values>");
        AppendLine(out_, indent, "   </item>");
        break;
      }
      default:
        ScalarItem(indent, "Unknown", "Unknown", false);
        break;
    }
  }

  XmlOutput& output_;
  std::string& out_;
  KeepRuns keep_runs_;
  LocalTimeCache times_;
  std::vector<ResultRecord> batch_;
};

// Whether the file at [path] holds exactly [bytes] (the size is compared before the contents).
bool HoldsExactly(const std::string& path, const std::string& bytes) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  file.seekg(0, std::ios::end);
  if (file.tellg() != static_cast<std::streamoff>(bytes.size())) return false;
  file.seekg(0);
  std::string held(bytes.size(), '\0');
  file.read(held.data(), static_cast<std::streamsize>(held.size()));
  return static_cast<bool>(file) && held == bytes;
}

// A companion file's bytes up to the first zero byte, with every line end (CR, LF, CR LF or
// LF CR) written as CR LF.
std::string NormaliseLineEnds(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 16);
  for (std::size_t i = 0; i < bytes.size() && bytes[i] != '\0'; ++i) {
    char c = bytes[i];
    if (c == '\r' || c == '\n') {
      out += kLineEnd;
      char other = c == '\r' ? '\n' : '\r';
      if (i + 1 < bytes.size() && bytes[i + 1] == other) ++i;
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

const char* ResultsTypeName(ItemType type) {
  switch (type) {
    case errorItem: return "error";
    case rootItem: return "root";
    case ifItem: return "if";
    case thenItem: return "then";
    case elseItem: return "else";
    case whileItem: return "while";
    case actionItem: return "action";
    case assignmentItem: return "assignment";
    case doItem: return "do";
    case lessThanItem: return "lessthan";
    case lessThanOrEqualItem: return "lessthanorequal";
    case equalItem: return "equal";
    case greaterThanOrEqualItem: return "greaterthanorequal";
    case greaterThanItem: return "greaterthan";
    case notEqualItem: return "notequal";
    case integerItem: return "integer";
    case stringItem: return "string";
    case idItem: return "identifier";
    case newItem: return "new";
    case deleteItem: return "delete";
    case arithmeticItem: return "arithmetic";
    case incrementItem: return "increment";
    case decrementItem: return "decrement";
    case commentItem: return "comment";
    case testResultItem: return "testresult";
    case resultItem: return "result";
    case includeItem: return "include";
    case endIncludeItem: return "endinclude";
    case sleepItem: return "sleep";
    case boolItem: return "bool";
    case doubleItem: return "double";
    case sprintfItem: return "sprintf";
    case arrayIndexItem: return "arrayIndex";
    case andItem: return "and";
    case orItem: return "or";
    case notItem: return "not";
    case assertItem: return "assert";
    case hexItem: return "hex";
    case octalItem: return "octal";
    case sscanfItem: return "sscanf";
    case defaultItem: return "default";
    case arrayLengthItem: return "arrayLength";
    case ignoreResultItem: return "ignoreResultItem";
    case functionItem: return "functionItem";
    case functionCallItem: return "functionCallItem";
    case arrayItem: return "arrayItem";
    case moveLogFileItem: return "moveLogFileItem";
    case copyLogFileItem: return "copyLogFileItem";
    case localItem: return "local";
    default: return "unknown";
  }
}

Result OverallResult(const ScriptItem& item) { return item.OverallOfRecords(); }

void XmlOutput::Pass() {
  if (fd_ < 0 || text.size() < kFlushAt) return;
  if (!failed_ && !WriteAll(fd_, text)) {
    failed_ = true;
    error_ = errno;
  }
  text.clear();
}

bool XmlOutput::Finish() {
  if (fd_ >= 0 && !failed_ && !text.empty() && !WriteAll(fd_, text)) {
    failed_ = true;
    error_ = errno;
  }
  if (fd_ >= 0) text.clear();
  // The caller reports why the first write failed.
  if (failed_) errno = error_;
  return !failed_;
}

void WriteResultsXml(ScriptItem& root, const ResultsHeader& header, XmlOutput& output) {
  std::string& out = output.text;
  out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n";
  out += "<?xml-stylesheet type=\"text/xsl\" href=\"Ordalis4_2.xsl\"?>\r\n";
  out += "<odl_script_result xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
         "xsi:noNamespaceSchemaLocation=\"Ordalis4_2.xsd\">\r\n";
  auto element = [&out](const char* name, const std::string& value) {
    out += " <";
    out += name;
    out += '>';
    AppendXmlText(out, value);
    out += "</";
    out += name;
    out += ">\r\n";
  };
  element("name", header.script_file_name);
  element("versionundertest",
          header.version_under_test.empty() ? "Undefined" : header.version_under_test);
  element("host_name", header.host_name.empty() ? "Unknown" : header.host_name);
  element("date", header.date);
  element("time", header.time);
  element("version", "4.0n ");
  out += " <logfiles>\r\n";
  for (const std::string& log : header.log_files) {
    out += "  <logfile>";
    AppendXmlText(out, FileReference(log));
    out += "</logfile>\r\n";
  }
  out += " </logfiles>\r\n";
  DocumentWriter(output, header.keep_runs).Node(root, 1);
  out += "</odl_script_result>\r\n";
}

std::string ResultsXml(ScriptItem& root, const ResultsHeader& header) {
  XmlOutput output;
  WriteResultsXml(root, header, output);
  return std::move(output.text);
}

std::string ResultsXmlName(const std::string& file_name) {
  std::size_t dot = file_name.rfind('.');
  if (dot == std::string::npos) return "xml";
  return file_name.substr(0, dot + 1) + "xml";
}

ResultsHeader HeaderForNow(std::string script_file_name, std::string version_under_test,
                           std::vector<std::string> log_files) {
  ResultsHeader header;
  header.script_file_name = std::move(script_file_name);
  header.version_under_test = std::move(version_under_test);
  header.log_files = std::move(log_files);
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) == 0) header.host_name = host;
  std::time_t now = std::time(nullptr);
  std::tm parts{};
  localtime_r(&now, &parts);
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", parts.tm_year + 1900, parts.tm_mon + 1,
                parts.tm_mday);
  header.date = text;
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", parts.tm_hour, parts.tm_min, parts.tm_sec);
  header.time = text;
  return header;
}

void WriteCompanionFiles(const std::string& results_directory) {
  // Made once per process: the embedded files do not change while it runs.
  static const std::vector<std::pair<const char*, std::string>> kFiles = [] {
    std::vector<std::pair<const char*, std::string>> files;
    for (const char* name : {kStylesheetFile, kSchemaFile, kViewerFile}) {
      std::string_view bytes = EmbeddedResource(name);
      if (!bytes.empty()) files.emplace_back(name, NormaliseLineEnds(bytes));
    }
    return files;
  }();
  for (const auto& [name, bytes] : kFiles) {
    std::string path = results_directory + "/" + name;
    // A file already as it should be is left alone: most runs write into a folder that has them.
    if (HoldsExactly(path, bytes)) continue;
    std::string ignored;
    WriteFileAtomically(path, bytes, 0644, &ignored);
  }
}

}  // namespace ordalis
