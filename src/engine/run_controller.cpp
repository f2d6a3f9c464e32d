#include "engine/run_controller.h"

#include <chrono>
#include <system_error>

namespace ordalis {

const char* StateName(ScriptState state) {
  switch (state) {
    case ScriptRunning: return "ScriptRunning";
    case ScriptPausing: return "ScriptPausing";
    case ScriptPaused: return "ScriptPaused";
    case ScriptStopping: return "ScriptStopping";
    case ScriptNotRunning: return "ScriptNotRunning";
  }
  return "Unknown";
}

RunController::RunController(Notify notify) : notify_(std::move(notify)) {}

// The run thread is joined, or let go when the last owner goes on the run thread itself, at its
// very end.
RunController::~RunController() = default;

void RunController::Start(std::weak_ptr<IRunBody> body) {
  std::lock_guard lock(thread_mutex_);
  body_ = std::move(body);
}

void RunController::EnsureThread() {
  try {
    std::lock_guard lock(thread_mutex_);
    if (thread_.started() || shut_down_) return;
    std::shared_ptr<IRunBody> body = body_.lock();
    if (!body) return;  // the owner is going; nothing is left to run
    // A script's function calls recurse on this thread's stack: it is large enough for the
    // interpreter's nesting limit to stop a runaway recursion before the stack does.
    thread_ = OwnedWorker(
        [this, body = std::move(body)] {
          thread_id_.store(std::this_thread::get_id());
          Loop(*body);
        },
        kRunThreadStackBytes);
    return;
  } catch (const std::system_error&) {
    // No room for the run thread (address space or thread limits): the run that was to start
    // ends at once, failed, rather than leaving the script running with nothing to run it.
  }
  {
    std::lock_guard lock(mutex_);
    run_event_.Reset();
    if (batch_status_.load() == BatchQueueItemRunning) batch_status_.store(BatchQueueItemFailed);
    ChangeState(ScriptNotRunning, StateChangePath::kRunEnded);
  }
}

// ---- changes of state --------------------------------------------------------------------------

void RunController::ChangeState(ScriptState state, StateChangePath path) {
  state_.store(state);
  pending_.push_back({state, path});
}

void RunController::Deliver() {
  std::unique_lock lock(mutex_);
  changed_.notify_all();
  if (delivering_) return;
  delivering_ = true;
  while (!pending_.empty()) {
    Change change = pending_.front();
    pending_.pop_front();
    lock.unlock();
    try {
      notify_(change.state, change.path);
    } catch (...) {
      // Whoever listens cannot stop the state machine.
    }
    lock.lock();
  }
  delivering_ = false;
}

void RunController::Run(StepMode mode) {
  {
    std::lock_guard lock(mutex_);
    ScriptState previous = state_.load();
    if (previous != ScriptPausing && previous != ScriptPaused) iteration_.store(0);
    step_flag_.store(mode == StepMode::kSingle);
    ChangeState(ScriptRunning, mode == StepMode::kSingle ? StateChangePath::kStep : StateChangePath::kRun);
    run_event_.Set();
  }
  EnsureThread();
  Deliver();
}

// The run event is reset by the run thread as it completes the pause (CompletePause), not here:
// a run thread that has just found the state still running then never blocks on a reset event
// with the pause left pending.
void RunController::Pause() {
  {
    std::lock_guard lock(mutex_);
    if (state_.load() != ScriptRunning) return;
    ChangeState(ScriptPausing, StateChangePath::kPause);
  }
  Deliver();
}

bool RunController::Stop(const std::function<void()>& abort_current) {
  {
    std::lock_guard lock(mutex_);
    remote_hold_.store(false);
    if (state_.load() == ScriptNotRunning) return false;
    batch_status_.store(BatchQueueItemNotRunning);
    running_continuously_.store(false);
    ChangeState(ScriptStopping, StateChangePath::kStop);
    run_event_.Set();
  }
  // The tester is aborted before anyone is told, so a slow listener cannot delay the stop.
  if (abort_current) abort_current();
  Deliver();
  return true;
}

void RunController::ExecuteBatch() {
  {
    std::lock_guard lock(mutex_);
    batch_status_.store(BatchQueueItemRunning);
    ChangeState(ScriptRunning, StateChangePath::kBatchExecute);
    run_event_.Set();
  }
  EnsureThread();
  Deliver();
}

bool RunController::WaitWhileStopping(std::uint32_t timeout_ms) {
  if (OnRunThread()) return state_.load() != ScriptStopping;
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                           [this] { return state_.load() != ScriptStopping; });
}

// ---- the run thread -------------------------------------------------------------------------

RunCourse RunController::WaitIfPaused() {
  if (state_.load() == ScriptPausing) CompletePause();
  // The usual case, a run going on, costs three flag reads.
  if (exit_event_.IsSet()) return RunCourse::kEndThread;
  if (run_event_.IsSet()) return RunCourse::kGoOn;
  return Event::WaitAny({&exit_event_, &run_event_}) == 1 ? RunCourse::kGoOn : RunCourse::kEndThread;
}

// A Run, Step or Stop that comes after this, under the same lock, sets the run event again.
void RunController::CompletePause() {
  {
    std::lock_guard lock(mutex_);
    if (state_.load() != ScriptPausing) return;  // resumed or stopped meanwhile
    run_event_.Reset();
    ChangeState(ScriptPaused, StateChangePath::kPauseReached);
  }
  Deliver();
}

void RunController::HoldForRemote(const std::function<bool()>& chunk_waiting) {
  {
    std::lock_guard lock(mutex_);
    // A chunk that came while this one ran is run at once; its Run already set the event.
    if (!remote_hold_.load() || chunk_waiting() || state_.load() != ScriptRunning) return;
    ChangeState(ScriptPausing, StateChangePath::kPause);
  }
  Deliver();
}

void RunController::PaceWait(std::uint32_t ms) {
  if (ms > 0) exit_event_.Wait(ms);
}

void RunController::Loop(IRunBody& body) {
  for (;;) {
    // Idle until a client starts a run, or until the script object goes.
    if (WaitIfPaused() == RunCourse::kEndThread) return EndThread();
    body.RunOnce();
    // The root is the current item again before the end of the run is told, so a client that
    // sees ScriptNotRunning never finds the run's last "next statement", none, as current.
    body.AfterRun();
    FinishRun(body.Verdict());
    if (WaitIfPaused() == RunCourse::kEndThread) continue;  // the end of the object is seen again at the top
    // The wait ended on a new run. One started by Run or Step begins from clean results; a
    // batch queue's run and a continuous rerun keep what came before.
    if (!running_continuously_.load() && batch_status_.load() != BatchQueueItemRunning) {
      body.ResetForNewRun();
      iteration_.store(0);
    }
  }
}

void RunController::FinishRun(Result verdict) {
  {
    std::lock_guard lock(mutex_);
    // A continuous run goes on: the run event is still set and the next run starts at once.
    if (running_continuously_.load()) return;
    batch_status_.store(verdict == TestPassed    ? BatchQueueItemPassed
                        : verdict == TestAborted ? BatchQueueItemAborted
                                                 : BatchQueueItemFailed);
    run_event_.Reset();
    ChangeState(ScriptNotRunning, StateChangePath::kRunEnded);
  }
  Deliver();
}

void RunController::EndThread() {
  {
    std::lock_guard lock(mutex_);
    run_event_.Reset();
    batch_status_.store(BatchQueueItemNotRunning);
    ChangeState(ScriptNotRunning, StateChangePath::kThreadExit);
  }
  Deliver();
  thread_ended_.Set();
}

void RunController::Shutdown() {
  run_event_.Reset();
  exit_event_.Set();
  OwnedWorker thread;
  {
    std::lock_guard lock(thread_mutex_);
    shut_down_ = true;
    thread = std::move(thread_);
  }
  if (!thread.started()) {
    // No run ever started: the object ends as a run thread would have ended it.
    if (!thread_ended_.IsSet()) EndThread();
    return;
  }
  // On the run thread (the last reference went from a notification) the thread is let go and
  // ends by itself, keeping alive what it uses; elsewhere it is waited for, 2 × 10 s at most,
  // and let go if still stuck in a tester call — it still owns what it uses.
  thread.Release(std::chrono::milliseconds(20000));
}

}  // namespace ordalis
