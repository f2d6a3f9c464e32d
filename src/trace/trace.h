#pragma once
// Trace: the ITrace object handed to a tester or a batch item. It is bound once to a Logger
// and the name of the variable that holds the tester, and forwards every line to that Logger
// under that name. The Logger is held by plain pointer: its owner outlives the testers it
// gives traces to.

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
  void Bind(Logger* logger, std::string variable_name);
  bool bound() const { return logger_.load(std::memory_order_acquire) != nullptr; }
  // The bound name; empty before binding.
  std::string variable_name() const;

  // ITrace: forwards to the bound Logger; an unbound trace drops the line. Always S_OK.
  Status Log(LoggingLevel level, const std::string& text) override;

 private:
  std::atomic<bool> claimed_{false};
  std::atomic<Logger*> logger_{nullptr};
  std::string variable_name_;  // written once, before logger_ is published
};

}  // namespace ordalis
