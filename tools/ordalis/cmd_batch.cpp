// ordalis batch: runs batch queues, edits queue files and shows batch results.

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <filesystem>
#include <exception>
#include <new>
#include <vector>

#include "batch/batch_paths.h"
#include "batch/item_creation.h"
#include "batch_cli.h"
#include "command.h"

namespace ordalis::cli {
namespace {

const CommandSyntax kSyntax{
    "batch",
    "SUBCOMMAND [ARGUMENTS]",
    "Runs a list of scripts, command files, perl, shell and python files (and any file type a\n"
    "plug-in batch item creator accepts) one after another, with retries, and writes a batch\n"
    "results file; edits queue files (.tbq) and shows batch results files.\n"
    "\n"
    "Subcommands:\n"
    "  run QUEUE.tbq | FILE...      run a queue file, or the files and folders given\n"
    "  new QUEUE.tbq [FILE...]      make a queue file\n"
    "  add QUEUE.tbq FILE...        add entries to a queue file\n"
    "  remove QUEUE.tbq POSITION... remove entries (positions as `list` shows them)\n"
    "  move QUEUE.tbq POSITION NEW  move an entry to a new position\n"
    "  list QUEUE.tbq               show the settings and the entries of a queue file\n"
    "  set QUEUE.tbq OPTIONS        change the settings of a queue file\n"
    "  results FILE.xml             show a batch results file; --comment adds a comment\n",
    {},
    "Run 'ordalis batch SUBCOMMAND --help' for the options of one subcommand.\n"
    "Exit status: 0 success, 1 an entry did not pass, 2 usage error or a file that cannot be\n"
    "read.\n"};

struct Subcommand {
  const char* name;
  CommandFunction run;
};

const Subcommand kSubcommands[] = {
    {"run", BatchRun},   {"new", BatchNew},   {"add", BatchAdd}, {"remove", BatchRemove},
    {"move", BatchMove}, {"list", BatchList}, {"set", BatchSet}, {"results", BatchResults},
};

// The last line of defence: whatever a subcommand did not foresee (memory running out above
// all) ends it with a clear message and the status of a file that cannot be read, never with
// an abort.
int RunSubcommand(const Subcommand& subcommand, const std::vector<std::string>& args) {
  try {
    return subcommand.run(std::vector<std::string>(args.begin() + 1, args.end()));
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "ordalis batch %s: out of memory\n", subcommand.name);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "ordalis batch %s: %s\n", subcommand.name, error.what());
  }
  return 2;
}

int BatchCommand(const std::vector<std::string>& args) {
  if (args.empty()) return UsageError(kSyntax, "no subcommand given");
  if (args[0] == "help") {
    std::fputs(HelpText(kSyntax).c_str(), stdout);
    return 0;
  }
  for (const Subcommand& subcommand : kSubcommands) {
    if (args[0] == subcommand.name) return RunSubcommand(subcommand, args);
  }
  // Not a subcommand: help, or an option batch does not have, or a mistyped subcommand.
  ParsedArguments arguments;
  if (int status = ParseOrExit(kSyntax, args, &arguments); status >= 0) return status;
  return UsageError(kSyntax, "unknown subcommand '" + args[0] + "'");
}

const CommandRegistration kRegistration({"batch", "run batch queues and edit queue files", BatchCommand});

}  // namespace

bool ParseOnOff(const std::string& text, bool* value) {
  for (const char* word : {"on", "yes", "true", "1"}) {
    if (text == word) return (*value = true), true;
  }
  for (const char* word : {"off", "no", "false", "0"}) {
    if (text == word) return (*value = false), true;
  }
  return false;
}

bool ParseCount(const std::string& text, std::uint32_t* value) {
  if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  unsigned long long number = std::strtoull(text.c_str(), nullptr, 10);
  if (number > 0xFFFFFFFFull) return false;
  *value = static_cast<std::uint32_t>(number);
  return true;
}

namespace {

bool Runnable(const std::string& file) {
  return batch::HasExtension(file, ".tbq") || Accepts(BatchQueueCreators::Instance(), file);
}

}  // namespace

int CollectEntries(const char* command, const std::vector<std::string>& paths, std::vector<std::string>* files) {
  namespace fs = std::filesystem;
  for (const std::string& path : paths) {
    std::error_code error;
    if (fs::is_directory(path, error)) {
      std::vector<std::string> found;
      for (const auto& entry : fs::directory_iterator(path, error)) {
        std::string name = entry.path().string();
        if (entry.is_regular_file(error) && !batch::HasExtension(name, ".tbq") && Runnable(name)) {
          found.push_back(batch::AbsolutePath(name));
        }
      }
      std::sort(found.begin(), found.end());
      if (found.empty()) std::fprintf(stderr, "ordalis batch %s: the folder '%s' holds nothing to run\n", command, path.c_str());
      files->insert(files->end(), found.begin(), found.end());
      continue;
    }
    if (std::string problem = batch::UnreadableFile(path); !problem.empty()) {
      std::fprintf(stderr, "ordalis batch %s: cannot open '%s': %s\n", command, path.c_str(), problem.c_str());
      return 2;
    }
    if (!Runnable(path)) {
      std::fprintf(stderr, "ordalis batch %s: no batch item creator accepts '%s' (type '%s')\n", command,
                   path.c_str(), batch::FileType(path).c_str());
      return 2;
    }
    files->push_back(batch::AbsolutePath(path));
  }
  return 0;
}

namespace {

struct SettingFlag {
  const char* option;
  bool batch::QueueSettings::*flag;
  const char* help;
};

const SettingFlag kSettingFlags[] = {
    {"--auto-remove", &batch::QueueSettings::auto_remove, "remove each entry once it is finished (default off)"},
    {"--email-enabled", &batch::QueueSettings::email_enabled, "the stored e-mail switch (default off)"},
    {"--auto-reset", &batch::QueueSettings::auto_reset, "reset each item before its first attempt (default on)"},
    {"--auto-save", &batch::QueueSettings::auto_save, "save the queue file after every change (default off)"},
    {"--stop-at-end", &batch::QueueSettings::stop_at_end, "stop after the last entry (default on)"},
};

constexpr const char* kRetrySetting = "--retry";

}  // namespace

std::vector<Option> WithQueueSettings(std::vector<Option> options) {
  for (const SettingFlag& setting : kSettingFlags) options.push_back(Option{setting.option, 0, "on|off", setting.help});
  options.push_back(Option{kRetrySetting, 0, "N", "extra attempts for an entry that fails (default 0)"});
  return options;
}

std::string ReadQueueSettings(const ParsedArguments& arguments, batch::QueueSettings* settings) {
  for (const SettingFlag& setting : kSettingFlags) {
    std::string value = arguments.Value(setting.option);
    if (arguments.Has(setting.option) && !ParseOnOff(value, &(settings->*(setting.flag)))) {
      return std::string(setting.option) + " takes on or off, not '" + value + "'";
    }
  }
  std::string retry = arguments.Value(kRetrySetting);
  if (arguments.Has(kRetrySetting) && !ParseCount(retry, &settings->retry_count)) {
    return std::string(kRetrySetting) + " takes a count, not '" + retry + "'";
  }
  return {};
}

std::string DescribeSettings(const batch::QueueSettings& s) {
  auto on = [](bool value) { return value ? "on" : "off"; };
  return std::string("auto-remove ") + on(s.auto_remove) + ", email-enabled " + on(s.email_enabled) +
         ", auto-reset " + on(s.auto_reset) + ", retry " + std::to_string(s.retry_count) + ", auto-save " +
         on(s.auto_save) + ", stop-at-end " + on(s.stop_at_end);
}

}  // namespace ordalis::cli
