#include "platform/connection_point.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

namespace ordalis {
namespace {

class Sink : public IScriptEvents {
 public:
  Sink(std::vector<int>* calls, int id, bool throws) : calls_(calls), id_(id), throws_(throws) {}
  Status Executed(std::uint32_t) override {
    calls_->push_back(id_);
    if (throws_) throw std::runtime_error("sink failed");
    return E_FAIL;
  }
  Status ResultsReset() override { return S_OK; }
  Status Started() override { return S_OK; }
  Status Reset() override { return S_OK; }

 private:
  std::vector<int>* calls_;
  int id_;
  bool throws_;
};

TEST(ConnectionPoint, CallsSinksInOrderPastFailuresAndUnadvises) {
  std::vector<int> calls;
  ConnectionPoint<IScriptEvents> point;
  std::uint32_t first = 0, second = 0, third = 0;
  ASSERT_EQ(point.Advise(std::make_shared<Sink>(&calls, 1, true), &first), S_OK);
  ASSERT_EQ(point.Advise(std::make_shared<Sink>(&calls, 2, false), &second), S_OK);
  ASSERT_EQ(point.Advise(std::make_shared<Sink>(&calls, 3, false), &third), S_OK);
  point.Fire([](IScriptEvents& sink) { sink.Executed(1); });
  EXPECT_EQ(calls, (std::vector<int>{1, 2, 3}));

  EXPECT_EQ(point.Unadvise(second), S_OK);
  EXPECT_EQ(point.Unadvise(second), E_INVALIDARG);
  calls.clear();
  point.Fire([](IScriptEvents& sink) { sink.Executed(1); });
  EXPECT_EQ(calls, (std::vector<int>{1, 3}));
  EXPECT_EQ(point.Advise(nullptr, &first), E_INVALIDARG);
  EXPECT_EQ(point.Advise(std::make_shared<Sink>(&calls, 4, false), nullptr), E_POINTER);
}

}  // namespace
}  // namespace ordalis
