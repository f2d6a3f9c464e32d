// The constructs the language parses but does not evaluate where they stand: calls and array
// literals as operands or arguments, expressions in return lists and after the first value of
// an assignment, values that are no conditions, and the statement forms whose ScriptText the
// results report as errors.

#include <array>

#include "check/check_walk.h"

namespace ordalis::check {

namespace {

constexpr const char* kConditionForms =
    "a condition is a comparison, a Boolean variable, true or false, or 'and', 'or', 'not' of "
    "those";

bool IsLiteral(ItemType type) {
  switch (type) {
    case integerItem: case hexItem: case octalItem: case stringItem: case boolItem:
    case doubleItem:
      return true;
    default:
      return false;
  }
}

bool IsCall(ItemType type) {
  return type == functionCallItem || type == sprintfItem || type == sscanfItem;
}

bool IsConditionKind(ItemType type) {
  return (type >= lessThanItem && type <= notEqualItem) || type == andItem || type == orItem ||
         type == notItem;
}

// Where an operand stands, in words.
std::string PlaceOf(const ScriptItem* parent) {
  if (parent == nullptr) return "here";
  switch (parent->type()) {
    case idItem:
      if (parent->parent() && parent->parent()->type() == newItem) return "as a tester parameter";
      return "as an action argument";
    case actionItem: return "as the tester of an action";
    case functionCallItem: return "as an argument of " + CallName(*parent);
    case sprintfItem: return "as an argument of sprintf";
    case sscanfItem: return "as an argument of sscanf";
    case sleepItem: return "as the time of sleep";
    case assertItem: return "as a value of assert";
    case arithmeticItem: return "as an operand of '" + parent->text() + "'";
    case moveLogFileItem: case copyLogFileItem: return "as a log file name";
    case arrayIndexItem: return "as an index";
    default: return "as an operand of a comparison";
  }
}

// Arguments handed on as an array of values: what they cannot evaluate becomes its text.
bool PassesTextOnFailure(const ScriptItem* parent) {
  if (parent == nullptr) return false;
  ItemType type = parent->type();
  return type == idItem || type == sprintfItem || type == sscanfItem ||
         (type == functionCallItem && CallName(*parent) == "printf");
}

void ValueRule(const ScriptItem& item, bool arrays_allowed, std::vector<Finding>& findings) {
  const ItemType type = item.type();
  const ScriptItem* parent = item.parent();
  std::string text = SourceLine(item);
  if (IsCall(type)) {
    Report(findings, Severity::kError, item,
           "the call " + Quoted(item) + " is not evaluated " + PlaceOf(parent) +
               ": assign it to a variable first (value = " + text + ") and use the variable");
  } else if (type == arrayItem && !arrays_allowed) {
    std::string passed = PassesTextOnFailure(parent) ? " (it is passed as the text '[]')" : "";
    Report(findings, Severity::kError, item,
           "the array literal " + Quoted(item) + " is not evaluated " + PlaceOf(parent) + passed +
               ": assign it to a variable first (list = " + text + ") and use the variable");
  } else if (IsConditionKind(type)) {
    Report(findings, Severity::kError, item,
           "the condition " + Quoted(item) + " is not a value " + PlaceOf(parent) +
               ": assign it first (ok = " + text + ") and use the variable");
  }
}

void ConditionRule(const ScriptItem& item, std::vector<Finding>& findings) {
  const ItemType type = item.type();
  std::size_t count = item.child_count();
  bool binary = (type >= lessThanItem && type <= notEqualItem) || type == andItem || type == orItem;
  if ((binary && count == 2) || (type == notItem && count == 1) ||
      (type == idItem && count == 0) || type == boolItem) {
    return;
  }
  std::string text = SourceLine(item);
  std::string what;
  if (type == actionItem) {
    what = "the action call " + Quoted(item) + " is not a condition: compare its value ('" +
           text + " == true')";
  } else if (IsCall(type)) {
    what = "the call " + Quoted(item) + " is not evaluated in a condition: assign it first (v = " +
           text + ") and compare the variable ('v == true')";
  } else if (type == arrayIndexItem) {
    what = "the element " + Quoted(item) + " is not a condition: compare it ('" + text +
           " == true')";
  } else {
    what = Quoted(item) + " is not a condition";
  }
  Report(findings, Severity::kError, item, what + "; " + kConditionForms);
}

void ElementRule(const ScriptItem& item, std::vector<Finding>& findings) {
  const ItemType type = item.type();
  if (IsLiteral(type) || type == idItem || type == arrayIndexItem || type == arrayItem) return;
  const ScriptItem* parent = item.parent();
  std::string text = SourceLine(item);
  if (type == testResultItem) {
    Report(findings, Severity::kError, item,
           "the result word '" + item.text() + "' is no value in a list or a return; to end " +
               "with this result, write it as a statement of its own ('" + item.text() + "')");
  } else if (parent && parent->type() == returnItem) {
    Report(findings, Severity::kError, item,
           "'return' takes values, not expressions or calls: " + Quoted(item) +
               " is not evaluated in a return list; assign it first (value = " + text +
               ") and return the variable");
  } else if (parent && parent->type() == assignmentItem) {
    Report(findings, Severity::kError, item,
           "after a first plain value only plain values may follow: " + Quoted(item) +
               " is not evaluated and the assignment stores nothing; compute it into a "
               "variable first");
  } else {
    Report(findings, Severity::kError, item,
           "an array literal holds values, not expressions or calls: " + Quoted(item) +
               " is not evaluated inside '[ ]'; compute it into a variable first");
  }
}

void AssignedRule(const ScriptItem& item, std::vector<Finding>& findings) {
  if (item.type() != testResultItem) return;
  Report(findings, Severity::kError, item,
         "a result word cannot be assigned ('= " + item.text() + "' stores nothing): compare " +
             "with it where it is needed ('if r == " + item.text() + " then')");
}

void IgnoredValueRule(const ScriptItem& item, std::vector<Finding>& findings) {
  const ScriptItem* first = item.parent() ? item.parent()->child(1) : nullptr;
  std::string after = first ? " after " + Quoted(*first) : "";
  Report(findings, Severity::kError, item,
         "only the first value is stored" + after + ": " + Quoted(item) +
             " is ignored; assign it on its own, or make the list of plain values");
}

// The call statements and built-ins whose arguments have a fixed form.
void CallRule(const ScriptItem& call, const FunctionIndex& functions,
              std::vector<Finding>& findings) {
  std::string name = CallName(call);
  if (functions.Defines(call, name)) return;
  if (name == "strlen") {
    bool text = call.child_count() == 1 &&
                (call.child(0)->type() == stringItem || call.child(0)->type() == idItem);
    if (!text) {
      Report(findings, Severity::kError, call,
             "strlen takes one text or one variable ('strlen(name)'), not " + Quoted(call));
    }
    return;
  }
  if (name == "printf" || name == "saveuservar") return;
  std::string text;
  if (name == "sprintf" || name == "sscanf" || name == "arraylength") {
    text = "'" + name + "' gives a value and is no statement: assign it ('value = " +
           SourceLine(call) + "')";
  } else if (name == "assert" || name == "sleep") {
    text = "'" + name + "' is a statement and gives no value: write it on its own";
  } else {
    text = "the function '" + call.text() + "' is not defined in this script or an enclosing " +
           "block, nor built in (printf, strlen, saveuservar)";
  }
  Report(findings, Severity::kError, call, text);
}

bool InsideFunction(const ScriptItem& item) {
  for (const ScriptItem* p = item.parent(); p != nullptr; p = p->parent()) {
    if (p->type() == functionItem) return true;
  }
  return false;
}

// Statement forms with a fixed number of parts.
void ShapeRule(const ScriptItem& item, std::vector<Finding>& findings) {
  std::size_t count = item.child_count();
  switch (item.type()) {
    case assertItem:
      if (count == 0) Report(findings, Severity::kError, item, "assert needs a condition");
      if (count > 2) {
        Report(findings, Severity::kError, item,
               "assert takes a condition and at most one value ('assert(condition, value)'); "
               "with more, the results report this statement as an error");
      }
      break;
    case sscanfItem: {
      bool literal = count == 2 && (item.child(0)->type() == stringItem ||
                                    item.child(1)->type() == stringItem);
      if (!literal) {
        Report(findings, Severity::kError, item,
               "sscanf takes the format and the text, one of them written as a string literal "
               "('sscanf(\"%d\", text)'); otherwise the results report this statement as an "
               "error");
      }
      break;
    }
    case sleepItem:
      if (count != 1) Report(findings, Severity::kError, item, "sleep takes one number of seconds");
      break;
    case arrayLengthItem: {
      bool named = count == 1 && (item.child(0)->type() == idItem ||
                                  item.child(0)->type() == arrayIndexItem);
      if (!named) {
        Report(findings, Severity::kError, item,
               "arraylength takes the name of one variable ('arraylength(list)')");
      }
      break;
    }
    case returnItem:
      if (!InsideFunction(item)) {
        Report(findings, Severity::kError, item,
               "'return' stands outside a function: it ends nothing and records an error");
      }
      break;
    default:
      break;
  }
}

void SavedNameRule(const ScriptItem& item, std::vector<Finding>& findings) {
  if (item.type() == idItem) return;
  Report(findings, Severity::kWarning, item,
         "saveuservar takes variable names: " + Quoted(item) + " is not a variable and is skipped");
}

}  // namespace

void CheckForms(const std::vector<Visit>& visits, const FunctionIndex& functions,
                std::vector<Finding>& findings) {
  for (const Visit& visit : visits) {
    const ScriptItem& item = *visit.item;
    switch (visit.role) {
      case Role::kValue: ValueRule(item, false, findings); break;
      case Role::kCallArgument: ValueRule(item, true, findings); break;
      case Role::kCondition: ConditionRule(item, findings); break;
      case Role::kElement: ElementRule(item, findings); break;
      case Role::kAssigned: AssignedRule(item, findings); break;
      case Role::kIgnoredValue: IgnoredValueRule(item, findings); break;
      case Role::kSavedName: SavedNameRule(item, findings); break;
      default: break;
    }
    if (item.type() == functionCallItem) CallRule(item, functions, findings);
    ShapeRule(item, findings);
  }
}

}  // namespace ordalis::check
