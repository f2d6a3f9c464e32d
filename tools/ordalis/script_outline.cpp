#include "script_outline.h"

#include <set>

#include "platform/text.h"

namespace ordalis::cli {

namespace {

Place PlaceOf(const ScriptItem& item) { return Place{item.file_name(), item.line(), item.column()}; }

}  // namespace

ScriptOutline::ScriptOutline(const ScriptItem& root) {
  // An explicit stack: expression chains may nest deeper than the C++ stack should follow.
  std::vector<const ScriptItem*> pending{&root};
  while (!pending.empty()) {
    const ScriptItem* item = pending.back();
    pending.pop_back();
    Visit(*item);
    for (auto child = item->children().rbegin(); child != item->children().rend(); ++child) {
      pending.push_back(child->get());
    }
  }
}

void ScriptOutline::Add(Occurrence::Kind kind, const ScriptItem& item, std::string object) {
  occurrences_.push_back(Occurrence{kind, item.text(), LowerAscii(item.text()), PlaceOf(item), std::move(object)});
}

// Each item is looked at once; the roles of an identifier (a variable, an action's name, a
// tester type) come from the item above it, so those are recorded by the parent.
void ScriptOutline::Visit(const ScriptItem& item) {
  const ScriptItem* parent = item.parent();
  switch (item.type()) {
    case functionItem:
      Add(Occurrence::Kind::kFunctionDefinition, item);
      return;
    case functionCallItem:
      Add(Occurrence::Kind::kFunctionCall, item);
      return;
    case resultItem:
    case testResultItem:
      if (item.type() == resultItem) results_.push_back(NamedResult{item.text(), PlaceOf(item)});
      return;
    case assignmentItem:
      if (item.child_count() == 2 && item.child(0)->type() == idItem && item.child(1)->type() == newItem &&
          item.child(1)->child_count() > 0) {
        types_.emplace(LowerAscii(item.child(0)->text()), LowerAscii(item.child(1)->child(0)->text()));
      }
      return;
    case idItem:
      break;
    default:
      return;
  }
  if (parent == nullptr) return;
  if (parent->type() == newItem) {
    Add(Occurrence::Kind::kType, item);
  } else if (parent->type() == actionItem && parent->child_count() > 1 && parent->child(1) == &item) {
    Add(Occurrence::Kind::kAction, item, LowerAscii(parent->child(0)->text()));
  } else if ((parent->type() == assignmentItem && parent->child(0) == &item) || parent->type() == localItem) {
    Add(Occurrence::Kind::kVariableAssigned, item);
  } else {
    Add(Occurrence::Kind::kVariableRead, item);
  }
}

const Occurrence* ScriptOutline::Definition(const std::string& key) const {
  for (const Occurrence& occurrence : occurrences_) {
    if (occurrence.kind == Occurrence::Kind::kFunctionDefinition && occurrence.key == key) return &occurrence;
  }
  return nullptr;
}

std::string ScriptOutline::TypeOf(const std::string& variable) const {
  auto found = types_.find(variable);
  return found == types_.end() ? "" : found->second;
}

namespace {

std::vector<std::string> NamesOf(const std::vector<Occurrence>& occurrences,
                                 std::initializer_list<Occurrence::Kind> kinds) {
  std::vector<std::string> names;
  std::set<std::string> seen;
  for (const Occurrence& occurrence : occurrences) {
    bool wanted = false;
    for (Occurrence::Kind kind : kinds) wanted |= occurrence.kind == kind;
    if (wanted && seen.insert(occurrence.key).second) names.push_back(occurrence.name);
  }
  return names;
}

}  // namespace

std::vector<std::string> ScriptOutline::VariableNames() const {
  return NamesOf(occurrences_, {Occurrence::Kind::kVariableAssigned});
}

std::vector<std::string> ScriptOutline::FunctionNames() const {
  return NamesOf(occurrences_, {Occurrence::Kind::kFunctionDefinition});
}

}  // namespace ordalis::cli
