#include "platform/event.h"

#include <gtest/gtest.h>

#include <thread>

namespace ordalis {
namespace {

TEST(Event, ManualStaysSetAutoResetsOnWait) {
  Event manual(EventReset::kManual);
  manual.Set();
  EXPECT_TRUE(manual.Wait(0));
  EXPECT_TRUE(manual.Wait(0));
  Event automatic(EventReset::kAuto);
  automatic.Set();
  EXPECT_TRUE(automatic.Wait(0));
  EXPECT_FALSE(automatic.Wait(0));
}

TEST(Event, WaitAnyReturnsLowestSetIndexOrTimesOut) {
  Event a, b(EventReset::kAuto);
  EXPECT_EQ(Event::WaitAny({&a, &b}, 0), -1);
  b.Set();
  EXPECT_EQ(Event::WaitAny({&a, &b}, 0), 1);
  EXPECT_FALSE(b.IsSet());
  a.Set();
  b.Set();
  EXPECT_EQ(Event::WaitAny({&a, &b}, 0), 0);
}

TEST(Event, WaitAnyWakesWhenAnotherThreadSets) {
  Event a, b;
  std::jthread setter([&] { b.Set(); });
  EXPECT_EQ(Event::WaitAny({&a, &b}), 1);
}

TEST(Semaphore, CountsReleasesAndTimesOut) {
  Semaphore semaphore;
  EXPECT_FALSE(semaphore.Acquire(0));
  semaphore.Release(2);
  EXPECT_TRUE(semaphore.Acquire(0));
  EXPECT_TRUE(semaphore.Acquire(0));
  EXPECT_FALSE(semaphore.Acquire(1));
  std::jthread releaser([&] { semaphore.Release(); });
  EXPECT_TRUE(semaphore.Acquire());
}

}  // namespace
}  // namespace ordalis
