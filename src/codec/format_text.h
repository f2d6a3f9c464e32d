#pragma once
// The formatter behind the script's sprintf and printf and ITesterUtilities::Format. Safe to
// call from any thread.

#include <cstdint>
#include <string>

#include "ordalis/variant.h"

namespace ordalis {

// Formats [parameters] with the format string at [format_index] and the arguments after it:
// %d %o %x %X %g %s with fill, left-justify, width and precision, %% and backslash escapes.
// Never fails: a missing or mistyped argument shows as "?" (or "(null)" for %s); a missing or
// non-string format gives empty text.
std::string FormatText(std::uint32_t format_index, const VariantArrayPtr& parameters);

}  // namespace ordalis
