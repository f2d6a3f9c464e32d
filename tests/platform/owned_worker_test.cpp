// How an owned worker ends: joined by its owner, let go past a bound, or let go by an owner
// that goes on the worker's own thread.

#include "platform/owned_worker.h"

#include <gtest/gtest.h>

#include <memory>

#include "platform/event.h"

namespace ordalis {
namespace {

using namespace std::chrono_literals;

TEST(OwnedWorkerTest, TheOwnersReleaseWaitsForTheBodyAndJoins) {
  auto done = std::make_shared<Event>();
  OwnedWorker worker([done] { done->Set(); });
  EXPECT_TRUE(worker.Release());
  EXPECT_TRUE(done->IsSet());
  EXPECT_FALSE(worker.started());
}

TEST(OwnedWorkerTest, AWorkerBusyPastTheBoundIsLetGoAndEndsByItself) {
  auto go_on = std::make_shared<Event>();
  auto ended = std::make_shared<Event>();
  OwnedWorker worker([go_on, ended] {
    go_on->Wait();
    ended->Set();
  });
  EXPECT_FALSE(worker.Release(1ms));
  EXPECT_FALSE(worker.started());
  go_on->Set();
  EXPECT_TRUE(ended->Wait(30000));
}

// The owner goes inside the body, as a client letting go from an event the worker delivers.
TEST(OwnedWorkerTest, AnOwnerThatGoesOnTheWorkersThreadLetsItEndByItself) {
  struct Owner {
    OwnedWorker worker;
  };
  auto start = std::make_shared<Event>();
  auto let_go = std::make_shared<Event>();
  auto* owner = new Owner;
  owner->worker = OwnedWorker([owner, start, let_go] {
    start->Wait();
    delete owner;
    if (OwnedWorker::LetGoOnThisThread()) let_go->Set();
  });
  start->Set();
  EXPECT_TRUE(let_go->Wait(30000));
}

}  // namespace
}  // namespace ordalis
