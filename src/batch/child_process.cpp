#include "batch/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char** environ;

namespace ordalis::batch {

namespace {

// A line longer than this is handed on in pieces, so one endless line cannot grow without bound.
constexpr std::size_t kMaxLine = 4096;

int OpenPidFd(pid_t pid) {
#ifdef SYS_pidfd_open
  return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
  (void)pid;
  return -1;
#endif
}

// The spawn attributes: a process group of its own (so an abort reaches everything the command
// started), no blocked signals and every signal at its default, whatever the engine's threads
// block or ignore.
struct SpawnAttributes {
  SpawnAttributes() {
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    posix_spawnattr_setpgroup(&attr, 0);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
  }
  ~SpawnAttributes() { posix_spawnattr_destroy(&attr); }
  posix_spawnattr_t attr;
};

struct SpawnActions {
  SpawnActions(int output, const std::string& directory) {
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, output, 1);
    posix_spawn_file_actions_adddup2(&actions, output, 2);
    posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
  }
  ~SpawnActions() { posix_spawn_file_actions_destroy(&actions); }
  posix_spawn_file_actions_t actions;
};

}  // namespace

ChildProcess::~ChildProcess() {
  bool running;
  {
    std::lock_guard lock(mutex_);
    running = pid_ > 0;
    if (running) ::kill(-pid_, SIGKILL);
  }
  if (running) Reap(Background::kEnd);
  CloseDescriptors();
}

bool ChildProcess::Start(const std::vector<std::string>& argv, const std::string& directory,
                         std::string* error) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    if (error) *error = std::strerror(errno);
    return false;
  }
  std::vector<char*> arguments;
  for (const std::string& argument : argv) arguments.push_back(const_cast<char*>(argument.c_str()));
  arguments.push_back(nullptr);
  pid_t pid = -1;
  int result;
  {
    SpawnAttributes attributes;
    SpawnActions actions(fds[1], directory);
    result = ::posix_spawnp(&pid, arguments[0], &actions.actions, &attributes.attr, arguments.data(), environ);
  }
  ::close(fds[1]);
  if (result != 0) {
    ::close(fds[0]);
    if (error) *error = std::strerror(result);
    return false;
  }
  std::lock_guard lock(mutex_);
  pid_ = pid;
  output_ = fds[0];
  pidfd_ = OpenPidFd(pid);
  pending_.clear();
  return true;
}

void ChildProcess::ReadAvailable(bool until_end, const std::function<void(const std::string&)>& line) {
  if (until_end) ::fcntl(output_, F_SETFL, ::fcntl(output_, F_GETFL) | O_NONBLOCK);
  char buffer[4096];
  for (;;) {
    ssize_t n = ::read(output_, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0 || until_end) {
        ::close(output_);
        output_ = -1;
      }
      return;
    }
    for (ssize_t i = 0; i < n; ++i) {
      if (buffer[i] == '\n' || pending_.size() >= kMaxLine) {
        if (!pending_.empty() && pending_.back() == '\r') pending_.pop_back();
        if (line) line(pending_);
        pending_.clear();
        if (buffer[i] == '\n') continue;
      }
      pending_ += buffer[i];
    }
    if (!until_end) return;
  }
}

int ChildProcess::Wait(const std::function<void(const std::string&)>& line, Background background) {
  while (output_ >= 0) {
    pollfd fds[2] = {{output_, POLLIN, 0}, {pidfd_, POLLIN, 0}};
    int count = pidfd_ >= 0 ? 2 : 1;
    if (::poll(fds, count, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    // The command has ended: take what it left in the pipe and stop, even if something it
    // started in the background still holds the pipe open.
    bool ended = count == 2 && (fds[1].revents & POLLIN) != 0;
    if (ended) {
      ReadAvailable(true, line);
      break;
    }
    if (fds[0].revents != 0) ReadAvailable(false, line);
  }
  if (!pending_.empty() && line) line(pending_);
  pending_.clear();
  int status = Reap(background);
  CloseDescriptors();
  return status;
}

void ChildProcess::Signal(int signal) {
  std::lock_guard lock(mutex_);
  if (pid_ > 0) ::kill(-pid_, signal);
}

// Waits for the command to end without reaping it, then reaps it under the lock, so Signal
// never sees a number that is free for reuse. Until the leader is reaped its number still names
// the group, so what the command left behind is killed before that.
int ChildProcess::Reap(Background background) {
  pid_t pid;
  {
    std::lock_guard lock(mutex_);
    pid = pid_;
  }
  if (pid <= 0) return -1;
  siginfo_t info{};
  while (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) != 0 && errno == EINTR) {
  }
  int status = 0;
  std::lock_guard lock(mutex_);
  if (background == Background::kEnd) ::kill(-pid, SIGKILL);
  pid_t reaped;
  while ((reaped = ::waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
  }
  pid_ = -1;
  if (reaped != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void ChildProcess::CloseDescriptors() {
  if (output_ >= 0) ::close(output_);
  if (pidfd_ >= 0) ::close(pidfd_);
  output_ = -1;
  pidfd_ = -1;
}

}  // namespace ordalis::batch
