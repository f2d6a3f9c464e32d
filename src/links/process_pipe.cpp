#include "links/process_pipe.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

namespace ordalis {

namespace {

constexpr std::size_t kReceiveChunk = 2048;
// How long the interpreter gets to end on its own once "exit" was typed and its input closed.
constexpr int kChildExitWaitMs = 2000;

}  // namespace

const char* const ProcessPipe::kShell = "/bin/sh";

ProcessPipe::~ProcessPipe() {
  if (open_.load()) Close();
}

bool ProcessPipe::Open(const LinkParameters&) {
  if (open_.load()) return false;
  if (!stop_.wake().valid()) return false;
  int input[2];
  int output[2];
  if (::pipe2(input, O_CLOEXEC) != 0) return false;
  FileDescriptor input_read(input[0]), input_write(input[1]);
  if (::pipe2(output, O_CLOEXEC) != 0) return false;
  FileDescriptor output_read(output[0]), output_write(output[1]);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, input_read.get(), 0);
  posix_spawn_file_actions_adddup2(&actions, output_write.get(), 1);
  posix_spawn_file_actions_adddup2(&actions, output_write.get(), 2);
  // The interpreter gets its own process group, so a terminal's interrupt key reaches only the
  // program that owns the link.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);
  char shell[] = "sh";
  char interactive[] = "-i";
  char* argv[] = {shell, interactive, nullptr};
  pid_t child = -1;
  int spawned = ::posix_spawn(&child, kShell, &actions, &attributes, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (spawned != 0) return false;

  child_ = child;
  child_input_ = std::move(input_write);
  child_output_ = std::move(output_read);
  SetNonBlocking(child_input_.get());
  SetNonBlocking(child_output_.get());
  stop_.Reset();
  queue_.Reopen();
  open_.store(true);
  receive_thread_.Start([this] { ReceiveThread(); });
  send_thread_.Start([this] { SendThread(); });
  SetDescription("Process");
  SetOnline(true);
  return true;
}

bool ProcessPipe::Close() {
  if (!open_.load()) return false;
  static const std::uint8_t kExit[] = {'e', 'x', 'i', 't', '\n'};
  queue_.Push(kExit, sizeof kExit, std::chrono::milliseconds(0), Room::kAlways);
  stop_.Set();
  queue_.Shutdown();
  queue_.Wake();
  receive_thread_.Join();
  send_thread_.Join();
  child_input_.Reset();
  child_output_.Reset();
  ReapChild();
  queue_.Clear();
  open_.store(false);
  SetOnline(false);
  return true;
}

void ProcessPipe::ReapChild() {
  if (child_ < 0) return;
  FileDescriptor watch(static_cast<int>(::syscall(SYS_pidfd_open, child_, 0)));
  bool ended = false;
  if (watch.valid()) {
    pollfd entry{watch.get(), POLLIN, 0};
    int ready;
    do {
      ready = ::poll(&entry, 1, kChildExitWaitMs);
    } while (ready < 0 && errno == EINTR);
    ended = ready > 0;
  }
  // The interpreter leads its own process group: a command it is still running goes too.
  if (!ended) ::kill(-child_, SIGKILL);
  int status = 0;
  while (::waitpid(child_, &status, 0) < 0 && errno == EINTR) {
  }
  child_ = -1;
}

bool ProcessPipe::SendRaw(const std::uint8_t* bytes, std::size_t length) {
  return SendRawWithin(bytes, length, SendWaitNow(send_wait()));
}

bool ProcessPipe::SendRawWithin(const std::uint8_t* bytes, std::size_t length, std::chrono::milliseconds wait) {
  if (!open_.load()) return false;
  return Queued(queue_.Push(bytes, length, wait));
}

// Delivers what the interpreter prints; when it ends (its output closes) the link goes offline.
void ProcessPipe::ReceiveThread() {
  std::uint8_t buffer[kReceiveChunk];
  for (;;) {
    Readiness ready = WaitReady(child_output_.get(), POLLIN, stop_.wake());
    if (ready != Readiness::kReady) return;
    long received = ReadRetry(child_output_.get(), buffer, sizeof buffer);
    if (received > 0) {
      DeliverReceived(buffer, static_cast<std::size_t>(received));
      continue;
    }
    if (received < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) continue;
    break;
  }
  SetOnline(false);
}

// Writes queued buffers to the interpreter. When the link closes, what is still queued (the
// closing "exit") is written if the pipe has room, without waiting.
void ProcessPipe::SendThread() {
  // A write to an interpreter that has ended must fail with EPIPE, not end the whole process.
  sigset_t pipe_signal;
  sigemptyset(&pipe_signal);
  sigaddset(&pipe_signal, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe_signal, nullptr);
  auto write_without_waiting = [this](const ByteBuffer& buffer) {
    long sent = WriteRetry(child_input_.get(), buffer.data(), buffer.size());
    if (sent > 0) NotifySent(buffer.data(), static_cast<std::size_t>(sent));
  };
  for (;;) {
    std::optional<ByteBuffer> buffer = queue_.Pop();
    if (stop_.IsSet()) {
      if (buffer) write_without_waiting(*buffer);
      break;
    }
    if (!buffer) continue;
    std::size_t sent = WriteAll(child_input_.get(), buffer->data(), buffer->size(), stop_.wake(), false);
    if (sent > 0) NotifySent(buffer->data(), sent);
  }
  while (std::optional<ByteBuffer> rest = queue_.TryPop()) write_without_waiting(*rest);
}

}  // namespace ordalis
