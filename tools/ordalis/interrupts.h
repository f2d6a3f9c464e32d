#pragma once
// Ctrl-C and termination requests for the commands that run something until it ends: the
// signals are blocked in every thread, and one watcher thread receives them. The first asks
// the work to stop cleanly; a second ends the process at once.

#include <signal.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "platform/file_descriptor.h"

namespace ordalis::cli {

// Blocks Ctrl-C and termination requests in this thread and every thread started after it;
// returns the set for sigwait or an InterruptWatcher.
sigset_t BlockInterrupts();

// Receives the signals of [set] on a thread of its own. The first prints [notice] on standard
// error and calls [stop]; the second ends the process with status 130. The watcher waits on the
// signals and on a wake-up its destruction sends, so a command that is done does not wait for it.
class InterruptWatcher {
 public:
  InterruptWatcher(sigset_t set, std::string notice, std::function<void()> stop);
  ~InterruptWatcher();
  InterruptWatcher(const InterruptWatcher&) = delete;
  InterruptWatcher& operator=(const InterruptWatcher&) = delete;

  bool interrupted() const { return interrupted_.load(); }

 private:
  void OnSignal(const std::string& notice, const std::function<void()>& stop);

  std::atomic<bool> interrupted_{false};
  FileDescriptor signals_;  // a signalfd of the set
  FileDescriptor wake_;     // an eventfd written when the command is done with the watcher
  std::jthread thread_;     // last: it uses the members above
};

}  // namespace ordalis::cli
