// The echo tester: answers every action from its parameters, so scripts and the engine's tests
// can exercise results, values, returned testers, aborts, logging and failing calls without a
// device.

#include <chrono>
#include <memory>
#include <string>

#include "ordalis/tester_plugin.h"

namespace {

using ordalis::Result;
using ordalis::Variant;
using ordalis::plugin::Call;

class Echo : public ordalis::plugin::Tester<Echo> {
 public:
  static constexpr const char* kType = "echo";
  static constexpr const char* kVersion = "1.0";

  static const ActionTable& Actions() {
    static const ActionTable table = {
        {"Echo", "Returns its parameters as values and passes", {"values..."}, {"values..."},
         &Echo::DoEcho},
        {"Result", "Returns the given result code and the remaining parameters as values",
         {"code", "values..."}, {"values..."}, &Echo::DoResult},
        {"Fail", "Fails, returning no values", {}, {}, &Echo::DoFail},
        {"Count", "Returns the number of actions this tester has executed, this one included", {},
         {"count"}, &Echo::DoCount},
        {"Wait", "Waits the given number of milliseconds; ends early, aborted, on Abort", {"ms"},
         {}, &Echo::DoWait},
        {"Log", "Logs the text at the given level through the tester's trace", {"level", "text"},
         {}, &Echo::DoLog},
        {"NewEcho", "Returns a new echo tester among its values", {}, {"tester"},
         &Echo::DoNewEcho},
        {"Broken", "The call itself fails (E_FAIL)", {}, {}, &Echo::DoBroken},
    };
    return table;
  }

  static std::shared_ptr<ordalis::ITester> Make() { return std::make_shared<Echo>(); }

 protected:
  // Opened unless the constructor is the single parameter false.
  bool OnOpen(Call& constructor) override {
    return !(constructor.Count() == 1 && constructor.Bool(0) == false);
  }
  std::string Description() const override {
    return "Echoes its parameters; for trying the engine and for tests";
  }
  std::string ConstructorDescription() const override {
    return "No parameters needed; the single parameter false makes the open fail";
  }
  ordalis::TextArray ConstructorParameters() const override { return {"open"}; }
  std::vector<ReturnedTesterFactory> ReturnedTesters() const override { return {&Echo::Make}; }

 private:
  Result DoEcho(Call& call) {
    for (std::size_t i = 0; i < call.Count(); ++i) call.Return(call[i]);
    return ordalis::TestPassed;
  }

  Result DoResult(Call& call) {
    auto code = call.Int(0);
    if (!code) {
      call.Log(ordalis::severe, "Result needs an integer result code as its first parameter");
      return ordalis::TestError;
    }
    for (std::size_t i = 1; i < call.Count(); ++i) call.Return(call[i]);
    return static_cast<Result>(*code);
  }

  Result DoFail(Call&) { return ordalis::TestFailed; }

  Result DoCount(Call& call) {
    call.Return(Variant::Int(static_cast<std::int32_t>(ExecuteCount())));
    return ordalis::TestPassed;
  }

  Result DoWait(Call& call) {
    auto ms = call.Int(0);
    if (!ms || *ms < 0) {
      call.Log(ordalis::severe, "Wait needs a number of milliseconds");
      return ordalis::TestError;
    }
    call.Log(ordalis::fine, "Waiting " + std::to_string(*ms) + " ms");
    if (WaitForAbort(std::chrono::milliseconds(*ms))) {
      call.Log(ordalis::warning, "Wait aborted");
      return ordalis::TestAborted;
    }
    return ordalis::TestPassed;
  }

  Result DoLog(Call& call) {
    auto level = call.Int(0);
    if (!level || *level < ordalis::finest || *level > ordalis::severe) {
      call.Log(ordalis::severe, "Log needs a level from 0 (finest) to 6 (severe)");
      return ordalis::TestError;
    }
    call.Log(static_cast<ordalis::LoggingLevel>(*level), call.Text(1));
    return ordalis::TestPassed;
  }

  Result DoNewEcho(Call& call) {
    call.Return(Variant::Dispatch(Make()));
    return ordalis::TestPassed;
  }

  Result DoBroken(Call& call) {
    call.FailCall(ordalis::E_FAIL);
    return ordalis::TestError;
  }
};

}  // namespace

ORDALIS_PLUGIN(registry) {
  registry.AddTesterCreator<Echo>("{AE96A215-DD09-45A8-9075-26D1616B16E9}");
}
