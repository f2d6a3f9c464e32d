#pragma once
// Text services of the interpreter: the sscanf scanner and the XML escaping of the results
// writers. The formatter behind sprintf and printf lives with the value texts
// (codec/format_text.h) so testers can use it too; it is offered here with the rest.

#include <cstdint>
#include <functional>
#include <string>

#include "codec/format_text.h"
#include "interp/variable_value.h"
#include "ordalis/types.h"
#include "ordalis/variant.h"

namespace ordalis {

// Receives one log line of the scanner: level, variable name ("Script") and message.
using ScanLog = std::function<void(LoggingLevel, const std::string&, const std::string&)>;

// sscanf(format, text) over a parameter array that must hold exactly two strings. Each value a
// conversion stores is appended to [out]; every step is logged through [log]. TestPassed when
// the whole format was matched (text left over is ignored), TestFailed otherwise.
Result ScanFormatted(const VariantArrayPtr& parameters, VariableValue* out, const ScanLog& log);

// The same scan over the two texts directly.
Result ScanText(const std::string& format, const std::string& text, VariableValue* out,
                const ScanLog& log);

}  // namespace ordalis
