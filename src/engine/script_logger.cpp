#include "engine/script_logger.h"

#include "engine/script_document.h"
#include "platform/connection_point.h"
#include "trace/trace.h"

namespace ordalis {

// The _ITraceEvents sink list: it tells the script's log how many sinks there are, so a line
// nobody observes is never formatted.
class TraceSinks : public IConnectionPoint<ITraceEvents> {
 public:
  explicit TraceSinks(ScriptLog* log) : log_(log) {}
  Status Advise(std::shared_ptr<ITraceEvents> sink, std::uint32_t* cookie) override {
    Status status = sinks_.Advise(std::move(sink), cookie);
    Update();
    return status;
  }
  Status Unadvise(std::uint32_t cookie) override {
    Status status = sinks_.Unadvise(cookie);
    Update();
    return status;
  }
  ScriptLog::SinkList List() const { return sinks_.Snapshot(); }

 private:
  void Update() { log_->SetSinkCount(sinks_.size()); }
  ScriptLog* log_;
  ConnectionPoint<ITraceEvents> sinks_;
};

ScriptLogger::ScriptLogger(std::shared_ptr<const ScriptDocument> document)
    : document_(std::move(document)),
      sinks_(std::make_unique<TraceSinks>(&log_)),
      log_([this] { return sinks_->List(); }) {}

ScriptLogger::~ScriptLogger() = default;

IConnectionPoint<ITraceEvents>& ScriptLogger::sinks() { return *sinks_; }

void ScriptLogger::Log(LoggingLevel level, const std::string& variable_name, const std::string& message) {
  ItemPlace place = document_->CurrentPlace();
  log_.Log(level, variable_name, message, LogSource{place.file_name, place.line});
}

void ScriptLogger::RaiseEvent(LoggingLevel level, const std::string& variable_name,
                              const std::string& message) {
  log_.RaiseEvent(ScriptLog::Now(), level, variable_name, message, LogSource());
}

std::shared_ptr<ITrace> ScriptLogger::MakeTrace(const std::string& variable_name) {
  auto trace = std::make_shared<Trace>();
  trace->Bind(std::weak_ptr<Logger>(weak_from_this()), variable_name);
  return trace;
}

}  // namespace ordalis
