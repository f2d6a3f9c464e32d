#include "codec/format_text.h"

#include <cstdio>

namespace ordalis {

namespace {

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

}  // namespace

std::string FormatText(std::uint32_t format_index, const VariantArrayPtr& parameters) {
  if (!parameters || format_index >= parameters->size()) return std::string();
  const Variant& format = (*parameters)[format_index];
  if (format.type() != VT_BSTR) return std::string();
  return Formatter(format.as_string(), *parameters, format_index + 1).Run();
}

}  // namespace ordalis
