#include "ordalis/id_generator.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

namespace ordalis {
namespace {

TEST(IdGenerator, IdsAreUniqueAndIncreaseAcrossThreads) {
  constexpr int kThreads = 4;
  constexpr int kPerThread = 1000;
  std::vector<std::vector<std::uint32_t>> seen(kThreads);
  {
    std::vector<std::jthread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        for (int i = 0; i < kPerThread; ++i) seen[t].push_back(IdGenerator::Next());
      });
    }
  }
  std::set<std::uint32_t> all;
  for (const auto& ids : seen) {
    for (std::size_t i = 1; i < ids.size(); ++i) EXPECT_LT(ids[i - 1], ids[i]);
    all.insert(ids.begin(), ids.end());
  }
  EXPECT_EQ(all.size(), static_cast<std::size_t>(kThreads * kPerThread));
}

}  // namespace
}  // namespace ordalis
