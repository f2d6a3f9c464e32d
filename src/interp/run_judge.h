#pragma once
// RunJudge: counts the faults the interpreter meets while it runs statements (the severe lines
// it writes and the names it does not find) and, in a strict run, fails every statement during
// which one occurred. The language lets many faults pass: a condition that cannot be evaluated
// is false, a call that is not evaluated passes its name on as text, a missing name in a
// saveuservar is skipped. A strict run (`ordalis run --strict`) records TestError on such a
// statement instead, so the fault reaches the root's result; a run as written keeps the
// language's outcome and only counts.
//
// The judge sits between the interpreter and the script's log: lines pass through it unchanged.
// Safe to call from any thread.

#include <atomic>
#include <cstdint>
#include <string>

#include "ordalis/types.h"
#include "trace/logger.h"

namespace ordalis {

class IScriptContext;
class ScriptItem;

enum class RunStrictness { kAsWritten, kStrict };

class RunJudge : public Logger {
 public:
  // Lines go on to [log].
  explicit RunJudge(Logger& log) : log_(log) {}

  void set_strictness(RunStrictness strictness) { strictness_.store(strictness); }
  RunStrictness strictness() const { return strictness_.load(); }
  // Faults counted since the object was made.
  std::uint64_t faults() const { return faults_.load(); }
  // Faults that count against the statements running: those inside an ignoreresult section
  // are forgiven once the section ends.
  std::uint64_t judged_faults() const { return faults_.load() - forgiven_.load(); }
  void Forgive(std::uint64_t count) { forgiven_.fetch_add(count); }
  // A fault that wrote no severe line, such as a name not found where only a warning is due.
  void CountFault() { faults_.fetch_add(1); }

  // Logger: a severe line counts as a fault.
  using Logger::Log;
  void Log(LoggingLevel level, const std::string& variable_name, const std::string& message) override;
  bool IsLogging(LoggingLevel level) const override { return log_.IsLogging(level); }

 private:
  Logger& log_;
  std::atomic<RunStrictness> strictness_{RunStrictness::kAsWritten};
  std::atomic<std::uint64_t> faults_{0};
  std::atomic<std::uint64_t> forgiven_{0};
};

// Whether [script] runs strictly.
bool StrictRun(IScriptContext& script);
// Counts a fault that wrote no severe line.
void CountFault(IScriptContext& script);
// Faults that count against the statements running now; 0 without a judge.
std::uint64_t FaultsSoFar(IScriptContext& script);

// In a strict run, a statement ([item], with [result]) during which faults were counted beyond
// [faults_before] fails: a passing, warning or not-implemented result becomes TestError. An
// ignoreresult section keeps its own Passed, as it does for every result inside it, and the
// faults inside it no longer count against the statements around it. True when the result was
// changed; the caller then records it.
bool JudgedFaulty(IScriptContext& script, const ScriptItem& item, Result* result,
                  std::uint64_t faults_before);

}  // namespace ordalis
