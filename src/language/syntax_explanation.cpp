#include "language/syntax_explanation.h"

#include <algorithm>
#include <array>
#include <optional>

#include "language/script_item.h"

namespace ordalis {

namespace {

using Context = SyntaxErrorContext;
using Explanation = std::optional<std::string>;

constexpr std::string_view kEndOfFile = "end of file";

// Keywords the scanner knows only in lower case: "If" is an ordinary name.
constexpr std::array<std::string_view, 11> kLowerCaseKeywords = {
    "if", "then", "else", "endif", "while", "do", "endwhile", "new", "delete", "include", "result"};

constexpr std::array<std::string_view, 7> kValueTokens = {"INTEGER", "OCTAL",  "HEX",        "DOUBLE",
                                                          "BOOL",    "STRING", "RESULTVALUE"};

constexpr std::array<std::string_view, 12> kOperatorTokens = {
    "'+'", "'-'", "'*'", "'/'", "'%'", "'^'", "LT", "LE", "EQ", "GE", "GT", "NE"};

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

template <std::size_t N>
bool OneOf(std::string_view name, const std::array<std::string_view, N>& names) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

bool Expects(const Context& c, std::string_view name) {
  return std::find(c.expected.begin(), c.expected.end(), name) != c.expected.end();
}

// A statement may start here: the parser stands between two statements.
bool StatementExpected(const Context& c) { return Expects(c, "IF"); }

bool ValueExpected(const Context& c) { return Expects(c, "INTEGER") || Expects(c, "IDENTIFIER"); }

// How a token kind reads in a sentence.
std::string Word(std::string_view name) {
  if (name == kEndOfFile) return "the end of the file";
  if (name == "IDENTIFIER") return "a name";
  if (OneOf(name, kValueTokens)) return "a value";
  if (name == "COMMENT") return "a comment";
  static const std::pair<std::string_view, std::string_view> kSymbols[] = {
      {"LT", "<"}, {"LE", "<="}, {"EQ", "=="}, {"GE", ">="}, {"GT", ">"},
      {"NE", "!="}, {"DEC", "--"}, {"INC", "++"}};
  for (const auto& [token, symbol] : kSymbols) {
    if (name == token) return "'" + std::string(symbol) + "'";
  }
  if (name.size() >= 2 && name.front() == '\'') return std::string(name);
  return "'" + Lower(name) + "'";
}

// [text] on one line: line ends and other control characters written as escapes.
std::string OneLine(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (static_cast<unsigned char>(c) < 0x20) {
      out += '?';
    } else {
      out += c;
    }
  }
  return out;
}

// The token as written, quoted and cut short; its kind's word when the text is not known.
std::string Shown(std::string_view name, std::string_view text) {
  if (name == kEndOfFile || text.empty()) return Word(name);
  constexpr std::size_t kLongest = 40;
  if (text.size() > kLongest) return "'" + OneLine(text.substr(0, kLongest)) + "...'";
  return "'" + OneLine(text) + "'";
}

std::string Found(const Context& c) { return Shown(c.offending, c.offending_text); }
std::string Before(const Context& c) { return Shown(c.previous, c.previous_text); }

// The expected tokens as a list: values and operators each said once, at most eight entries.
std::string ExpectedList(const Context& c) {
  std::vector<std::string> words;
  for (std::string_view name : c.expected) {
    std::string word = OneOf(name, kOperatorTokens) || name == "AND" || name == "OR"
                           ? std::string("an operator")
                           : Word(name);
    if (std::find(words.begin(), words.end(), word) == words.end()) words.push_back(word);
  }
  if (words.size() > 8) {
    words.resize(8);
    words.push_back("...");
  }
  std::string list;
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (i > 0) list += i + 1 == words.size() ? " or " : ", ";
    list += words[i];
  }
  return list.empty() ? "something else" : list;
}

// A block still open: what opened it, the word that closes it and its line.
struct OpenBlock {
  std::string opener;
  std::string_view closer;
  std::uint32_t line = 0;
};

std::optional<OpenBlock> BlockOf(const ScriptItem& item) {
  const ScriptItem* parent = item.parent();
  switch (item.type()) {
    case thenItem:
    case elseItem:
      return OpenBlock{"'if'", "endif", parent ? parent->line() : item.line()};
    case doItem:
      return OpenBlock{"'while'", "endwhile", parent ? parent->line() : item.line()};
    case functionItem:
      return OpenBlock{"function '" + item.text() + "'", "endfunction", item.line()};
    case ignoreResultItem:
      return OpenBlock{"'ignoreresult'", "endignoreresult", item.line()};
    default:
      return std::nullopt;
  }
}

std::optional<OpenBlock> InnermostBlock(const Context& c) {
  for (auto it = c.open.rbegin(); it != c.open.rend(); ++it) {
    if (auto block = BlockOf(**it)) return block;
  }
  return std::nullopt;
}

// An open call, action call or index: what it is, the character that closes it and its line.
std::optional<OpenBlock> NestedOf(const ScriptItem& item) {
  switch (item.type()) {
    case functionCallItem:
    case sprintfItem:
    case sscanfItem:
    case arrayLengthItem:
      return OpenBlock{"the call of '" + item.text() + "'", ")", item.line()};
    case idItem:
      if (item.parent() && item.parent()->type() == actionItem) {
        return OpenBlock{"the action call '" + item.text() + "'", ")", item.line()};
      }
      return std::nullopt;
    case arrayIndexItem: {
      std::string name = item.child_count() > 0 ? item.child(0)->text() : std::string();
      return OpenBlock{"the index of '" + name + "'", "]", item.line()};
    }
    default:
      return std::nullopt;
  }
}

std::optional<OpenBlock> InnermostNested(const Context& c) {
  for (auto it = c.open.rbegin(); it != c.open.rend(); ++it) {
    if (BlockOf(**it)) return std::nullopt;  // nothing nested inside the innermost block
    if (auto nested = NestedOf(**it)) return nested;
  }
  return std::nullopt;
}

std::string LineText(std::uint32_t line) { return std::to_string(line); }

// ---- the rules, tried in order ---------------------------------------------------------------

// A keyword written in capitals, or a word the language does not have.
Explanation KeywordSpelling(const Context& c) {
  const std::pair<std::string_view, std::string_view> words[] = {
      {c.offending, c.offending_text}, {c.previous, c.previous_text}};
  for (const auto& [name, text] : words) {
    if (name != "IDENTIFIER" || text.empty()) continue;
    std::string lower = Lower(text);
    if (OneOf(std::string_view(lower), kLowerCaseKeywords)) {
      return "'" + std::string(text) + "' is not a keyword: keywords are lower case, so write '" +
             lower + "'";
    }
    if (lower == "for" || lower == "foreach" || lower == "endfor") {
      return "there is no 'for' loop: count with a variable in 'while <condition> do ... endwhile'";
    }
    if (lower == "elseif" || lower == "elsif" || lower == "elif") {
      return "there is no '" + std::string(text) +
             "': write 'else' followed by an 'if ... endif' of its own";
    }
  }
  return std::nullopt;
}

// if <condition> then, while <condition> do
Explanation MissingThenOrDo(const Context& c) {
  std::string text;
  if (Expects(c, "THEN")) {
    text = "expected 'then' after the condition of the 'if' on line " + LineText(c.if_line);
  } else if (Expects(c, "DO")) {
    text = "expected 'do' after the condition of the 'while' on line " + LineText(c.while_line);
  } else {
    return std::nullopt;
  }
  text += ", found " + Found(c);
  if (c.offending == "'='") text += ": '=' assigns, to compare write '=='";
  return text;
}

Explanation EndOfFile(const Context& c) {
  if (c.offending != kEndOfFile) return std::nullopt;
  if (StatementExpected(c)) {
    if (auto block = InnermostBlock(c)) {
      return "the " + block->opener + " on line " + LineText(block->line) + " is not closed: '" +
             std::string(block->closer) + "' is missing before the end of the file";
    }
  }
  if (auto nested = InnermostNested(c)) {
    return "the file ends inside " + nested->opener + " on line " + LineText(nested->line) +
           ": '" + std::string(nested->closer) + "' is missing";
  }
  if (ValueExpected(c)) return "the file ends where a value is expected after " + Before(c);
  return "the file ends in the middle of a statement: expected " + ExpectedList(c);
}

Explanation StrayCharacter(const Context& c) {
  if (c.offending != "STRAYCHAR" && c.offending != "'~'") return std::nullopt;
  std::string_view t = c.offending_text;
  if (t == "'") return std::string("texts are written in double quotes: \"text\"");
  if (t == "\"" || t == "\x94") return std::string("this text has no closing double quote");
  if (t == "\r") return std::string("a carriage return stands on its own here, outside a line end");
  if (t == "{" || t == "}") {
    return std::string("braces are not part of the language: blocks end with 'endif', "
                       "'endwhile' or 'endfunction'");
  }
  if (t == "&") return std::string("'&' alone is no operator: write 'and' or '&&'");
  if (t == "|") return std::string("'|' alone is no operator: write 'or' or '||'");
  return Found(c) + " is not part of the language";
}

Explanation CommentInside(const Context& c) {
  if (c.offending != "COMMENT" || Expects(c, "COMMENT")) return std::nullopt;
  return std::string("a comment cannot stand inside an unfinished statement: finish the "
                     "statement first, expected ") + ExpectedList(c);
}

bool IsCloser(std::string_view name) {
  return name == "ENDIF" || name == "ELSE" || name == "ENDWHILE" || name == "ENDFUNCTION" ||
         name == "ENDIGNORERESULT";
}

// endif, else, endwhile, endfunction or endignoreresult where it closes nothing open.
Explanation MisplacedCloser(const Context& c) {
  if (!IsCloser(c.offending)) return std::nullopt;
  std::string closer = Lower(c.offending);
  if (!StatementExpected(c)) {
    return "the statement before '" + closer + "' is not complete: expected " + ExpectedList(c);
  }
  std::optional<OpenBlock> block = InnermostBlock(c);
  if (!block) {
    if (closer == "else") return std::string("'else' has no 'if' to belong to");
    std::string opener = closer.substr(3);
    return "'" + closer + "' has no '" + opener + "' to close";
  }
  if (closer == "else" && block->closer == "endif") {
    return "the 'if' on line " + LineText(block->line) + " already has its 'else'";
  }
  return "'" + closer + "' cannot close the " + block->opener + " on line " +
         LineText(block->line) + ": close it with '" + std::string(block->closer) + "' first";
}

Explanation SignedNumber(const Context& c) {
  if (c.offending != "DOUBLE" || !StatementExpected(c) || c.offending_text.empty()) {
    return std::nullopt;
  }
  char sign = c.offending_text.front();
  if (sign != '-' && sign != '+') return std::nullopt;
  return Found(c) + " is read as one signed number, which cannot start a statement: to " +
         (sign == '-' ? "subtract" : "add") + ", put a space after the sign ('" + sign + " " +
         std::string(c.offending_text.substr(1)) + "')";
}

// A name at the start of a statement followed by something that makes no statement of it.
Explanation NameAlone(const Context& c) {
  if (c.previous != "IDENTIFIER" || !Expects(c, "'.'") || !Expects(c, "INC")) return std::nullopt;
  constexpr std::size_t kLongest = 40;
  std::string name(c.previous_text.substr(0, kLongest));
  if (OneOf(c.offending, kOperatorTokens)) {
    return "an expression is not a statement: assign it ('x = " + name +
           " ...') or use it in 'if', 'while' or 'assert(...)'";
  }
  return "'" + name + "' alone is not a statement: assign it ('" + name + " = ...'), call it ('" +
         name + "(...)') or call an action on it ('" + name + ".Action(...)')";
}

// The keywords followed by one fixed kind of token.
Explanation KeywordOperand(const Context& c) {
  if (c.previous == "NEW") {
    return "'new' takes a tester type and its parameters ('t = new echo()'), found " + Found(c);
  }
  if (c.previous == "DELETE") {
    return "'delete' takes the name of a tester variable ('delete t'), found " + Found(c);
  }
  if (c.previous == "INCLUDE") {
    return "'include' takes a file name in double quotes ('include \"lib/common.odl\"'), found " +
           Found(c);
  }
  return std::nullopt;
}

Explanation AssignmentTarget(const Context& c) {
  if (c.offending != "'='" || Expects(c, "'='")) return std::nullopt;
  if (Expects(c, "')'") || Expects(c, "EQ")) {
    return std::string("'=' assigns and cannot stand inside an expression: to compare two values "
                       "write '==' (or is a ')' missing before it?)");
  }
  if (c.previous == "']'") {
    return std::string("only a plain name can be assigned, not an element ('a[1] = ...'): "
                       "assign the whole array instead ('a = [1, 2]')");
  }
  return std::string("'=' cannot stand here: only a plain name at the start of a statement "
                     "can be assigned");
}

// Where only a name may follow: after '.', ':', "function", "delete".
Explanation NameMissing(const Context& c) {
  if (c.expected.size() != 1 || c.expected.front() != "IDENTIFIER") return std::nullopt;
  std::string text = "expected a name after " + Before(c) + ", found " + Found(c);
  std::string written(c.offending_text);
  if (OneOf(std::string_view(written), kLowerCaseKeywords)) {
    std::string other = written;
    other[0] = static_cast<char>(other[0] - 'a' + 'A');
    text += ": '" + written + "' is a keyword in lower case; in any other case ('" + other +
            "') it is a name";
  }
  return text;
}

Explanation ValueMissing(const Context& c) {
  if (!ValueExpected(c) || StatementExpected(c)) return std::nullopt;
  if (c.expected.size() == 1 && c.expected.front() == "INTEGER") {
    return std::string("a sign stands only directly before a whole number: to negate a value "
                       "write '0 - value'");
  }
  return "expected a value after " + Before(c) + ", found " + Found(c);
}

Explanation CloserMissing(const Context& c) {
  std::optional<OpenBlock> nested = InnermostNested(c);
  if (Expects(c, "')'")) {
    std::string where = nested ? " of " + nested->opener + " on line " + LineText(nested->line) : "";
    return "expected ',' or ')' after the arguments" + where + ", found " + Found(c);
  }
  if (Expects(c, "']'")) {
    std::string where = nested ? " to close " + nested->opener : "";
    return "expected ']'" + where + ", found " + Found(c);
  }
  return std::nullopt;
}

Explanation CannotStart(const Context& c) {
  if (!StatementExpected(c)) return std::nullopt;
  std::string text = Found(c) + " cannot start a statement: a statement starts with a name, a "
                                "keyword or a comment";
  bool after_value = c.previous == "IDENTIFIER" || OneOf(c.previous, kValueTokens) ||
                     c.previous == "')'" || c.previous == "']'";
  if (after_value) text += " (is an operator or a ',' missing before it?)";
  return text;
}

// The innermost construct still open: a call, index or block.
std::optional<OpenBlock> InnermostOpen(const Context& c) {
  for (auto it = c.open.rbegin(); it != c.open.rend(); ++it) {
    if (auto block = BlockOf(**it)) return block;
    if (auto nested = NestedOf(**it)) return nested;
  }
  return std::nullopt;
}

}  // namespace

std::string SummariseSyntaxError(const SyntaxErrorContext& context) {
  std::string found = context.offending == kEndOfFile ? std::string("end of file") : Found(context);
  std::string text = "unexpected " + found + ", expected " + ExpectedList(context);
  if (auto open = InnermostOpen(context)) {
    text += ", inside " + open->opener + " opened on line " + LineText(open->line);
  }
  return text;
}

std::string ExplainSyntaxError(const SyntaxErrorContext& context) {
  using Rule = Explanation (*)(const Context&);
  static constexpr Rule kRules[] = {KeywordSpelling, MissingThenOrDo,  KeywordOperand,
                                    EndOfFile,       StrayCharacter,   CommentInside,
                                    MisplacedCloser, SignedNumber,     NameAlone,
                                    AssignmentTarget, NameMissing,     ValueMissing,
                                    CloserMissing,   CannotStart};
  for (Rule rule : kRules) {
    if (Explanation text = rule(context)) return *text;
  }
  return "expected " + ExpectedList(context) + ", found " + Found(context);
}

}  // namespace ordalis
