#include "trace/trace.h"

namespace ordalis {

void Trace::Bind(Logger* logger, std::string variable_name) {
  if (!logger || claimed_.exchange(true, std::memory_order_acq_rel)) return;
  variable_name_ = std::move(variable_name);
  logger_.store(logger, std::memory_order_release);
}

std::string Trace::variable_name() const {
  return bound() ? variable_name_ : std::string();
}

Status Trace::Log(LoggingLevel level, const std::string& text) {
  Logger* logger = logger_.load(std::memory_order_acquire);
  if (logger && logger->IsLogging(level)) logger->Log(level, variable_name_, text);
  return S_OK;
}

}  // namespace ordalis
