#include "platform/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace ordalis {

namespace {

// As many links as the kernel follows in one path.
constexpr int kMostLinks = 40;

std::string DirectoryOf(const std::string& path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// What one symbolic link at [link] names, read from the link's own directory when relative.
bool ReadLink(const std::string& link, std::string* target) {
  std::string text(4096, '\0');
  ssize_t length = ::readlink(link.c_str(), text.data(), text.size());
  if (length < 0) return false;
  text.resize(static_cast<std::size_t>(length));
  if (text.empty() || text[0] == '/' || link.find('/') == std::string::npos) {
    *target = text;
  } else {
    *target = DirectoryOf(link) + "/" + text;
  }
  return true;
}

}  // namespace

bool FollowLinks(const std::string& path, std::string* target) {
  std::string current = path;
  for (int links = 0; links <= kMostLinks; ++links) {
    struct stat info {};
    if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
      *target = current;
      return true;
    }
    if (!ReadLink(current, &current)) return false;
  }
  errno = ELOOP;
  return false;
}

OutputFile::~OutputFile() {
  fd_.Reset();
  if (!temporary_.empty()) ::unlink(temporary_.c_str());
}

bool OutputFile::Fail(int error_number, std::string* error) {
  if (error != nullptr) *error = std::strerror(error_number);
  return false;
}

bool OutputFile::Open(const std::string& path, mode_t new_file_mode, std::string* error,
                      ReplacedMode replaced, Sync sync) {
  mode_ = new_file_mode;
  sync_ = sync;
  // The kernel follows every link here, the /proc ones of /dev/stdout included, which name a
  // pipe or a terminal rather than a path.
  struct stat info {};
  bool exists = ::stat(path.c_str(), &info) == 0;
  if (exists && S_ISDIR(info.st_mode)) return Fail(EISDIR, error);
  if (exists && !S_ISREG(info.st_mode)) {
    // A device or a FIFO is what the user asked to write to: its node stays as it is.
    fd_ = OpenFile(path, O_WRONLY | O_NOCTTY);
    return fd_ ? true : Fail(errno, error);
  }
  if (!FollowLinks(path, &target_)) return Fail(errno, error);
  if (exists && replaced == ReplacedMode::kKeep) mode_ = info.st_mode & 07777;
  temporary_ = target_ + ".tmp-XXXXXX";
  fd_.Reset(::mkostemp(temporary_.data(), O_CLOEXEC));
  if (!fd_) {
    temporary_.clear();
    return Fail(errno, error);
  }
  return true;
}

void OutputFile::Write(std::string_view bytes) {
  if (failure_ != 0) return;
  if (!fd_) {
    failure_ = EBADF;
  } else if (!WriteAll(fd_.get(), bytes)) {
    failure_ = errno != 0 ? errno : EIO;
  }
}

bool OutputFile::Commit(std::string* error) {
  if (!fd_) return Fail(failure_ != 0 ? failure_ : EBADF, error);
  bool replacing = !temporary_.empty();
  int failure = failure_;
  const bool sync = replacing && sync_ == Sync::kToDisk;
  if (failure == 0 && replacing && ::fchmod(fd_.get(), mode_) != 0) failure = errno;
  if (failure == 0 && sync && ::fsync(fd_.get()) != 0) failure = errno;
  // A device may report a failed write only when it is closed.
  if (::close(fd_.Release()) != 0 && failure == 0 && errno != EINTR) failure = errno;
  if (failure == 0 && replacing && ::rename(temporary_.c_str(), target_.c_str()) != 0) failure = errno;
  if (failure != 0) return Fail(failure, error);
  temporary_.clear();
  if (sync) {
    FileDescriptor directory = OpenFile(DirectoryOf(target_), O_RDONLY | O_DIRECTORY);
    if (directory) ::fsync(directory.get());
  }
  return true;
}

bool WriteOutputFile(const std::string& path, std::string_view bytes, mode_t new_file_mode,
                     std::string* error, ReplacedMode replaced) {
  OutputFile file;
  if (!file.Open(path, new_file_mode, error, replaced)) return false;
  file.Write(bytes);
  return file.Commit(error);
}

}  // namespace ordalis
