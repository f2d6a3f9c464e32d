#pragma once
// A command-line program run by a test, with its standard input, output and error on pipes.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "links/descriptor.h"

extern char** environ;

namespace ordalis::testing {

class ChildProcess {
 public:
  explicit ChildProcess(std::vector<std::string> args) {
    int in[2], out[2], err[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    input_.Reset(in[1]);
    output_.Reset(out[0]);
    errors_.Reset(err[0]);
  }
  ~ChildProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      Wait();
    }
  }

  void Write(const std::string& text) {
    if (::write(input_.get(), text.data(), text.size()) < 0) input_.Reset();
  }
  void CloseInput() { input_.Reset(); }

  // Reads standard output until it holds [text] (or the safety time-out passes).
  bool WaitForOutput(const std::string& text) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (output.find(text) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
      if (!Pump(1000)) break;
    }
    return output.find(text) != std::string::npos;
  }
  void Signal(int number) {
    if (pid_ > 0) ::kill(pid_, number);
  }
  // Reads both streams to their end and returns the exit status (-1 when it did not exit).
  int Wait() {
    input_.Reset();
    while (Pump(60000)) {
    }
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::string output;
  std::string errors;

 private:
  // Reads what is ready on either stream; false when both have ended or nothing came in time.
  bool Pump(int timeout_ms) {
    if (!output_.valid() && !errors_.valid()) return false;
    pollfd entries[2] = {{output_.get(), POLLIN, 0}, {errors_.get(), POLLIN, 0}};
    if (::poll(entries, 2, timeout_ms) <= 0) return false;
    FileDescriptor* streams[2] = {&output_, &errors_};
    std::string* texts[2] = {&output, &errors};
    for (int i = 0; i < 2; ++i) {
      if (!entries[i].revents) continue;
      char buffer[4096];
      long got = ::read(streams[i]->get(), buffer, sizeof buffer);
      if (got > 0) {
        texts[i]->append(buffer, static_cast<std::size_t>(got));
      } else {
        streams[i]->Reset();
      }
    }
    return true;
  }

  pid_t pid_ = -1;
  FileDescriptor input_, output_, errors_;
};

}  // namespace ordalis::testing
