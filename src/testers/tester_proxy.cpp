#include "testers/tester_proxy.h"

#include <cstdio>
#include <utility>

#include "ordalis/plugin.h"
#include "platform/text.h"
#include "testers/plugin_host.h"
#include "testers/tester_utilities.h"

namespace ordalis {

namespace {

std::string Hex(Status code) {
  char text[16];
  std::snprintf(text, sizeof text, "%x", static_cast<unsigned>(code));
  return text;
}

}  // namespace

TesterProxy::TesterProxy(std::shared_ptr<PluginHost> host)
    : host_(host ? std::move(host) : PluginHost::Instance()) {}

TesterProxy::~TesterProxy() = default;

std::shared_ptr<const TesterProxy::Held> TesterProxy::Snapshot() const {
  std::lock_guard lock(mutex_);
  return held_;
}

void TesterProxy::Hold(std::shared_ptr<ITester> tester, std::shared_ptr<const void> keep_alive) {
  auto held = std::make_shared<Held>();
  held->keep_alive = std::move(keep_alive);
  held->tester1 = std::dynamic_pointer_cast<ITester1>(tester);
  held->tester2 = std::dynamic_pointer_cast<ITester2>(tester);
  held->tester3 = std::dynamic_pointer_cast<ITester3>(tester);
  held->measurements = std::dynamic_pointer_cast<ITesterMeasurements>(tester);
  held->tester = std::move(tester);
  std::shared_ptr<const Held> previous;
  {
    std::lock_guard lock(mutex_);
    previous = std::exchange(held_, std::move(held));
  }
}

void TesterProxy::Release() {
  std::shared_ptr<const Held> previous;
  std::lock_guard lock(mutex_);
  previous = std::exchange(held_, nullptr);
  // [previous] is released after the lock, at the end of the scope: the lock guard was
  // declared after it, so it goes first.
}

std::shared_ptr<ITester> TesterProxy::Inner() const {
  auto held = Snapshot();
  return held ? held->tester : nullptr;
}

bool TesterProxy::Attach(std::shared_ptr<ITester> tester) {
  try {
    Release();
    if (!tester) return false;
    Hold(std::move(tester), host_->KeepAlive());
    return true;
  } catch (...) {
    Release();
    return false;
  }
}

bool TesterProxy::Create(const std::string& class_id, const std::string& type_name,
                         std::string* error_text) {
  std::string ignored;
  std::string& error = error_text ? *error_text : ignored;
  error.clear();
  try {
    Release();
    std::shared_ptr<const void> keep_alive = host_->KeepAlive();
    std::shared_ptr<ITesterCreator> creator;
    Status status = CTesterUtilities(host_).TesterCreator(class_id, &creator);
    if (Failed(status) || !creator) {
      error = "Failed to create creator error 0x" + Hex(Failed(status) ? status : 0);
      return false;
    }
    std::uint32_t count = 0;
    status = creator->get_NumberOfTypes(&count);
    if (Failed(status)) {
      error = "Failed to get tester count 0x" + Hex(status);
      return false;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
      std::shared_ptr<ITester> tester;
      if (Failed(creator->create(i, &tester)) || !tester) continue;
      std::string type;
      if (Failed(tester->get_TesterType(&type)) || !EqualsIgnoringCase(type, type_name)) continue;
      Hold(std::move(tester), std::move(keep_alive));
      return true;
    }
    return false;
  } catch (const AutomationError& automation_error) {
    Release();
    error = "exception " + std::to_string(automation_error.code()) + " " + automation_error.what();
  } catch (...) {
    Release();
    error = "Unknown exception";
  }
  return false;
}

// Calls [call] with the held reference of [level]; E_FAIL when the plug-in does not offer that
// level or the call throws.
template <typename Level, typename Call>
Status TesterProxy::Forward(std::shared_ptr<Level> Held::*level, Call&& call) const {
  auto held = Snapshot();
  if (!held || !((*held).*level)) return E_FAIL;
  try {
    return call(*((*held).*level));
  } catch (...) {
    return E_FAIL;
  }
}

Status TesterProxy::get_ActionCount(std::uint32_t* count) {
  return Forward(&Held::tester, [&](ITester& t) { return t.get_ActionCount(count); });
}

Status TesterProxy::get_Actions(std::uint32_t action_number, std::string* name) {
  return Forward(&Held::tester, [&](ITester& t) { return t.get_Actions(action_number, name); });
}

Status TesterProxy::Execute(std::uint32_t action_number, VariantArrayPtr parameters,
                            VariantArrayPtr* values, Result* result) {
  measured_.clear();
  auto held = Snapshot();
  if (!held || !held->tester) return E_FAIL;
  Status status = E_FAIL;
  try {
    status = held->tester->Execute(action_number, std::move(parameters), values, result);
  } catch (...) {
    return E_FAIL;
  }
  // Taken at once, from the plug-in the call went to, so a tester attached meanwhile cannot
  // hand over measurements of an action it never ran.
  if (Succeeded(status) && held->measurements) {
    try {
      if (Failed(held->measurements->TakeMeasurements(&measured_))) measured_.clear();
    } catch (...) {
      measured_.clear();
    }
  }
  return status;
}

Status TesterProxy::TakeMeasurements(MeasuredValues* measurements) {
  if (measurements == nullptr) return E_POINTER;
  *measurements = std::move(measured_);
  measured_.clear();
  return S_OK;
}

Status TesterProxy::ActionDocumentation(std::uint32_t action_number, std::string* description,
                                        TextArray* in_parameters, TextArray* out_parameters) {
  return Forward(&Held::tester, [&](ITester& t) {
    return t.ActionDocumentation(action_number, description, in_parameters, out_parameters);
  });
}

Status TesterProxy::Open(VariantArrayPtr parameters, VariantBool* opened) {
  return Forward(&Held::tester, [&](ITester& t) { return t.Open(std::move(parameters), opened); });
}

Status TesterProxy::Close(VariantBool* closed) {
  return Forward(&Held::tester, [&](ITester& t) { return t.Close(closed); });
}

Status TesterProxy::Abort() {
  return Forward(&Held::tester, [&](ITester& t) { return t.Abort(); });
}

Status TesterProxy::get_TesterType(std::string* type) {
  return Forward(&Held::tester, [&](ITester& t) { return t.get_TesterType(type); });
}

Status TesterProxy::get_Status(std::string* status) {
  return Forward(&Held::tester, [&](ITester& t) { return t.get_Status(status); });
}

Status TesterProxy::SetTrace(std::shared_ptr<ITrace> trace) {
  return Forward(&Held::tester, [&](ITester& t) { return t.SetTrace(std::move(trace)); });
}

Status TesterProxy::get_Version(std::string* version) {
  return Forward(&Held::tester1, [&](ITester1& t) { return t.get_Version(version); });
}

Status TesterProxy::scriptDirectory(const std::string& dir) {
  return Forward(&Held::tester1, [&](ITester1& t) { return t.scriptDirectory(dir); });
}

Status TesterProxy::get_Description(std::string* description) {
  return Forward(&Held::tester2, [&](ITester2& t) { return t.get_Description(description); });
}

Status TesterProxy::ConstructorDocumentation(std::string* description, TextArray* in_parameters) {
  return Forward(&Held::tester2, [&](ITester2& t) {
    return t.ConstructorDocumentation(description, in_parameters);
  });
}

Status TesterProxy::get_NumberOfReturnedTesters(std::uint32_t* count) {
  return Forward(&Held::tester3, [&](ITester3& t) { return t.get_NumberOfReturnedTesters(count); });
}

Status TesterProxy::createReturnedTester(std::uint32_t tester_number,
                                         std::shared_ptr<ITester>* tester) {
  return Forward(&Held::tester3, [&](ITester3& t) {
    return t.createReturnedTester(tester_number, tester);
  });
}

Status CloseTester(ITester& tester, VariantBool* closed) {
  *closed = kVariantFalse;
  try {
    return tester.Close(closed);
  } catch (...) {
    return E_FAIL;
  }
}

}  // namespace ordalis
