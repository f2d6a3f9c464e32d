#include "language/lexical_analyser.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <filesystem>
#include <new>

#include "language/parser.h"
#include "language/scanner.h"
#include "platform/file_descriptor.h"

namespace ordalis {

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Appends [source] to [out] with every backslash written twice; a backslash that follows a
// backslash in [source] is dropped first.
void AppendEscaped(std::string& out, std::string_view source) {
  for (std::size_t i = 0; i < source.size(); ++i) {
    if (source[i] == '\\') {
      if (i > 0 && source[i - 1] == '\\') continue;
      out += "\\\\";
    } else {
      out += source[i];
    }
  }
}

// Reads the whole regular file of at most [limit] bytes; carriage-return/line-feed pairs become
// one line feed. False, with errno set, when the file cannot be opened or read.
bool ReadTextFile(const std::string& path, std::size_t limit, std::string* contents,
                  std::size_t* bytes_read) {
  if (!ReadRegularFile(path, limit, contents)) return false;
  *bytes_read = contents->size();
  std::size_t out = 0;
  for (std::size_t in = 0; in < contents->size(); ++in) {
    if ((*contents)[in] == '\r' && in + 1 < contents->size() && (*contents)[in + 1] == '\n') {
      continue;
    }
    (*contents)[out++] = (*contents)[in];
  }
  contents->resize(out);
  return true;
}

std::string WorkingDirectory() {
  std::error_code error;
  std::filesystem::path path = std::filesystem::current_path(error);
  return error ? std::string() : path.string();
}

}  // namespace

LexicalAnalyser::LexicalAnalyser(ScriptItemPtr block, std::shared_ptr<const std::string> file_name)
    : builder_(std::move(block), std::move(file_name), this) {}

LexicalAnalyser::~LexicalAnalyser() = default;

std::string LexicalAnalyser::DirectoryText(const std::string& path,
                                           const std::string& working_directory) {
  std::string text;
  bool absolute = (!path.empty() && IsSeparator(path[0])) || (path.size() >= 2 && path[1] == ':');
  if (!absolute) {
    AppendEscaped(text, working_directory);
    if (text.empty() || !IsSeparator(text.back())) text += '/';
  }
  std::size_t last = path.find_last_of("\\/");
  if (last != std::string::npos) AppendEscaped(text, std::string_view(path).substr(0, last + 1));
  return text;
}

bool LexicalAnalyser::ParseFile(const std::string& path, std::size_t limit) {
  line_ = 1;
  bytes_read_ = 0;
  directory_text_ = DirectoryText(path, WorkingDirectory());
  if (!ReadTextFile(path, limit, &buffer_, &bytes_read_)) return false;
  read_position_ = 0;
  Parse();
  return true;
}

bool LexicalAnalyser::ParseText(std::string_view text) {
  line_ = 1;
  if (text.empty()) return true;
  buffer_.assign(text);
  read_position_ = 0;
  directory_text_.clear();
  Parse();
  return true;
}

std::size_t LexicalAnalyser::Read(char* buffer, std::size_t size) {
  std::size_t count = std::min(size, buffer_.size() - read_position_);
  std::memcpy(buffer, buffer_.data() + read_position_, count);
  read_position_ += count;
  return count;
}

std::string_view LexicalAnalyser::Keep(std::string_view text) {
  if (text.size() > text_left_) {
    // Small inputs (a value list, a one-line script) get a small block.
    std::size_t block = std::clamp<std::size_t>(buffer_.size(), 1024, 64 * 1024);
    std::size_t size = std::max(block, text.size());
    text_blocks_.push_back(std::make_unique<char[]>(size));
    text_free_ = text_blocks_.back().get();
    text_left_ = size;
  }
  if (text.empty()) return {};
  std::memcpy(text_free_, text.data(), text.size());
  std::string_view kept(text_free_, text.size());
  text_free_ += text.size();
  text_left_ -= text.size();
  return kept;
}

std::uint32_t LexicalAnalyser::TokenColumn() const {
  const char* at = token_text_ != nullptr ? token_text_ : buffer_.data() + read_position_;
  if (line_start_ == nullptr || at < line_start_) return 1;
  auto bytes = static_cast<std::size_t>(at - line_start_);
  return static_cast<std::uint32_t>(std::min<std::size_t>(bytes, 0xFFFFFFFEu)) + 1;
}

void LexicalAnalyser::Parse() {
  yyscan_t scanner = nullptr;
  if (odllex_init_extra(this, &scanner) != 0) return;
  int result = 1;
  try {
    // The scanner works on the whole input in place. Fed in chunks it would rescan a token from
    // its start after every chunk, which makes a long comment or string quadratic to scan.
    const std::size_t length = buffer_.size();
    buffer_.append(2, '\0');  // the two end-of-buffer bytes the scanner expects
    if (odl_scan_buffer(buffer_.data(), buffer_.size(), scanner) == nullptr) throw std::bad_alloc();
    read_position_ = length;
    line_start_ = buffer_.data();
    result = odlparse(scanner, *this);
  } catch (const std::exception&) {
    // Out of memory inside the scanner: the items built so far stay.
  }
  WatchLookAhead(nullptr, 0);
  odllex_destroy(scanner);
  if (result == 2 || builder_.too_deep()) builder_.NestingTooDeep();
  text_blocks_.clear();
  text_free_ = nullptr;
  text_left_ = 0;
}

}  // namespace ordalis
