#include "interrupts.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

namespace ordalis::cli {

sigset_t BlockInterrupts() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  return set;
}

InterruptWatcher::InterruptWatcher(sigset_t set, std::string notice, std::function<void()> stop) {
  thread_ = std::jthread([this, set, notice = std::move(notice), stop = std::move(stop)](std::stop_token token) {
    // Wakes every 100 ms to notice that the command is done with the watcher.
    timespec tick{0, 100 * 1000 * 1000};
    while (!token.stop_requested()) {
      if (sigtimedwait(&set, nullptr, &tick) < 0) continue;
      if (!interrupted_.exchange(true)) {
        std::fprintf(stderr, "%s\n", notice.c_str());
        stop();
      } else {
        std::_Exit(130);
      }
    }
  });
}

}  // namespace ordalis::cli
