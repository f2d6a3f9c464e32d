#include "batch/builtin_creators.h"

#include "batch/command_file_runners.h"
#include "report/run_end_reports.h"

namespace ordalis {

namespace {

std::shared_ptr<IBatchQueueItem> MakeScript(const BatchItemContext& context) {
  std::shared_ptr<CScript> script = CScript::Create(context.manager, context.script_pacing);
  // Each item's run leaves its HTML report beside its results document.
  script->SetRunEndObserver(report::MakeRunEndReports());
  return script;
}

template <typename Runner>
std::shared_ptr<IBatchQueueItem> Make(const BatchItemContext& context) {
  auto item = std::make_shared<Runner>();
  item->set_background(context.background);
  return item;
}

constexpr TableBatchItemCreator::Kind kOdlKinds[] = {
    {"odl", &MakeScript}, {"bat", &Make<BatFileRunner>}, {"pl", &Make<PerlFileRunner>}};
constexpr TableBatchItemCreator::Kind kShellKinds[] = {
    {"sh", &Make<ShellFileRunner>}, {"py", &Make<PythonFileRunner>}};

}  // namespace

ODLBatchQueueItemCreator::ODLBatchQueueItemCreator(BatchItemContext context)
    : TableBatchItemCreator(kOdlKinds, 3, std::move(context)) {}

ShellBatchQueueItemCreator::ShellBatchQueueItemCreator(BatchItemContext context)
    : TableBatchItemCreator(kShellKinds, 2, std::move(context)) {}

Status TableBatchItemCreator::get_Version(std::string* version) {
  if (version == nullptr) return E_POINTER;
  *version = "V1.0";
  return S_OK;
}

Status TableBatchItemCreator::create(std::uint32_t index, std::shared_ptr<IBatchQueueItem>* item) {
  if (item == nullptr) return E_POINTER;
  item->reset();
  if (index >= count_) return S_OK;
  try {
    *item = kinds_[index].make(context_);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_FAIL;
  }
  return S_OK;
}

Status TableBatchItemCreator::get_NumberOfFileTypes(std::uint32_t* count) {
  if (count == nullptr) return E_POINTER;
  *count = count_;
  return S_OK;
}

Status TableBatchItemCreator::get_FileType(std::uint32_t index, std::string* file_type) {
  if (file_type == nullptr) return E_POINTER;
  if (index >= count_) return E_INVALIDARG;
  *file_type = kinds_[index].file_type;
  return S_OK;
}

}  // namespace ordalis
