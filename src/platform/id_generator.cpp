#include "ordalis/id_generator.h"

#include <mutex>

namespace ordalis {

std::uint32_t IdGenerator::Next() {
  static std::mutex mutex;
  static std::uint32_t next = 0;
  std::lock_guard lock(mutex);
  return next++;
}

}  // namespace ordalis
