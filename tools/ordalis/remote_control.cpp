#include "remote_control.h"

#include <pthread.h>

#include <cstdio>
#include <utility>

#include "interp/variable_value.h"
#include "trace/script_log.h"

namespace ordalis::cli {

namespace {

std::mutex g_output_mutex;

}  // namespace

bool ParseLogLevel(const std::string& text, LoggingLevel* level) {
  static const std::pair<const char*, LoggingLevel> kLevels[] = {
      {"finest", finest},         {"finer", finer},      {"fine", fine},
      {"configuration", configuration}, {"config", configuration}, {"information", information},
      {"info", information},      {"warning", warning},  {"warn", warning},
      {"severe", severe}};
  for (const auto& [name, value] : kLevels) {
    if (text == name) {
      *level = value;
      return true;
    }
  }
  return false;
}

void PrintLogLine(LoggingLevel lowest, std::int64_t time, double seconds, LoggingLevel level,
                  const std::string& variable_name, const std::string& message) {
  if (level < lowest) return;
  std::string line = ScriptLog::FileLine(LogTime{time, seconds}, level, variable_name, message);
  std::lock_guard lock(g_output_mutex);
  std::fprintf(stdout, "%s\n", line.c_str());
  std::fflush(stdout);
}

bool ParseLinkParameterText(const std::string& text, LinkParameters* parameters) {
  parameters->clear();
  if (text.find_first_not_of(" \t") == std::string::npos) return true;
  VariableValue value;
  if (!VariableValue::ParseValueText(text, &value)) return false;
  VariantArrayPtr values = value.ToVariantArray();
  if (values) *parameters = *values;
  return true;
}

}  // namespace ordalis::cli
