#include "trace/logger.h"

#include <cstdarg>
#include <cstdio>

namespace ordalis {

std::string LevelName(std::int32_t level) {
  switch (level) {
    case finest: return "Finest";
    case finer: return "Finer ";
    case fine: return "Fine  ";
    case configuration: return "Config";
    case information: return "Info  ";
    case warning: return "Warn  ";
    case severe: return "Severe";
    default: return "Unknown " + std::to_string(level);
  }
}

void Logger::Log(LoggingLevel level, std::string_view variable_name, const char* format, ...) {
  if (!IsLogging(level)) return;
  char buffer[kMaxMessage + 1];
  va_list arguments;
  va_start(arguments, format);
  int length = std::vsnprintf(buffer, sizeof buffer, format ? format : "", arguments);
  va_end(arguments);
  if (length < 0) buffer[0] = '\0';
  Log(level, std::string(variable_name), std::string(buffer));
}

}  // namespace ordalis
