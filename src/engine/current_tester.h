#pragma once
// CurrentTester: the tester whose action a run is starting or running, so that a Stop from a
// client thread can abort it.
//
// The run thread publishes the tester before it looks the action up, and checks for a stop
// after publishing and before calling Execute; Stop changes the state before it aborts. Either
// the run thread sees the stop and does not start the action, or the abort reaches the tester
// (whose base class keeps the request for the call it was meant for). End waits for an abort
// still in progress, so no abort meant for one action arrives after it has ended. All
// operations are safe to call from any thread; the tester's Abort is called with no lock held.

#include <condition_variable>
#include <memory>
#include <mutex>

#include "ordalis/interfaces.h"

namespace ordalis {

class CurrentTester {
 public:
  // Run thread: [tester] starts an action call.
  void Begin(std::shared_ptr<ITester> tester);
  // Run thread: the call has returned.
  void End();
  // Aborts the tester of the call in progress, if any.
  void Abort();

 private:
  std::mutex mutex_;
  std::condition_variable idle_;  // no Abort in progress
  std::shared_ptr<ITester> tester_;
  int aborts_in_progress_ = 0;
};

}  // namespace ordalis
