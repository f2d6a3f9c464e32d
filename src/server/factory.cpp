#include "server/factory.h"

#include <atomic>
#include <functional>

#include "batch/batch_queue.h"
#include "engine/script.h"
#include "language/script_item.h"
#include "platform/text.h"
#include "proxy/script_proxy.h"
#include "report/run_end_reports.h"
#include "settings/application_manager.h"
#include "testers/tester_utilities.h"

namespace ordalis {

namespace {

std::atomic<long> g_live_objects{0};

// Wraps [object] so that the module's object count covers its lifetime.
template <typename T>
std::shared_ptr<IUnknown> Counted(std::shared_ptr<T> object) {
  ++g_live_objects;
  return std::shared_ptr<IUnknown>(object.get(), [keep = object](IUnknown*) mutable {
    keep.reset();
    --g_live_objects;
  });
}

// A script for a client: each of its runs leaves the HTML report beside its results document.
std::shared_ptr<CScript> MakeScript() {
  std::shared_ptr<CScript> script = CScript::Create(std::make_shared<CApplicationManager>());
  script->SetRunEndObserver(report::MakeRunEndReports());
  return script;
}

struct ClassEntry {
  const char* progid;  // version-independent identifier
  std::function<std::shared_ptr<IUnknown>()> make;
};

const ClassEntry kClasses[] = {
    {"Ordalis.Script", [] { return Counted(MakeScript()); }},
    {"Ordalis.ScriptItem", [] { return Counted(std::make_shared<ScriptItem>()); }},
    {"Ordalis.ApplicationManager", [] { return Counted(std::make_shared<CApplicationManager>()); }},
    {"Ordalis.TesterUtilities", [] { return Counted(std::make_shared<CTesterUtilities>()); }},
    {"Ordalis.BatchQueue", [] { return Counted(CBatchQueue::Create(std::make_shared<CApplicationManager>())); }},
    {"Ordalis.ScriptProxy", [] { return Counted(CScriptProxy::Create(std::make_shared<CApplicationManager>())); }},
};

const ClassEntry* FindClass(const std::string& progid) {
  for (const ClassEntry& entry : kClasses) {
    std::string name = entry.progid;
    if (EqualsIgnoringCase(progid, name) || EqualsIgnoringCase(progid, name + ".1")) {
      return &entry;
    }
  }
  return nullptr;
}

}  // namespace

Status CreateInstance(const std::string& progid, std::shared_ptr<IUnknown>* object) {
  if (object == nullptr) return E_POINTER;
  object->reset();
  const ClassEntry* entry = FindClass(progid);
  if (entry == nullptr || !entry->make) return CLASS_E_CLASSNOTAVAILABLE;
  try {
    *object = entry->make();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_FAIL;
  }
  return S_OK;
}

std::vector<std::string> ClassProgids() {
  std::vector<std::string> names;
  for (const ClassEntry& entry : kClasses) names.emplace_back(entry.progid);
  return names;
}

Status CanUnloadNow() { return g_live_objects.load() == 0 ? S_OK : S_FALSE; }

}  // namespace ordalis
