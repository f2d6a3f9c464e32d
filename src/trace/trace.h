#pragma once
// Trace: the ITrace object handed to a tester or a batch item. It is bound once to a Logger
// and the name of the variable that holds the tester, and forwards every line to that Logger
// under that name.
//
// A tester, and whoever holds the tester, may keep its trace longer than the script that gave
// it out lives, so the trace holds its Logger weakly: once the Logger is gone, lines are
// dropped.

#include <atomic>
#include <memory>
#include <string>

#include "ordalis/interfaces.h"
#include "trace/logger.h"

namespace ordalis {

class Trace : public ITrace {
 public:
  Trace() = default;

  // Binds [logger] and [variable_name]; a second binding of a bound trace is ignored. Safe to
  // call from any thread.
  void Bind(std::weak_ptr<Logger> logger, std::string variable_name);
  // Binds a Logger that outlives every trace bound to it (a process-wide or a test's logger).
  void Bind(Logger* logger, std::string variable_name);
  bool bound() const { return bound_.load(std::memory_order_acquire); }
  // The bound name; empty before binding.
  std::string variable_name() const;

  // ITrace: forwards to the bound Logger while it lives; otherwise the line is dropped.
  // Always S_OK. Safe to call from any thread.
  Status Log(LoggingLevel level, const std::string& text) override;

 private:
  bool Claim();

  std::atomic<bool> claimed_{false};
  std::atomic<bool> bound_{false};
  // Written once, before bound_ is published.
  std::weak_ptr<Logger> shared_logger_;
  Logger* lasting_logger_ = nullptr;
  std::string variable_name_;
};

}  // namespace ordalis
