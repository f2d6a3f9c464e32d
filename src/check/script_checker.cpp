#include "check/script_checker.h"

#include <algorithm>
#include <iterator>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "check/check_walk.h"

namespace ordalis {

namespace {

const char* SeverityWord(Severity severity) {
  switch (severity) {
    case Severity::kError: return "Error";
    case Severity::kWarning: return "Warning";
    default: return "Note";
  }
}

// The error items in tree order, each syntax error's explanation after the error items made
// while recovering from it.
void ErrorItemFindings(const ScriptItem& root, const std::vector<SyntaxNote>& notes,
                       std::vector<Finding>& findings) {
  std::unordered_map<const ScriptItem*, const SyntaxNote*> starts;
  for (const SyntaxNote& note : notes) starts.emplace(note.first_error.get(), &note);
  const SyntaxNote* open_note = nullptr;
  auto close_note = [&] {
    if (open_note == nullptr) return;
    check::Report(findings, Severity::kNote, *open_note->first_error, open_note->text);
    open_note = nullptr;
  };
  std::vector<const ScriptItem*> stack{&root};
  while (!stack.empty()) {
    const ScriptItem* item = stack.back();
    stack.pop_back();
    if (item->type() == errorItem) {
      auto start = starts.find(item);
      if (start != starts.end()) {
        close_note();
        open_note = start->second;
      }
      check::Report(findings, Severity::kError, *item, item->text());
    }
    for (std::size_t i = item->child_count(); i > 0; --i) stack.push_back(item->child(i - 1));
  }
  close_note();
}

// One finding per syntax error, at the token the parser could not take, saying what it found,
// what it expected and which construct is open; the further error items the parser made while
// recovering from it are part of the same error. Error items without an explanation (an include
// that could not be read, a script nested too deeply) are findings of their own.
void SyntaxFindings(const ScriptItem& root, const std::vector<SyntaxNote>& notes,
                    std::vector<Finding>& findings) {
  std::unordered_map<const ScriptItem*, const SyntaxNote*> starts;
  std::unordered_set<const ScriptItem*> recovery;
  for (const SyntaxNote& note : notes) {
    starts.emplace(note.first_error.get(), &note);
    for (const ScriptItemPtr& item : note.recovery) recovery.insert(item.get());
  }
  std::vector<const ScriptItem*> stack{&root};
  while (!stack.empty()) {
    const ScriptItem* item = stack.back();
    stack.pop_back();
    if (item->type() == errorItem && recovery.count(item) == 0) {
      auto start = starts.find(item);
      if (start == starts.end()) {
        check::Report(findings, Severity::kError, *item, item->text());
      } else {
        const SyntaxNote& note = *start->second;
        check::Report(findings, Severity::kError, *item,
                      note.summary.empty() ? note.text : note.summary + ": " + note.text);
      }
    }
    for (std::size_t i = item->child_count(); i > 0; --i) stack.push_back(item->child(i - 1));
  }
}

// The findings of each rule set, kept apart while a script is checked a run of statements at a
// time and put together in the order the rules run in.
struct RuleFindings {
  std::vector<Finding> forms, unassigned, labels, functions, testers;

  std::vector<Finding> Joined() {
    std::vector<Finding> all;
    for (auto* part : {&forms, &unassigned, &labels, &functions, &testers}) {
      all.insert(all.end(), std::make_move_iterator(part->begin()), std::make_move_iterator(part->end()));
    }
    return all;
  }
};

// Files in the order they first appear in the tree.
class FileOrder {
 public:
  void Note(const std::vector<check::Visit>& visits) {
    for (const check::Visit& visit : visits) order_.emplace(visit.item->file_name(), order_.size());
  }
  // Findings of different rules in the order of the script: by file, then by line.
  void Sort(std::vector<Finding>& findings) {
    std::stable_sort(findings.begin(), findings.end(), [&](const Finding& a, const Finding& b) {
      std::size_t fa = order_[a.file];
      std::size_t fb = order_[b.file];
      return fa != fb ? fa < fb : a.line < b.line;
    });
  }

 private:
  std::unordered_map<std::string, std::size_t> order_;
};

// The rules that look at each item where it stands, given what the whole script says.
void RunRules(const std::vector<check::Visit>& visits, const check::FunctionIndex& functions,
              const check::NameFacts& facts, const CheckOptions& options,
              check::NameProgress& progress, RuleFindings& found) {
  check::CheckForms(visits, functions, found.forms);
  check::UnassignedReads(visits, options, facts, progress, found.unassigned);
  check::TwiceDefinedLabels(visits, progress, found.labels);
  if (options.testers) check::CheckTesters(visits, *options.testers, facts, found.testers);
}

}  // namespace

std::string FindingLine(const Finding& finding) {
  // "(line,column)" is the place as Visual Studio-style readers take it; a reader of the older
  // "(line)" form finds the line where it always was, right after the parenthesis.
  std::string place = std::to_string(finding.line);
  if (finding.column > 0) place += "," + std::to_string(finding.column);
  return finding.file + "(" + place + ") : " + SeverityWord(finding.severity) + ": " + finding.text;
}

std::string GccFindingLine(const Finding& finding) {
  std::string place = finding.file + ":" + std::to_string(finding.line) + ":";
  if (finding.column > 0) place += std::to_string(finding.column) + ":";
  const char* word = finding.severity == Severity::kError     ? "error"
                     : finding.severity == Severity::kWarning ? "warning"
                                                              : "note";
  return place + " " + word + ": " + finding.text;
}

std::vector<Finding> CheckSyntax(const ScriptItem& root, const std::vector<SyntaxNote>& notes) {
  std::vector<Finding> findings;
  ErrorItemFindings(root, notes, findings);
  return findings;
}

std::vector<Finding> CheckSyntaxErrors(const ScriptItem& root, const std::vector<SyntaxNote>& notes) {
  std::vector<Finding> findings;
  SyntaxFindings(root, notes, findings);
  return findings;
}

bool HasErrors(const std::vector<Finding>& findings) {
  return std::any_of(findings.begin(), findings.end(),
                     [](const Finding& f) { return f.severity == Severity::kError; });
}

std::vector<Finding> ScriptChecker::Check(const ScriptItem& root,
                                          const std::vector<SyntaxNote>& notes) const {
  std::vector<Finding> findings;
  SyntaxFindings(root, notes, findings);
  if (!findings.empty()) return findings;
  check::FunctionIndex functions(root);
  RuleFindings found;
  check::TwiceDefinedFunctions(functions, found.functions);
  std::vector<check::Visit> visits = check::Walk(root, functions);
  check::NameFacts facts;
  facts.Gather(visits);
  facts.Finish();
  check::NameProgress progress;
  RunRules(visits, functions, facts, options_, progress, found);
  FileOrder order;
  order.Note(visits);
  findings = found.Joined();
  order.Sort(findings);
  return findings;
}

bool ReadInRuns(const ScriptItemPtr& root, const ScriptChecker::ScriptReader& read, std::size_t at_once,
                const ScriptChecker::StatementSink& run) {
  at_once = std::max<std::size_t>(at_once, 1);
  auto run_and_release = [&](ScriptItem& top) {
    run(top);
    top.TakeChildren();  // the items go with them
  };
  bool clean = false;
  bool read_whole = read(root, [&](ScriptItem& top) {
    if (top.child_count() >= at_once) run_and_release(top);
  }, &clean);
  if (!read_whole || !clean) return false;
  if (root->child_count() > 0) run_and_release(*root);
  return true;
}

std::optional<std::vector<Finding>> ScriptChecker::CheckStatementwise(const ScriptItemPtr& root,
                                                                      const ScriptReader& read) const {
  // First reading: the functions each block defines and what the script says of its names.
  check::FunctionIndex functions;
  check::NameFacts facts;
  RuleFindings found;
  auto gather = [&](ScriptItem& top) {
    for (const ScriptItemPtr& statement : top.children()) functions.Add(*statement);
    check::TwiceDefinedFunctions(functions, found.functions);
    functions.ClearDuplicates();
    facts.Gather(check::Walk(top, functions));
    functions.KeepOnly(top);
  };
  if (!ReadInRuns(root, read, options_.statements_at_once, gather)) return std::nullopt;
  facts.Finish();
  // Second reading: the rules, a run of statements at a time, knowing every function the root
  // defines and every name the script assigns.
  check::NameProgress progress;
  FileOrder order;
  auto check = [&](ScriptItem& top) {
    for (const ScriptItemPtr& statement : top.children()) functions.Add(*statement);
    functions.ClearDuplicates();  // told by the first reading
    std::vector<check::Visit> visits = check::Walk(top, functions);
    RunRules(visits, functions, facts, options_, progress, found);
    order.Note(visits);
    functions.KeepOnly(top);
  };
  // A second reading that fails means the file changed between the readings.
  if (!ReadInRuns(root, read, options_.statements_at_once, check)) return std::nullopt;
  std::vector<Finding> findings = found.Joined();
  order.Sort(findings);
  return findings;
}

}  // namespace ordalis
