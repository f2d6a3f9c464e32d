#pragma once
// The settings store's one window onto the creator catalogues: registered creator identifiers
// are offered here, and the application manager's list of every tester creator is read here.

#include <cstdint>
#include <memory>
#include <string>

#include "ordalis/interfaces.h"
#include "settings/manager.h"

namespace ordalis::settings {

// Offers [id] to the process-wide tester catalogue (kTester) or batch item creator catalogue
// (kBatchItem); true when the catalogue accepts it. Safe to call from any thread.
bool OfferToCatalogue(CreatorKind kind, const std::string& id);

// The tester catalogue's type count and the creator of its [index]-th type (null past the end
// or when the creator cannot be obtained).
std::uint32_t AllTesterCreatorCount();
std::shared_ptr<ITesterCreator> AllTesterCreator(std::uint32_t index);

}  // namespace ordalis::settings
