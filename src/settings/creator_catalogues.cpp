#include "settings/creator_catalogues.h"

#include "testers/batch_queue_creators.h"
#include "testers/testers.h"

namespace ordalis::settings {

bool OfferToCatalogue(CreatorKind kind, const std::string& id) {
  return kind == CreatorKind::kTester ? Testers::Instance().Add(id)
                                      : BatchQueueCreators::Instance().Add(id);
}

std::uint32_t AllTesterCreatorCount() {
  return static_cast<std::uint32_t>(Testers::Instance().Count());
}

std::shared_ptr<ITesterCreator> AllTesterCreator(std::uint32_t index) {
  return Testers::Instance().Creator(index);
}

}  // namespace ordalis::settings
