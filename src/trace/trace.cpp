#include "trace/trace.h"

namespace ordalis {

bool Trace::Claim() { return !claimed_.exchange(true, std::memory_order_acq_rel); }

void Trace::Bind(std::weak_ptr<Logger> logger, std::string variable_name) {
  if (logger.expired() || !Claim()) return;
  shared_logger_ = std::move(logger);
  variable_name_ = std::move(variable_name);
  bound_.store(true, std::memory_order_release);
}

void Trace::Bind(Logger* logger, std::string variable_name) {
  if (!logger || !Claim()) return;
  lasting_logger_ = logger;
  variable_name_ = std::move(variable_name);
  bound_.store(true, std::memory_order_release);
}

std::string Trace::variable_name() const {
  return bound() ? variable_name_ : std::string();
}

Status Trace::Log(LoggingLevel level, const std::string& text) {
  if (!bound()) return S_OK;
  if (lasting_logger_ != nullptr) {
    if (lasting_logger_->IsLogging(level)) lasting_logger_->Log(level, variable_name_, text);
    return S_OK;
  }
  // The lock keeps the Logger alive for the length of this line only.
  if (std::shared_ptr<Logger> logger = shared_logger_.lock()) {
    if (logger->IsLogging(level)) logger->Log(level, variable_name_, text);
  }
  return S_OK;
}

}  // namespace ordalis
