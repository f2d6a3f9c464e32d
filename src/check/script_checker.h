#pragma once
// ScriptChecker: finds what is wrong in a loaded script without running it. It reports each
// syntax error of the tree once, with its explanation, the constructs the language parses but
// does not evaluate where they stand, calls of functions that are not defined, tester types and
// actions the installed testers do not offer, and, as warnings, names read but never assigned
// and result labels used twice.
//
// A checker only reads the tree; it never runs a statement, asks for ScriptText or changes a
// result. One checker may be used by one thread at a time.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "language/script_item.h"
#include "language/tree_builder.h"

namespace ordalis {

enum class Severity { kError, kWarning, kNote };

// One thing the checker found, at a file, line and column.
struct Finding {
  Severity severity = Severity::kError;
  std::string file;
  std::uint32_t line = 0;
  std::string text;
  // Counted in bytes from 1, as editors that read compiler output expect; 0 when not known.
  std::uint32_t column = 0;
};

// "file(line,column) : Error: text", "… : Warning: text" or "… : Note: text"; "file(line)"
// when the column is not known.
std::string FindingLine(const Finding& finding);
// "file:line:column: error: text" (or "warning", "note"), as compilers print for editors;
// without the column when it is not known.
std::string GccFindingLine(const Finding& finding);

// The parameters a tester declares for one of its actions: how many it takes, and whether the
// last of them stands for any number of further values (a name ending in "...").
struct DeclaredParameters {
  std::size_t count = 0;
  bool open_ended = false;
};

// What the checker knows of the installed testers.
class TesterTypes {
 public:
  virtual ~TesterTypes() = default;
  // The parameters of [action] (as written in Actions) of [type]; null when its tester does not
  // declare the parameters of its actions.
  virtual const DeclaredParameters* Parameters(const std::string& type, const std::string& action) const {
    (void)type;
    (void)action;
    return nullptr;
  }
  // The installed type names, lower case.
  virtual std::vector<std::string> Types() const = 0;
  // The action names of [type] (lower case); null when the type is not installed or its
  // actions cannot be listed.
  virtual const std::vector<std::string>* Actions(const std::string& type) const = 0;
};

struct CheckOptions {
  // The installed testers; null leaves tester types and actions unchecked.
  const TesterTypes* testers = nullptr;
  // Whether a name (lower case) has a value from outside the script: a user or system
  // variable, or a value given on the command line. Null: none has.
  std::function<bool(const std::string& name)> defined_outside;
  // How many statements of the top level CheckStatementwise looks at together.
  std::size_t statements_at_once = 4096;
};

class ScriptChecker {
 public:
  explicit ScriptChecker(CheckOptions options) : options_(std::move(options)) {}

  // Everything found in the tree below [root], in tree order. [notes] are the explanations of
  // the syntax errors the loader met (ScriptLoader::SyntaxNotes). The rules beyond syntax run
  // only when the tree holds no error item, since error recovery leaves statements half built.
  std::vector<Finding> Check(const ScriptItem& root, const std::vector<SyntaxNote>& notes) const;

  // The same findings for a script read twice, a run of statements at a time, so that checking
  // it takes memory for a run of statements, not for the whole tree. [read] loads the script
  // below [root] (which has no statements), calling the sink given after each statement of the top level
  // (ScriptLoader::Load with a sink); the sink may take the root's statements away. It says
  // whether the script read without an error item. Nullopt when the script cannot be read or
  // has syntax errors, whose findings need the whole tree: check it with Check.
  using StatementSink = std::function<void(ScriptItem& root)>;
  using ScriptReader = std::function<bool(const ScriptItemPtr& root, const StatementSink& sink, bool* clean)>;
  std::optional<std::vector<Finding>> CheckStatementwise(const ScriptItemPtr& root, const ScriptReader& read) const;

 private:
  CheckOptions options_;
};

// Reads a script below [root] (ScriptChecker::ScriptReader), handing [run] its top-level
// statements [at_once] at a time as they are read and the rest at the end, and taking each run
// away after [run]; false when the script cannot be read or holds an error item.
bool ReadInRuns(const ScriptItemPtr& root, const ScriptChecker::ScriptReader& read, std::size_t at_once,
                const ScriptChecker::StatementSink& run);

// The error items of the tree below [root], one finding each as a run shows them, each syntax
// error's explanation from [notes] after the error items made while recovering from it.
std::vector<Finding> CheckSyntax(const ScriptItem& root, const std::vector<SyntaxNote>& notes);
// The syntax errors alone as Check reports them: one finding per syntax error.
std::vector<Finding> CheckSyntaxErrors(const ScriptItem& root, const std::vector<SyntaxNote>& notes);

// True when [findings] hold an error (warnings and notes do not count).
bool HasErrors(const std::vector<Finding>& findings);

}  // namespace ordalis
