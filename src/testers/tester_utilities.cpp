#include "testers/tester_utilities.h"

#include <utility>

#include "codec/format_text.h"
#include "codec/literal_text.h"
#include "testers/plugin_host.h"

namespace ordalis {

CTesterUtilities::CTesterUtilities(std::shared_ptr<PluginHost> host)
    : host_(host ? std::move(host) : PluginHost::Instance()) {}

Status CTesterUtilities::Format(std::uint32_t format_index, VariantArrayPtr parameters,
                                std::string* text) {
  if (!text) return E_POINTER;
  *text = FormatText(format_index, parameters);
  return S_OK;
}

// Script-literal text to values; text that is not a list of literals gives no array.
Status CTesterUtilities::VariableValue(const std::string& value, VariantArrayPtr* values) {
  if (!values) return E_POINTER;
  auto parsed = std::make_shared<VariantArray>();
  if (ParseLiteralText(value, parsed.get())) {
    *values = std::move(parsed);
  } else {
    values->reset();
  }
  return S_OK;
}

bool CTesterUtilities::Acceptable(ITesterCreator& creator) {
  std::uint32_t count = 0;
  if (Failed(creator.get_NumberOfTypes(&count)) || count == 0) return false;
  for (std::uint32_t i = 0; i < count; ++i) {
    std::shared_ptr<ITester> tester;
    if (Failed(creator.create(i, &tester)) || !tester) continue;
    std::string type;
    if (Failed(tester->get_TesterType(&type)) || type.empty()) return false;
  }
  return true;
}

Status CTesterUtilities::TesterCreator(const std::string& guid,
                                       std::shared_ptr<ITesterCreator>* creator) {
  if (!creator) return E_POINTER;
  creator->reset();
  std::shared_ptr<ITesterCreator> found;
  Status status = host_->CreateTesterCreator(guid, &found);
  if (Failed(status)) return status;
  try {
    if (found && Acceptable(*found)) *creator = std::move(found);
  } catch (...) {
    return E_FAIL;
  }
  return S_OK;
}

Status CTesterUtilities::BatchQueueItemCreator(const std::string& guid,
                                               std::shared_ptr<IBatchQueueItemCreator>* creator) {
  if (!creator) return E_POINTER;
  return host_->CreateBatchQueueItemCreator(guid, creator);
}

}  // namespace ordalis
