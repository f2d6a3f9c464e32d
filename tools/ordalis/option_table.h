#pragma once
// The options of every `ordalis` command, declared as a table and read by one parser, so that
// every command answers a mistyped, incomplete or doubled option with the same words and lays
// out its --help the same way. The completion files are written from that --help.

#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace ordalis::cli {

struct Option {
  const char* name;              // the long form with its dashes: "--results-dir"
  char short_name = 0;           // 'o' for "-o"; 0 when the option has no short form
  const char* value = nullptr;   // the value's name in the help ("DIR"); null for a switch
  const char* help = "";         // one paragraph, wrapped by the help layout
  bool repeatable = false;       // may be given again; every value is kept
  std::size_t value_words = 1;   // the words its value takes ("--email POSITION ADDRESSES": 2)
};

// What a command takes: its name as typed ("run", "batch run"), the words after it in the
// usage line, the text before the option list, its options and the text after them. Both texts
// are laid out as printed, each ending with a line end when it is not empty.
struct CommandSyntax {
  const char* command;
  const char* synopsis;
  const char* description;
  std::vector<Option> options;
  const char* details = "";
  // After this many operands a word that is none of the options is an operand too, so that a
  // value may start with a dash ('ordalis vars set --string note -x'); 0: never.
  std::size_t free_words_after = 0;
};

// The options and operands of one command line, as the parser found them.
class ParsedArguments {
 public:
  bool Has(std::string_view name) const { return values_.find(std::string(name)) != values_.end(); }
  // The value of [name]; [fallback] when the option was not given.
  std::string Value(std::string_view name, std::string fallback = {}) const;
  // Every value of a repeatable [name], in the order given; a value of several words is that
  // many entries.
  const std::vector<std::string>& Values(std::string_view name) const;
  const std::vector<std::string>& operands() const { return operands_; }

  void Add(const std::string& name, std::string value) { values_[name].push_back(std::move(value)); }
  void AddOperand(std::string operand) { operands_.push_back(std::move(operand)); }

 private:
  std::map<std::string, std::vector<std::string>> values_;  // by long name; a switch holds ""
  std::vector<std::string> operands_;
};

enum class ParseOutcome {
  kParsed,      // [arguments] holds the command line
  kHelp,        // --help or -h was given: the help is printed on standard output
  kUsageError,  // what is wrong is printed on standard error with where to find help
};

// Reads [args] (the words after the command's name) against [syntax]. "--name=value" and
// "--name value" are the same; "--" ends the options; "-" and words such as "-1" that start
// with a digit are operands. Help wins over a mistake anywhere on the line.
ParseOutcome ParseArguments(const CommandSyntax& syntax, const std::vector<std::string>& args,
                            ParsedArguments* arguments);

// ParseArguments as a command's first step: the exit status to end with (0 after help, 2 after a
// usage error), or -1 when the command goes on with [arguments].
int ParseOrExit(const CommandSyntax& syntax, const std::vector<std::string>& args, ParsedArguments* arguments);

// The whole --help of [syntax]: usage line, description, option list, details.
std::string HelpText(const CommandSyntax& syntax);

// Prints "ordalis COMMAND: [message]" and where to find the command's help on standard error;
// returns 2, the exit status of a usage error.
int UsageError(const CommandSyntax& syntax, const std::string& message);

// The option of [syntax] closest to the mistyped [word], for a did-you-mean; empty when none is
// close enough to be a typing slip.
std::string ClosestOption(const CommandSyntax& syntax, std::string_view word);

}  // namespace ordalis::cli
