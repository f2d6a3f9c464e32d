#pragma once
// The built-in batch item kinds that run a file through an interpreter. Each is a BatchQueueItem
// that names its command line; everything else (worker, status, log, results) is shared.
//
// All operations are safe to call from any thread.

#include <string>
#include <vector>

#include "batch/batch_queue_item.h"

namespace ordalis {

// Command files ("bat") run with /bin/sh; perl files with perl, shell files with /bin/sh and
// python files with python3, each found on PATH.
class BatFileRunner : public BatchQueueItem {
 public:
  BatFileRunner() : BatchQueueItem("Bat file", "1.0") {}
 protected:
  std::vector<std::string> CommandLine(const std::string& path) const override { return {"/bin/sh", path}; }
};

class PerlFileRunner : public BatchQueueItem {
 public:
  PerlFileRunner() : BatchQueueItem("Perl file", "1.0") {}
 protected:
  std::vector<std::string> CommandLine(const std::string& path) const override { return {"perl", path}; }
};

class ShellFileRunner : public BatchQueueItem {
 public:
  ShellFileRunner() : BatchQueueItem("Shell file", "1.0") {}
 protected:
  std::vector<std::string> CommandLine(const std::string& path) const override { return {"/bin/sh", path}; }
};

class PythonFileRunner : public BatchQueueItem {
 public:
  PythonFileRunner() : BatchQueueItem("Python file", "1.0") {}
 protected:
  std::vector<std::string> CommandLine(const std::string& path) const override { return {"python3", path}; }
};

}  // namespace ordalis
