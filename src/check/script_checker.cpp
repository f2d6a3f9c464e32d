#include "check/script_checker.h"

#include <algorithm>
#include <unordered_map>

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
void SyntaxFindings(const ScriptItem& root, const std::vector<SyntaxNote>& notes,
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

// Findings of different rules in the order of the script: by file, as the files first appear
// in the tree, then by line.
void SortByPlace(const std::vector<check::Visit>& visits, std::vector<Finding>& findings) {
  std::unordered_map<std::string, std::size_t> file_order;
  for (const check::Visit& visit : visits) {
    file_order.emplace(visit.item->file_name(), file_order.size());
  }
  std::stable_sort(findings.begin(), findings.end(), [&](const Finding& a, const Finding& b) {
    std::size_t fa = file_order[a.file];
    std::size_t fb = file_order[b.file];
    return fa != fb ? fa < fb : a.line < b.line;
  });
}

}  // namespace

std::string FindingLine(const Finding& finding) {
  return finding.file + "(" + std::to_string(finding.line) + ") : " +
         SeverityWord(finding.severity) + ": " + finding.text;
}

std::vector<Finding> CheckSyntax(const ScriptItem& root, const std::vector<SyntaxNote>& notes) {
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
  std::vector<check::Visit> visits = check::Walk(root, functions);
  check::CheckForms(visits, functions, findings);
  check::CheckNames(visits, functions, options_, findings);
  if (options_.testers) check::CheckTesters(visits, *options_.testers, findings);
  SortByPlace(visits, findings);
  return findings;
}

}  // namespace ordalis
