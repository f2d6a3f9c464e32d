#pragma once
// LexicalAnalyser: the driver of one parse. It owns the input (a file read into memory or a
// copy of text), the line counter, the directory text of the script and the texts of the
// tokens, runs the generated scanner and parser over the input, and hands the parser's
// constructs to its TreeBuilder. Every analyser is independent of every other one; an analyser
// itself is used by one thread at a time.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "language/script_item.h"
#include "language/tree_builder.h"

namespace ordalis {

class LexicalAnalyser {
 public:
  // The parse hangs its items below [block]; every item carries [file_name].
  LexicalAnalyser(ScriptItemPtr block, std::shared_ptr<const std::string> file_name);
  ~LexicalAnalyser();
  LexicalAnalyser(const LexicalAnalyser&) = delete;
  LexicalAnalyser& operator=(const LexicalAnalyser&) = delete;

  // Reads and parses the regular file [path] of at most [limit] bytes; carriage-return/line-feed
  // pairs are read as one line feed. False, with errno set, only when the file cannot be read
  // (EISDIR or EINVAL for what is not a regular file, EFBIG when it is larger than [limit]);
  // syntax errors become error items.
  bool ParseFile(const std::string& path, std::size_t limit);
  // How many bytes the last ParseFile read (before line ends were joined).
  std::size_t bytes_read() const { return bytes_read_; }
  // Parses [text] as it stands. Always true.
  bool ParseText(std::string_view text);

  // The escaped directory of the script at [path], relative paths taken against
  // [working_directory]: every backslash written twice, ending with a separator unless empty.
  static std::string DirectoryText(const std::string& path, const std::string& working_directory);

  // A token the scanner handed to the parser: its kind (the parser's token code, 0 at the end of
  // input), the line it stands on and, for names, strings and comments, its text.
  struct Token {
    int kind = -1;
    std::uint32_t line = 1;
    std::uint32_t column = 1;  // of its first byte, counted from 1
    std::string_view text;
  };

  // ---- used by the scanner and the parser ----
  // Copies up to [size] bytes of input into [buffer]; 0 at the end of input. (The scanner is
  // given the whole input at once, so it asks only after the end.)
  std::size_t Read(char* buffer, std::size_t size);
  std::uint32_t line() const { return line_; }
  // The scanner met a line end; the token text is the line end itself.
  void CountLine() {
    ++line_;
    line_start_ = token_text_ + 1;
  }
  // Every token passes here on its way from the scanner to the parser; returns [kind].
  int TokenRead(int kind, std::string_view kept_text) {
    previous_ = current_;
    current_ = Token{kind, line_, TokenColumn(), kept_text};
    return kind;
  }
  // The scanner reports the keywords that open a condition.
  void IfRead() { if_line_ = line_; }
  void WhileRead() { while_line_ = line_; }
  const Token& current_token() const { return current_; }
  const Token& previous_token() const { return previous_; }
  // The lines of the last "if" and "while" keywords read, for messages about their conditions.
  std::uint32_t if_line() const { return if_line_; }
  std::uint32_t while_line() const { return while_line_; }
  // The parser met a syntax error in [state] with the look-ahead [token] (its symbol number);
  // the error rule takes it to explain the error.
  void NoteSyntaxError(int state, int token) {
    error_state_ = state;
    error_token_ = token;
    error_noted_ = true;
  }
  bool TakeSyntaxError(int* state, int* token) {
    if (!error_noted_) return false;
    *state = error_state_;
    *token = error_token_;
    error_noted_ = false;
    return true;
  }
  // The parser shows where it keeps its look-ahead token and the value that means it holds
  // none (null once the parse is over).
  void WatchLookAhead(const int* look_ahead, int none) {
    look_ahead_ = look_ahead;
    no_look_ahead_ = none;
  }
  // Items are stamped with the line of the last token the parser has taken. While it holds a
  // look-ahead token that has not been taken yet, that is the token before it.
  std::uint32_t StampLine() const {
    bool held = look_ahead_ != nullptr && *look_ahead_ != no_look_ahead_;
    return held ? previous_.line : current_.line;
  }
  // The column of the same token.
  std::uint32_t StampColumn() const {
    bool held = look_ahead_ != nullptr && *look_ahead_ != no_look_ahead_;
    return held ? previous_.column : current_.column;
  }
  const std::string& directory_text() const { return directory_text_; }
  // Keeps [text] for the rest of the parse and returns a view of the kept copy.
  std::string_view Keep(std::string_view text);
  // The text of the token last read; null at the end of input.
  const char* token_text() const { return token_text_; }
  void set_token_text(const char* text) { token_text_ = text; }
  TreeBuilder& builder() { return builder_; }

 private:
  void Parse();
  // The column of the token last read; at the end of input, the column after the last byte.
  std::uint32_t TokenColumn() const;

  std::string directory_text_;
  std::string buffer_;
  std::size_t read_position_ = 0;
  std::size_t bytes_read_ = 0;
  std::uint32_t line_ = 1;
  const char* line_start_ = nullptr;  // in [buffer_], where the scanner works in place
  const int* look_ahead_ = nullptr;
  int error_state_ = 0;
  int error_token_ = 0;
  bool error_noted_ = false;
  int no_look_ahead_ = 0;
  Token current_;
  Token previous_;
  std::uint32_t if_line_ = 0;
  std::uint32_t while_line_ = 0;
  // Token texts, packed into large blocks that live until the parse ends.
  std::vector<std::unique_ptr<char[]>> text_blocks_;
  char* text_free_ = nullptr;
  std::size_t text_left_ = 0;
  const char* token_text_ = nullptr;
  TreeBuilder builder_;
};

}  // namespace ordalis
