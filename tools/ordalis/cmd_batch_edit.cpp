// ordalis batch new|add|remove|move|list|set: makes and edits queue files without a graphical
// front end. Files are written whole, through a temporary file and a rename.

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "batch/batch_paths.h"
#include "batch/item_creation.h"
#include "batch/queue_file.h"
#include "batch_cli.h"
#include "command.h"

namespace ordalis::cli {
namespace {

const CommandSyntax kNewSyntax{
    "batch new",
    "QUEUE.tbq [FILE|FOLDER...] [OPTIONS]",
    "Makes a queue file listing the files given (a folder gives every file in it that a batch\n"
    "item creator accepts, in name order). Entries are stored relative to the queue file's\n"
    "folder, so the folder and its queue file can be moved together.\n",
    WithQueueSettings({
        {"--email", 0, "ADDRESSES", "e-mail addresses of the entries added"},
        {"--force", 0, nullptr, "replace an existing queue file"},
    })};

const CommandSyntax kAddSyntax{
    "batch add",
    "QUEUE.tbq FILE|FOLDER... [--email ADDRESSES] [--at POSITION]",
    "Adds entries to a queue file, at the end or before POSITION (1 is the first entry).\n",
    {
        {"--email", 0, "ADDRESSES", "e-mail addresses of the entries added"},
        {"--at", 0, "POSITION", "add the entries before the entry at POSITION"},
    }};

const CommandSyntax kRemoveSyntax{
    "batch remove", "QUEUE.tbq POSITION...",
    "Removes the entries at the positions given (1 is the first entry, as `list` shows).\n", {}};

const CommandSyntax kMoveSyntax{
    "batch move", "QUEUE.tbq POSITION NEW_POSITION",
    "Moves the entry at POSITION so that it becomes entry NEW_POSITION (past the end: last).\n", {}};

const CommandSyntax kListSyntax{
    "batch list", "QUEUE.tbq",
    "Shows the settings and the entries of a queue file: each entry's path as it resolves from\n"
    "the queue file's folder, its e-mail addresses, and whether it can run (ok; missing: the\n"
    "file cannot be read; no file: a folder, FIFO or device; no kind: no batch item creator\n"
    "accepts its type). Exit status 1 when an entry cannot run.\n",
    {}};

const CommandSyntax kSetSyntax{
    "batch set", "QUEUE.tbq OPTIONS", "Changes the settings stored in a queue file.\n",
    WithQueueSettings({
        {"--email", 0, "POSITION ADDRESSES", "the e-mail addresses of one entry", true, 2},
    })};

// Parses [args] against [syntax] and then the queue settings among them into [settings] when
// given: the exit status to end with after help or a usage error, else -1.
int Parse(const CommandSyntax& syntax, const std::vector<std::string>& args, ParsedArguments* arguments,
          batch::QueueSettings* settings = nullptr) {
  if (int status = ParseOrExit(syntax, args, arguments); status >= 0) return status;
  if (settings == nullptr) return -1;
  std::string problem = ReadQueueSettings(*arguments, settings);
  return problem.empty() ? -1 : UsageError(syntax, problem);
}

// Reads [path] for editing; 0, or 2 after saying why it cannot be read.
int ReadForEdit(const char* command, const std::string& path, batch::QueueFileContents* contents) {
  std::string problem;
  if (batch::ReadQueueFile(path, contents, &problem) == batch::QueueFileRead::kRead) return 0;
  std::fprintf(stderr, "ordalis batch %s: %s\n", command, problem.c_str());
  return 2;
}

int Write(const char* command, const std::string& path, const batch::QueueFileContents& contents) {
  if (contents.entries.size() > batch::kMaxQueueEntries) {
    std::fprintf(stderr, "ordalis batch %s: '%s' would list %zu entries; a queue holds at most %zu\n", command,
                 path.c_str(), contents.entries.size(), batch::kMaxQueueEntries);
    return 2;
  }
  if (batch::WriteFileAtomically(path, batch::QueueFileBytes(path, contents.entries, contents.settings))) return 0;
  std::fprintf(stderr, "ordalis batch %s: cannot write '%s'\n", command, path.c_str());
  return 2;
}

// A 1-based position of [count] entries; false after printing what is wrong.
bool ParsePosition(const char* command, const std::string& text, std::size_t count, std::size_t* index) {
  std::uint32_t position = 0;
  if (!ParseCount(text, &position) || position == 0 || position > count) {
    std::fprintf(stderr, "ordalis batch %s: no entry at position '%s' (the queue has %zu)\n", command,
                 text.c_str(), count);
    return false;
  }
  *index = position - 1;
  return true;
}

int NewCommand(const std::vector<std::string>& args) {
  ParsedArguments arguments;
  batch::QueueFileContents contents;
  contents.settings = batch::kNewQueueSettings;
  if (int status = Parse(kNewSyntax, args, &arguments, &contents.settings); status >= 0) return status;
  std::vector<std::string> paths = arguments.operands();
  if (paths.empty()) return UsageError(kNewSyntax, "no queue file given");
  std::string queue = paths.front();
  paths.erase(paths.begin());
  if (!batch::HasExtension(queue, ".tbq")) return UsageError(kNewSyntax, "a queue file's name ends in .tbq");
  std::error_code error;
  if (!arguments.Has("--force") && std::filesystem::exists(queue, error)) {
    std::fprintf(stderr, "ordalis batch new: '%s' exists (--force replaces it)\n", queue.c_str());
    return 2;
  }
  std::vector<std::string> files;
  if (int status = CollectEntries("new", paths, &files)) return status;
  for (const std::string& file : files) contents.entries.push_back({file, arguments.Value("--email")});
  return Write("new", queue, contents);
}

int AddCommand(const std::vector<std::string>& args) {
  ParsedArguments arguments;
  if (int status = Parse(kAddSyntax, args, &arguments); status >= 0) return status;
  std::vector<std::string> paths = arguments.operands();
  if (paths.size() < 2) return UsageError(kAddSyntax, "a queue file and at least one file are needed");
  std::string queue = paths.front();
  paths.erase(paths.begin());
  batch::QueueFileContents contents;
  if (int status = ReadForEdit("add", queue, &contents)) return status;
  std::vector<std::string> files;
  if (int status = CollectEntries("add", paths, &files)) return status;
  std::size_t index = contents.entries.size();
  if (arguments.Has("--at") && !ParsePosition("add", arguments.Value("--at"), contents.entries.size() + 1, &index)) {
    return 2;
  }
  for (const std::string& file : files) {
    contents.entries.insert(contents.entries.begin() + static_cast<std::ptrdiff_t>(index++),
                            {file, arguments.Value("--email")});
  }
  return Write("add", queue, contents);
}

int RemoveCommand(const std::vector<std::string>& all) {
  ParsedArguments arguments;
  if (int status = Parse(kRemoveSyntax, all, &arguments); status >= 0) return status;
  const std::vector<std::string>& args = arguments.operands();
  if (args.size() < 2) return UsageError(kRemoveSyntax, "a queue file and at least one position are needed");
  batch::QueueFileContents contents;
  if (int status = ReadForEdit("remove", args[0], &contents)) return status;
  std::vector<std::size_t> indexes;
  for (std::size_t i = 1; i < args.size(); ++i) {
    std::size_t index = 0;
    if (!ParsePosition("remove", args[i], contents.entries.size(), &index)) return 2;
    indexes.push_back(index);
  }
  std::sort(indexes.rbegin(), indexes.rend());
  indexes.erase(std::unique(indexes.begin(), indexes.end()), indexes.end());
  for (std::size_t index : indexes) contents.entries.erase(contents.entries.begin() + static_cast<std::ptrdiff_t>(index));
  return Write("remove", args[0], contents);
}

int MoveCommand(const std::vector<std::string>& all) {
  ParsedArguments arguments;
  if (int status = Parse(kMoveSyntax, all, &arguments); status >= 0) return status;
  const std::vector<std::string>& args = arguments.operands();
  if (args.size() != 3) return UsageError(kMoveSyntax, "a queue file and two positions are needed");
  batch::QueueFileContents contents;
  if (int status = ReadForEdit("move", args[0], &contents)) return status;
  std::size_t from = 0;
  std::uint32_t to = 0;
  if (!ParsePosition("move", args[1], contents.entries.size(), &from)) return 2;
  if (!ParseCount(args[2], &to) || to == 0) return UsageError(kMoveSyntax, "bad position '" + args[2] + "'");
  batch::QueueFileEntry entry = contents.entries[from];
  contents.entries.erase(contents.entries.begin() + static_cast<std::ptrdiff_t>(from));
  std::size_t index = std::min<std::size_t>(to - 1, contents.entries.size());
  contents.entries.insert(contents.entries.begin() + static_cast<std::ptrdiff_t>(index), entry);
  return Write("move", args[0], contents);
}

int ListCommand(const std::vector<std::string>& all) {
  ParsedArguments arguments;
  if (int status = Parse(kListSyntax, all, &arguments); status >= 0) return status;
  const std::vector<std::string>& args = arguments.operands();
  if (args.size() != 1) return UsageError(kListSyntax, "one queue file is needed");
  batch::QueueFileContents contents;
  if (int status = ReadForEdit("list", args[0], &contents)) return status;
  std::printf("Queue file: %s (format version %u)\n", args[0].c_str(), contents.version);
  std::printf("Settings: %s\n", DescribeSettings(contents.settings).c_str());
  std::printf("Entries: %zu\n", contents.entries.size());
  int problems = 0;
  for (std::size_t i = 0; i < contents.entries.size(); ++i) {
    const batch::QueueFileEntry& entry = contents.entries[i];
    const char* state = "ok";
    if (std::string problem = batch::UnreadableFile(entry.file_name); !problem.empty()) {
      state = problem == batch::kNotARegularFile ? "no file" : "missing";
    } else if (!batch::HasExtension(entry.file_name, ".tbq") && !Accepts(BatchQueueCreators::Instance(), entry.file_name)) {
      state = "no kind";
    }
    problems += std::string(state) != "ok";
    std::printf("%4zu  %-8s %s\n", i + 1, state, entry.file_name.c_str());
    if (!entry.email_addresses.empty()) std::printf("      e-mail: %s\n", entry.email_addresses.c_str());
  }
  if (problems > 0) {
    std::printf("%d entr%s cannot run (missing: the file cannot be read; no file: a folder, FIFO or device, not a file; no kind: no batch item creator accepts its type)\n",
                problems, problems == 1 ? "y" : "ies");
  }
  return problems > 0 ? 1 : 0;
}

int SetCommand(const std::vector<std::string>& args) {
  ParsedArguments arguments;
  if (int status = Parse(kSetSyntax, args, &arguments); status >= 0) return status;
  const std::vector<std::string>& operands = arguments.operands();
  if (operands.empty()) return UsageError(kSetSyntax, "no queue file given");
  if (operands.size() > 1) return UsageError(kSetSyntax, "unexpected '" + operands[1] + "'");
  batch::QueueFileContents contents;
  if (int status = ReadForEdit("set", operands[0], &contents)) return status;
  if (std::string problem = ReadQueueSettings(arguments, &contents.settings); !problem.empty()) {
    return UsageError(kSetSyntax, problem);
  }
  const std::vector<std::string>& emails = arguments.Values("--email");
  for (std::size_t i = 0; i + 1 < emails.size(); i += 2) {
    std::size_t index = 0;
    if (!ParsePosition("set", emails[i], contents.entries.size(), &index)) return 2;
    contents.entries[index].email_addresses = emails[i + 1];
  }
  return Write("set", operands[0], contents);
}

}  // namespace

int BatchNew(const std::vector<std::string>& args) { return NewCommand(args); }
int BatchAdd(const std::vector<std::string>& args) { return AddCommand(args); }
int BatchRemove(const std::vector<std::string>& args) { return RemoveCommand(args); }
int BatchMove(const std::vector<std::string>& args) { return MoveCommand(args); }
int BatchList(const std::vector<std::string>& args) { return ListCommand(args); }
int BatchSet(const std::vector<std::string>& args) { return SetCommand(args); }

}  // namespace ordalis::cli
