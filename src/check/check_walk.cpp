#include "check/check_walk.h"

#include <algorithm>

#include "platform/text.h"

namespace ordalis::check {

namespace {

bool IsBlock(ItemType type) {
  switch (type) {
    case rootItem: case thenItem: case elseItem: case doItem: case functionItem:
    case ignoreResultItem: case resultItem: case includeItem: case localItem: case defaultItem:
      return true;
    default:
      return false;
  }
}

// A first value after which the assignment evaluates the further values as list elements.
bool IsListStart(ItemType type) {
  switch (type) {
    case integerItem: case hexItem: case octalItem: case stringItem: case boolItem:
    case doubleItem: case arrayItem: case idItem:
      return true;
    default:
      return false;
  }
}

Role AssignmentChildRole(const ScriptItem& assignment, std::size_t index) {
  if (index == 0) return Role::kTarget;
  if (index == 1) return Role::kAssigned;
  return IsListStart(assignment.child(1)->type()) ? Role::kElement : Role::kIgnoredValue;
}

Role CallChildRole(const ScriptItem& call, const FunctionIndex& functions) {
  std::string name = CallName(call);
  if (functions.Defines(call, name)) return Role::kCallArgument;
  if (name == "saveuservar") return Role::kSavedName;
  if (name == "strlen") return Role::kStrlenText;
  return Role::kValue;
}

// How the interpreter evaluates child [index] of [parent].
Role ChildRole(const ScriptItem& parent, std::size_t index, const FunctionIndex& functions) {
  const ItemType type = parent.type();
  if (IsBlock(type)) return Role::kStatement;
  switch (type) {
    case ifItem:
    case whileItem: return index == 0 ? Role::kCondition : Role::kBranch;
    case assignmentItem: return AssignmentChildRole(parent, index);
    case actionItem: return index == 0 ? Role::kValue : Role::kMethod;
    case newItem: return Role::kTesterType;
    case idItem: return Role::kValue;  // arguments of an action, parameters of a new
    case functionCallItem: return CallChildRole(parent, functions);
    case assertItem: return index == 0 ? Role::kCondition : Role::kValue;
    case arrayIndexItem: return index == 0 ? Role::kName : Role::kValue;
    case arrayLengthItem: case incrementItem: case decrementItem: case deleteItem:
      return Role::kName;
    case andItem: case orItem: case notItem: return Role::kCondition;
    case arrayItem: case returnItem: return Role::kElement;
    case sprintfItem: case sscanfItem: case sleepItem: case arithmeticItem:
    case lessThanItem: case lessThanOrEqualItem: case equalItem: case greaterThanOrEqualItem:
    case greaterThanItem: case notEqualItem: case moveLogFileItem: case copyLogFileItem:
      return Role::kValue;
    default: return Role::kOther;
  }
}

void AppendChildren(std::vector<const ScriptItem*>& stack, const ScriptItem& item) {
  for (std::size_t i = item.child_count(); i > 0; --i) stack.push_back(item.child(i - 1));
}

}  // namespace

void FunctionIndex::Add(const ScriptItem& root) {
  std::vector<const ScriptItem*> stack{&root};
  while (!stack.empty()) {
    const ScriptItem* item = stack.back();
    stack.pop_back();
    if (item->type() == functionItem && item->parent() != nullptr) {
      if (!blocks_[item->parent()].insert(Lower(item->text())).second) duplicates_.push_back(item);
    }
    AppendChildren(stack, *item);
  }
}

void FunctionIndex::KeepOnly(const ScriptItem& root) {
  std::erase_if(blocks_, [&](const auto& entry) { return entry.first != &root; });
}

bool FunctionIndex::Defines(const ScriptItem& call, std::string_view name) const {
  std::string lower = Lower(name);
  for (const ScriptItem* block = call.parent(); block != nullptr; block = block->parent()) {
    auto names = blocks_.find(block);
    if (names != blocks_.end() && names->second.count(lower) != 0) return true;
  }
  return false;
}

namespace {

// The number of items of the tree below and with [root].
std::size_t CountItems(const ScriptItem& root) {
  std::size_t count = 0;
  std::vector<const ScriptItem*> stack{&root};
  while (!stack.empty()) {
    const ScriptItem* item = stack.back();
    stack.pop_back();
    ++count;
    for (std::size_t i = 0; i < item->child_count(); ++i) stack.push_back(item->child(i));
  }
  return count;
}

}  // namespace

std::vector<Visit> Walk(const ScriptItem& root, const FunctionIndex& functions) {
  // Sized once: a script of a million statements has millions of items, and a vector grown by
  // doubling would hold up to twice their room, and three times while it moves.
  std::vector<Visit> visits;
  visits.reserve(CountItems(root));
  std::vector<Visit> stack{{&root, Role::kStatement}};
  while (!stack.empty()) {
    Visit visit = stack.back();
    stack.pop_back();
    visits.push_back(visit);
    const ScriptItem& item = *visit.item;
    for (std::size_t i = item.child_count(); i > 0; --i) {
      stack.push_back({item.child(i - 1), ChildRole(item, i - 1, functions)});
    }
  }
  return visits;
}

std::string CallName(const ScriptItem& call) {
  std::string_view name = call.text();
  if (!name.empty() && name.back() == ':') name.remove_suffix(1);
  return Lower(name);
}

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

std::string SourceLine(const ScriptItem& item) {
  std::string out;
  for (char c : item.SourceText()) {
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else {
      out += c;
    }
  }
  return out;
}

std::string Quoted(const ScriptItem& item) {
  constexpr std::size_t kLongest = 60;
  std::string text = SourceLine(item);
  if (text.size() > kLongest) text = text.substr(0, kLongest) + "...";
  return "'" + text + "'";
}

std::string Closest(std::string_view name, const std::vector<std::string>& candidates) {
  constexpr std::size_t kLongestName = 64;  // longer names are not typing slips worth a guess
  std::string lower = Lower(name);
  // A one- or two-letter name is close to too many others for a guess to help.
  std::size_t allowed = lower.size() <= 4 ? 1 : 2;
  std::string best;
  std::size_t best_distance = allowed + 1;
  if (lower.size() <= 2 || lower.size() > kLongestName) return best;
  for (const std::string& candidate : candidates) {
    std::size_t gap = candidate.size() > lower.size() ? candidate.size() - lower.size()
                                                      : lower.size() - candidate.size();
    if (gap > allowed) continue;
    std::size_t distance = EditDistance(lower, Lower(candidate));
    if (distance > 0 && distance < best_distance) {
      best = candidate;
      best_distance = distance;
    }
  }
  return best;
}

void Report(std::vector<Finding>& findings, Severity severity, const ScriptItem& item,
            std::string text) {
  findings.push_back(Finding{severity, item.file_name(), item.line(), std::move(text), item.column()});
}

}  // namespace ordalis::check
