#include "language/tree_builder.h"

#include "language/lexical_analyser.h"

#include <algorithm>
#include <cstdio>

#include "platform/text.h"

namespace ordalis {

TreeBuilder::TreeBuilder(ScriptItemPtr block, std::shared_ptr<const std::string> file_name,
                         const LexicalAnalyser* lexer)
    : file_name_(std::move(file_name)), lexer_(lexer) {
  open_.push_back(std::move(block));
}

TreeBuilder::~TreeBuilder() = default;

ScriptItemPtr TreeBuilder::Make(ItemType type, std::string text) const {
  ScriptItemPtr item = ScriptItem::Make(type, std::move(text), file_name_, lexer_->StampLine());
  item->set_column(lexer_->StampColumn());
  return item;
}

ScriptItemPtr TreeBuilder::TakeLastPending() {
  if (pending_.empty()) return nullptr;
  ScriptItemPtr item = std::move(pending_.back());
  pending_.pop_back();
  return item;
}

void TreeBuilder::Adopt(ScriptItem& item) {
  if (pending_.empty()) return;
  item.ReserveChildren(pending_.size());
  for (ScriptItemPtr& child : pending_) item.AddChild(std::move(child));
  pending_.clear();
}

// The bottom entry is the item the loader gave; it is never popped.
void TreeBuilder::Pop() {
  if (open_.size() > 1) open_.pop_back();
}

void TreeBuilder::Save(bool pushed_item) {
  if (saved_.size() >= kMaxOpenConstructs) too_deep_ = true;
  saved_.push_back(SavedList{std::move(pending_), pushed_item});
  pending_.clear();
}

void TreeBuilder::Restore() {
  if (saved_.empty()) {
    pending_.clear();
    return;
  }
  pending_ = std::move(saved_.back().items);
  saved_.pop_back();
}

void TreeBuilder::EndStatement() {
  Adopt(Block());
  if (top_statement_done_ && open_.size() == 1 && saved_.empty()) top_statement_done_();
}

// COMMENT
void TreeBuilder::Comment(std::string_view text) { Direct(Make(commentItem, std::string(text))); }

// IDENTIFIER "=" ...: the assignment stands in the block at once and receives its values.
void TreeBuilder::BeginAssignment(std::string_view name) {
  Pend(Make(idItem, std::string(name)));
  ScriptItemPtr assignment = Make(assignmentItem, "=");
  Direct(assignment);
  Adopt(*assignment);
  Save(true);
  Push(std::move(assignment));
}

void TreeBuilder::EndAssignment() {
  Adopt(Block());
  Pop();
  Restore();
}

// NEW IDENTIFIER call-arguments
void TreeBuilder::NewObject(std::string_view type_name) {
  ScriptItemPtr type = Make(idItem, std::string(type_name));
  Adopt(*type);
  ScriptItemPtr item = Make(newItem, "new");
  item->AddChild(std::move(type));
  Pend(std::move(item));
}

// DEFAULT assignment
void TreeBuilder::BeginDefault() {
  ScriptItemPtr item = Make(defaultItem, "default");
  Save(true);
  Push(std::move(item));
}

void TreeBuilder::EndDefault() {
  if (open_.size() < 2) return;
  ScriptItemPtr item = open_.back();
  Adopt(*item);
  Restore();
  Pend(std::move(item));
  Pop();
}

// DELETE IDENTIFIER
void TreeBuilder::Delete(std::string_view name) {
  ScriptItemPtr item = Make(deleteItem, "delete");
  item->AddChild(Make(idItem, std::string(name)));
  Direct(item);
}

// IF condition THEN: the if item takes the condition and opens its then-branch.
void TreeBuilder::BeginIf() {
  ScriptItemPtr item = Make(ifItem, "if");
  Direct(item);
  Adopt(*item);
  ScriptItemPtr then_branch = Make(thenItem, "then");
  item->AddChild(then_branch);
  Push(std::move(item));
  Push(std::move(then_branch));
}

void TreeBuilder::Else() {
  Pop();
  ScriptItemPtr item = Make(elseItem, "else");
  Block().AddChild(item);
  Adopt(*item);
  Push(std::move(item));
}

void TreeBuilder::EndIf() {
  if (open_.size() > 2) {
    open_.pop_back();
    open_.pop_back();
  }
}

// WHILE condition DO: only the do-branch is opened.
void TreeBuilder::BeginWhile() {
  ScriptItemPtr item = Make(whileItem, "while");
  Direct(item);
  Adopt(*item);
  ScriptItemPtr body = Make(doItem, "do");
  item->AddChild(body);
  Push(std::move(body));
}

void TreeBuilder::EndWhile() { Pop(); }

// variable "++" / variable "--"
void TreeBuilder::Increment(ItemType type, const char* text) {
  ScriptItemPtr item = Make(type, text);
  Adopt(*item);
  Pend(std::move(item));
}

// INCLUDE STRING: the text holds the path and, after "#", the name as written.
void TreeBuilder::Include(std::string_view directory_text, std::string_view name) {
  std::string text;
  text.reserve(directory_text.size() + 2 * name.size() + 1);
  text.append(directory_text).append(name).append("#").append(name);
  Direct(Make(includeItem, std::move(text)));
  ++include_count_;
}

// RESULT [STRING] statement
void TreeBuilder::BeginResult(std::string_view text) {
  ScriptItemPtr item = Make(resultItem, std::string(text));
  Direct(item);
  Push(std::move(item));
}

// An unnamed result takes the name of its only statement (a comment's text after "#").
void TreeBuilder::EndResult() {
  ScriptItem& item = Block();
  if (item.type() == resultItem && item.text().empty() && item.child_count() == 1) {
    const std::string& text = item.child(0)->text();
    std::size_t hash = text.find('#');
    item.set_text(hash == std::string::npos ? text : text.substr(hash + 1));
  }
  Pop();
}

// FUNCTION IDENTIFIER ... ENDFUNCTION, IGNORERESULT ... ENDIGNORERESULT
void TreeBuilder::BeginBlock(ItemType type, std::string_view text) {
  ScriptItemPtr item = Make(type, std::string(text));
  Direct(item);
  Push(std::move(item));
}

void TreeBuilder::EndBlock() { Pop(); }

// IDENTIFIER call-arguments [":"] as a statement
void TreeBuilder::StatementCall(std::string_view name, bool quiet, std::uint32_t column) {
  ScriptItemPtr item;
  if (EqualsIgnoringCase(name, "sleep")) {
    item = Make(sleepItem, "sleep");
  } else if (EqualsIgnoringCase(name, "assert")) {
    item = Make(assertItem, "assert");
  } else {
    item = Make(functionCallItem, std::string(name) + (quiet ? ":" : ""));
  }
  item->set_column(column);
  Adopt(*item);
  Pend(std::move(item));
}

void TreeBuilder::TestResult(std::int32_t value) {
  static const char* const kNames[] = {"passed", "warning", "failed", "error"};
  Pend(Make(testResultItem, value >= 0 && value < 4 ? kNames[value] : "error"));
}

// ABORT "(" STRING ")"
void TreeBuilder::Abort(std::string_view text) { Direct(Make(abortItem, std::string(text))); }

// MOVELOGFILE / COPYLOGFILE "(" STRING or variable ")"
void TreeBuilder::LogFile(ItemType type, const char* text, bool from_string,
                          std::string_view name) {
  ScriptItemPtr item = Make(type, text);
  if (from_string) {
    item->AddChild(Make(stringItem, std::string(name)));
  } else {
    Adopt(*item);
  }
  Pend(std::move(item));
}

// RETURN value-list
void TreeBuilder::Return() {
  ScriptItemPtr item = Make(returnItem, "return");
  Adopt(*item);
  Pend(std::move(item));
}

// LOCAL statement
void TreeBuilder::BeginLocal() {
  ScriptItemPtr item = Make(localItem, "local");
  Direct(item);
  Adopt(*item);
  Save(true);
  Push(std::move(item));
}

void TreeBuilder::EndLocal() {
  Adopt(Block());
  Pop();
  Restore();
}

// Closes every nested construct still open (call arguments, index, assignment, ...), so the
// statements after the error land in the enclosing block again. An item that already stands
// in the tree is not appended a second time.
void TreeBuilder::CloseNestedConstructs() {
  while (!saved_.empty()) {
    if (!saved_.back().pushed_item) {
      std::vector<ScriptItemPtr> unfinished = std::move(pending_);
      Restore();
      for (ScriptItemPtr& item : unfinished) Pend(std::move(item));
      continue;
    }
    ScriptItemPtr block = open_.back();
    Adopt(*block);
    Restore();
    if (open_.size() > 1) {
      if (block->parent() == nullptr) Pend(std::move(block));
      open_.pop_back();
    }
  }
}

void TreeBuilder::NoteSyntaxError(std::string explanation, std::string summary) {
  pending_note_ = std::move(explanation);
  pending_summary_ = std::move(summary);
}

std::vector<const ScriptItem*> TreeBuilder::OpenItems() const {
  std::vector<const ScriptItem*> items;
  items.reserve(open_.size());
  for (std::size_t i = 1; i < open_.size(); ++i) items.push_back(open_[i].get());
  return items;
}

// error: an error item with the offending token's text stands where the statement failed.
void TreeBuilder::Error(const char* token_text, std::uint32_t line, std::uint32_t column) {
  CloseNestedConstructs();
  ScriptItemPtr item = ScriptItem::Make(errorItem, token_text ? token_text : "unexpected end of file",
                                        file_name_, line);
  item->set_column(column);
  Direct(item);
  ++error_count_;
  if (!pending_note_.empty()) {
    notes_.push_back(SyntaxNote{std::move(item), std::move(pending_note_), std::move(pending_summary_), {}});
  } else if (!notes_.empty()) {
    // The parser skips tokens until it can go on; each skipped stretch is an error item of the
    // same syntax error.
    notes_.back().recovery.push_back(std::move(item));
  }
  pending_note_.clear();
  pending_summary_.clear();
}

void TreeBuilder::NestingTooDeep() {
  CloseNestedConstructs();
  Adopt(Block());
  open_.front()->AddChild(Make(errorItem, "Script nesting too deep"));
  ++error_count_;
  open_.resize(1);
}

// ---- expressions --------------------------------------------------------------------------

void TreeBuilder::Value(ItemType type, std::string text) { Pend(Make(type, std::move(text))); }

void TreeBuilder::Integer(std::int32_t value) { Value(integerItem, std::to_string(value)); }

// Six significant digits; fixed notation for decimal exponents -4 to 5, otherwise scientific.
void TreeBuilder::Double(double value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%g", value);
  Value(doubleItem, buffer);
}

// The operator takes the last two pending items as its operands.
void TreeBuilder::SetHeight(ScriptItem& item, std::uint32_t height) {
  item.set_height(height);
  if (height > kMaxExpressionHeight) too_deep_ = true;
}

void TreeBuilder::Binary(ItemType type, const char* text) {
  ScriptItemPtr item = Make(type, text);
  ScriptItemPtr right = TakeLastPending();
  ScriptItemPtr left = TakeLastPending();
  SetHeight(*item, std::max(left ? left->height() : 1, right ? right->height() : 1) + 1);
  item->AddChild(std::move(left));
  item->AddChild(std::move(right));
  Pend(std::move(item));
}

void TreeBuilder::Not() {
  ScriptItemPtr item = Make(notItem, "not");
  ScriptItemPtr operand = TakeLastPending();
  SetHeight(*item, (operand ? operand->height() : 1) + 1);
  item->AddChild(std::move(operand));
  Pend(std::move(item));
}

// IDENTIFIER "(" values ")" [":"] inside an expression
void TreeBuilder::BeginExpressionCall(std::string_view name, std::uint32_t column) {
  ScriptItemPtr item;
  if (EqualsIgnoringCase(name, "arraylength")) {
    item = Make(arrayLengthItem, "arraylength");
  } else if (EqualsIgnoringCase(name, "sscanf")) {
    item = Make(sscanfItem, "sscanf");
  } else if (EqualsIgnoringCase(name, "sprintf")) {
    item = Make(sprintfItem, "sprintf");
  } else {
    item = Make(functionCallItem, std::string(name));
  }
  item->set_column(column);
  Save(true);
  Push(std::move(item));
}

void TreeBuilder::EndExpressionCall(bool quiet) {
  if (open_.size() < 2) return;
  ScriptItemPtr item = open_.back();
  if (quiet) item->set_text(item->text() + ":");
  Adopt(*item);
  Restore();
  Pend(std::move(item));
  Pop();
}

// "." or ":" IDENTIFIER call-arguments: the object becomes the action's first child and the
// method name its second, which receives the arguments.
void TreeBuilder::BeginMethod(const char* kind, std::string_view name) {
  ScriptItemPtr action = Make(actionItem, kind);
  ScriptItemPtr object = TakeLastPending();
  SetHeight(*action, (object ? object->height() : 1) + 1);
  action->AddChild(std::move(object));
  ScriptItemPtr method = Make(idItem, std::string(name));
  action->AddChild(method);
  Pend(std::move(action));
  Save(true);
  Push(std::move(method));
}

void TreeBuilder::EndMethod() {
  Adopt(Block());
  Pop();
  Restore();
}

void TreeBuilder::Identifier(std::string_view name) { Value(idItem, std::string(name)); }

// IDENTIFIER "[" expression "]" { "[" expression "]" }
void TreeBuilder::BeginIndex() {
  ScriptItemPtr item = Make(arrayIndexItem, "[]");
  item->AddChild(TakeLastPending());
  Save(true);
  Push(std::move(item));
}

void TreeBuilder::EndIndex() {
  if (open_.size() < 2) return;
  ScriptItemPtr item = open_.back();
  Adopt(*item);
  Restore();
  Pend(std::move(item));
  Pop();
}

// "[" values "]"
void TreeBuilder::BeginArray() { Save(false); }

void TreeBuilder::EndArray() {
  ScriptItemPtr item = Make(arrayItem, "[]");
  Adopt(*item);
  Restore();
  Pend(std::move(item));
}

}  // namespace ordalis
