#pragma once
// RunController: the run state machine of one script object and the run thread that carries
// out its runs.
//
// Every change of state happens under the controller's lock together with the run event and
// the flags that go with it, so a client's Run, Pause or Stop never interleaves with the run
// thread's own changes. What a change must tell — the "State changed to" log line and the
// client's StateChanged — is queued under the lock and delivered after it is released, in the
// order the changes happened, one at a time; a client may therefore call back into the script
// from any notification (a change it makes there is delivered after the one it is handling).
//
// The run thread starts with the first run (Run, Step or a batch queue's run), so a script object
// that is only loaded, checked or queued holds no thread and no stack. Once started it idles
// between runs on the run event; what it does in each run is the run body's. Unless marked "run thread", operations are safe to call from any thread.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "interp/script_context.h"
#include "interp/statement_executor.h"
#include "ordalis/interfaces.h"
#include "platform/event.h"
#include "platform/owned_worker.h"

namespace ordalis {

// The code path of a state change. Its number ends the "State changed to" log line, which
// clients and their tests read, so the numbers never change.
enum class StateChangePath : int {
  kStop = 1,
  kRunEnded = 2,
  kThreadExit = 3,
  kRun = 4,
  kPause = 5,
  kPauseReached = 6,
  kBatchExecute = 7,
  kStep = 8,
};

// The name of [state] as the log line spells it ("ScriptRunning", …).
const char* StateName(ScriptState state);

// What the run thread does for each run.
class IRunBody {
 public:
  virtual ~IRunBody() = default;
  // Prepares, executes and winds up one run: its files, record, testers and results.
  virtual void RunOnce() = 0;
  // The run's verdict, read once the run is wound up: the root item's result.
  virtual Result Verdict() = 0;
  // The run is over and the root becomes the current item again; called before the state
  // changes to ScriptNotRunning.
  virtual void AfterRun() = 0;
  // A new run started by a client (not a batch queue, not a continuous rerun) starts from
  // clean results.
  virtual void ResetForNewRun() = 0;
};

// The run thread's stack: room for the deepest function-call nesting the interpreter allows,
// with the sanitizers' larger frames too.
inline constexpr std::size_t kRunThreadStackBytes = std::size_t{512} << 20;

class RunController {
 public:
  // Told of every state change, in order, with no lock held.
  using Notify = std::function<void(ScriptState state, StateChangePath path)>;

  explicit RunController(Notify notify);
  // Joins the run thread, or lets it go when this is the run thread itself.
  ~RunController();
  RunController(const RunController&) = delete;
  RunController& operator=(const RunController&) = delete;

  // Names the run body; the run thread starts at the first run and keeps [body] (and whatever
  // owns this controller through it) alive until it ends. Until then nothing is kept alive.
  void Start(std::weak_ptr<IRunBody> body);

  // ---- clients ----------------------------------------------------------------------------
  enum class StepMode { kContinue, kSingle };
  // Run (kContinue) or Step (kSingle): a paused run resumes where it stopped; otherwise the
  // iteration counter starts again.
  void Run(StepMode mode);
  // Only a running script pauses.
  void Pause();
  // Stops a script that is not idle: the run leaves every statement sequence and ends as
  // usual. [abort_current] is called once the state has changed, before anyone is told. False
  // when the script was not running (only the remote hold is released then).
  bool Stop(const std::function<void()>& abort_current);
  // The batch queue starts a run of the loaded tree.
  void ExecuteBatch();
  ScriptState state() const { return state_.load(); }
  BatchQueueItemStatus batch_status() const { return batch_status_.load(); }
  void set_batch_status(BatchQueueItemStatus status) { batch_status_.store(status); }
  bool running_continuously() const { return running_continuously_.load(); }
  void set_running_continuously(bool on) { running_continuously_.store(on); }
  // The remote hold keeps a remote-controlled run waiting, paused, for its next chunk.
  bool remote_hold() const { return remote_hold_.load(); }
  void set_remote_hold(bool on) { remote_hold_.store(on); }
  std::uint32_t iteration() const { return iteration_.load(std::memory_order_relaxed); }
  void ResetIteration() { iteration_.store(0); }
  // Waits up to [timeout_ms] while the script is stopping; true when it no longer is. On the
  // run thread it does not wait, since the run thread is what ends the stop.
  bool WaitWhileStopping(std::uint32_t timeout_ms);

  // Ends the run thread: a run in progress is stopped by the caller first. Waits up to
  // 2 × 10 s for the thread, then lets it go (it keeps alive what it uses); on the run thread
  // itself nothing is waited for.
  void Shutdown();

  // ---- run thread -------------------------------------------------------------------------
  // Completes a pending pause and waits while paused.
  RunCourse WaitIfPaused();
  // The flags above, for a statement loop to read in place.
  RunFlags flags() const { return RunFlags{&state_, &run_event_, &exit_event_, &step_flag_}; }
  bool step_flag() const { return step_flag_.load(std::memory_order_relaxed); }
  void ClearStepFlag() { step_flag_.store(false); }
  // Counts the run that starts.
  void BeginIteration() { iteration_.fetch_add(1); }
  // Between chunks of a remote-controlled run: pauses unless [chunk_waiting] says the next
  // chunk has already come. [chunk_waiting] is asked under the controller's lock.
  void HoldForRemote(const std::function<bool()>& chunk_waiting);
  // Sleeps [ms], ending early when the thread must end.
  void PaceWait(std::uint32_t ms);
  // Set only when the run thread ends; the sleep statement waits on it.
  Event& thread_ended() { return thread_ended_; }
  bool OnRunThread() const { return std::this_thread::get_id() == thread_id_.load(); }

 private:
  struct Change {
    ScriptState state;
    StateChangePath path;
  };

  // Starts the run thread unless it runs already or the controller is shutting down. Called
  // after the state change that starts a run, so the new thread finds the run event set. When
  // no thread can be made the run ends at once, failed.
  void EnsureThread();
  void Loop(IRunBody& body);
  // Pausing becomes Paused, and the run event is reset for the wait that follows.
  void CompletePause();
  void FinishRun(Result verdict);
  void EndThread();
  // With mutex_ held: the new state and the change to tell.
  void ChangeState(ScriptState state, StateChangePath path);
  // Tells the queued changes, in order; a thread that finds another one telling leaves the
  // rest to it. Called with no lock held.
  void Deliver();

  const Notify notify_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;  // a change of state happened
  std::deque<Change> pending_;       // changes not yet told
  bool delivering_ = false;

  std::atomic<ScriptState> state_{ScriptNotRunning};
  std::atomic<BatchQueueItemStatus> batch_status_{BatchQueueItemNotRunning};
  std::atomic<bool> running_continuously_{false};
  std::atomic<bool> step_flag_{false};
  std::atomic<bool> remote_hold_{false};
  std::atomic<std::uint32_t> iteration_{0};

  Event run_event_{EventReset::kManual};
  Event exit_event_{EventReset::kManual};
  Event thread_ended_{EventReset::kManual};
  std::mutex thread_mutex_;    // guards the three below; never held while telling anyone
  std::weak_ptr<IRunBody> body_;
  bool shut_down_ = false;
  OwnedWorker thread_;
  std::atomic<std::thread::id> thread_id_{};
};

}  // namespace ordalis
