#pragma once
// Helpers that make a tester plug-in a few dozen lines. A tester derives from
// ordalis::plugin::Tester<Self>, names its type and lists its actions in a table; a module
// registers creators with ORDALIS_PLUGIN. Header-only: a module needs the SDK headers and
// nothing else of the engine.
//
//   class Greeter : public ordalis::plugin::Tester<Greeter> {
//    public:
//     static constexpr const char* kType = "greeter";
//     static const ActionTable& Actions() {
//       static const ActionTable table = {
//           {"Hello", "Says hello to [name]", {"name"}, {"greeting"}, &Greeter::Hello},
//       };
//       return table;
//     }
//     ordalis::Result Hello(Call& call) {
//       call.Return(ordalis::Variant::String("Hello, " + call.Text(0)));
//       return ordalis::TestPassed;
//     }
//   };
//
//   ORDALIS_PLUGIN(registry) {
//     registry.AddTesterCreator<Greeter>("{CCC62904-8CB2-4C7F-8EE4-1DFCD693752E}");
//   }
//
// Threads: the engine calls a tester's actions on one thread at a time, and Abort (and the
// documentation getters) from any other thread; the base class is safe for that pattern. The
// engine sends Abort only while it is starting or running an action, so the base class keeps
// an abort request until the action that it was meant for ends: a request that arrives just
// before Execute begins still stops that action.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ordalis/interfaces.h"
#include "ordalis/measurement.h"
#include "ordalis/plugin.h"

namespace ordalis::plugin {

// Everything one action call sees: the parameters, the values it returns, the status of the
// call itself and the tester's trace.
class Call {
 public:
  Call(const VariantArrayPtr& parameters, std::function<void(LoggingLevel, const std::string&)> log)
      : parameters_(parameters), log_(std::move(log)) {}

  std::size_t Count() const { return parameters_ ? parameters_->size() : 0; }
  // Parameter [index], or an empty variant past the end.
  const Variant& operator[](std::size_t index) const {
    static const Variant kEmpty;
    return index < Count() ? (*parameters_)[index] : kEmpty;
  }
  const VariantArrayPtr& Parameters() const { return parameters_; }

  // Parameter [index] as an integer: integer kinds, booleans and whole doubles convert; anything
  // else (or a missing parameter) gives nothing.
  std::optional<std::int64_t> Int(std::size_t index) const {
    const Variant& v = (*this)[index];
    switch (v.type()) {
      case VT_I1: case VT_I2: case VT_I4: case VT_I8: case VT_INT:
      case VT_UI1: case VT_UI2: case VT_UI4: case VT_UI8: case VT_UINT: case VT_BOOL:
        return v.type() == VT_BOOL ? std::int64_t{v.as_bool() ? 1 : 0} : v.as_int64();
      case VT_R4: case VT_R8:
        if (v.as_double() == static_cast<double>(static_cast<std::int64_t>(v.as_double())))
          return static_cast<std::int64_t>(v.as_double());
        return std::nullopt;
      default:
        return std::nullopt;
    }
  }
  // Parameter [index] as a number (integers and doubles), or nothing.
  std::optional<double> Number(std::size_t index) const {
    const Variant& v = (*this)[index];
    if (v.type() == VT_R8 || v.type() == VT_R4) return v.as_double();
    if (auto i = Int(index); i && v.type() != VT_BOOL) return static_cast<double>(*i);
    return std::nullopt;
  }
  // Parameter [index] as a boolean, or nothing when it is not one.
  std::optional<bool> Bool(std::size_t index) const {
    const Variant& v = (*this)[index];
    if (v.type() != VT_BOOL) return std::nullopt;
    return v.as_bool();
  }
  // Parameter [index] as text: strings as they are, booleans as true or false, numbers written
  // out, otherwise empty.
  std::string Text(std::size_t index) const {
    const Variant& v = (*this)[index];
    if (v.type() == VT_BSTR) return v.as_string();
    if (v.type() == VT_BOOL) return v.as_bool() ? "true" : "false";
    if (v.type() == VT_R8 || v.type() == VT_R4) return std::to_string(v.as_double());
    if (auto i = Int(index)) return std::to_string(*i);
    return std::string();
  }

  // Appends [value] to the values the action returns.
  void Return(Variant value) {
    if (!values_) values_ = std::make_shared<VariantArray>();
    values_->push_back(std::move(value));
  }
  VariantArrayPtr& Values() { return values_; }

  // Reports a measurement of this action and gives it back for its limits, which also judge it:
  //   call.Measure("5 V rail", volts, "V").Between(4.75, 5.25);
  // Without limits it is log-only. An empty name lets the script name it (the statement's result
  // label, or the action's name). The reference lasts until the next Measure.
  MeasuredValue& Measure(std::string name, Variant value, std::string unit = std::string()) {
    MeasuredValue& measured = measurements_.emplace_back();
    measured.name = std::move(name);
    measured.value = std::move(value);
    measured.unit = std::move(unit);
    return measured;
  }
  MeasuredValue& Measure(std::string name, double value, std::string unit = std::string()) {
    return Measure(std::move(name), Variant::Double(value), std::move(unit));
  }
  MeasuredValues& Measurements() { return measurements_; }

  // Makes the call itself fail with [status] (the action's Result is then not used).
  void FailCall(Status status) { status_ = status; }
  Status CallStatus() const { return status_; }

  // Logs [text] through the tester's trace; nothing happens before SetTrace.
  void Log(LoggingLevel level, const std::string& text) const {
    if (log_) log_(level, text);
  }

 private:
  VariantArrayPtr parameters_;
  VariantArrayPtr values_;
  MeasuredValues measurements_;
  Status status_ = S_OK;
  std::function<void(LoggingLevel, const std::string&)> log_;
};

// The version text of tester class T: its kVersion when it declares one, else "1.0".
template <typename T>
constexpr const char* VersionOf() {
  if constexpr (requires { T::kVersion; }) {
    return T::kVersion;
  } else {
    return "1.0";
  }
}

// One row of a tester's action table.
template <typename Self>
struct ActionRow {
  const char* name;
  const char* description;
  TextArray in_parameters;
  TextArray out_parameters;
  Result (Self::*run)(Call& call);
};

// Base of a tester. Self provides:
//   static constexpr const char* kType;        the type name scripts write after "new"
//   static const ActionTable& Actions();        the action table, in action-number order
// may declare static constexpr const char* kVersion (default "1.0"), and may override the
// virtual hooks below.
template <typename Self>
class Tester : public ITester3, public ITesterMeasurements, public std::enable_shared_from_this<Self> {
 public:
  using Action = ActionRow<Self>;
  using ActionTable = std::vector<Action>;
  // A factory for a tester this tester can hand out (ITester3::createReturnedTester).
  using ReturnedTesterFactory = std::shared_ptr<ITester> (*)();

  // ITester
  Status get_ActionCount(std::uint32_t* count) override {
    if (!count) return E_POINTER;
    *count = static_cast<std::uint32_t>(Self::Actions().size());
    return S_OK;
  }
  Status get_Actions(std::uint32_t action_number, std::string* name) override {
    if (!name) return E_POINTER;
    if (action_number >= Self::Actions().size()) return E_INVALIDARG;
    *name = Self::Actions()[action_number].name;
    return S_OK;
  }
  Status Execute(std::uint32_t action_number, VariantArrayPtr parameters, VariantArrayPtr* values,
                 Result* result) override {
    if (!result) return E_POINTER;
    if (action_number >= Self::Actions().size()) return E_INVALIDARG;
    ++execute_count_;
    measurements_.clear();
    Call call(parameters, [this](LoggingLevel level, const std::string& text) { Log(level, text); });
    Result outcome = TestError;
    // An abort that arrives while the engine starts this call, before the action runs, is
    // kept for it; the request ends with the call.
    try {
      outcome = (static_cast<Self*>(this)->*Self::Actions()[action_number].run)(call);
    } catch (const AutomationError& error) {
      ClearAbort();
      return error.code();
    } catch (...) {
      ClearAbort();
      return E_FAIL;
    }
    ClearAbort();
    if (Failed(call.CallStatus())) return call.CallStatus();
    *result = outcome;
    if (values) *values = std::move(call.Values());
    measurements_ = std::move(call.Measurements());
    return S_OK;
  }
  Status ActionDocumentation(std::uint32_t action_number, std::string* description,
                             TextArray* in_parameters, TextArray* out_parameters) override {
    if (action_number >= Self::Actions().size()) return E_INVALIDARG;
    const Action& action = Self::Actions()[action_number];
    if (description) *description = action.description;
    if (in_parameters) *in_parameters = action.in_parameters;
    if (out_parameters) *out_parameters = action.out_parameters;
    return S_OK;
  }
  Status Open(VariantArrayPtr parameters, VariantBool* opened) override {
    if (!opened) return E_POINTER;
    ClearAbort();
    Call call(parameters, [this](LoggingLevel level, const std::string& text) { Log(level, text); });
    bool ok = false;
    try {
      ok = OnOpen(call);
    } catch (...) {
      return E_FAIL;
    }
    if (Failed(call.CallStatus())) return call.CallStatus();
    open_ = ok;
    *opened = ToVariantBool(ok);
    return S_OK;
  }
  Status Close(VariantBool* closed) override {
    if (!closed) return E_POINTER;
    bool ok = false;
    try {
      ok = OnClose();
    } catch (...) {
      return E_FAIL;
    }
    open_ = false;
    *closed = ToVariantBool(ok);
    return S_OK;
  }
  Status Abort() override {
    {
      std::lock_guard lock(abort_mutex_);
      abort_requested_ = true;
    }
    abort_signal_.notify_all();
    return S_OK;
  }
  Status get_TesterType(std::string* type) override {
    if (!type) return E_POINTER;
    *type = Self::kType;
    return S_OK;
  }
  Status get_Status(std::string* status) override {
    if (!status) return E_POINTER;
    *status = StatusText();
    return S_OK;
  }
  Status SetTrace(std::shared_ptr<ITrace> trace) override {
    std::lock_guard lock(trace_mutex_);
    trace_ = std::move(trace);
    return S_OK;
  }

  // ITester1
  Status get_Version(std::string* version) override {
    if (!version) return E_POINTER;
    *version = Version();
    return S_OK;
  }
  Status scriptDirectory(const std::string& dir) override {
    std::lock_guard lock(trace_mutex_);
    script_directory_ = dir;
    return S_OK;
  }

  // ITester2
  Status get_Description(std::string* description) override {
    if (!description) return E_POINTER;
    *description = Description();
    return S_OK;
  }
  Status ConstructorDocumentation(std::string* description, TextArray* in_parameters) override {
    if (description) *description = ConstructorDescription();
    if (in_parameters) *in_parameters = ConstructorParameters();
    return S_OK;
  }

  // ITesterMeasurements
  Status TakeMeasurements(MeasuredValues* measurements) override {
    if (!measurements) return E_POINTER;
    *measurements = std::move(measurements_);
    measurements_.clear();
    return S_OK;
  }

  // ITester3
  Status get_NumberOfReturnedTesters(std::uint32_t* count) override {
    if (!count) return E_POINTER;
    *count = static_cast<std::uint32_t>(ReturnedTesters().size());
    return S_OK;
  }
  Status createReturnedTester(std::uint32_t tester_number, std::shared_ptr<ITester>* tester) override {
    if (!tester) return E_POINTER;
    auto factories = ReturnedTesters();
    if (tester_number >= factories.size()) return E_INVALIDARG;
    try {
      *tester = factories[tester_number]();
    } catch (...) {
      return E_FAIL;
    }
    return S_OK;
  }

 protected:
  // Hooks a tester may override.
  virtual bool OnOpen(Call& /*constructor*/) { return true; }
  virtual bool OnClose() { return true; }
  virtual std::string Version() const { return VersionOf<Self>(); }
  virtual std::string Description() const { return std::string(); }
  virtual std::string ConstructorDescription() const { return std::string(); }
  virtual TextArray ConstructorParameters() const { return {}; }
  virtual std::vector<ReturnedTesterFactory> ReturnedTesters() const { return {}; }
  virtual std::string StatusText() const { return open_ ? "Open" : "Closed"; }

  // Logs through the trace set by the engine; nothing happens before SetTrace.
  void Log(LoggingLevel level, const std::string& text) {
    std::shared_ptr<ITrace> trace;
    {
      std::lock_guard lock(trace_mutex_);
      trace = trace_;
    }
    if (trace) trace->Log(level, text);
  }

  // Waits up to [duration]; true when Abort arrived for the current Execute (at once when it
  // already had, even before the action started). Use it for every wait inside an action so
  // Abort ends the action early.
  bool WaitForAbort(std::chrono::milliseconds duration) {
    std::unique_lock lock(abort_mutex_);
    return abort_signal_.wait_for(lock, duration, [this] { return abort_requested_; });
  }
  bool AbortRequested() {
    std::lock_guard lock(abort_mutex_);
    return abort_requested_;
  }
  void ClearAbort() {
    std::lock_guard lock(abort_mutex_);
    abort_requested_ = false;
  }

  // Number of Execute calls this tester has had, the current one included.
  std::uint64_t ExecuteCount() const { return execute_count_.load(); }
  bool IsOpen() const { return open_.load(); }
  std::string ScriptDirectory() {
    std::lock_guard lock(trace_mutex_);
    return script_directory_;
  }

 private:
  std::mutex trace_mutex_;
  std::shared_ptr<ITrace> trace_;
  std::string script_directory_;
  std::mutex abort_mutex_;
  std::condition_variable abort_signal_;
  bool abort_requested_ = false;
  std::atomic<std::uint64_t> execute_count_{0};
  std::atomic<bool> open_{false};
  MeasuredValues measurements_;  // of the latest action; the run thread only
};

// A creator for one or more tester types; type number i is the i-th class of Types. Its version
// is the version of the first type.
template <typename First, typename... Rest>
class TesterCreator : public ITesterCreator1 {
 public:
  TesterCreator() = default;

  Status get_NumberOfTypes(std::uint32_t* count) override {
    if (!count) return E_POINTER;
    *count = sizeof...(Rest) + 1;
    return S_OK;
  }
  Status create(std::uint32_t tester_number, std::shared_ptr<ITester>* tester) override {
    if (!tester) return E_POINTER;
    if (tester_number > sizeof...(Rest)) return E_INVALIDARG;
    try {
      std::uint32_t index = 0;
      static_cast<void>(
          ((index++ == tester_number ? (*tester = std::make_shared<First>(), true) : false) ||
           ... ||
           (index++ == tester_number ? (*tester = std::make_shared<Rest>(), true) : false)));
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    } catch (...) {
      return E_FAIL;
    }
    return S_OK;
  }
  Status get_Version(std::string* version) override {
    if (!version) return E_POINTER;
    *version = VersionOf<First>();
    return S_OK;
  }
};

// The registry as a module's registration function sees it.
class Registry {
 public:
  explicit Registry(const OrdalisPluginRegistry* raw) : raw_(raw) {}

  // Registers a creator of the tester types [Types] under [identifier].
  template <typename... Types>
  bool AddTesterCreator(const char* identifier) {
    return raw_->add_tester_creator(raw_->context, identifier, &MakeTesterCreator<Types...>) == 0;
  }
  // Registers a creator made by [factory] (for creators written by hand).
  bool AddTesterCreator(const char* identifier, OrdalisTesterCreatorFactory factory) {
    return raw_->add_tester_creator(raw_->context, identifier, factory) == 0;
  }
  bool AddBatchQueueItemCreator(const char* identifier, OrdalisBatchQueueItemCreatorFactory factory) {
    return raw_->add_batch_queue_item_creator(raw_->context, identifier, factory) == 0;
  }
  void Log(const std::string& text) { raw_->log(raw_->context, text.c_str()); }

 private:
  template <typename... Types>
  static std::shared_ptr<ITesterCreator> MakeTesterCreator() {
    return std::make_shared<TesterCreator<Types...>>();
  }

  const OrdalisPluginRegistry* raw_;
};

namespace detail {

// Checks the engine's versions, runs the module's registration function and turns every
// exception into a log line and a refusal.
inline std::uint32_t Enter(const OrdalisPluginRegistry* raw, void (*register_all)(Registry&)) {
  if (!raw || raw->abi_version != kPluginAbiVersion || raw->layout != kPluginLayout) return 0;
  Registry registry(raw);
  try {
    register_all(registry);
  } catch (const std::exception& error) {
    registry.Log(std::string("registration failed: ") + error.what());
    return 0;
  } catch (...) {
    registry.Log("registration failed with an unknown exception");
    return 0;
  }
  return kPluginAbiVersion;
}

}  // namespace detail
}  // namespace ordalis::plugin

// Defines the module's entry point; the block that follows is its registration function and
// receives an ordalis::plugin::Registry& named [registry].
#define ORDALIS_PLUGIN(registry)                                                              \
  static void OrdalisPluginRegister(::ordalis::plugin::Registry& registry);                    \
  extern "C" __attribute__((visibility("default"))) std::uint32_t ordalis_plugin_v1(          \
      const OrdalisPluginRegistry* raw_registry) {                                            \
    return ::ordalis::plugin::detail::Enter(raw_registry, &OrdalisPluginRegister);            \
  }                                                                                           \
  static void OrdalisPluginRegister(::ordalis::plugin::Registry& registry)
