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
