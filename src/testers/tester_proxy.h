#pragma once
// TesterProxy: the engine-side wrapper around one plug-in tester. It offers ITester3 and
// forwards every operation, unchanged, to the plug-in's reference of the interface level that
// declares it; an operation of a level the plug-in does not offer gives E_FAIL without calling
// anything. It keeps the object host alive while it holds a tester.
//
// Forwarding adds no lock around the plug-in call: Abort may arrive on another thread while
// Execute runs. Attach and Create replace the held references; they are safe to call from any
// thread, and a call already in progress keeps the references it started with. A plug-in call
// that throws fails with E_FAIL instead of unwinding into the engine.
//
// The measurements of an action are taken from the plug-in within Execute, when it offers them,
// and handed on by TakeMeasurements; a plug-in that does not offer them reports none.

#include <memory>
#include <mutex>
#include <string>

#include "ordalis/interfaces.h"
#include "ordalis/measurement.h"

namespace ordalis {

class PluginHost;

class TesterProxy : public ITester3, public ITesterMeasurements {
 public:
  // A proxy whose creators come from [host] (the process-wide host when null).
  explicit TesterProxy(std::shared_ptr<PluginHost> host = nullptr);
  ~TesterProxy() override;

  // Wraps an existing plug-in tester (for example one returned among an action's values):
  // drops what the proxy held, keeps [tester] and whatever higher levels it offers. False when
  // [tester] is null or the wrapping fails.
  bool Attach(std::shared_ptr<ITester> tester);

  // Makes a tester of [type_name] with the creator registered under [class_id]: the creator's
  // testers are made one by one until one reports the type (ignoring letter case). On failure
  // [error_text] says why ("Failed to create creator error 0x0", "Failed to get tester count
  // 0x…", "exception <code> <description>", "Unknown exception", or empty when no tester
  // matched) and the proxy holds nothing.
  bool Create(const std::string& class_id, const std::string& type_name, std::string* error_text);

  // The plug-in's tester, or null.
  std::shared_ptr<ITester> Inner() const;

  // ITester
  Status get_ActionCount(std::uint32_t* count) override;
  Status get_Actions(std::uint32_t action_number, std::string* name) override;
  Status Execute(std::uint32_t action_number, VariantArrayPtr parameters, VariantArrayPtr* values,
                 Result* result) override;
  Status ActionDocumentation(std::uint32_t action_number, std::string* description,
                             TextArray* in_parameters, TextArray* out_parameters) override;
  Status Open(VariantArrayPtr parameters, VariantBool* opened) override;
  Status Close(VariantBool* closed) override;
  Status Abort() override;
  Status get_TesterType(std::string* type) override;
  Status get_Status(std::string* status) override;
  Status SetTrace(std::shared_ptr<ITrace> trace) override;
  // ITester1
  Status get_Version(std::string* version) override;
  Status scriptDirectory(const std::string& dir) override;
  // ITester2
  Status get_Description(std::string* description) override;
  Status ConstructorDocumentation(std::string* description, TextArray* in_parameters) override;
  // ITester3
  Status get_NumberOfReturnedTesters(std::uint32_t* count) override;
  Status createReturnedTester(std::uint32_t tester_number, std::shared_ptr<ITester>* tester) override;
  // ITesterMeasurements
  Status TakeMeasurements(MeasuredValues* measurements) override;

 private:
  // The references one forwarded call works with.
  // The keep-alive comes first so it is released after the tester.
  struct Held {
    std::shared_ptr<const void> keep_alive;
    std::shared_ptr<ITester> tester;
    std::shared_ptr<ITester1> tester1;
    std::shared_ptr<ITester2> tester2;
    std::shared_ptr<ITester3> tester3;
    std::shared_ptr<ITesterMeasurements> measurements;
  };
  std::shared_ptr<const Held> Snapshot() const;
  void Hold(std::shared_ptr<ITester> tester, std::shared_ptr<const void> keep_alive);
  void Release();
  template <typename Level, typename Call>
  Status Forward(std::shared_ptr<Level> Held::*level, Call&& call) const;

  std::shared_ptr<PluginHost> host_;
  mutable std::mutex mutex_;  // guards held_ only; never held during a plug-in call
  std::shared_ptr<const Held> held_;
  // What the latest Execute measured; Execute and TakeMeasurements both come on the run thread.
  MeasuredValues measured_;
};

// Calls Close on [tester]; a tester that throws counts as a failed call (E_FAIL). Whatever
// the outcome, [closed] reports whether the tester says it closed.
Status CloseTester(ITester& tester, VariantBool* closed);

}  // namespace ordalis
