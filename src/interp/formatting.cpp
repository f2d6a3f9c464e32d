#include "interp/formatting.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace ordalis {

namespace {

// ---------------------------------------------------------------------------------------------
// Formatter

struct ConversionState {
  char fill = ' ';
  bool left = false;
  int width = -1;      // unset
  int precision = -1;  // unset
  bool seen_width_digit = false;
  bool seen_dot = false;
};

void AppendPadded(std::string& out, const std::string& core, const ConversionState& state) {
  std::size_t width = state.width < 0 ? 0 : static_cast<std::size_t>(state.width);
  if (core.size() >= width) {
    out += core;
  } else if (state.left) {
    out += core;
    out.append(width - core.size(), state.fill);
  } else {
    out.append(width - core.size(), state.fill);
    out += core;
  }
}

// The text of one numeric conversion, or "?" when the argument does not fit it.
std::string NumericText(char conversion, const Variant* argument, const ConversionState& state) {
  char buffer[512];
  if (argument == nullptr) return "?";
  if (conversion == 'g' && argument->type() == VT_R8) {
    int precision = state.precision < 0 ? 6 : state.precision;
    if (precision > 300) precision = 300;
    std::snprintf(buffer, sizeof buffer, "%.*g", precision, argument->as_double());
    return buffer;
  }
  if (argument->type() != VT_I4) return "?";
  std::int32_t value = argument->as_int();
  switch (conversion) {
    case 'd':
    case 'g':
      std::snprintf(buffer, sizeof buffer, "%d", value);
      break;
    case 'o':
      std::snprintf(buffer, sizeof buffer, "%o", static_cast<std::uint32_t>(value));
      break;
    default:  // 'x' and 'X' both give lower-case digits
      std::snprintf(buffer, sizeof buffer, "%x", static_cast<std::uint32_t>(value));
      break;
  }
  return buffer;
}

class Formatter {
 public:
  Formatter(const std::string& format, const VariantArray& parameters, std::size_t first_argument)
      : format_(format), parameters_(parameters), cursor_(first_argument) {}

  std::string Run() {
    for (std::size_t i = 0; i < format_.size(); ++i) Step(format_[i]);
    // An octal or hexadecimal escape still open at the end of the format is dropped.
    return std::move(out_);
  }

 private:
  enum class Mode { kPlain, kEscape, kOctal, kHex, kConversion };

  void Step(char c) {
    switch (mode_) {
      case Mode::kPlain: Plain(c); break;
      case Mode::kEscape: Escape(c); break;
      case Mode::kOctal:
      case Mode::kHex: Number(c); break;
      case Mode::kConversion: Conversion(c); break;
    }
  }

  void Plain(char c) {
    if (c == '\\') {
      mode_ = Mode::kEscape;
    } else if (c == '%') {
      mode_ = Mode::kConversion;
      state_ = ConversionState();
    } else {
      out_ += c;
    }
  }

  void Escape(char c) {
    mode_ = Mode::kPlain;
    switch (c) {
      case 'a': out_ += '\a'; break;
      case 'b': out_ += '\b'; break;
      case 'f': out_ += '\f'; break;
      case 'n': out_ += '\n'; break;
      case 'r': out_ += '\r'; break;
      case 't': out_ += '\t'; break;
      case 'v': out_ += '\v'; break;
      case '0': mode_ = Mode::kOctal; number_ = 0; break;
      case 'x': mode_ = Mode::kHex; number_ = 0; break;
      default: out_ += c; break;  // "\\" gives one backslash, "\"" a double quote
    }
  }

  void Number(char c) {
    int digit = -1;
    if (mode_ == Mode::kOctal) {
      if (c >= '0' && c <= '7') digit = c - '0';
    } else if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    }
    if (digit >= 0) {
      number_ = number_ * (mode_ == Mode::kOctal ? 8u : 16u) + static_cast<unsigned>(digit);
      return;
    }
    out_ += static_cast<char>(number_ & 0xFF);
    mode_ = Mode::kPlain;
    Plain(c);
  }

  const Variant* TakeArgument() {
    const Variant* argument = cursor_ < parameters_.size() ? &parameters_[cursor_] : nullptr;
    ++cursor_;
    return argument;
  }

  void Conversion(char c) {
    switch (c) {
      case '%': out_ += '%'; mode_ = Mode::kPlain; return;
      case ' ': state_.fill = ' '; return;
      case '-': state_.left = true; return;
      case '.': state_.seen_dot = true; state_.precision = 0; return;
      case '0':
        if (!state_.seen_width_digit) {
          state_.fill = '0';
          return;
        }
        break;
      case 'd': case 'o': case 'x': case 'X': case 'g':
        AppendPadded(out_, NumericText(c == 'X' ? 'x' : c, TakeArgument(), state_), state_);
        mode_ = Mode::kPlain;
        return;
      case 's': {
        const Variant* argument = TakeArgument();
        out_ += argument != nullptr && argument->type() == VT_BSTR ? argument->as_string()
                                                                   : std::string("(null)");
        mode_ = Mode::kPlain;
        return;
      }
      default:
        break;
    }
    if (c >= '0' && c <= '9') {
      int digit = c - '0';
      if (state_.seen_dot) {
        if (state_.precision < 100000) state_.precision = state_.precision * 10 + digit;
      } else {
        state_.seen_width_digit = true;
        state_.width = (state_.width < 0 ? 0 : state_.width);
        if (state_.width < 100000) state_.width = state_.width * 10 + digit;
      }
      return;
    }
    // Anything else ends the conversion and is copied after the '%'.
    out_ += '%';
    out_ += c;
    mode_ = Mode::kPlain;
  }

  const std::string& format_;
  const VariantArray& parameters_;
  std::size_t cursor_;
  std::string out_;
  Mode mode_ = Mode::kPlain;
  ConversionState state_;
  unsigned number_ = 0;
};

// ---------------------------------------------------------------------------------------------
// Scanner

std::string Printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Printf(const char* format, ...) {
  char buffer[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  return buffer;
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

class Scanner {
 public:
  Scanner(const std::string& format, const std::string& text, VariableValue* out,
          const ScanLog& log)
      : format_(format), text_(text), out_(out), log_(log) {}

  Result Run() {
    while (f_ < format_.size()) {
      char c = format_[f_];
      if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
        ++f_;
        continue;
      }
      if (t_ >= text_.size()) return TestFailed;  // the text ran out before the format
      bool ok = c == '\\' ? Backslash() : c == '%' ? ConversionStep() : Literal(c);
      if (!ok) return TestFailed;
    }
    return TestPassed;
  }

 private:
  void Info(const std::string& message) { if (log_) log_(information, "Script", message); }
  bool Error(const std::string& message) {
    if (log_) log_(severe, "Script", message);
    return false;
  }

  void SkipTextSpace() {
    while (t_ < text_.size() && IsSpace(text_[t_])) ++t_;
  }

  bool Backslash() {
    if (f_ + 1 < format_.size()) {
      char next = format_[f_ + 1];
      if (next == 'n' || next == 't' || next == 'r') {
        f_ += 2;
        return true;
      }
    }
    return Error("sscanf Only \\n, \\t or \\r allowed");
  }

  bool Literal(char expected) {
    SkipTextSpace();
    char got = t_ < text_.size() ? text_[t_] : '\0';
    if (t_ >= text_.size() || got != expected) {
      return Error(Printf("sscanf Incorrect character received at char position %d (Expected '%c' Got '%c')",
                          static_cast<int>(t_), expected, got));
    }
    ++t_;
    ++f_;
    return true;
  }

  void Store(VariableValue value) {
    if (out_ != nullptr) out_->Append(std::move(value));
  }

  bool ConversionStep() {
    std::size_t start = f_;
    ++f_;  // '%'
    bool discard = false;
    if (f_ < format_.size() && format_[f_] == '*') {
      discard = true;
      ++f_;
    }
    std::size_t width = 0;
    while (f_ < format_.size() && format_[f_] >= '0' && format_[f_] <= '9') {
      if (width < 100000) width = width * 10 + static_cast<std::size_t>(format_[f_] - '0');
      ++f_;
    }
    if (f_ >= format_.size()) {
      return Error(Printf("sscanf Invalid format statement at char position %d", static_cast<int>(start)));
    }
    char conversion = format_[f_++];
    if (conversion != 'c' && conversion != '[') SkipTextSpace();
    switch (conversion) {
      case '%': {
        --f_;  // let Literal consume the '%' of the format
        return Literal('%');
      }
      case 'd': return Integer(10, true, discard, "sscanf Dec value = %d", "sscanf Dec value %d discarded",
                               "sscanf Invalid decimal number received at char position %d");
      case 'o': return Integer(8, false, discard, "sscanf Oct value = %o", "sscanf Oct value %o discarded",
                               "sscanf Invalid octal number received at char position %d");
      case 'u': return Integer(10, false, discard, "sscanf Unsigned val = %u", "sscanf Unsigned value %u discarded",
                               "sscanf Invalid unsigned decimal number received at char position %d");
      case 'x': return Integer(16, false, discard, "sscanf Hex value = %X", "sscanf Hex value %X discarded",
                               "sscanf Invalid hex number received at char position %d");
      case 'e': case 'E': case 'f': case 'g': case 'G': return Floating(discard);
      case 's': return Word(width, discard);
      case 'c': return Characters(width, discard);
      case '[': return ScanSet(discard, start);
      default:
        return Error(Printf("sscanf Invalid format statement at char position %d", static_cast<int>(start)));
    }
  }

  static int DigitValue(char c, int base) {
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    return digit >= 0 && digit < base ? digit : -1;
  }

  // Message formats carry one %d, %o, %u or %X conversion of the value.
  bool Integer(int base, bool signed_form, bool discard, const char* stored, const char* discarded,
               const char* invalid) {
    std::size_t position = t_;
    bool negative = false;
    if (signed_form && t_ < text_.size() && (text_[t_] == '+' || text_[t_] == '-')) {
      negative = text_[t_] == '-';
      ++t_;
    }
    std::uint32_t value = 0;
    std::size_t digits = 0;
    for (int d; t_ < text_.size() && (d = DigitValue(text_[t_], base)) >= 0; ++t_, ++digits) {
      value = value * static_cast<std::uint32_t>(base) + static_cast<std::uint32_t>(d);
    }
    if (digits == 0) return Error(Printf(invalid, static_cast<int>(position)));
    if (negative) value = 0u - value;
    std::int32_t stored_value = static_cast<std::int32_t>(value);
    // The messages print the value with the conversion letter of the scan.
    std::string message = std::string(discard ? discarded : stored);
    char formatted[256];
    std::snprintf(formatted, sizeof formatted, message.c_str(), stored_value);
    Info(formatted);
    if (!discard) Store(VariableValue(stored_value));
    return true;
  }

  bool Floating(bool discard) {
    std::size_t position = t_;
    std::string collected;
    auto take_digits = [&] {
      std::size_t n = 0;
      while (t_ < text_.size() && text_[t_] >= '0' && text_[t_] <= '9') {
        collected += text_[t_++];
        ++n;
      }
      return n;
    };
    if (t_ < text_.size() && (text_[t_] == '+' || text_[t_] == '-')) collected += text_[t_++];
    std::size_t digits = take_digits();
    if (t_ < text_.size() && text_[t_] == '.') {
      collected += text_[t_++];
      digits += take_digits();
    }
    if (digits > 0 && t_ < text_.size() && (text_[t_] == 'e' || text_[t_] == 'E')) {
      std::size_t mark = t_;
      std::string saved = collected;
      collected += text_[t_++];
      if (t_ < text_.size() && (text_[t_] == '+' || text_[t_] == '-')) collected += text_[t_++];
      if (take_digits() == 0) {  // "1e" without exponent digits: the 'e' is not part of it
        t_ = mark;
        collected = saved;
      }
    }
    if (digits == 0) {
      return Error(Printf("sscanf Invalid float received %s at char position %d", collected.c_str(),
                          static_cast<int>(position)));
    }
    double value = std::strtod(collected.c_str(), nullptr);
    Info(Printf(discard ? "sscanf Floating value %g discarded" : "sscanf Floating val = %g", value));
    if (!discard) Store(VariableValue(value));
    return true;
  }

  void StoreText(const std::string& value, bool discard, const char* stored, const char* discarded) {
    Info(Printf(discard ? discarded : stored, value.c_str()));
    if (!discard) Store(VariableValue(value));
  }

  bool Word(std::size_t width, bool discard) {
    std::size_t begin = t_;
    while (t_ < text_.size() && !IsSpace(text_[t_]) && (width == 0 || t_ - begin < width)) ++t_;
    if (t_ == begin) return Error("sscanf End of string");
    StoreText(text_.substr(begin, t_ - begin), discard, "sscanf String value = \"%s\"",
              "sscanf String value \"%s\" discarded");
    return true;
  }

  bool Characters(std::size_t width, bool discard) {
    std::size_t count = width == 0 ? 1 : width;
    if (t_ >= text_.size()) return Error("sscanf End of string");
    std::string value = text_.substr(t_, count);
    t_ += value.size();
    StoreText(value, discard, "sscanf char value = \"%s\"", "sscanf char value \"%s\" discarded");
    return true;
  }

  bool ScanSet(bool discard, std::size_t start) {
    bool members[256] = {};
    bool negate = false;
    if (f_ < format_.size() && format_[f_] == '^') {
      negate = true;
      ++f_;
    }
    bool first = true;
    bool closed = false;
    while (f_ < format_.size()) {
      unsigned char c = static_cast<unsigned char>(format_[f_]);
      if (c == ']' && !first) {
        ++f_;
        closed = true;
        break;
      }
      first = false;
      if (f_ + 2 < format_.size() && format_[f_ + 1] == '-' && format_[f_ + 2] != ']') {
        unsigned char last = static_cast<unsigned char>(format_[f_ + 2]);
        for (unsigned v = c; v <= last; ++v) members[v] = true;
        f_ += 3;
      } else {
        members[c] = true;
        ++f_;
      }
    }
    if (!closed) {
      return Error(Printf("sscanf Invalid format statement at char position %d", static_cast<int>(start)));
    }
    std::size_t begin = t_;
    while (t_ < text_.size() && members[static_cast<unsigned char>(text_[t_])] != negate) ++t_;
    if (t_ == begin) return Error("sscanf Blank string received");
    StoreText(text_.substr(begin, t_ - begin), discard, "sscanf String value = \"%s\"",
              "sscanf String value \"%s\" discarded");
    return true;
  }

  const std::string& format_;
  const std::string& text_;
  VariableValue* out_;
  const ScanLog& log_;
  std::size_t f_ = 0;
  std::size_t t_ = 0;
};

}  // namespace

std::string FormatText(std::uint32_t format_index, const VariantArrayPtr& parameters) {
  if (!parameters || format_index >= parameters->size()) return std::string();
  const Variant& format = (*parameters)[format_index];
  if (format.type() != VT_BSTR) return std::string();
  return Formatter(format.as_string(), *parameters, format_index + 1).Run();
}

Result ScanText(const std::string& format, const std::string& text, VariableValue* out,
                const ScanLog& log) {
  try {
    return Scanner(format, text, out, log).Run();
  } catch (...) {
    if (log) log(severe, "Script", "Error: An exception occurred during sscanf statement");
    return TestFailed;
  }
}

Result ScanFormatted(const VariantArrayPtr& parameters, VariableValue* out, const ScanLog& log) {
  if (!parameters || parameters->size() != 2 || (*parameters)[0].type() != VT_BSTR ||
      (*parameters)[1].type() != VT_BSTR) {
    if (log) log(severe, "Script", "Error: invalid paremters to sscanf expected (\"format\",\"text\")");
    return TestFailed;
  }
  return ScanText((*parameters)[0].as_string(), (*parameters)[1].as_string(), out, log);
}

void AppendXmlEscaped(std::string& out, const std::string& text, bool escape_hash) {
  for (char c : text) {
    switch (c) {
      case '"': out += "&quot;"; break;
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '#':
        if (escape_hash) {
          out += "%23";
        } else {
          out += c;
        }
        break;
      default: out += c;
    }
  }
}

std::string XmlEscape(const std::string& text, bool escape_hash) {
  std::string out;
  out.reserve(text.size());
  AppendXmlEscaped(out, text, escape_hash);
  return out;
}

}  // namespace ordalis
