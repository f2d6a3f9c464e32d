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

  // ---- used by the scanner and the parser ----
  // Copies up to [size] bytes of input into [buffer]; 0 at the end of input. (The scanner is
  // given the whole input at once, so it asks only after the end.)
  std::size_t Read(char* buffer, std::size_t size);
  std::uint32_t line() const { return line_; }
  void CountLine() { ++line_; }
  const std::string& directory_text() const { return directory_text_; }
  // Keeps [text] for the rest of the parse and returns a view of the kept copy.
  std::string_view Keep(std::string_view text);
  // The text of the token last read; null at the end of input.
  const char* token_text() const { return token_text_; }
  void set_token_text(const char* text) { token_text_ = text; }
  TreeBuilder& builder() { return builder_; }

 private:
  void Parse();

  std::string directory_text_;
  std::string buffer_;
  std::size_t read_position_ = 0;
  std::size_t bytes_read_ = 0;
  std::uint32_t line_ = 1;
  // Token texts, packed into large blocks that live until the parse ends.
  std::vector<std::unique_ptr<char[]>> text_blocks_;
  char* text_free_ = nullptr;
  std::size_t text_left_ = 0;
  const char* token_text_ = nullptr;
  TreeBuilder builder_;
};

}  // namespace ordalis
