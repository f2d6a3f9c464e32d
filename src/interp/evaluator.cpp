#include "interp/evaluator.h"

#include <bit>
#include <cstdlib>
#include <cstring>
#include <string>

#include "interp/builtin_values.h"
#include "interp/run_judge.h"
#include "interp/variables.h"
#include "language/script_item.h"

namespace ordalis {

namespace {

constexpr const char* kScript = "script";

bool IsSingle(const VariableValue& value) { return value.ElementCount() == 1; }

bool IsNumber(const VariableValue& value) {
  return value.kind() == ValueKind::Integer || value.kind() == ValueKind::Double;
}

// Number literals arrive as decimal text; a value beyond 32 bits keeps its low 32 bits.
std::int32_t IntegerLiteralValue(const std::string& text) {
  // A literal is read on every evaluation, and most are up to eight plain digits: those are
  // read eight bytes at once (the text right-aligned behind '0's), anything else by strtoll.
  if (!text.empty() && text.size() <= 8) {
    char padded[8];
    std::memset(padded, '0', sizeof padded);
    std::memcpy(padded + (8 - text.size()), text.data(), text.size());
    std::uint64_t chunk = 0;
    std::memcpy(&chunk, padded, sizeof chunk);
    std::uint64_t digits = chunk - 0x3030303030303030u;
    // Every byte a digit: none below '0' (no borrow into bit 7) and none above '9'.
    if (((chunk + 0x4646464646464646u) | digits) & 0x8080808080808080u) {
      // not eight plain digits: strtoll below
    } else if constexpr (std::endian::native == std::endian::little) {
      digits = (digits * 10 + (digits >> 8)) & 0x00FF00FF00FF00FFu;
      digits = (digits * 100 + (digits >> 16)) & 0x0000FFFF0000FFFFu;
      digits = (digits * 10000 + (digits >> 32)) & 0xFFFFFFFFu;
      return static_cast<std::int32_t>(static_cast<std::uint32_t>(digits));
    }
  }
  long long number = std::strtoll(text.c_str(), nullptr, 10);
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(number));
}

VariableValue IntegerLiteral(const std::string& text) { return VariableValue(IntegerLiteralValue(text)); }

// Appends the value of a literal item; false when [item] is no literal.
bool AppendLiteral(const ScriptItem* item, VariableValue* value) {
  switch (item->type()) {
    case integerItem:
    case hexItem:
    case octalItem: value->Append(IntegerLiteral(item->text())); return true;
    case stringItem: value->Append(VariableValue(item->text())); return true;
    case boolItem: value->Append(VariableValue(item->text() == "true")); return true;
    case doubleItem: value->Append(VariableValue(std::strtod(item->text().c_str(), nullptr))); return true;
    default: return false;
  }
}

std::int64_t TimeOf(IScriptContext& script, TimeSource source) {
  switch (source) {
    case TimeSource::kLoad: return script.load_time();
    case TimeSource::kRun: return script.run_time();
    default: return script.current_time();
  }
}

// The built-in value [name] stands for; false when it is none.
bool BuiltInFor(IScriptContext& script, const std::string& name, VariableValue* value) {
  auto builtin = MatchBuiltIn(name);
  if (!builtin) return false;
  *value = BuiltInValue(builtin->value, TimeOf(script, builtin->time), script.logger());
  return true;
}

Result EvaluateIndexed(IScriptContext& script, ScriptItem* item, VariableValue* value) {
  if (item->child_count() < 2) {
    script.logger().Log(severe, kScript, "Invalid array item");
    return TestFailed;
  }
  if (!EvaluateIndex(script, item, value)) {
    script.logger().Log(severe, kScript, "index out of range");
    return TestFailed;
  }
  return TestPassed;
}

Result TestResultWord(const std::string& text) {
  if (text == "passed") return TestPassed;
  if (text == "failed") return TestFailed;
  if (text == "warning") return TestWarning;
  return TestError;
}

// Records a malformed condition on its item and reports it to the caller.
bool ConditionError(IScriptContext& script, ScriptItem* item, Result* result) {
  item->RecordResult(TestError, script.iteration(), 0.0);
  script.FireExecuted(item);
  *result = TestError;
  return false;
}

bool Compare(ItemType type, const VariableValue& left, const VariableValue& right) {
  switch (type) {
    case lessThanItem: return VariableValue::Less(left, right);
    case lessThanOrEqualItem: return VariableValue::LessOrEqual(left, right);
    case equalItem: return VariableValue::Equal(left, right);
    case greaterThanOrEqualItem: return VariableValue::GreaterOrEqual(left, right);
    case greaterThanItem: return VariableValue::Greater(left, right);
    default: return VariableValue::NotEqual(left, right);
  }
}

// The one plain value of a literal, or of a script variable holding one, as a comparison
// reads it; false for anything else, which is then evaluated in full. Taking the value this
// way leaves out only the array around it, which the comparison would drop.
bool PlainOperand(IScriptContext& script, const ScriptItem* item, VariableValue* value) {
  switch (item->type()) {
    case integerItem:
    case hexItem:
    case octalItem: value->SetInteger(IntegerLiteralValue(item->text())); return true;
    case idItem: {
      std::string lowered;
      return script.variables().GetScalar(KeyFor(item->text(), &lowered), value);
    }
    default: return false;
  }
}

// The integer a literal or a script variable holding one integer is, as a comparison reads it;
// false for anything else.
bool IntegerOperand(IScriptContext& script, const ScriptItem* item, std::int32_t* value) {
  switch (item->type()) {
    case integerItem:
    case hexItem:
    case octalItem: *value = IntegerLiteralValue(item->text()); return true;
    case idItem: {
      std::string lowered;
      return script.variables().GetInteger(KeyFor(item->text(), &lowered), value);
    }
    default: return false;
  }
}

// [type] applied to two integers, as Compare orders two integer values.
bool CompareIntegers(ItemType type, std::int32_t left, std::int32_t right) {
  switch (type) {
    case lessThanItem: return left < right;
    case lessThanOrEqualItem: return left <= right;
    case equalItem: return left == right;
    case greaterThanOrEqualItem: return left >= right;
    case greaterThanItem: return left > right;
    default: return left != right;
  }
}

bool IsComparison(ItemType type) {
  return type >= lessThanItem && type <= notEqualItem;
}

}  // namespace

Result EvaluateValue(IScriptContext& script, ScriptItem* item, VariableValue* value) {
  if (AppendLiteral(item, value)) return TestPassed;
  switch (item->type()) {
    case idItem: {
      std::string name;
      VariableValue found;
      if (FindVariable(script, item, &name, &found)) {
        *value = std::move(found);
        return TestPassed;
      }
      if (BuiltInFor(script, item->text(), value)) return TestPassed;
      script.logger().Log(severe, kScript, "Variable %s not found", item->text().c_str());
      return TestFailed;
    }
    case arithmeticItem: return EvaluateArithmetic(script, item, value);
    case testResultItem: value->Append(VariableValue(TestResultWord(item->text()))); return TestPassed;
    case arrayIndexItem: return EvaluateIndexed(script, item, value);
    case arrayLengthItem: {
      VariableValue length;
      Result result = ArrayLength(script, item, ArrayLengthUse::kExpression, &length);
      if (result == TestPassed) value->Append(std::move(length));
      return result;
    }
    case actionItem: return script.CallAction(item, value, std::string()).result;
    default:
      script.logger().Log(severe, kScript, "Unknown type (%d) for item %s",
                          static_cast<int>(item->type()), item->text().c_str());
      return TestFailed;
  }
}

Result EvaluateArrayElement(IScriptContext& script, ScriptItem* item, VariableValue* value) {
  if (AppendLiteral(item, value)) return TestPassed;
  switch (item->type()) {
    case idItem: {
      std::string name;
      VariableValue found;
      if (FindVariable(script, item, &name, &found)) {
        if (found.kind() == ValueKind::Array && found.ElementCount() == 1) {
          value->Append(std::move(found.Element(0)));
        } else {
          value->Append(std::move(found));
        }
        return TestPassed;
      }
      if (BuiltInFor(script, item->text(), &found)) {
        value->Append(std::move(found));
        return TestPassed;
      }
      script.logger().Log(warning, kScript, "variable %s not found returning 0", item->text().c_str());
      CountFault(script);
      return TestError;
    }
    case arrayIndexItem: {
      // The indexed element joins the values before it rather than replacing them, so a list
      // such as 1, a[0] keeps both.
      VariableValue element;
      Result result = EvaluateIndexed(script, item, &element);
      if (result == TestPassed) value->Append(std::move(element));
      return result;
    }
    case arrayItem: {
      VariableValue elements;
      for (std::size_t i = 0; i < item->child_count(); ++i) {
        Result result = EvaluateArrayElement(script, item->child(i), &elements);
        if (result != TestPassed) return result;
      }
      value->Append(std::move(elements));
      return TestPassed;
    }
    default: return TestFailed;
  }
}

// <left> + - * / % ^ <right>
Result EvaluateArithmetic(IScriptContext& script, ScriptItem* item, VariableValue* value) {
  if (item->child_count() != 2) {
    script.logger().Log(severe, kScript, "Invalid arithmentic operation");
    return TestFailed;
  }
  VariableValue left_value;
  VariableValue right_value;
  Result result = EvaluateValue(script, item->child(0), &left_value);
  if (result != TestPassed) return result;
  result = EvaluateValue(script, item->child(1), &right_value);
  if (result != TestPassed) return result;

  VariableValue outcome;
  if (IsSingle(left_value) && IsSingle(right_value)) {
    const VariableValue& left = left_value.Element(0);
    const VariableValue& right = right_value.Element(0);
    const char op = item->text().empty() ? '\0' : item->text()[0];
    if (IsNumber(left) && IsNumber(right)) {
      switch (op) {
        case '+': outcome = VariableValue::Add(left, right); break;
        case '-': outcome = VariableValue::Subtract(left, right); break;
        case '*': outcome = VariableValue::Multiply(left, right); break;
        case '^': outcome = VariableValue::Power(left, right); break;
        case '/':
          if (right.dbl() == 0.0) {
            script.logger().Log(severe, kScript, "Division by zero not allowed");
            return TestError;
          }
          outcome = VariableValue::Divide(left, right);
          break;
        case '%':
          if (left.kind() != ValueKind::Integer || right.kind() != ValueKind::Integer) {
            script.logger().Log(severe, kScript, "Modulus must be on integers");
            return TestError;
          }
          if (right.integer() == 0) {
            script.logger().Log(severe, kScript, "Modulus of zero not allowed");
            return TestError;
          }
          outcome = VariableValue::Remainder(left, right);
          break;
        default:
          script.logger().Log(severe, kScript, "Unknown arithmetic operation");
          return TestFailed;
      }
      value->ClearToArray();
      value->Append(std::move(outcome));
      return TestPassed;
    }
    if (left.kind() == ValueKind::String && right.kind() == ValueKind::String && op == '+') {
      value->ClearToArray();
      value->Append(VariableValue::Add(left, right));
      return TestPassed;
    }
  }
  script.logger().Log(severe, kScript, "Invalid arithmentic operation");
  return TestFailed;
}

bool EvaluateCondition(IScriptContext& script, ScriptItem* item, Result* result) {
  script.SetCurrentItem(item);
  const ItemType type = item->type();
  switch (item->child_count()) {
    case 2: {
      if (type == andItem) {
        return EvaluateCondition(script, item->child(0), result) &&
               EvaluateCondition(script, item->child(1), result);
      }
      if (type == orItem) {
        return EvaluateCondition(script, item->child(0), result) ||
               EvaluateCondition(script, item->child(1), result);
      }
      if (!IsComparison(type)) {
        script.logger().Log(severe, kScript, "Unknown conditional type %d %s",
                            static_cast<int>(type), item->text().c_str());
        return ConditionError(script, item, result);
      }
      // The usual loop condition compares a counter with a number: read as integers, without
      // making values.
      std::int32_t left_integer = 0;
      std::int32_t right_integer = 0;
      if (IntegerOperand(script, item->child(0), &left_integer) &&
          IntegerOperand(script, item->child(1), &right_integer)) {
        return CompareIntegers(type, left_integer, right_integer);
      }
      VariableValue left;
      VariableValue right;
      if (!PlainOperand(script, item->child(0), &left) &&
          EvaluateValue(script, item->child(0), &left) != TestPassed) {
        return false;
      }
      if (!PlainOperand(script, item->child(1), &right) &&
          EvaluateValue(script, item->child(1), &right) != TestPassed) {
        return false;
      }
      if (!IsSingle(left) || !IsSingle(right)) {
        script.logger().Log(severe, kScript, "Conditional requires single value on left and right %s",
                            item->text().c_str());
        return ConditionError(script, item, result);
      }
      return Compare(type, left.Element(0), right.Element(0));
    }
    case 1:
      if (type == notItem) return !EvaluateCondition(script, item->child(0), result);
      break;
    case 0:
      if (type == idItem) {
        std::string name;
        VariableValue value;
        if (!FindVariable(script, item, &name, &value)) {
          // A missing name reads as false; a strict run treats it as the condition error it is.
          if (!StrictRun(script)) {
            CountFault(script);
            return false;
          }
          script.logger().Log(severe, kScript, "Variable %s not found", item->text().c_str());
          return ConditionError(script, item, result);
        }
        if (value.ElementCount() > 0 && value.Element(0).kind() == ValueKind::Boolean) {
          return value.Element(0).boolean();
        }
        script.logger().Log(severe, kScript, "Unknown conditional statement format %d", 0);
        return false;
      }
      if (type == boolItem) return item->text() == "true";
      break;
    default: break;
  }
  script.logger().Log(severe, kScript, "Unknown conditional statement format %d",
                      static_cast<int>(item->child_count()));
  return ConditionError(script, item, result);
}

bool EvaluateIndexNumber(IScriptContext& script, ScriptItem* item, std::int32_t* index) {
  VariableValue value;
  if (EvaluateValue(script, item, &value) != TestPassed || !IsSingle(value)) return false;
  const VariableValue& number = value.Element(0);
  if (number.kind() != ValueKind::Integer) return false;
  *index = number.integer();
  return true;
}

// <name>[<index>][<index>]…
bool EvaluateIndex(IScriptContext& script, ScriptItem* item, VariableValue* value) {
  std::string name;
  VariableValue current;
  if (item->child_count() == 0 || !FindVariable(script, item->child(0), &name, &current)) {
    const char* written = item->child_count() > 0 ? item->child(0)->text().c_str() : "";
    script.logger().Log(severe, kScript, "Error: variable %s not found", written);
    return false;
  }
  for (std::size_t i = 1; i < item->child_count(); ++i) {
    std::int32_t index = -1;
    if (!EvaluateIndexNumber(script, item->child(i), &index)) {
      script.logger().Log(severe, "Script", "Invalid array index");
      return false;
    }
    if (index >= 0 && static_cast<std::size_t>(index) < current.ElementCount()) {
      VariableValue element = std::move(current.Element(static_cast<std::size_t>(index)));
      current = std::move(element);
      continue;
    }
    if (index >= 0 && current.ElementCount() > 0 && current.Element(0).kind() == ValueKind::String &&
        static_cast<std::size_t>(index) < current.Element(0).text().size()) {
      VariableValue byte(current.Element(0).text()[static_cast<std::size_t>(index)]);
      current = std::move(byte);
      continue;
    }
    script.logger().Log(severe, "Script", "Invalid array index");
    return false;
  }
  *value = std::move(current);
  return true;
}

}  // namespace ordalis
