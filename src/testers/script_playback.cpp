#include "testers/script_playback.h"

#include <sys/stat.h>

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <limits>

#include "codec/literal_text.h"
#include "testers/action_record.h"
#include "trace/clock.h"

namespace ordalis {

namespace {

// Reads the next line: it ends at the first CR or LF, and every line-end character after it is
// skipped, so empty lines never come back. False at the end of the file.
bool ReadLine(std::istream& in, std::string* line) {
  line->clear();
  int c;
  while ((c = in.get()) != EOF && (c == '\r' || c == '\n')) {
  }
  // A record whose run ended abruptly may end in zero bytes: no line holds one.
  if (c == EOF || c == '\0') return false;
  do {
    line->push_back(static_cast<char>(c));
  } while ((c = in.get()) != EOF && c != '\r' && c != '\n');
  return true;
}

bool StartsWithFourSpaces(const std::string& line) { return line.compare(0, 4, "    ") == 0; }

// The decimal digits at [pos]; [pos] moves past them. No digits give 0; a number beyond the
// largest tick count is clamped to it.
std::int64_t ReadTicks(const std::string& line, std::size_t* pos) {
  std::int64_t value = 0;
  while (*pos < line.size() && line[*pos] >= '0' && line[*pos] <= '9') {
    if (__builtin_mul_overflow(value, 10, &value) ||
        __builtin_add_overflow(value, line[*pos] - '0', &value)) {
      value = std::numeric_limits<std::int64_t>::max();
    }
    ++*pos;
  }
  return value;
}

// [a] - [b] (or [a] + [b]) clamped to the range of tick counts instead of overflowing.
std::int64_t ClampedDifference(std::int64_t a, std::int64_t b) {
  std::int64_t difference = 0;
  if (!__builtin_sub_overflow(a, b, &difference)) return difference;
  return b < 0 ? std::numeric_limits<std::int64_t>::max() : std::numeric_limits<std::int64_t>::min();
}
std::int64_t ClampedSum(std::int64_t a, std::int64_t b) {
  std::int64_t sum = 0;
  if (!__builtin_add_overflow(a, b, &sum)) return sum;
  return b > 0 ? std::numeric_limits<std::int64_t>::max() : std::numeric_limits<std::int64_t>::min();
}

// Decodes the backslash escapes a recorded string carries.
std::string Unescape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 >= text.size()) {
      out += text[i];
      continue;
    }
    char c = text[++i];
    switch (c) {
      case 'a': out += '\a'; break;
      case 'b': out += '\b'; break;
      case 'f': out += '\f'; break;
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      case 't': out += '\t'; break;
      case 'v': out += '\v'; break;
      case '"': out += '"'; break;
      case '\\': out += '\\'; break;
      default:
        out += '\\';
        out += c;
        break;
    }
  }
  return out;
}

void UnescapeStrings(VariantArray& array) {
  for (Variant& element : array) {
    if (element.type() == VT_BSTR) {
      element = Variant::String(Unescape(element.as_string()));
    } else if (element.is_array() && element.as_array()) {
      UnescapeStrings(*element.as_array());
    }
  }
}

bool NumberText(const std::string& text, double* number) {
  const char* end = text.data() + text.size();
  auto read = std::from_chars(text.data(), end, *number);
  return read.ec == std::errc() && read.ptr == end;
}

// One measurement of a measurement line: [name, type, value, unit, low, high, comparison, result].
bool ReadMeasurement(const Variant& item, MeasuredValue* m) {
  if (!item.is_array() || !item.as_array() || item.as_array()->size() != 8) return false;
  const VariantArray& parts = *item.as_array();
  for (std::size_t i = 0; i < 6; ++i) {
    if (parts[i].type() != VT_BSTR) return false;
  }
  if (parts[6].type() != VT_I4 || parts[7].type() != VT_I4) return false;
  m->name = Unescape(parts[0].as_string());
  const std::string& type = parts[1].as_string();
  std::string value = Unescape(parts[2].as_string());
  double number = 0;
  if (type == "Double" && NumberText(value, &number)) {
    m->value = Variant::Double(number);
  } else if (type == "Boolean") {
    m->value = Variant::Bool(value == "true");
  } else if (type == "String") {
    m->value = Variant::String(std::move(value));
  } else {
    return false;
  }
  m->unit = Unescape(parts[3].as_string());
  m->has_low = !parts[4].as_string().empty();
  m->has_high = !parts[5].as_string().empty();
  if (m->has_low && !NumberText(parts[4].as_string(), &m->low)) return false;
  if (m->has_high && !NumberText(parts[5].as_string(), &m->high)) return false;
  if (parts[6].as_int() < CompareBetweenInclusive || parts[6].as_int() > CompareLogOnly) return false;
  m->comparison = static_cast<MeasurementComparison>(parts[6].as_int());
  m->result = static_cast<Result>(parts[7].as_int());
  return true;
}

}  // namespace

bool ParseMeasurementsLiteral(std::string_view text, MeasuredValues* measured) {
  VariantArray items;
  if (!ParseLiteralText(text, &items)) return false;
  MeasuredValues read(items.size());
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (!ReadMeasurement(items[i], &read[i])) return false;
  }
  *measured = std::move(read);
  return true;
}

void ScriptPlayback::Load(const std::string& file_name) {
  variables_.clear();
  records_.clear();
  position_ = 0;
  // Only a regular file of bounded size is read: a device or FIFO would never end.
  struct stat info {};
  if (::stat(file_name.c_str(), &info) != 0 || !S_ISREG(info.st_mode) ||
      static_cast<std::uintmax_t>(info.st_size) > kMaxRecordFileBytes) {
    return;
  }
  std::ifstream in(file_name, std::ios::binary);
  std::string line;
  if (!in || !ReadLine(in, &line)) return;  // the version line
  if (!ReadLine(in, &line) || line != "SystemVars") return;
  bool have_line = false;
  while ((have_line = ReadLine(in, &line)) && StartsWithFourSpaces(line)) {
    std::size_t space = line.find(' ', 4);
    if (space == std::string::npos) continue;
    variables_[line.substr(4, space - 4)] = line.substr(space + 1);
  }
  while (have_line) {
    Record record;
    std::size_t pos = 0;
    record.in_ticks = ReadTicks(line, &pos);
    if (pos + 1 < line.size()) record.in_text = line.substr(pos + 1);
    have_line = ReadLine(in, &line);
    if (have_line && StartsWithFourSpaces(line)) {
      pos = 4;
      record.out_ticks = ReadTicks(line, &pos);
      if (pos + 1 < line.size()) record.result = static_cast<Result>(line[pos + 1] - '0');
      if (pos + 3 < line.size()) record.out_text = line.substr(pos + 3);
      have_line = ReadLine(in, &line);
      if (have_line && line.compare(0, 6, "    M ") == 0) {
        record.measured_text = line.substr(6);
        have_line = ReadLine(in, &line);
      }
    }
    records_.push_back(std::move(record));
  }
}

void ScriptPlayback::Rewind() { position_ = 0; }

std::size_t ScriptPlayback::RecordedVariableCount() const { return variables_.size(); }

std::string ScriptPlayback::RecordedVariableName(std::size_t index) const {
  if (index >= variables_.size()) return std::string();
  auto it = variables_.begin();
  std::advance(it, static_cast<std::ptrdiff_t>(index));
  return it->first;
}

bool ScriptPlayback::RecordedVariableValue(const std::string& name, std::string* value) const {
  auto it = variables_.find(name);
  if (it == variables_.end()) return false;
  if (value != nullptr) *value = it->second;
  return true;
}

void ScriptPlayback::Log(LoggingLevel level, const std::string& text) {
  std::shared_ptr<ITrace> trace;
  {
    std::lock_guard lock(trace_mutex_);
    trace = trace_;
  }
  if (trace) trace->Log(level, text);
}

Status ScriptPlayback::Execute(std::uint32_t, VariantArrayPtr parameters, VariantArrayPtr* values,
                               Result* result) {
  if (result != nullptr) *result = TestError;
  if (values == nullptr) {
    Log(severe, "values array pointer in 0");
    return S_OK;
  }
  values->reset();
  measured_.clear();
  if (position_ >= records_.size()) {
    Log(severe, "end of data reached");
    return S_OK;
  }
  const Record& record = records_[position_++];
  if (LiteralText(parameters) != record.in_text) Log(severe, "in != expected");
  if (record.out_text.empty()) {
    if (result != nullptr) *result = record.result;
  } else {
    auto array = std::make_shared<VariantArray>();
    if (!ParseLiteralText(record.out_text, array.get())) {
      Log(severe, "failed to get out variable value");
    } else {
      UnescapeStrings(*array);
      *values = std::move(array);
      if (result != nullptr) *result = record.result;
    }
  }
  if (!record.measured_text.empty() && !ParseMeasurementsLiteral(record.measured_text, &measured_)) {
    Log(severe, "failed to read the recorded measurements");
  }
  std::int64_t waited = ClampedDifference(record.out_ticks, record.in_ticks);
  if (ClampedSum(Clock::Instance().ElapsedTicks(), waited) > 0) {
    char text[64];
    std::snprintf(text, sizeof text, "%g", static_cast<double>(waited) / static_cast<double>(Clock::Frequency()));
    Log(information, std::string("Wait time is ") + text + " seconds");
  }
  return S_OK;
}

Status ScriptPlayback::get_ActionCount(std::uint32_t* count) {
  if (count == nullptr) return E_POINTER;
  *count = 0;
  return S_OK;
}

Status ScriptPlayback::get_Actions(std::uint32_t, std::string* name) {
  if (name == nullptr) return E_POINTER;
  *name = "action";
  return S_OK;
}

Status ScriptPlayback::ActionDocumentation(std::uint32_t, std::string* description,
                                           TextArray* in_parameters, TextArray* out_parameters) {
  if (description != nullptr) description->clear();
  if (in_parameters != nullptr) in_parameters->clear();
  if (out_parameters != nullptr) out_parameters->clear();
  return S_OK;
}

Status ScriptPlayback::Open(VariantArrayPtr, VariantBool* opened) {
  if (opened == nullptr) return E_POINTER;
  *opened = kVariantTrue;
  return S_OK;
}

Status ScriptPlayback::Close(VariantBool* closed) {
  if (closed == nullptr) return E_POINTER;
  *closed = kVariantTrue;
  return S_OK;
}

Status ScriptPlayback::Abort() { return S_OK; }

Status ScriptPlayback::get_TesterType(std::string* type) {
  if (type == nullptr) return E_POINTER;
  *type = "playback";
  return S_OK;
}

Status ScriptPlayback::get_Status(std::string* status) {
  if (status == nullptr) return E_POINTER;
  *status = "playback";
  return S_OK;
}

Status ScriptPlayback::SetTrace(std::shared_ptr<ITrace> trace) {
  std::lock_guard lock(trace_mutex_);
  trace_ = std::move(trace);
  return S_OK;
}

Status ScriptPlayback::get_Version(std::string* version) {
  if (version == nullptr) return E_POINTER;
  *version = "1.0";
  return S_OK;
}

Status ScriptPlayback::scriptDirectory(const std::string&) { return S_OK; }

Status ScriptPlayback::get_Description(std::string* description) {
  if (description == nullptr) return E_POINTER;
  description->clear();
  return S_OK;
}

Status ScriptPlayback::ConstructorDocumentation(std::string* description, TextArray* in_parameters) {
  if (description != nullptr) description->clear();
  if (in_parameters != nullptr) in_parameters->clear();
  return S_OK;
}

Status ScriptPlayback::get_NumberOfReturnedTesters(std::uint32_t* count) {
  if (count == nullptr) return E_POINTER;
  *count = 0;
  return S_OK;
}

Status ScriptPlayback::createReturnedTester(std::uint32_t, std::shared_ptr<ITester>* tester) {
  if (tester == nullptr) return E_POINTER;
  tester->reset();
  return S_OK;
}

Status ScriptPlayback::TakeMeasurements(MeasuredValues* measurements) {
  if (measurements == nullptr) return E_POINTER;
  *measurements = std::move(measured_);
  measured_.clear();
  return S_OK;
}

}  // namespace ordalis
