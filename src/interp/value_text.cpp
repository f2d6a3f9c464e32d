// Script-literal text to values: the text is read by the script parser as the right side of an
// assignment, and the literal items it yields are converted one by one.

#include <cstdlib>

#include "interp/variable_value.h"
#include "language/script_item.h"
#include "language/script_loader.h"

namespace ordalis {

namespace {

// Appends the value of the literal [item]; false for anything that is not a literal.
bool AppendLiteralItem(const ScriptItem& item, VariableValue* value) {
  switch (item.type()) {
    case integerItem:
    case hexItem:
    case octalItem: {
      long long number = std::strtoll(item.text().c_str(), nullptr, 10);
      value->Append(VariableValue(static_cast<std::int32_t>(static_cast<std::uint32_t>(number))));
      return true;
    }
    case stringItem: value->Append(VariableValue(item.text())); return true;
    case boolItem: value->Append(VariableValue(item.text() == "true")); return true;
    case doubleItem: value->Append(VariableValue(std::strtod(item.text().c_str(), nullptr))); return true;
    case arrayItem: {
      VariableValue nested;
      for (const auto& child : item.children()) {
        if (!AppendLiteralItem(*child, &nested)) return false;
      }
      value->Append(std::move(nested));
      return true;
    }
    default: return false;
  }
}

}  // namespace

bool VariableValue::ParseValueText(const std::string& text, VariableValue* value) {
  auto root = ScriptItem::Make(rootItem, "root", "N/A", 0);
  ScriptLoader loader;
  loader.LoadText("X = " + text, root);
  if (root->child_count() != 1) return false;
  const ScriptItem& assignment = *root->child(0);
  if (assignment.type() != assignmentItem || assignment.child_count() < 2) return false;
  VariableValue parsed;
  for (std::size_t i = 1; i < assignment.child_count(); ++i) {
    if (!AppendLiteralItem(*assignment.child(i), &parsed)) return false;
  }
  *value = std::move(parsed);
  return true;
}

}  // namespace ordalis
