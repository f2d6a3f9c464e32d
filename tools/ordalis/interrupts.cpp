#include "interrupts.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdint>
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

InterruptWatcher::InterruptWatcher(sigset_t set, std::string notice, std::function<void()> stop)
    : signals_(signalfd(-1, &set, SFD_CLOEXEC)), wake_(eventfd(0, EFD_CLOEXEC)) {
  if (!signals_ || !wake_) {
    // Without descriptors to wait on, the watcher looks for the end of the command every 100 ms.
    thread_ = std::jthread([this, set, notice = std::move(notice), stop = std::move(stop)](std::stop_token token) {
      timespec tick{0, 100 * 1000 * 1000};
      while (!token.stop_requested()) {
        if (sigtimedwait(&set, nullptr, &tick) >= 0) OnSignal(notice, stop);
      }
    });
    return;
  }
  thread_ = std::jthread([this, notice = std::move(notice), stop = std::move(stop)](std::stop_token token) {
    pollfd waits[2] = {{signals_.get(), POLLIN, 0}, {wake_.get(), POLLIN, 0}};
    while (!token.stop_requested()) {
      if (poll(waits, 2, -1) < 0) continue;  // EINTR
      if (waits[1].revents != 0) return;     // the command is done with the watcher
      if ((waits[0].revents & POLLIN) == 0) continue;
      signalfd_siginfo info{};
      if (read(signals_.get(), &info, sizeof info) == static_cast<ssize_t>(sizeof info)) OnSignal(notice, stop);
    }
  });
}

InterruptWatcher::~InterruptWatcher() {
  if (wake_) {
    std::uint64_t one = 1;
    [[maybe_unused]] ssize_t written = write(wake_.get(), &one, sizeof one);
  }
  // thread_ then asks for the stop and joins.
}

void InterruptWatcher::OnSignal(const std::string& notice, const std::function<void()>& stop) {
  if (!interrupted_.exchange(true)) {
    std::fprintf(stderr, "%s\n", notice.c_str());
    stop();
  } else {
    std::_Exit(130);
  }
}

}  // namespace ordalis::cli
