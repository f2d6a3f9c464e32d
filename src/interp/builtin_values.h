#pragma once
// Built-in values: the names a script may read without defining them (year, month, rand, …),
// with "current", "load" and "run" prefixes choosing the time they describe.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "interp/variable_value.h"
#include "trace/logger.h"

namespace ordalis {

enum class BuiltIn : std::int32_t {
  kShortMonth = 0,
  kLongMonth = 1,
  kYear = 2,
  kMonth = 3,
  kDay = 4,
  kHour = 5,
  kMinute = 6,
  kSecond = 7,
  kRandomRatio = 8,
  kRandomMax = 9,
  kRandom = 10,
};

enum class TimeSource { kCurrent, kLoad, kRun };

struct BuiltInName {
  BuiltIn value;
  TimeSource time;
};

// Matches [identifier] against the built-in names: the first entry of the table that occurs
// anywhere in the lower-cased identifier is taken, and the identifier must then be that entry
// alone or with a "current", "load" or "run" prefix. Nothing otherwise.
std::optional<BuiltInName> MatchBuiltIn(std::string_view identifier);

// A 32-bit number from the cryptographic random source; false when the source fails.
using RandomSource = bool (*)(std::uint32_t* number);
bool CryptographicRandom(std::uint32_t* number);

// The value of [value] at [time] (seconds since 1970, shown in local time). The random
// values come from [random]; when it fails the ordinary pseudo-random generator stands in and
// "rand_s failed using rand()" is logged to [log].
VariableValue BuiltInValue(BuiltIn value, std::int64_t time, Logger& log,
                           RandomSource random = CryptographicRandom);

}  // namespace ordalis
