#pragma once
// CTesterUtilities: the automation class TesterUtilities (ITesterUtilities1). Its creator
// lookups go through the object host: TesterCreator gives a tester creator only when it passes
// the acceptance rule (at least one type, and every tester it makes reports a non-empty type),
// BatchQueueItemCreator gives the batch item creator registered under an identifier. An
// identifier no module registered gives S_OK and no creator.
//
// All operations are safe to call from any thread.

#include <memory>
#include <string>

#include "ordalis/interfaces.h"

namespace ordalis {

class PluginHost;

class CTesterUtilities : public ITesterUtilities1 {
 public:
  // Lookups go to [host] (the process-wide host when null).
  explicit CTesterUtilities(std::shared_ptr<PluginHost> host = nullptr);

  Status Format(std::uint32_t format_index, VariantArrayPtr parameters, std::string* text) override;
  Status VariableValue(const std::string& value, VariantArrayPtr* values) override;
  Status TesterCreator(const std::string& guid, std::shared_ptr<ITesterCreator>* creator) override;
  Status BatchQueueItemCreator(const std::string& guid,
                               std::shared_ptr<IBatchQueueItemCreator>* creator) override;

  // True when [creator] offers at least one type and every tester it makes reports a
  // non-empty type name. A type number whose create fails makes no tester and is passed over.
  static bool Acceptable(ITesterCreator& creator);

 private:
  std::shared_ptr<PluginHost> host_;
};

}  // namespace ordalis
