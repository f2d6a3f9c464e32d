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

Option KeyOption(const char* help) { return Option{"--key", 0, "KEY", help}; }

Option CipherOption(const char* help) { return Option{"--cipher", 0, "NAME", help}; }

Option LinkLogLevelOption() {
  return Option{"--log-level", 0, "LEVEL", "the lowest log level printed (default information)"};
}

std::string ReadLinkOptions(const ParsedArguments& arguments, LinkOptions* link) {
  link->has_key = arguments.Has("--key");
  link->key = arguments.Value("--key");
  if (std::string cipher = arguments.Value("--cipher"); arguments.Has("--cipher") && !ParseCipherName(cipher, &link->cipher)) {
    return "unknown cipher '" + cipher + "'";
  }
  if (std::string level = arguments.Value("--log-level"); arguments.Has("--log-level") && !ParseLogLevel(level, &link->level)) {
    return "unknown log level '" + level + "'";
  }
  return {};
}

std::string ReadLinkOperands(const std::vector<std::string>& operands, LinkOptions* link) {
  if (operands.size() > 2) return "too many arguments ('" + operands[2] + "')";
  if (operands.size() < 2) return "give TYPE and PARAMETERS";
  link->type = operands[0];
  link->parameters = operands[1];
  return {};
}

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
