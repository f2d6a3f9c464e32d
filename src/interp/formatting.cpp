#include "interp/formatting.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace ordalis {

namespace {

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

}  // namespace ordalis
