#pragma once
// Explains a syntax error in the words of the language, from what the parser knew when it met
// the error: the token it could not take, the token before it, the tokens it could have taken,
// and the constructs still open with the lines they opened on. The explanation follows the
// error lines of the error items, which keep their own texts.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ordalis {

class ScriptItem;

// Tokens are named as the parser names them: keywords and token kinds in capitals ("IF",
// "IDENTIFIER", "LT"), single characters in single quotes ("'+'"), the end of input as
// "end of file".
struct SyntaxErrorContext {
  std::string_view offending;       // the token the parser could not take
  std::string_view offending_text;  // as written; empty at the end of input
  std::string_view previous;        // the token before it; empty at the start of the input
  std::string_view previous_text;   // its text when it is a name, a string or a comment
  std::vector<std::string_view> expected;  // the tokens the parser could have taken instead
  std::uint32_t if_line = 0;     // line of the last "if" read
  std::uint32_t while_line = 0;  // line of the last "while" read
  // The items open for children when the error was met, outermost first (TreeBuilder::OpenItems).
  std::vector<const ScriptItem*> open;
};

// One sentence saying what is wrong and, where the parser's state tells, what to write.
std::string ExplainSyntaxError(const SyntaxErrorContext& context);

// The error in one phrase, the same for every error: the token the parser could not take, what
// it expected instead and the innermost construct still open, with the line it opened on
// ("unexpected '*', expected a value, inside the call of 'f' opened on line 2").
std::string SummariseSyntaxError(const SyntaxErrorContext& context);

}  // namespace ordalis
