// One parser and one help layout for the options of every `ordalis` command.

#include "option_table.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <optional>

#include "platform/text.h"

namespace ordalis::cli {
namespace {

constexpr std::size_t kHelpWidth = 90;        // the widest line the option list is wrapped to
constexpr std::size_t kWidestTagColumn = 30;  // a longer option name puts its help on the next line

const std::vector<std::string> kNoValues;

// "-1", "-0.5", "-" and every word not starting with a dash are operands, not options: a
// negative number is a value users type (`ordalis vars set offset -1`).
bool IsOperand(const std::string& word) {
  if (word.size() < 2 || word[0] != '-') return true;
  return std::isdigit(static_cast<unsigned char>(word[1])) || word[1] == '.';
}

const Option* Find(const CommandSyntax& syntax, std::string_view word) {
  for (const Option& option : syntax.options) {
    if (word == option.name) return &option;
    if (option.short_name != 0 && word.size() == 2 && word[0] == '-' && word[1] == option.short_name) return &option;
  }
  return nullptr;
}

// True when [word] is free text rather than an option: after the command's leading operands,
// anything that is not one of its options.
bool IsFreeWord(const CommandSyntax& syntax, const ParsedArguments& arguments, const std::string& word) {
  if (syntax.free_words_after == 0 || arguments.operands().size() < syntax.free_words_after) return false;
  return Find(syntax, word.substr(0, word.find('='))) == nullptr && word != "--help" && word != "-h";
}

std::string UnknownOption(const CommandSyntax& syntax, const std::string& word) {
  std::string message = "unknown option '" + word + "'";
  if (std::string closest = ClosestOption(syntax, word); !closest.empty()) {
    message += " (did you mean '" + closest + "'?)";
  }
  return message;
}

// Reads the option at args[*index], and its value from the next word when it takes one and has
// none attached. Returns what is wrong with it; empty when it was read.
std::string ReadOption(const CommandSyntax& syntax, const std::vector<std::string>& args, std::size_t* index,
                       ParsedArguments* arguments) {
  const std::string& word = args[*index];
  std::string written = word;
  std::optional<std::string> value;
  if (word.rfind("--", 0) == 0) {
    if (std::size_t equals = word.find('='); equals != std::string::npos) {
      written = word.substr(0, equals);
      value = word.substr(equals + 1);
    }
  } else if (word.size() > 2) {  // "-oFILE"
    written = word.substr(0, 2);
    value = word.substr(2);
  }
  const Option* option = Find(syntax, written);
  if (option == nullptr) return UnknownOption(syntax, written);
  const std::string name = option->name;
  if (option->value == nullptr && value) return name + " takes no value";
  std::vector<std::string> words;
  if (value) words.push_back(*value);
  for (std::size_t wanted = option->value == nullptr ? 0 : option->value_words; words.size() < wanted;) {
    if (*index + 1 >= args.size()) return name + " needs a value (" + option->value + ")";
    words.push_back(args[++*index]);
  }
  // A second value for a single option leaves it unclear which one was meant.
  if (option->value != nullptr && !option->repeatable && arguments->Has(name)) {
    return name + " is given more than once";
  }
  if (words.empty()) words.emplace_back();
  for (std::string& word : words) arguments->Add(name, std::move(word));
  return {};
}

std::string OptionTag(const Option& option) {
  std::string tag = option.short_name != 0 ? std::string("  -") + option.short_name + ", " : "  ";
  tag += option.name;
  if (option.value != nullptr) tag += std::string(" ") + option.value;
  return tag;
}

// [text] broken into lines of at most [width] characters at spaces.
std::vector<std::string> Wrap(std::string_view text, std::size_t width) {
  std::vector<std::string> lines(1);
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find(' ', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view word = text.substr(start, end - start);
    if (!lines.back().empty() && lines.back().size() + 1 + word.size() > width) lines.emplace_back();
    if (!lines.back().empty()) lines.back() += ' ';
    lines.back() += word;
    start = end + 1;
  }
  return lines;
}

std::string OptionList(const std::vector<Option>& options) {
  std::size_t column = 0;
  for (const Option& option : options) {
    std::size_t width = OptionTag(option).size() + 2;
    if (width <= kWidestTagColumn) column = std::max(column, width);
  }
  std::string text;
  for (const Option& option : options) {
    std::string line = OptionTag(option);
    if (line.size() + 2 > column) {
      text += line + "\n";
      line.clear();
    }
    std::string help = option.help;
    if (option.repeatable) help += help.empty() ? "may be repeated" : "; may be repeated";
    for (const std::string& part : Wrap(help, kHelpWidth - column)) {
      line.resize(column, ' ');
      text += line + part + "\n";
      line.clear();
    }
  }
  return text;
}

std::string UsageLine(const CommandSyntax& syntax) {
  std::string line = std::string("Usage: ordalis ") + syntax.command;
  if (*syntax.synopsis != '\0' && *syntax.synopsis != '\n') line += " ";
  line += syntax.synopsis;
  return line + "\n";
}

}  // namespace

std::string ParsedArguments::Value(std::string_view name, std::string fallback) const {
  auto found = values_.find(std::string(name));
  return found == values_.end() ? fallback : found->second.back();
}

const std::vector<std::string>& ParsedArguments::Values(std::string_view name) const {
  auto found = values_.find(std::string(name));
  return found == values_.end() ? kNoValues : found->second;
}

ParseOutcome ParseArguments(const CommandSyntax& syntax, const std::vector<std::string>& args,
                            ParsedArguments* arguments) {
  std::string problem;
  bool help = false;
  bool options_ended = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& word = args[i];
    if (options_ended || IsOperand(word) || IsFreeWord(syntax, *arguments, word)) {
      arguments->AddOperand(word);
    } else if (word == "--") {
      options_ended = true;
    } else if (word == "--help" || word == "-h") {
      help = true;
    } else if (std::string wrong = ReadOption(syntax, args, &i, arguments); problem.empty()) {
      problem = wrong;
    }
  }
  if (help) {
    std::fputs(HelpText(syntax).c_str(), stdout);
    return ParseOutcome::kHelp;
  }
  if (!problem.empty()) {
    UsageError(syntax, problem);
    return ParseOutcome::kUsageError;
  }
  return ParseOutcome::kParsed;
}

int ParseOrExit(const CommandSyntax& syntax, const std::vector<std::string>& args, ParsedArguments* arguments) {
  switch (ParseArguments(syntax, args, arguments)) {
    case ParseOutcome::kHelp:
      return 0;
    case ParseOutcome::kUsageError:
      return 2;
    case ParseOutcome::kParsed:
      break;
  }
  return -1;
}

std::string HelpText(const CommandSyntax& syntax) {
  std::string text = UsageLine(syntax);
  if (*syntax.description != '\0') text += std::string("\n") + syntax.description;
  if (!syntax.options.empty()) text += "\nOptions:\n" + OptionList(syntax.options);
  if (*syntax.details != '\0') text += std::string("\n") + syntax.details;
  return text;
}

int UsageError(const CommandSyntax& syntax, const std::string& message) {
  std::fprintf(stderr, "ordalis %s: %s\n%sRun 'ordalis %s --help' for more.\n", syntax.command, message.c_str(),
               UsageLine(syntax).c_str(), syntax.command);
  return 2;
}

std::string ClosestOption(const CommandSyntax& syntax, std::string_view word) {
  // An option cut short ("--results") is meant as the one it begins, when only one does.
  std::vector<std::string_view> begun;
  for (const Option& option : syntax.options) {
    if (word.size() >= 5 && std::string_view(option.name).rfind(word, 0) == 0) begun.push_back(option.name);
  }
  if (!begun.empty()) return begun.size() == 1 ? std::string(begun.front()) : std::string();
  // Otherwise a slip of one or two letters; a short word is close to too many names for more.
  const std::size_t allowed = word.size() <= 6 ? 1 : 2;
  std::string best;
  std::size_t best_distance = allowed + 1;
  for (const Option& option : syntax.options) {
    std::size_t distance = EditDistance(word, option.name);
    if (distance < best_distance) {
      best = option.name;
      best_distance = distance;
    }
  }
  return best;
}

}  // namespace ordalis::cli
