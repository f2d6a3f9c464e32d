#include "report/run_digest.h"

#include <filesystem>
#include <fstream>

#include "report/report_text.h"

namespace ordalis::report {

namespace {

constexpr std::size_t kMaxValuesText = 2048;

void AppendValue(std::string& out, const ValueEntry& value) {
  switch (value.type) {
    case ValueType::kInteger: out += value.text; break;
    case ValueType::kDouble: out += NumberText(std::strtod(value.text.c_str(), nullptr)); break;
    case ValueType::kString: out += '"'; out += value.text; out += '"'; break;
    case ValueType::kBoolean: out += value.text; break;
    case ValueType::kArray:
      out += '[';
      for (std::size_t i = 0; i < value.elements.size(); ++i) {
        if (i != 0) out += ", ";
        AppendValue(out, value.elements[i]);
      }
      out += ']';
      break;
    case ValueType::kUnknown: out += value.text.empty() ? "?" : value.text; break;
  }
}

}  // namespace

std::string ValuesText(const std::vector<ValueEntry>& values, Result result, bool cut) {
  if (values.size() == 1 && values[0].type == ValueType::kString && values[0].text == ResultWordOf(result)) {
    return std::string();
  }
  std::string out;
  for (std::size_t i = 0; i < values.size() && out.size() <= kMaxValuesText; ++i) {
    if (i != 0) out += ", ";
    AppendValue(out, values[i]);
  }
  if (cut) out += ", \xE2\x80\xA6";
  CutText(out, kMaxValuesText);
  return out;
}

std::string FailureDigest::Where() const {
  if (line == 0) return std::string();
  return file + "(" + std::to_string(line) + ")";
}

std::string FailureDigest::ConsoleLine() const {
  std::string where = Where();
  std::string out = where.empty() ? std::string() : where + ": ";
  out += ResultWordOf(result);
  out += ": ";
  out += Quoted();
  const std::string& after = measured.empty() ? values : measured;
  if (!after.empty()) {
    out += " \xE2\x80\x94 ";  // —
    out += after;
  }
  return out;
}

namespace {

// The measurements of a run that did not pass, each named after the statement's result label
// [label] when it has one other than the measurement's own name.
std::string MeasuredText(const std::vector<Measurement>& measurements, const std::string* label) {
  std::string out;
  for (const Measurement& measurement : measurements) {
    if (measurement.result == TestPassed) continue;
    if (!out.empty()) out += "; ";
    if (label != nullptr && *label != measurement.name) out += *label + ": ";
    out += MeasurementPhrase(measurement);
  }
  return out;
}

}  // namespace

DigestBuilder::DigestBuilder(const RunAnnotations* notes) : notes_(notes) {
  if (notes_ == nullptr) return;
  for (const auto& [row, failing] : notes_->row_failures) targets_.insert(failing);
}

void DigestBuilder::OnHeading(const ResultsHeading& heading) { digest_.heading = heading; }

void DigestBuilder::OnNodeStart(const NodeHead& head) {
  Frame frame;
  frame.index = head.index;
  frame.block = IsBlockType(head.type);
  frame.ignored = head.type == "ignoreResultItem" || (!frames_.empty() && frames_.back().ignored);
  frame.row = open_rows_.empty() ? -1 : open_rows_.back();
  frame.annotated = head.note != nullptr;
  frame.condition = !frames_.empty() && (frames_.back().failure.type == "if" || frames_.back().failure.type == "while");
  frame.text = head.text;
  if (head.note != nullptr) {
    frame.line = head.note->line;
    if (head.file != nullptr) frame.file = *head.file;
  }
  frame.failure.index = head.index;
  frame.failure.type = head.type;
  frame.warning.index = head.index;
  frame.warning.type = head.type;
  digest_.annotated = frame.annotated;
  if (frames_.empty() && head.file != nullptr) digest_.script_file = *head.file;
  ++digest_.nodes;
  if (head.type == "result") {
    ++digest_.rows_total;
    if (digest_.rows.size() < kMaxRows) {
      RowDigest row;
      row.index = head.index;
      row.text = head.text;
      row.file = frame.file;
      row.line = frame.line;
      digest_.rows.push_back(std::move(row));
      frame.row = static_cast<long>(digest_.rows.size() - 1);
    }
  }
  open_rows_.push_back(frame.row);
  frames_.push_back(std::move(frame));
}

void DigestBuilder::OnRun(const RunEntry& run) {
  if (frames_.empty()) return;
  Frame& frame = frames_.back();
  frame.runs += run.count;
  if (run.result >= 0 && run.result <= TestAborted) frame.counts[static_cast<std::size_t>(run.result)] += run.count;
  frame.time_taken += run.time_taken;
  if (frames_.size() == 1) {
    digest_.duration += run.time_taken;
    digest_.iterations += run.count;
  }
  for (const Measurement& measurement : run.measurements) {
    if (digest_.measurements_total++ >= kMaxMeasurements) continue;
    const std::string* row = RowLabel(frame);
    digest_.measurements.push_back({measurement, frame.file, frame.line, row != nullptr ? *row : std::string()});
  }
  if (run.result == TestWarning && frame.warning_runs++ == 0) {
    frame.warning.result = run.result;
    frame.warning.iteration = run.iteration;
    frame.warning.values = ValuesText(run.values, run.result, run.values_cut);
    frame.warning.measured = MeasuredText(run.measurements, RowLabel(frame));
  }
  if (!IsFailure(run.result)) return;
  if (frame.failing_runs++ == 0) {
    frame.failure.result = run.result;
    frame.failure.iteration = run.iteration;
    frame.failure.values = ValuesText(run.values, run.result, run.values_cut);
    frame.failure.measured = MeasuredText(run.measurements, RowLabel(frame));
  }
}

const std::string* DigestBuilder::RowLabel(const Frame& frame) const {
  if (frame.row < 0 || static_cast<std::size_t>(frame.row) >= digest_.rows.size()) return nullptr;
  return &digest_.rows[static_cast<std::size_t>(frame.row)].text;
}

void DigestBuilder::OnNodeResult(Result overall) {
  if (!frames_.empty()) frames_.back().overall = overall;
}

void DigestBuilder::OnNodeEnd() {
  if (frames_.empty()) return;
  Frame frame = std::move(frames_.back());
  frames_.pop_back();
  open_rows_.pop_back();
  if (frames_.empty()) digest_.verdict = frame.runs == 0 ? TestNotRun : frame.overall;
  if (!frame.block && !frame.ignored && frame.runs > 0 && frame.overall >= 0 && frame.overall <= TestAborted) {
    ++digest_.statements[static_cast<std::size_t>(frame.overall)];
  }
  if (frame.failing_runs > 0 && !frame.block && !frame.ignored) EndFailure(frame);
  if (frame.failing_runs == 0 && frame.warning_runs > 0 && !frame.block && !frame.ignored) EndWarning(frame);
  if (frame.row >= 0 && static_cast<std::size_t>(frame.row) < digest_.rows.size() &&
      digest_.rows[static_cast<std::size_t>(frame.row)].index == frame.index) {
    EndRow(frame);
  }
}

std::string DigestBuilder::SourceLine(const std::string& file, std::uint32_t line) {
  constexpr std::uintmax_t kMaxSourceBytes = 16u << 20;
  auto [at, added] = sources_.try_emplace(file);
  if (added) {
    std::error_code error;
    std::uintmax_t size = std::filesystem::file_size(file, error);
    std::ifstream in(file, std::ios::binary);
    std::string text;
    while (!error && size <= kMaxSourceBytes && in && std::getline(in, text)) {
      if (!text.empty() && text.back() == '\r') text.pop_back();
      at->second.push_back(std::move(text));
    }
  }
  if (line == 0 || line > at->second.size()) return std::string();
  const std::string& whole = at->second[line - 1];
  std::size_t start = whole.find_first_not_of(" \t");
  std::size_t end = whole.find_last_not_of(" \t");
  std::string quoted = start == std::string::npos ? std::string() : whole.substr(start, end - start + 1);
  CutText(quoted, kMaxValuesText);
  return quoted;
}

void DigestBuilder::Place(Frame& frame, FailureDigest& statement) {
  statement.text = frame.text;
  statement.file = frame.file;
  statement.line = frame.line;
  if (frame.annotated && !frame.file.empty()) {
    // Quoted only when the line holds the statement's first word: a line that does not (an
    // edited file, a statement the parser placed elsewhere) would point at the wrong code.
    std::string source = SourceLine(frame.file, frame.line);
    std::string first_word = frame.text.substr(0, frame.text.find_first_of(" ("));
    if (!first_word.empty() && source.find(first_word) != std::string::npos) statement.source = std::move(source);
  }
  statement.runs = frame.runs;
  if (frame.annotated && notes_ != nullptr) {
    auto lines = notes_->failure_logs.find(frame.index);
    if (lines != notes_->failure_logs.end()) statement.log_lines = lines->second;
  }
}

template <typename Visit>
bool DigestBuilder::ForEachOpenRow(Visit visit) {
  bool in_row = false;
  long previous = -1;
  for (long row : open_rows_) {
    // The stack repeats a row for every level inside it.
    if (row < 0 || row == previous) continue;
    previous = row;
    in_row = true;
    visit(digest_.rows[static_cast<std::size_t>(row)]);
  }
  return in_row;
}

void DigestBuilder::EndWarning(Frame& frame) {
  FailureDigest& warning = frame.warning;
  Place(frame, warning);
  warning.failing_runs = frame.warning_runs;
  ++digest_.warnings_total;
  bool in_row = ForEachOpenRow([&](RowDigest& digest_row) {
    if (digest_row.warning_statements++ == 0) digest_row.first_warning = warning;
  });
  if (!in_row && digest_.warnings_outside_rows++ == 0) digest_.first_outside_warning = warning;
  if (digest_.warnings.size() < kMaxFailures) digest_.warnings.push_back(std::move(warning));
}

void DigestBuilder::EndFailure(Frame& frame) {
  FailureDigest& failure = frame.failure;
  Place(frame, failure);
  failure.failing_runs = frame.failing_runs;
  failure.uncounted = frame.condition && !(notes_ != nullptr && notes_->strict);
  ++digest_.failures_total;
  if (failure.uncounted) {
    // Listed as such, but no named result fails for it, as the verdict does not.
    ++digest_.uncounted_total;
    if (digest_.failures.size() < kMaxFailures) digest_.failures.push_back(std::move(failure));
    return;
  }
  // The rows around the statement: each keeps the first failure inside it.
  bool in_row = ForEachOpenRow([&](RowDigest& digest_row) {
    ++digest_row.failing_statements;
    if (!digest_row.has_failure) {
      digest_row.has_failure = true;
      digest_row.first_failure = failure;
    }
  });
  if (!in_row && digest_.failures_outside_rows++ == 0) digest_.first_outside_failure = failure;
  if (targets_.count(frame.index) != 0) target_failures_.push_back(failure);
  if (digest_.failures.size() < kMaxFailures) digest_.failures.push_back(std::move(failure));
}

void DigestBuilder::EndRow(const Frame& frame) {
  RowDigest& row = digest_.rows[static_cast<std::size_t>(frame.row)];
  row.counts = frame.counts;
  row.overall = frame.runs == 0 ? TestNotRun : frame.overall;
  row.time_taken = frame.time_taken;
}

RunDigest DigestBuilder::Finish() {
  // A row whose failing statement sat in a function it called: the run saw which one it was.
  if (notes_ != nullptr && digest_.annotated) {
    for (RowDigest& row : digest_.rows) {
      if (row.has_failure || !IsFailure(row.overall)) continue;
      auto target = notes_->row_failures.find(row.index);
      if (target == notes_->row_failures.end()) continue;
      for (const FailureDigest& failure : target_failures_) {
        if (failure.index != target->second) continue;
        row.has_failure = true;
        row.first_failure = failure;
        row.failing_statements = 1;
        break;
      }
    }
  }
  return std::move(digest_);
}

bool DigestResults(const std::string& path, const RunAnnotations* notes, RunDigest* digest,
                   std::string* error) {
  DigestBuilder builder(notes);
  if (!ReadResults(path, {&builder}, notes, error)) return false;
  *digest = builder.Finish();
  return true;
}

}  // namespace ordalis::report
