#include "language/measurement.h"

#include <array>
#include <cctype>
#include <charconv>
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

std::string LimitText(double limit) {
  char text[64];
  auto written = std::to_chars(text, text + sizeof text, limit);
  return std::string(text, written.ptr);
}

namespace {

std::string WithUnit(std::string text, const std::string& unit) {
  if (!unit.empty()) text += " " + unit;
  return text;
}

}  // namespace

std::string LimitsText(const Measurement& m) {
  const bool both = m.low && m.high;
  switch (m.comparison) {
    case Comparison::kBetweenInclusive:
      return both ? WithUnit(LimitText(*m.low) + "\u2013" + LimitText(*m.high), m.unit) : std::string();
    case Comparison::kBetweenExclusive:
      return both ? WithUnit(LimitText(*m.low) + " < x < " + LimitText(*m.high), m.unit) : std::string();
    case Comparison::kAtLeast: return m.low ? WithUnit("\u2265 " + LimitText(*m.low), m.unit) : std::string();
    case Comparison::kAtMost: return m.high ? WithUnit("\u2264 " + LimitText(*m.high), m.unit) : std::string();
    case Comparison::kEqual: return m.low ? WithUnit("= " + LimitText(*m.low), m.unit) : std::string();
    case Comparison::kNotEqual: return m.low ? WithUnit("\u2260 " + LimitText(*m.low), m.unit) : std::string();
    case Comparison::kLogOnly: break;
  }
  return std::string();
}

std::string MeasurementPhrase(const Measurement& m) {
  std::string out = m.name + " = ";
  out += m.kind == MeasuredKind::kText ? "\"" + m.text + "\"" : WithUnit(m.text, m.unit);
  std::string limits = LimitsText(m);
  if (!limits.empty()) out += ", limits " + limits;
  return out;
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
