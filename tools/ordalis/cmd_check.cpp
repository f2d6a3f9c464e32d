// ordalis check FILE...: finds what is wrong in scripts without running them.

#include <malloc.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "check/script_checker.h"
#include "command.h"
#include "option_table.h"
#include "settings_warnings.h"
#include "language/script_item.h"
#include "language/script_loader.h"
#include "script_check.h"

namespace ordalis::cli {

namespace {

const char kDescription[] =
    "Loads each script with its include files, without running it, and prints one line per\n"
    "finding:\n"
    "\n"
    "  FILE(LINE,COL) : Error: TEXT      the script is wrong here\n"
    "  FILE(LINE,COL) : Warning: TEXT    the script may be wrong here\n"
    "\n"
    "(COL counts bytes from 1; the form Visual Studio-style readers take) or, with --format\n"
    "gcc, as compilers print them for editors and CI:\n"
    "\n"
    "  FILE:LINE:COL: error: TEXT\n"
    "  FILE:LINE:COL: warning: TEXT\n"
    "\n"
    "Errors: syntax errors, one finding each at the token the parser could not take, naming\n"
    "that token, what was expected and the construct still open with the line it opened on,\n"
    "followed by what to write instead; constructs the\n"
    "language does not evaluate where they stand (a call or an array literal as an operand or\n"
    "an argument, an expression in a return list, a condition that is no comparison, ...),\n"
    "with what to write instead; calls of functions that are not defined; and, against the\n"
    "installed testers ('ordalis testers'), a new of a type no tester offers and an action\n"
    "its tester type does not have (when the variable's type is known from its new), and an\n"
    "action call that passes too few or too many values for the parameters its tester\n"
    "declares.\n"
    "Warnings: a variable that is read but never assigned by the script (unless a user or\n"
    "system variable of that name exists), a result label or a function defined twice.\n"
    "The rules beyond syntax run once a script has no syntax error.\n"
    "\n"
    "A FILE that is a folder stands for every .odl file below it. A FILE ending in .md is a\n"
    "guide: every block of it fenced as ```odl is checked as a script of its own, with the\n"
    "lines of the guide.\n";

const char kDetails[] =
    "Exit status: 0 when no error was found, 1 when at least one was (or a warning, with\n"
    "--werror), 2 when a file cannot be opened or the arguments are wrong.\n";

const CommandSyntax kSyntax{
    "check",
    "[--no-testers] [--werror] [--syntax] [--format plain|gcc] FILE...",
    kDescription,
    {
        {"--no-testers", 0, nullptr, "do not check tester types and actions (no plug-in is loaded)"},
        {"--werror", 0, nullptr, "warnings count as errors for the exit status"},
        {"--syntax", 0, nullptr, "report syntax errors only"},
        {"--format", 0, "FMT", "plain (the default) or gcc"},
    },
    kDetails};

enum class Rules { kAll, kSyntaxOnly };

struct CheckArguments {
  std::vector<std::string> files;
  Rules rules = Rules::kAll;
  bool testers = true;
  WarningsFail warnings = WarningsFail::kNo;
  FindingFormat format = FindingFormat::kPlain;
};

// One block of a guide: its text and the line of the guide it starts on.
struct GuideBlock {
  std::string text;
  std::uint32_t first_line;
};

// The ```odl blocks of the Markdown file at [path]; false when it cannot be read.
bool ReadGuide(const std::string& path, std::vector<GuideBlock>* blocks) {
  std::ifstream in(path);
  if (!in) return false;
  std::string line;
  std::uint32_t number = 0;
  GuideBlock* open = nullptr;
  while (std::getline(in, line)) {
    ++number;
    if (open == nullptr && line == "```odl") {
      blocks->push_back(GuideBlock{"", number + 1});
      open = &blocks->back();
    } else if (open != nullptr && line == "```") {
      open = nullptr;
    } else if (open != nullptr) {
      open->text += line + "\n";
    }
  }
  return true;
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// A large script becomes hundreds of thousands of small items. Letting the heap grow in one
// large step backed by huge pages, where the system allows them, saves most of the page faults
// that building such a tree otherwise costs.
void PrepareHeapFor(const std::vector<std::string>& scripts) {
  std::uint64_t total = 0;
  for (const std::string& path : scripts) {
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) total += static_cast<std::uint64_t>(info.st_size);
  }
  if (total < (256u << 10)) return;
  // The tree takes about 40 bytes of heap per byte of script; leave some room.
  std::uint64_t pad = std::min<std::uint64_t>(total * 48, std::uint64_t{1} << 30);
  mallopt(M_TOP_PAD, static_cast<int>(pad));
  mallopt(M_MMAP_THRESHOLD, 1 << 20);
  void* probe = std::malloc(512u << 10);  // grows the heap by the pad
  auto start = reinterpret_cast<std::uintptr_t>(probe);
  auto end = reinterpret_cast<std::uintptr_t>(::sbrk(0));
  constexpr std::uintptr_t kHuge = 2u << 20;
  std::uintptr_t aligned = (start + kHuge - 1) & ~(kHuge - 1);
  if (end > aligned) ::madvise(reinterpret_cast<void*>(aligned), end - aligned, MADV_HUGEPAGE);
  std::free(probe);
}

// The way findings are printed, by its name on the command line; false for an unknown name.
bool ParseFormat(const std::string& name, FindingFormat* format) {
  if (name == "plain") {
    *format = FindingFormat::kPlain;
  } else if (name == "gcc") {
    *format = FindingFormat::kGcc;
  } else {
    return false;
  }
  return true;
}

// Reads the command line into [out]: the exit status to end with after help or a usage error,
// else -1.
int ReadArguments(const std::vector<std::string>& args, CheckArguments* out) {
  ParsedArguments arguments;
  if (int status = ParseOrExit(kSyntax, args, &arguments); status >= 0) return status;
  if (std::string name = arguments.Value("--format", "plain"); !ParseFormat(name, &out->format)) {
    return UsageError(kSyntax, "unknown format '" + name + "' (plain or gcc)");
  }
  out->testers = !arguments.Has("--no-testers");
  if (arguments.Has("--werror")) out->warnings = WarningsFail::kYes;
  if (arguments.Has("--syntax")) out->rules = Rules::kSyntaxOnly;
  out->files = arguments.operands();
  if (out->files.empty()) return UsageError(kSyntax, "no file given");
  return -1;
}

class Checker {
 public:
  explicit Checker(const CheckArguments& arguments) : arguments_(arguments) {
    if (arguments.rules == Rules::kSyntaxOnly) return;
    if (arguments.testers) testers_ = std::make_unique<InstalledTesters>();
    CheckOptions options;
    options.testers = testers_.get();
    std::set<std::string> stored = StoredVariableNames();
    options.defined_outside = [stored](const std::string& name) { return stored.count(name) > 0; };
    checker_ = std::make_unique<ScriptChecker>(std::move(options));
  }

  // Checks one file, or every script below a folder; false when it cannot be read.
  bool File(const std::string& path) {
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) return Folder(path);
    if (EndsWith(path, ".md")) return Guide(path);
    if (Statementwise(path)) return true;
    // A script with syntax errors is checked whole: the explanations need the tree around them.
    PrepareHeapFor({path});
    ScriptItemPtr root = ScriptItem::Make(rootItem, path, path, 0);
    ScriptLoader loader;
    if (!loader.Load(path, root)) return false;
    // The trees stay alive until the process ends: releasing a large tree item by item would
    // only cost time on the way out.
    static auto* const kept_trees = new std::vector<ScriptItemPtr>();
    kept_trees->push_back(root);
    if (checker_ == nullptr && loader.ErrorCount() == 0) return true;
    Print(Findings(*root, loader.SyntaxNotes()), "");
    return true;
  }

  bool failed() const { return failed_; }
  // Whether a script found in a folder could not be read.
  bool unreadable() const { return unreadable_; }

 private:
  // Checks a script a run of statements at a time, reading it twice, so a script of any length
  // is checked in little memory; false when it cannot be read or has syntax errors, which are
  // checked with the whole tree.
  bool Statementwise(const std::string& path) {
    ScriptItemPtr root = ScriptItem::Make(rootItem, path, path, 0);
    auto read = [&path](const ScriptItemPtr& top, const ScriptChecker::StatementSink& sink, bool* clean) {
      ScriptLoader loader;
      if (!loader.Load(path, top, sink)) return false;
      *clean = loader.ErrorCount() == 0 && loader.SyntaxNotes().empty();
      return true;
    };
    if (checker_ == nullptr) {  // syntax alone: one reading that keeps nothing
      return ReadInRuns(root, read, CheckOptions().statements_at_once, [](ScriptItem&) {});
    }
    std::optional<std::vector<Finding>> findings = checker_->CheckStatementwise(root, read);
    if (!findings) return false;
    Print(std::move(*findings), "");
    return true;
  }

  // Every .odl file below [path], in name order.
  bool Folder(const std::string& path) {
    std::vector<std::string> scripts;
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(path, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
      if (it->path().extension() == ".odl") scripts.push_back(it->path().string());
    }
    std::sort(scripts.begin(), scripts.end());
    for (const std::string& script : scripts) {
      if (!File(script)) {
        std::fprintf(stderr, "ordalis check: cannot open '%s'\n", script.c_str());
        unreadable_ = true;
      }
    }
    return !error;
  }

  bool Guide(const std::string& path) {
    std::vector<GuideBlock> blocks;
    if (!ReadGuide(path, &blocks)) return false;
    for (const GuideBlock& block : blocks) {
      // Blank lines in front give the items the lines they have in the guide.
      std::string text = std::string(block.first_line - 1, '\n') + block.text;
      ScriptItemPtr root = ScriptItem::Make(rootItem, path, path, 0);
      ScriptLoader loader;
      loader.LoadText(text, root);
      Print(Findings(*root, loader.SyntaxNotes()), path);
    }
    return true;
  }

  std::vector<Finding> Findings(const ScriptItem& root, const std::vector<SyntaxNote>& notes) {
    if (checker_) return checker_->Check(root, notes);
    return CheckSyntaxErrors(root, notes);
  }

  // Prints [findings]; those of text parsed from memory are given the file [source].
  void Print(std::vector<Finding> findings, const std::string& source) {
    for (Finding& finding : findings) {
      if (!source.empty() && finding.file == "N/A") finding.file = source;
    }
    failed_ |= PrintFindings(findings, stdout, arguments_.warnings, arguments_.format);
  }

  const CheckArguments& arguments_;
  std::unique_ptr<InstalledTesters> testers_;
  std::unique_ptr<ScriptChecker> checker_;
  bool failed_ = false;
  bool unreadable_ = false;
};

int Check(const std::vector<std::string>& args) {
  CheckArguments arguments;
  if (int status = ReadArguments(args, &arguments); status >= 0) return status;
  WarnOfUnreadableSettings("check");
  Checker checker(arguments);
  bool unreadable = false;
  for (const std::string& path : arguments.files) {
    if (!checker.File(path)) {
      std::fprintf(stderr, "ordalis check: cannot open '%s'\n", path.c_str());
      unreadable = true;
    }
  }
  if (unreadable || checker.unreadable()) return 2;
  return checker.failed() ? 1 : 0;
}

const CommandRegistration kRegistration(
    {"check", "find what is wrong in scripts without running them", &Check});

}  // namespace

}  // namespace ordalis::cli
