#include "trace/script_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <utility>

#include "trace/clock.h"
#include "trace/logger.h"

namespace ordalis {

namespace {

// One lock for every log file in the process: two script objects may share a log file, and a
// line is written by a single append while it is held, so lines never interleave.
std::mutex& FileMutex() {
  static std::mutex mutex;
  return mutex;
}

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    ssize_t written = ::write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

}  // namespace

ScriptLog::ScriptLog(SinkLister sinks) : sinks_(std::move(sinks)) {}

void ScriptLog::SetLogFile(const std::string& directory, const std::string& file_name) {
  std::lock_guard lock(mutex_);
  if (file_name.empty()) {
    log_directory_.clear();
    log_path_.clear();
    return;
  }
  std::string base = directory.empty() ? std::string(".") : directory;
  log_directory_ = base + "/Results";
  log_path_ = log_directory_ + "/" + file_name + ".log";
  log_failure_.clear();
}

// A log file that cannot be written (a full disk, a failing device) is said once to the trace
// client and the sinks, so the run shows it loses lines, and kept for the run to count among
// the files it could not write; the run itself goes on.
void ScriptLog::ReportLogFileFailure(const std::string& path, int error) {
  std::string message = "Cannot write the log file '" + path + "': " + std::strerror(error);
  {
    std::lock_guard lock(mutex_);
    if (!log_failure_.empty()) return;
    log_failure_ = message;
  }
  RaiseEvent(Now(), severe, "Script", message, LogSource{});
}

std::string ScriptLog::TakeLogFileFailure() {
  std::lock_guard lock(mutex_);
  return std::exchange(log_failure_, std::string());
}

void ScriptLog::SetLogPath(const std::string& path) {
  std::lock_guard lock(mutex_);
  log_path_ = path;
}

std::string ScriptLog::LogFilePath() const {
  std::lock_guard lock(mutex_);
  return log_path_;
}

void ScriptLog::SetTraceClient(std::shared_ptr<ITraceEventsClient> client, std::int32_t lowest) {
  std::lock_guard lock(mutex_);
  client_lowest_.store(lowest, std::memory_order_release);
  has_client_.store(client != nullptr, std::memory_order_release);
  client_ = std::move(client);
}

std::shared_ptr<ITraceEventsClient> ScriptLog::trace_client() const {
  std::lock_guard lock(mutex_);
  return client_;
}

LogTime ScriptLog::Now() {
  const Clock& clock = Clock::Instance();
  double elapsed = static_cast<double>(clock.ElapsedTicks()) / static_cast<double>(Clock::Frequency());
  double whole = std::trunc(elapsed);
  return LogTime{clock.start_time() + static_cast<std::int64_t>(whole), elapsed - whole};
}

std::string ScriptLog::FileLine(const LogTime& when, std::int32_t level,
                                std::string_view variable_name, std::string_view message) {
  std::time_t time = static_cast<std::time_t>(when.time);
  std::tm local{};
  localtime_r(&time, &local);
  int milliseconds = static_cast<int>(when.seconds * 1000.0);
  if (milliseconds < 0) milliseconds = 0;
  if (milliseconds > 999) milliseconds = 999;
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "%04d/%02d/%02d %02d:%02d:%02d.%03d ", local.tm_year + 1900,
                local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                milliseconds);
  std::string line = stamp;
  line += LevelName(level);
  line += ':';
  line += variable_name;
  line += ':';
  line += message;
  return line;
}

bool ScriptLog::AppendLine(const std::string& path, const std::string& line) {
  std::string directory = path.substr(0, path.rfind('/'));
  std::string text = line + "\n";
  std::lock_guard lock(FileMutex());
  if (!directory.empty() && directory != path) ::mkdir(directory.c_str(), 0777);
  int fd;
  do {
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return false;
  bool ok = WriteAll(fd, text.data(), text.size());
  int failure = errno;
  // A file system may report a lost write only when the file is closed.
  if (::close(fd) != 0 && ok && errno != EINTR) return false;
  errno = failure;
  return ok;
}

void ScriptLog::Log(std::int32_t level, const std::string& variable_name,
                    const std::string& message, const LogSource& source) {
  LogTime when = Now();
  RaiseEvent(when, level, variable_name, message, source);
  if (level >= configuration) {
    std::string path = LogFilePath();
    if (!path.empty() && !AppendLine(path, FileLine(when, level, variable_name, message))) {
      ReportLogFileFailure(path, errno);
    }
  }
}

void ScriptLog::RaiseEvent(const LogTime& when, std::int32_t level, const std::string& variable_name,
                           const std::string& message, const LogSource& source) {
  if (ClientWants(level)) {
    if (auto client = trace_client()) {
      try {
        client->Log(when.time, when.seconds, static_cast<LoggingLevel>(level), variable_name, message);
      } catch (...) {
        // An observer that throws must not stop the line from reaching the others.
      }
    }
  }
  if (sinks_) {
    SinkList sinks;
    try {
      sinks = sinks_();
    } catch (...) {
    }
    const std::string file_name(sinks.empty() ? std::string_view() : source.file_name);
    for (const auto& sink : sinks) {
      if (!sink) continue;
      try {
        sink->Log(file_name, source.line, when.time, when.seconds,
                  static_cast<LoggingLevel>(level), variable_name, message);
      } catch (...) {
        // A failing sink does not stop delivery to the others.
      }
    }
  }
}

void ScriptLog::LogClear() {
  if (auto client = trace_client()) {
    try {
      client->LogClear();
    } catch (...) {
    }
  }
  if (!sinks_) return;
  SinkList sinks;
  try {
    sinks = sinks_();
  } catch (...) {
  }
  for (const auto& sink : sinks) {
    if (!sink) continue;
    try {
      sink->LogClear();
    } catch (...) {
    }
  }
}

}  // namespace ordalis
