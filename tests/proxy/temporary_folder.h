#pragma once
// The proxy tests' temporary folder: the shared one, under the name these tests use.

#include "support/temporary_folder.h"

namespace ordalis::testing {

class TemporaryFolder : public testing_support::TemporaryFolder {
 public:
  TemporaryFolder() : testing_support::TemporaryFolder("ordalis-proxy-") {}
};

}  // namespace ordalis::testing
