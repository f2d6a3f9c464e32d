#include "interp/builtin_values.h"

#include <sys/random.h>

#include <cstdlib>
#include <ctime>

#include "interp/variable_table.h"

namespace ordalis {

namespace {

struct Entry {
  const char* name;
  BuiltIn value;
};

// Order matters: longer names that contain shorter ones come first.
constexpr Entry kEntries[] = {
    {"shortmonth", BuiltIn::kShortMonth}, {"longmonth", BuiltIn::kLongMonth},
    {"year", BuiltIn::kYear},             {"month", BuiltIn::kMonth},
    {"day", BuiltIn::kDay},               {"hour", BuiltIn::kHour},
    {"minute", BuiltIn::kMinute},         {"second", BuiltIn::kSecond},
    {"randomratio", BuiltIn::kRandomRatio}, {"randratio", BuiltIn::kRandomRatio},
    {"rand_max", BuiltIn::kRandomMax},    {"randommax", BuiltIn::kRandomMax},
    {"random", BuiltIn::kRandom},         {"rand", BuiltIn::kRandom},
};

constexpr const char* kShortMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr const char* kLongMonths[] = {"January", "February", "March",     "April",
                                       "May",     "June",     "July",      "August",
                                       "September", "October", "November", "December"};

// The ordinary generator in the 15-bit range the script language has always offered.
std::int32_t PseudoRandom() { return std::rand() & 0x7FFF; }

}  // namespace

std::optional<BuiltInName> MatchBuiltIn(std::string_view identifier) {
  std::string name = LowerName(identifier);
  for (const Entry& entry : kEntries) {
    std::string_view entry_name = entry.name;
    if (name.find(entry_name) == std::string::npos) continue;
    std::string_view rest = name;
    if (rest.size() < entry_name.size() || rest.substr(rest.size() - entry_name.size()) != entry_name) {
      return std::nullopt;
    }
    std::string_view prefix = rest.substr(0, rest.size() - entry_name.size());
    if (prefix.empty() || prefix == "current") return BuiltInName{entry.value, TimeSource::kCurrent};
    if (prefix == "load") return BuiltInName{entry.value, TimeSource::kLoad};
    if (prefix == "run") return BuiltInName{entry.value, TimeSource::kRun};
    return std::nullopt;
  }
  return std::nullopt;
}

bool CryptographicRandom(std::uint32_t* number) {
  return ::getrandom(number, sizeof *number, 0) == static_cast<ssize_t>(sizeof *number);
}

VariableValue BuiltInValue(BuiltIn value, std::int64_t time, Logger& log, RandomSource random) {
  if (value >= BuiltIn::kRandomRatio) {
    std::uint32_t number = 0;
    if (random && random(&number)) {
      switch (value) {
        case BuiltIn::kRandomRatio: return VariableValue(number / 4294967295.0);
        case BuiltIn::kRandomMax: return VariableValue(2147483647);
        default: return VariableValue(static_cast<std::int32_t>(number % 2147483647u));
      }
    }
    log.Log(warning, "Script", "rand_s failed using rand()");
    switch (value) {
      case BuiltIn::kRandomRatio: return VariableValue(PseudoRandom() / 32767.0);
      case BuiltIn::kRandomMax: return VariableValue(32767);
      default: return VariableValue(PseudoRandom());
    }
  }
  std::time_t seconds = static_cast<std::time_t>(time);
  std::tm local{};
  localtime_r(&seconds, &local);
  switch (value) {
    case BuiltIn::kShortMonth: return VariableValue(kShortMonths[local.tm_mon % 12]);
    case BuiltIn::kLongMonth: return VariableValue(kLongMonths[local.tm_mon % 12]);
    case BuiltIn::kYear: return VariableValue(local.tm_year + 1900);
    case BuiltIn::kMonth: return VariableValue(local.tm_mon + 1);
    case BuiltIn::kDay: return VariableValue(local.tm_mday);
    case BuiltIn::kHour: return VariableValue(local.tm_hour);
    case BuiltIn::kMinute: return VariableValue(local.tm_min);
    default: return VariableValue(local.tm_sec);
  }
}

}  // namespace ordalis
