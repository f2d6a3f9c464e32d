#include "interp/measurement_intake.h"

#include <charconv>
#include <memory>

#include "codec/literal_text.h"
#include "language/script_item.h"

namespace ordalis {

namespace {

// The SDK's comparisons are numbered as the engine's are listed.
static_assert(static_cast<int>(Comparison::kBetweenInclusive) == CompareBetweenInclusive &&
              static_cast<int>(Comparison::kBetweenExclusive) == CompareBetweenExclusive &&
              static_cast<int>(Comparison::kAtLeast) == CompareAtLeast &&
              static_cast<int>(Comparison::kAtMost) == CompareAtMost &&
              static_cast<int>(Comparison::kEqual) == CompareEqual &&
              static_cast<int>(Comparison::kNotEqual) == CompareNotEqual &&
              static_cast<int>(Comparison::kLogOnly) == CompareLogOnly);

std::string ShortestNumber(double value) {
  char text[64];
  auto written = std::to_chars(text, text + sizeof text, value);
  return std::string(text, written.ptr);
}

}  // namespace

MeasuredValues TakeReportedMeasurements(ITester& tester) {
  MeasuredValues measured;
  auto* source = dynamic_cast<ITesterMeasurements*>(&tester);
  if (source == nullptr) return measured;
  try {
    if (Failed(source->TakeMeasurements(&measured))) measured.clear();
  } catch (...) {
    measured.clear();
  }
  return measured;
}

std::string UnnamedMeasurementName(const ScriptItem& action) {
  for (const ScriptItem* item = action.parent(); item != nullptr; item = item->parent()) {
    if (item->type() == resultItem) return item->text();
  }
  return action.child_count() > 1 ? action.child(1)->text() : action.text();
}

Measurement RecordedMeasurement(const MeasuredValue& reported, const std::string& unnamed) {
  Measurement m;
  m.name = reported.name.empty() ? unnamed : reported.name;
  double number = 0;
  if (reported.value.type() == VT_BSTR) {
    m.kind = MeasuredKind::kText;
    m.text = reported.value.as_string();
  } else if (reported.value.type() == VT_BOOL) {
    m.kind = MeasuredKind::kBoolean;
    m.number = reported.value.as_bool() ? 1.0 : 0.0;
    m.text = reported.value.as_bool() ? "true" : "false";
  } else if (MeasuredValue::NumberOf(reported.value, &number)) {
    m.number = number;
    m.text = ShortestNumber(number);
  } else {
    m.kind = MeasuredKind::kText;
    m.text = LiteralText(std::make_shared<VariantArray>(VariantArray{reported.value}));
  }
  m.unit = reported.unit;
  if (reported.has_low) m.low = reported.low;
  if (reported.has_high) m.high = reported.high;
  m.comparison = reported.comparison >= CompareBetweenInclusive && reported.comparison <= CompareLogOnly
                     ? static_cast<Comparison>(reported.comparison)
                     : Comparison::kLogOnly;
  m.result = reported.result >= TestPassed && reported.result <= TestAborted ? reported.result : TestError;
  return m;
}

}  // namespace ordalis
