#pragma once
// Measurement: a value an action measured, with its name, unit and limits, as the engine records
// it on a run of a statement, writes it into the results document and keeps it in the results
// store. A tester reports it; when the tester gives no name, the statement's result label (or the
// action's name) names it.
//
// In the results document a run carries its measurements after its values, all optional:
//   <measurements>
//     <measurement>
//       <name>3.3 V rail</name>
//       <type>Double</type>            Double, String or Boolean
//       <value>4.9963</value>          the value as written by the tester (Boolean: true/false)
//       <unit>V</unit>                 optional; a text symbol, UTF-8 (V, A, Ω, dBm, °C)
//       <low>3.2</low>                 optional
//       <high>3.4</high>               optional
//       <comparison>GELE</comparison>  see ComparisonWord
//       <result>Failed</result>        the measurement's own verdict
//     </measurement>
//   </measurements>

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ordalis/types.h"

namespace ordalis {

// How a value is held against its limits.
enum class Comparison {
  kBetweenInclusive,  // GELE: low <= value <= high
  kBetweenExclusive,  // GTLT: low < value < high
  kAtLeast,           // GE:   value >= low
  kAtMost,            // LE:   value <= high
  kEqual,             // EQ:   value == low
  kNotEqual,          // NE:   value != low
  kLogOnly,           // LOG:  recorded, never judged
};

enum class MeasuredKind { kNumber, kText, kBoolean };

struct Measurement {
  std::string name;
  MeasuredKind kind = MeasuredKind::kNumber;
  double number = 0.0;  // the value of a number; 1 or 0 for a boolean
  std::string text;     // the value as written, for every kind
  std::string unit;
  std::optional<double> low;
  std::optional<double> high;
  Comparison comparison = Comparison::kLogOnly;
  Result result = TestPassed;
};

// The measurements of one run as a result record holds them: one empty pointer when the run has
// none, which is most runs, so a record without measurements costs no allocation and one word.
class MeasurementList {
 public:
  MeasurementList() = default;
  MeasurementList(const MeasurementList& other)
      : list_(other.list_ ? std::make_unique<std::vector<Measurement>>(*other.list_) : nullptr) {}
  MeasurementList(MeasurementList&&) noexcept = default;
  MeasurementList& operator=(const MeasurementList& other) {
    if (this != &other) MeasurementList(other).swap(*this);
    return *this;
  }
  MeasurementList& operator=(MeasurementList&&) noexcept = default;
  explicit MeasurementList(std::vector<Measurement> list) {
    if (!list.empty()) list_ = std::make_unique<std::vector<Measurement>>(std::move(list));
  }

  bool empty() const { return !list_ || list_->empty(); }
  std::size_t size() const { return list_ ? list_->size() : 0; }
  const Measurement* begin() const { return list_ ? list_->data() : nullptr; }
  const Measurement* end() const { return list_ ? list_->data() + list_->size() : nullptr; }
  const Measurement& operator[](std::size_t index) const { return (*list_)[index]; }
  void push_back(Measurement measurement) {
    if (!list_) list_ = std::make_unique<std::vector<Measurement>>();
    list_->push_back(std::move(measurement));
  }
  void clear() { list_.reset(); }
  void swap(MeasurementList& other) noexcept { list_.swap(other.list_); }

 private:
  std::unique_ptr<std::vector<Measurement>> list_;
};

// The verdict [comparison] gives a number [value] against [low] and [high]: Passed or Failed; a
// limit the comparison needs and that is missing, or a value that is not a number, fails it.
// Log-only is always Passed.
Result JudgeMeasurement(Comparison comparison, double value, std::optional<double> low,
                        std::optional<double> high);

// A limit as it is shown and written: the shortest form that reads back as the same number.
std::string LimitText(double limit);
// The limits as the comparison reads them, with the unit: "3.2–3.4 V", "3.2 < x < 3.4 V",
// "≥ 3.2 V", "≤ 3.4 V", "= 1", "≠ 0"; empty for log-only or when a limit it needs is missing.
std::string LimitsText(const Measurement& measurement);
// The measurement as one phrase: "DCV = 4.9963 V, limits 3.2–3.4 V" (a text value in quotes).
std::string MeasurementPhrase(const Measurement& measurement);

// The type word a measured value is written with ("Double", "String", "Boolean"), and back
// (false for a word that names none; case matters, as for the values' types).
const char* MeasuredKindWord(MeasuredKind kind);
bool MeasuredKindFromWord(std::string_view word, MeasuredKind* kind);

// The word a comparison is written as ("GELE", "GTLT", "GE", "LE", "EQ", "NE", "LOG").
const char* ComparisonWord(Comparison comparison);
// The comparison [word] names, ignoring case; false for a word that names none.
bool ComparisonFromWord(std::string_view word, Comparison* comparison);

}  // namespace ordalis
