#include "interp/run_judge.h"

#include "interp/script_context.h"
#include "language/script_item.h"

namespace ordalis {

void RunJudge::Log(LoggingLevel level, const std::string& variable_name, const std::string& message) {
  if (level >= severe) faults_.fetch_add(1);
  log_.Log(level, variable_name, message);
}

bool StrictRun(IScriptContext& script) {
  RunJudge* judge = script.judge();
  return judge != nullptr && judge->strictness() == RunStrictness::kStrict;
}

void CountFault(IScriptContext& script) {
  if (RunJudge* judge = script.judge()) judge->CountFault();
}

std::uint64_t FaultsSoFar(IScriptContext& script) {
  RunJudge* judge = script.judge();
  return judge != nullptr ? judge->judged_faults() : 0;
}

bool JudgedFaulty(IScriptContext& script, const ScriptItem& item, Result* result,
                  std::uint64_t faults_before) {
  if (!StrictRun(script)) return false;
  std::uint64_t faults = FaultsSoFar(script);
  if (faults == faults_before) return false;
  if (item.type() == ignoreResultItem) {
    script.judge()->Forgive(faults - faults_before);
    return false;
  }
  if (*result != TestPassed && *result != TestWarning && *result != TestNotImplemented) return false;
  *result = TestError;
  return true;
}

}  // namespace ordalis
