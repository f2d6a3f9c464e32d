#include "engine/current_tester.h"

namespace ordalis {

void CurrentTester::Begin(std::shared_ptr<ITester> tester) {
  std::lock_guard lock(mutex_);
  tester_.swap(tester);
}

void CurrentTester::End() {
  std::shared_ptr<ITester> ended;
  std::unique_lock lock(mutex_);
  ended.swap(tester_);
  idle_.wait(lock, [this] { return aborts_in_progress_ == 0; });
}

void CurrentTester::Abort() {
  std::shared_ptr<ITester> tester;
  {
    std::lock_guard lock(mutex_);
    if (!tester_) return;
    tester = tester_;
    ++aborts_in_progress_;
  }
  try {
    tester->Abort();
  } catch (...) {
    // A tester that fails to abort still sees the stop when its action returns.
  }
  {
    std::lock_guard lock(mutex_);
    --aborts_in_progress_;
  }
  idle_.notify_all();
}

}  // namespace ordalis
