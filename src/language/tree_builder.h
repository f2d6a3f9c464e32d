#pragma once
// TreeBuilder: builds the items of one parse. The parser calls one operation per construct it
// recognises; the builder keeps the pending list of finished items not yet attached, the saved
// pending lists of open nested constructs and the stack of open items receiving children.
// One builder belongs to one parse; it is not shared between threads.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "language/script_item.h"

namespace ordalis {

class LexicalAnalyser;

// The explanation of one syntax error: it follows the error items the parser made while
// recovering from that error, the first of which is [first_error].
struct SyntaxNote {
  ScriptItemPtr first_error;
  std::string text;
  // The error in one phrase: the unexpected token, what the parser expected instead and the
  // construct still open, with its line ("unexpected '*', expected a value, inside ...").
  std::string summary;
  // The further error items the parser made while recovering from the same error.
  std::vector<ScriptItemPtr> recovery;
};

class TreeBuilder {
 public:
  // Operator and action chains are built left-leaning, one level per operator, without
  // deepening the parser stack; a chain longer than this ends the parse as nested too deeply,
  // so no tree grows deeper than the code that walks it can follow.
  static constexpr std::uint32_t kMaxExpressionHeight = 1000;
  // Constructs open inside one another (blocks, calls, arrays, indexes, assignments) deeper than
  // this end the parse as nested too deeply as well.
  static constexpr std::size_t kMaxOpenConstructs = 1000;

  // Items go below [block] and carry [file_name] and the line [lexer] stamps when each is
  // made (LexicalAnalyser::StampLine).
  TreeBuilder(ScriptItemPtr block, std::shared_ptr<const std::string> file_name,
              const LexicalAnalyser* lexer);
  ~TreeBuilder();
  TreeBuilder(const TreeBuilder&) = delete;
  TreeBuilder& operator=(const TreeBuilder&) = delete;

  // A statement of a statement list is complete: the current block adopts the pending list.
  // When it is a statement of the first block, [done] is called, if set, once it stands there
  // whole: the caller may look at the block's statements and take them away.
  void EndStatement();
  void SetTopStatementDone(std::function<void()> done) { top_statement_done_ = std::move(done); }

  void Comment(std::string_view text);
  void BeginAssignment(std::string_view name);
  void EndAssignment();
  void NewObject(std::string_view type_name);
  void BeginDefault();
  void EndDefault();
  void Delete(std::string_view name);
  void BeginIf();
  void Else();
  void EndIf();
  void BeginWhile();
  void EndWhile();
  void Increment(ItemType type, const char* text);
  void Include(std::string_view directory_text, std::string_view name);
  // How many include items this parse made; a tree without any needs no expansion.
  std::size_t include_count() const { return include_count_; }
  // How many error items this parse made.
  std::size_t error_count() const { return error_count_; }
  void BeginResult(std::string_view text);
  void EndResult();
  void BeginBlock(ItemType type, std::string_view text);
  void EndBlock();
  // Calls stand at the column of their name, [column].
  void StatementCall(std::string_view name, bool quiet, std::uint32_t column);
  void TestResult(std::int32_t value);
  void Abort(std::string_view text);
  void LogFile(ItemType type, const char* text, bool from_string, std::string_view name);
  void Return();
  void BeginLocal();
  void EndLocal();
  // The parser met a syntax error, explained by [explanation] and said in one phrase by
  // [summary]; the error items that follow until the next syntax error belong to it.
  void NoteSyntaxError(std::string explanation, std::string summary);
  // The offending token was [token_text], at [line] and [column]; null at the end of input.
  void Error(const char* token_text, std::uint32_t line, std::uint32_t column);
  // One note per syntax error, in the order met.
  std::vector<SyntaxNote> TakeSyntaxNotes() { return std::move(notes_); }
  // The items open for children, outermost first, without the item the parse hangs below:
  // blocks (then, else, do, function, ignoreresult, result) and nested constructs (assignment,
  // call, action, index, local, default).
  std::vector<const ScriptItem*> OpenItems() const;
  // The parser stack is exhausted, or an expression grew too tall: the parse ends here, seen
  // as failed.
  void NestingTooDeep();
  // True once an expression has grown taller than kMaxExpressionHeight.
  bool too_deep() const { return too_deep_; }

  void Value(ItemType type, std::string text);
  void Integer(std::int32_t value);
  void Double(double value);
  void Binary(ItemType type, const char* text);
  void Not();
  void BeginExpressionCall(std::string_view name, std::uint32_t column);
  void EndExpressionCall(bool quiet);
  void BeginMethod(const char* kind, std::string_view name);
  void EndMethod();
  void Identifier(std::string_view name);
  void BeginIndex();
  void EndIndex();
  void BeginArray();
  void EndArray();

 private:
  struct SavedList {
    std::vector<ScriptItemPtr> items;
    bool pushed_item;  // the construct that saved the list also opened an item
  };

  ScriptItemPtr Make(ItemType type, std::string text) const;
  ScriptItem& Block() const { return *open_.back(); }
  void Direct(const ScriptItemPtr& item) { Block().AddChild(item); }
  void Pend(ScriptItemPtr item) { pending_.push_back(std::move(item)); }
  ScriptItemPtr TakeLastPending();
  void Adopt(ScriptItem& item);
  void Push(ScriptItemPtr item) {
    if (open_.size() > kMaxOpenConstructs) too_deep_ = true;
    open_.push_back(std::move(item));
  }
  void Pop();
  void Save(bool pushed_item);
  void Restore();
  void CloseNestedConstructs();
  void SetHeight(ScriptItem& item, std::uint32_t height);

  std::shared_ptr<const std::string> file_name_;
  const LexicalAnalyser* lexer_;
  std::vector<ScriptItemPtr> pending_;
  std::vector<SavedList> saved_;
  std::vector<ScriptItemPtr> open_;
  std::size_t include_count_ = 0;
  std::function<void()> top_statement_done_;
  std::size_t error_count_ = 0;
  bool too_deep_ = false;
  std::string pending_note_;
  std::string pending_summary_;
  std::vector<SyntaxNote> notes_;
};

}  // namespace ordalis
