#include "language/measurement.h"

#include <array>
#include <cctype>
#include <utility>

namespace ordalis {
namespace {

constexpr std::array<std::pair<Comparison, const char*>, 7> kComparisonWords{{
    {Comparison::kBetweenInclusive, "GELE"},
    {Comparison::kBetweenExclusive, "GTLT"},
    {Comparison::kAtLeast, "GE"},
    {Comparison::kAtMost, "LE"},
    {Comparison::kEqual, "EQ"},
    {Comparison::kNotEqual, "NE"},
    {Comparison::kLogOnly, "LOG"},
}};

bool SameWord(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

}  // namespace

const char* ComparisonWord(Comparison comparison) {
  for (const auto& [value, word] : kComparisonWords) {
    if (value == comparison) return word;
  }
  return "LOG";
}

const char* MeasuredKindWord(MeasuredKind kind) {
  switch (kind) {
    case MeasuredKind::kText: return "String";
    case MeasuredKind::kBoolean: return "Boolean";
    case MeasuredKind::kNumber: break;
  }
  return "Double";
}

bool MeasuredKindFromWord(std::string_view word, MeasuredKind* kind) {
  for (MeasuredKind each : {MeasuredKind::kNumber, MeasuredKind::kText, MeasuredKind::kBoolean}) {
    if (word == MeasuredKindWord(each)) {
      *kind = each;
      return true;
    }
  }
  return false;
}

Result JudgeMeasurement(Comparison comparison, double value, std::optional<double> low,
                        std::optional<double> high) {
  auto verdict = [](bool held) { return held ? TestPassed : TestFailed; };
  // A comparison with a NaN is false, so a value that is not a number fails every limit.
  switch (comparison) {
    case Comparison::kBetweenInclusive:
      return verdict(low && high && *low <= value && value <= *high);
    case Comparison::kBetweenExclusive:
      return verdict(low && high && *low < value && value < *high);
    case Comparison::kAtLeast:
      return verdict(low && value >= *low);
    case Comparison::kAtMost:
      return verdict(high && value <= *high);
    case Comparison::kEqual:
      return verdict(low && value == *low);
    case Comparison::kNotEqual:
      return verdict(low && value == value && value != *low);
    case Comparison::kLogOnly:
      return TestPassed;
  }
  return TestPassed;
}

bool ComparisonFromWord(std::string_view word, Comparison* comparison) {
  for (const auto& [value, name] : kComparisonWords) {
    if (SameWord(word, name)) {
      *comparison = value;
      return true;
    }
  }
  return false;
}

}  // namespace ordalis
