#include "codec/literal_text.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace ordalis {

namespace {

// ---- writing -----------------------------------------------------------------------------

std::string FormatG(double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%g", value);
  return buffer;
}

// ---- reading -----------------------------------------------------------------------------
//
// The reader accepts exactly the literal lists the script language accepts on the right of an
// assignment, token for token: the same longest-match rules for numbers (so "078" is decimal
// and "017" octal), the same quotes (the double quote and the byte 0x94), the same white space
// (blanks, tabs, semicolons and line feeds), a sign only before a decimal integer or as part of
// a double, and adjacent strings joined.

enum class Token {
  kEnd,
  kDecimal,   // an unsigned decimal integer, which a sign may precede
  kInteger,   // a hexadecimal or octal integer
  kDouble,
  kBool,
  kString,
  kOpenBracket,
  kCloseBracket,
  kComma,
  kOpenParenthesis,
  kCloseParenthesis,
  kPlus,
  kMinus,
  kOther,     // anything no literal list may hold
};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsOctalDigit(char c) { return c >= '0' && c <= '7'; }
bool IsHexDigit(char c) {
  return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsWordCharacter(char c) { return IsLetter(c) || IsDigit(c) || c == '_'; }
bool IsQuote(char c) { return c == '"' || c == '\x94'; }

// [word] equals the lower-case [keyword], ignoring the case of A-Z.
bool IsKeyword(std::string_view word, std::string_view keyword) {
  if (word.size() != keyword.size()) return false;
  for (std::size_t i = 0; i < word.size(); ++i) {
    char c = word[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != keyword[i]) return false;
  }
  return true;
}

// Integer literals accumulate digit by digit in unsigned 32-bit arithmetic, so overlong ones
// wrap, as in the script language.
std::int32_t Accumulate(std::string_view digits, unsigned base) {
  std::uint32_t value = 0;
  for (char c : digits) {
    unsigned digit = c <= '9' ? static_cast<unsigned>(c - '0')
                              : static_cast<unsigned>((c | 0x20) - 'a' + 10);
    value = value * base + digit;
  }
  return static_cast<std::int32_t>(value);
}

// A double literal keeps six significant digits, as the language stores it.
double StoredDouble(std::string_view text) {
  std::string copy(text);
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%g", std::strtod(copy.c_str(), nullptr));
  return std::strtod(buffer, nullptr);
}

class LiteralScanner {
 public:
  explicit LiteralScanner(std::string_view text) : text_(text) {}

  // Reads the next token; its value is in integer(), number() or text().
  Token Next() {
    SkipBlanks();
    if (at_ >= text_.size()) return Token::kEnd;
    char c = text_[at_];
    if (IsQuote(c)) return String();
    if (IsDigit(c) || ((c == '+' || c == '-') && DoubleLength(at_) > 0)) return Number();
    if (c == '&') return Ampersand();
    if (IsLetter(c)) return Word();
    ++at_;
    switch (c) {
      case '[': return Token::kOpenBracket;
      case ']': return Token::kCloseBracket;
      case ',': return Token::kComma;
      case '(': return Token::kOpenParenthesis;
      case ')': return Token::kCloseParenthesis;
      case '+': return Token::kPlus;
      case '-': return Token::kMinus;
      default: return Token::kOther;
    }
  }

  std::int32_t integer() const { return integer_; }
  double number() const { return number_; }
  const std::string& text() const { return text_value_; }

 private:
  void SkipBlanks() {
    while (at_ < text_.size()) {
      char c = text_[at_];
      if (c != ' ' && c != '\t' && c != ';' && c != '\n') return;
      ++at_;
    }
  }

  std::size_t DigitsFrom(std::size_t from, bool (*accept)(char)) const {
    std::size_t end = from;
    while (end < text_.size() && accept(text_[end])) ++end;
    return end - from;
  }

  // Length of the double literal at [from] (an optional sign, digits, then a fraction, an
  // exponent or both), 0 when there is none.
  std::size_t DoubleLength(std::size_t from) const {
    std::size_t end = from;
    if (end < text_.size() && (text_[end] == '+' || text_[end] == '-')) ++end;
    std::size_t digits = DigitsFrom(end, IsDigit);
    if (digits == 0) return 0;
    end += digits;
    bool fraction = end < text_.size() && text_[end] == '.';
    if (fraction) end += 1 + DigitsFrom(end + 1, IsDigit);
    std::size_t exponent = ExponentLength(end);
    if (!fraction && exponent == 0) return 0;
    return end + exponent - from;
  }

  std::size_t ExponentLength(std::size_t from) const {
    if (from >= text_.size() || (text_[from] != 'e' && text_[from] != 'E')) return 0;
    std::size_t end = from + 1;
    if (end < text_.size() && (text_[end] == '+' || text_[end] == '-')) ++end;
    std::size_t digits = DigitsFrom(end, IsDigit);
    return digits == 0 ? 0 : end + digits - from;
  }

  // The longest of the number forms starting here; on equal length octal beats decimal.
  Token Number() {
    std::string_view rest = text_.substr(at_);
    std::size_t decimal = DigitsFrom(at_, IsDigit);
    std::size_t octal = 0;  // "0" and octal digits
    std::size_t hex = 0;    // "0x" and hexadecimal digits
    if (rest[0] == '0' && rest.size() > 1) {
      std::size_t digits = DigitsFrom(at_ + 1, IsOctalDigit);
      if (digits > 0) octal = 1 + digits;
      digits = rest[1] == 'x' ? DigitsFrom(at_ + 2, IsHexDigit) : 0;
      if (digits > 0) hex = 2 + digits;
    }
    std::size_t dbl = DoubleLength(at_);
    if (dbl > decimal && dbl > octal && dbl > hex) {
      number_ = StoredDouble(rest.substr(0, dbl));
      at_ += dbl;
      return Token::kDouble;
    }
    if (hex > decimal) {
      integer_ = Accumulate(rest.substr(2, hex - 2), 16);
      at_ += hex;
      return Token::kInteger;
    }
    if (octal > 0 && octal >= decimal) {
      integer_ = Accumulate(rest.substr(1, octal - 1), 8);
      at_ += octal;
      return Token::kInteger;
    }
    integer_ = Accumulate(rest.substr(0, decimal), 10);
    at_ += decimal;
    return Token::kDecimal;
  }

  // "&H" hexadecimal and "&O" octal integers.
  Token Ampersand() {
    if (at_ + 1 < text_.size()) {
      char form = text_[at_ + 1];
      bool hex = form == 'H';
      std::size_t digits = hex ? DigitsFrom(at_ + 2, IsHexDigit)
                               : form == 'O' ? DigitsFrom(at_ + 2, IsOctalDigit) : 0;
      if (digits > 0) {
        integer_ = Accumulate(text_.substr(at_ + 2, digits), hex ? 16 : 8);
        at_ += 2 + digits;
        return Token::kInteger;
      }
    }
    ++at_;
    return Token::kOther;
  }

  // true and false; the script-directory words, which read as empty text outside a script
  // file; every other word (a name, a keyword) is no literal.
  Token Word() {
    std::size_t length = DigitsFrom(at_, IsWordCharacter);
    std::string_view word = text_.substr(at_, length);
    at_ += length;
    if (IsKeyword(word, "true") || IsKeyword(word, "false")) {
      integer_ = IsKeyword(word, "true") ? 1 : 0;
      return Token::kBool;
    }
    for (std::string_view directory : {"scriptdirectory", "scriptdir", "scriptdirectorystr",
                                       "scriptdirstr"}) {
      if (IsKeyword(word, directory)) {
        text_value_.clear();
        return Token::kString;
      }
    }
    return Token::kOther;
  }

  // The bytes between two quotes, as they stand; a backslash keeps the byte after it (a quote
  // included) inside the string, except a line end. A zero byte ends the text.
  Token String() {
    std::size_t end = at_ + 1;
    while (end < text_.size() && !IsQuote(text_[end])) {
      if (text_[end] == '\\') {
        if (end + 1 >= text_.size() || text_[end + 1] == '\n') return Stray();
        ++end;
      }
      ++end;
    }
    if (end >= text_.size()) return Stray();
    std::string_view inside = text_.substr(at_ + 1, end - at_ - 1);
    text_value_.assign(inside.data(), ::strnlen(inside.data(), inside.size()));
    at_ = end + 1;
    return Token::kString;
  }

  Token Stray() {
    ++at_;
    return Token::kOther;
  }

  std::string_view text_;
  std::size_t at_ = 0;
  std::int32_t integer_ = 0;
  double number_ = 0.0;
  std::string text_value_;
};

// values := value { ',' value }
// value := '[' [ values ] ']' | expression
// expression := '(' expression ')' | ['+' | '-'] decimal | integer | double | bool | string { string }
class LiteralReader {
 public:
  explicit LiteralReader(std::string_view text) : scanner_(text) { Advance(); }

  bool Read(VariantArray* values) { return Values(values, 0) && token_ == Token::kEnd; }

 private:
  void Advance() { token_ = scanner_.Next(); }

  bool Values(VariantArray* values, std::size_t depth) {
    for (;;) {
      if (!Value(values, depth)) return false;
      if (token_ != Token::kComma) return true;
      Advance();
    }
  }

  bool Value(VariantArray* values, std::size_t depth) {
    if (token_ != Token::kOpenBracket) return Expression(values, depth);
    if (depth >= kMaxLiteralNesting) return false;
    Advance();
    VariantArray elements;
    if (token_ != Token::kCloseBracket && !Values(&elements, depth + 1)) return false;
    if (token_ != Token::kCloseBracket) return false;
    Advance();
    values->push_back(Variant::Array(std::move(elements)));
    return true;
  }

  bool Expression(VariantArray* values, std::size_t depth) {
    if (token_ == Token::kOpenParenthesis) {
      if (depth >= kMaxLiteralNesting) return false;
      Advance();
      if (!Expression(values, depth + 1) || token_ != Token::kCloseParenthesis) return false;
      Advance();
      return true;
    }
    return Literal(values);
  }

  bool Literal(VariantArray* values) {
    switch (token_) {
      case Token::kPlus:
      case Token::kMinus: return Signed(values);
      case Token::kDecimal:
      case Token::kInteger: values->push_back(Variant::Int(scanner_.integer())); break;
      case Token::kDouble: values->push_back(Variant::Double(scanner_.number())); break;
      case Token::kBool: values->push_back(Variant::Bool(scanner_.integer() != 0)); break;
      case Token::kString: return Strings(values);
      default: return false;
    }
    Advance();
    return true;
  }

  bool Signed(VariantArray* values) {
    bool negative = token_ == Token::kMinus;
    Advance();
    if (token_ != Token::kDecimal) return false;
    auto bits = static_cast<std::uint32_t>(scanner_.integer());
    values->push_back(Variant::Int(static_cast<std::int32_t>(negative ? 0u - bits : bits)));
    Advance();
    return true;
  }

  bool Strings(VariantArray* values) {
    std::string joined;
    while (token_ == Token::kString) {
      joined += scanner_.text();
      Advance();
    }
    values->push_back(Variant::String(std::move(joined)));
    return true;
  }

  LiteralScanner scanner_;
  Token token_ = Token::kEnd;
};

}  // namespace

void AppendLiteralString(std::string& out, std::string_view text) {
  out += '"';
  for (char c : text) {
    switch (c) {
      case '\a': out += "\\a"; break;
      case '\b': out += "\\b"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\v': out += "\\v"; break;
      case '\f': out += "\\f"; break;
      case '\r': out += "\\r"; break;
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      default: out += c; break;
    }
  }
  out += '"';
}

std::string LiteralText(const VariantArrayPtr& array) {
  std::string out;
  if (!array) return out;
  for (std::size_t i = 0; i < array->size(); ++i) {
    if (i != 0) out += ',';
    const Variant& variant = (*array)[i];
    switch (variant.type()) {
      case VT_I4: out += std::to_string(variant.as_int()); break;
      case VT_R8: out += FormatG(variant.as_double()); break;
      case VT_BSTR: AppendLiteralString(out, variant.as_string()); break;
      case VT_BOOL: out += variant.as_bool() ? "true" : "false"; break;
      case kVariantArrayType: out += "[" + LiteralText(variant.as_array()) + "]"; break;
      default: out += "Unknown Format " + std::to_string(variant.type()); break;
    }
  }
  return out;
}

bool ParseLiteralText(std::string_view text, VariantArray* values) {
  VariantArray read;
  if (!LiteralReader(text).Read(&read)) return false;
  *values = std::move(read);
  return true;
}

}  // namespace ordalis
