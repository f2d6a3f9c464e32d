#include "engine/run_files.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <system_error>

#include "trace/logger.h"

namespace ordalis {

namespace fs = std::filesystem;

namespace {

// Whether [name] matches [pattern]: '*' stands for any run of characters, '?' for one, and every
// other character, '[' and ']' included, for itself.
bool MatchesWildcards(std::string_view pattern, std::string_view name) {
  std::size_t p = 0, n = 0;
  std::size_t star = std::string_view::npos, resume = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = n;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

// The regular files of [directory] (the working directory when empty) whose names match
// [pattern], in name order (names without their directory).
std::vector<std::string> Search(const std::string& directory, const std::string& pattern) {
  std::vector<std::string> found;
  std::error_code error;
  for (fs::directory_iterator entry(directory.empty() ? "." : directory, error), end; !error && entry != end;
       entry.increment(error)) {
    std::string name = entry->path().filename().string();
    std::error_code kind_error;
    if (!MatchesWildcards(pattern, name) || !entry->is_regular_file(kind_error)) continue;
    found.push_back(std::move(name));
  }
  std::sort(found.begin(), found.end());
  return found;
}

// The directory part of a registered pattern with '/' between its parts: scripts written for
// either system separate directories with a slash or a backslash, and a run of separators (a
// doubled backslash, as a string literal of a Windows path spells it) is one.
std::string DirectoryWithSlashes(const std::string& directory) {
  std::string out;
  for (char c : directory) {
    char separator = c == '\\' ? '/' : c;
    if (separator == '/' && !out.empty() && out.back() == '/') continue;
    out += separator;
  }
  return out;
}

bool CopyFile(const std::string& from, const std::string& to) {
  std::error_code error;
  return fs::copy_file(from, to, fs::copy_options::overwrite_existing, error);
}

bool AllDigits(std::string_view text, std::size_t most) {
  return !text.empty() && text.size() <= most && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// The process id in a working file name "<script>.running_<pid>_<run>.log" (or .odlrec); 0
// when [name] is not one.
pid_t WorkingFileProcess(std::string_view name) {
  static constexpr std::string_view kMark = ".running_";
  std::size_t at = name.rfind(kMark);
  if (at == std::string_view::npos || !(name.ends_with(".log") || name.ends_with(".odlrec"))) return 0;
  std::string_view numbers = name.substr(at + kMark.size());
  numbers = numbers.substr(0, numbers.rfind('.'));
  std::size_t underscore = numbers.find('_');
  if (underscore == std::string_view::npos) return 0;
  std::string_view pid = numbers.substr(0, underscore);
  if (!AllDigits(pid, 9) || !AllDigits(numbers.substr(underscore + 1), 20)) return 0;
  return static_cast<pid_t>(std::stol(std::string(pid)));
}

// Whether process [pid] has ended: there is none, or only its exit status is left for a parent
// that has not collected it (a zombie holds no file and no lock).
bool ProcessGone(pid_t pid) {
  if (::kill(pid, 0) != 0) return errno == ESRCH;
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(stat, line);
  std::size_t name_end = line.rfind(')');  // the state follows the name, which may hold anything
  return name_end != std::string::npos && line.size() > name_end + 2 &&
         (line[name_end + 2] == 'Z' || line[name_end + 2] == 'X');
}

// Whether a live run holds the record file at [path]: it keeps a shared lock on it while it runs.
bool RecordInUse(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  bool in_use = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  ::close(fd);
  return in_use;
}

// The record beside a working file [path]: the same name ending in .odlrec.
std::string RecordBeside(const std::string& path) { return path.substr(0, path.rfind('.')) + ".odlrec"; }

}  // namespace

void RemoveDeadRunFiles(const std::string& directory, Logger& log) {
  std::error_code error;
  for (fs::directory_iterator entry(directory, error), end; !error && entry != end; entry.increment(error)) {
    std::string name = entry->path().filename().string();
    pid_t pid = WorkingFileProcess(name);
    if (pid <= 0 || pid == ::getpid() || !ProcessGone(pid)) continue;
    std::string path = entry->path().string();
    std::error_code kind_error;
    if (!entry->is_regular_file(kind_error) || RecordInUse(RecordBeside(path))) continue;
    std::error_code removed;
    if (!fs::remove(path, removed)) continue;
    log.Log(information, "Script", "Removed %s, left by a run that ended before it could finish (process %d)",
            path.c_str(), static_cast<int>(pid));
  }
}

RunNames MakeRunNames(const std::string& script_directory, const std::string& script_file_name,
                      const std::string& override_directory, std::time_t now) {
  std::tm parts{};
  localtime_r(&now, &parts);
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "_%04d_%02d_%02d_%02d_%02d_%02d", parts.tm_year + 1900,
                parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
  RunNames names;
  names.stamp = script_file_name + stamp;
  names.results_directory =
      override_directory.empty() ? script_directory + "/Results" : override_directory;
  names.base_path = names.results_directory + "/" + names.stamp;
  return names;
}

bool ClaimRunNames(RunNames* names, std::string* error) {
  constexpr int kMostTries = 10000;
  const std::string stamp = names->stamp;
  for (int n = 1; n <= kMostTries; ++n) {
    std::string candidate = n == 1 ? stamp : stamp + "_" + std::to_string(n);
    std::string base = names->results_directory + "/" + candidate;
    int fd = ::open((base + ".xml").c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      *error = "cannot create " + base + ".xml: " + std::strerror(errno);
      return false;
    }
    ::close(fd);
    // Files an earlier run left under this stamp without its document are not replaced either.
    std::error_code ignored;
    if (fs::exists(base + ".log", ignored) || fs::exists(base + ".odlrec", ignored)) {
      fs::remove(base + ".xml", ignored);
      continue;
    }
    names->stamp = candidate;
    names->base_path = base;
    return true;
  }
  *error = "no free name for " + names->results_directory + "/" + stamp + ".xml";
  return false;
}

bool MoveFile(const std::string& from, const std::string& to) {
  std::error_code error;
  fs::rename(from, to, error);
  if (!error) return true;
  // Across file systems a rename fails: copy, then remove the original.
  if (!CopyFile(from, to)) return false;
  fs::remove(from, error);
  return true;
}

void TransferLogFiles(const std::vector<std::string>& patterns, LogFileAction action,
                      const RunNames& names, std::vector<std::string>* results_logs, Logger& log) {
  const bool move = action == LogFileAction::kMove;
  for (const std::string& registered : patterns) {
    std::size_t separator = registered.find_last_of("/\\");
    std::string directory =
        separator == std::string::npos ? std::string() : registered.substr(0, separator + 1);
    std::string pattern = registered.substr(directory.size());
    directory = DirectoryWithSlashes(directory);
    std::vector<std::string> found = Search(directory, pattern);
    if (found.empty()) {
      log.Log(warning, "Script",
              move ? "Failed to move log file '%s' file not found"
                   : "Failed to copy log file '%s' file not found",
              registered.c_str());
      continue;
    }
    for (const std::string& name : found) {
      std::string source = directory + name;
      std::string destination = names.base_path + "_" + name;
      bool done = move ? MoveFile(source, destination) : CopyFile(source, destination);
      if (!done) {
        log.Log(warning, "Script", move ? "Failed to move log file '%s'" : "Failed to copy log file '%s'",
                source.c_str());
        continue;
      }
      results_logs->push_back(names.stamp + "_" + name);
      log.Log(information, "Script",
              move ? "Log file '%s' moved to %s" : "Log file %s copied to %s", source.c_str(),
              destination.c_str());
    }
  }
}

}  // namespace ordalis
