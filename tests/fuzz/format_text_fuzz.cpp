// Fuzzing harness for the formatter and the scanner of formatted text. The input is a format,
// a byte 0 and a list of literals: FormatText formats the literals with the format, and
// ScanText scans the formatted text (and the literals' text) with the same format.

#include <cstddef>
#include <cstdint>
#include <string>

#include "codec/format_text.h"
#include "codec/literal_text.h"
#include "interp/formatting.h"
#include "interp/variable_value.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ordalis;
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::size_t zero = input.find('\0');
  const std::string format = input.substr(0, zero);
  const std::string rest = zero == std::string::npos ? std::string() : input.substr(zero + 1);
  auto parameters = std::make_shared<VariantArray>();
  parameters->push_back(Variant::String(format));
  ParseLiteralText(rest, parameters.get());
  const std::string formatted = FormatText(0, parameters);
  std::size_t lines = 0;
  ScanLog log = [&](LoggingLevel, const std::string&, const std::string& text) {
    lines += text.size();
  };
  VariableValue out;
  ScanText(format, formatted, &out, log);
  VariableValue raw;
  ScanText(format, rest, &raw, log);
  return lines + out.ListText().size() == 0 ? 0 : 0;
}
