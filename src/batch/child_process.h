#pragma once
// ChildProcess: one command started with posix_spawn in a directory of its own choosing (the
// engine's working directory is never changed), in a process group of its own, with its output
// and error output on a pipe that the caller reads line by line until the command ends.
//
// Start and Wait belong to one thread (the item's worker); Signal may be called from any other
// thread at any time. A process group is signalled only while its leader has not been reaped,
// so a signal never reaches a stranger that reused the number.

#include <sys/types.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace ordalis::batch {

// What becomes of the processes a command leaves running in its process group when it ends:
// they are ended with it (a test's helpers must not outlive the test), or left to run.
enum class Background { kEnd, kKeep };

class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts [argv] (argv[0] looked up on PATH) in [directory], standard input from /dev/null.
  // False, with the reason in [error], when it cannot be started.
  bool Start(const std::vector<std::string>& argv, const std::string& directory, std::string* error);

  // Hands every line the command writes to [line] (without its line end) until the command
  // ends, then, with Background::kEnd, kills what is left of its process group before it reaps
  // it (a process that made a group or session of its own has left it and is not reached).
  // Returns the exit status, or -1 when a signal ended it.
  int Wait(const std::function<void(const std::string&)>& line, Background background = Background::kEnd);

  // Sends [signal] to the command's process group if it is still there.
  void Signal(int signal);

 private:
  void ReadAvailable(bool until_end, const std::function<void(const std::string&)>& line);
  int Reap(Background background);
  void CloseDescriptors();

  std::mutex mutex_;  // guards pid_ against the reaping
  pid_t pid_ = -1;
  int output_ = -1;
  int pidfd_ = -1;
  std::string pending_;  // output after the last line end
};

}  // namespace ordalis::batch
