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

#include <optional>
#include <string>
#include <string_view>

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

// The word a comparison is written as ("GELE", "GTLT", "GE", "LE", "EQ", "NE", "LOG").
const char* ComparisonWord(Comparison comparison);
// The comparison [word] names, ignoring case; false for a word that names none.
bool ComparisonFromWord(std::string_view word, Comparison* comparison);

}  // namespace ordalis
