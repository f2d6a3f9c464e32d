#pragma once
// IdGenerator: the process-wide source of ids for script items and batch queue entries. Each
// request returns the current value and adds one, starting at 0. Safe to call from any thread.

#include <cstdint>

#include "ordalis/api.h"

namespace ordalis {

class ORDALIS_API IdGenerator {
 public:
  static std::uint32_t Next();
};

}  // namespace ordalis
