#include "batch/batch_paths.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "platform/file_descriptor.h"
#include "platform/text.h"

namespace ordalis::batch {

namespace fs = std::filesystem;

namespace {

std::string WithSlashes(std::string text) {
  std::replace(text.begin(), text.end(), '\\', '/');
  return text;
}

}  // namespace

std::string FileType(const std::string& file_name) {
  std::size_t dot = file_name.rfind('.');
  return dot == std::string::npos ? std::string() : file_name.substr(dot + 1);
}

bool HasExtension(const std::string& file_name, const char* extension) {
  std::size_t dot = file_name.rfind('.');
  if (dot == std::string::npos) return false;
  return EqualsIgnoringCase(std::string_view(file_name).substr(dot), extension);
}

QueueLocation SplitQueuePath(const std::string& path) {
  std::string text = WithSlashes(path);
  QueueLocation location;
  std::size_t slash = text.rfind('/');
  if (slash == std::string::npos) {
    location.file_name = text;
  } else {
    location.directory = text.substr(0, slash);
    location.file_name = text.substr(slash + 1);
  }
  std::size_t dot = location.file_name.rfind('.');
  location.batch_name = dot == std::string::npos ? location.file_name : location.file_name.substr(0, dot);
  return location;
}

// The common prefix of the two names counts only up to a directory boundary in both: a base
// of "/t/sub2/" shares "/t/" with "/t/sub/a", not "/t/sub".
std::string MakeRelativePath(const std::string& base_text, const std::string& target_text) {
  std::string base = WithSlashes(base_text);
  if (base.empty() || base.back() != '/') base += '/';
  std::string target = WithSlashes(target_text);
  std::size_t i = 0;
  while (i < base.size() && i < target.size() && base[i] == target[i]) ++i;
  if (i < base.size()) {
    bool target_boundary = i == target.size() || target[i] == '/';
    if (target_boundary && base[i] == '/') {
      ++i;
    } else if (i > 0) {
      std::size_t slash = base.rfind('/', i - 1);
      i = slash == std::string::npos ? 0 : slash + 1;
    }
  }
  std::string relative;
  for (std::size_t j = i; j < base.size(); ++j) {
    if (base[j] == '/') relative += "../";
  }
  relative += target.substr(std::min(i, target.size()));
  return relative;
}

std::string ResolveStoredName(const std::string& queue_directory, const std::string& name_text) {
  std::string name = WithSlashes(name_text);
  if (IsAbsolutePath(name)) return name;
  std::string directory = WithSlashes(queue_directory);
  while (name.compare(0, 3, "../") == 0) {
    std::size_t slash = directory.rfind('/');
    if (slash == std::string::npos) break;
    directory.erase(slash);
    name.erase(0, 3);
  }
  return directory + "/" + name;
}

bool IsAbsolutePath(const std::string& path) {
  if (path.empty()) return false;
  if (path[0] == '/' || path[0] == '\\') return true;
  return path.size() >= 2 && path[1] == ':' &&
         ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
}

std::string AbsolutePath(const std::string& path) {
  std::string text = WithSlashes(path);
  if (text.empty()) return text;
  std::error_code error;
  fs::path absolute = fs::absolute(fs::path(text), error);
  if (error) return text;
  std::string normal = absolute.lexically_normal().string();
  while (normal.size() > 1 && normal.back() == '/') normal.pop_back();
  return normal;
}

std::string UnreadableFile(const std::string& path) {
  FileDescriptor fd = OpenFile(path, O_RDONLY | O_NONBLOCK | O_NOCTTY);
  struct stat info {};
  if (!fd || ::fstat(fd.get(), &info) != 0) return std::strerror(errno);
  return S_ISREG(info.st_mode) ? std::string() : kNotARegularFile;
}

std::string TimeStamp(std::time_t time) {
  std::tm parts{};
  localtime_r(&time, &parts);
  char text[64];
  std::snprintf(text, sizeof text, "%04d_%02d_%02d_%02d_%02d_%02d", parts.tm_year + 1900,
                parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
  return text;
}

std::string CreateUniqueFile(const std::string& directory, const std::string& stem,
                             const std::string& extension) {
  for (int n = 1; n < 10000; ++n) {
    std::string path = directory + "/" + stem + (n == 1 ? "" : "_" + std::to_string(n)) + extension;
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd >= 0) {
      ::close(fd);
      return path;
    }
    if (errno != EEXIST) return std::string();
  }
  return std::string();
}

// An existing file is swapped with the new one (RENAME_EXCHANGE) and the old content unlinked:
// as atomic for readers as a rename over it, without the flush of the whole file that some file
// systems force on a rename that replaces a file (milliseconds each, after every attempt).
bool WriteFileAtomically(const std::string& path, const std::string& bytes) {
  static std::atomic<unsigned> counter{0};
  std::string temporary =
      path + ".tmp" + std::to_string(::getpid()) + "_" + std::to_string(counter.fetch_add(1));
  {
    std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
    if (!file) return false;
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    file.flush();
    if (!file) {
      std::error_code ignored;
      fs::remove(temporary, ignored);
      return false;
    }
  }
  if (::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, path.c_str(), RENAME_EXCHANGE) == 0) {
    ::unlink(temporary.c_str());
    return true;
  }
  std::error_code error;
  fs::rename(temporary, path, error);
  if (error) {
    fs::remove(temporary, error);
    return false;
  }
  return true;
}

}  // namespace ordalis::batch
