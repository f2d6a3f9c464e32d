#include "platform/file_descriptor.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace ordalis {

void FileDescriptor::Reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

FileDescriptor OpenFile(const std::string& path, int flags, mode_t mode) {
  for (;;) {
    int fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
    if (fd < 0 && errno == EINTR) continue;
    return FileDescriptor(fd);
  }
}

long ReadRetry(int fd, void* buffer, std::size_t length) {
  for (;;) {
    long result = ::read(fd, buffer, length);
    if (result < 0 && errno == EINTR) continue;
    return result;
  }
}

long WriteRetry(int fd, const void* buffer, std::size_t length) {
  for (;;) {
    long result = ::write(fd, buffer, length);
    if (result < 0 && errno == EINTR) continue;
    return result;
  }
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    long written = WriteRetry(fd, bytes.data(), bytes.size());
    if (written < 0) return false;
    if (written == 0) {
      errno = EIO;  // a regular file that takes nothing will not take more on a retry
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

bool ReadAll(int fd, std::string* text) {
  char chunk[65536];
  for (;;) {
    long got = ReadRetry(fd, chunk, sizeof chunk);
    if (got < 0) return false;
    if (got == 0) return true;
    text->append(chunk, static_cast<std::size_t>(got));
  }
}

bool ReadWholeFile(const std::string& path, std::string* contents) {
  FileDescriptor fd = OpenFile(path, O_RDONLY);
  if (!fd) return false;
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) return false;
  if (S_ISDIR(info.st_mode)) {
    errno = EISDIR;
    return false;
  }
  contents->clear();
  if (S_ISREG(info.st_mode) && info.st_size > 0) contents->reserve(static_cast<std::size_t>(info.st_size));
  return ReadAll(fd.get(), contents);
}

bool ReadRegularFile(const std::string& path, std::size_t limit, std::string* contents) {
  FileDescriptor fd = OpenFile(path, O_RDONLY | O_NONBLOCK | O_NOCTTY);
  if (!fd) return false;
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) return false;
  if (!S_ISREG(info.st_mode)) {
    errno = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
    return false;
  }
  if (static_cast<std::uintmax_t>(info.st_size) > limit) {
    errno = EFBIG;
    return false;
  }
  contents->clear();
  contents->reserve(static_cast<std::size_t>(info.st_size));
  // The file may grow while it is read: the limit holds for what is read, not what stat said.
  char chunk[65536];
  for (;;) {
    long got = ReadRetry(fd.get(), chunk, sizeof chunk);
    if (got < 0) return false;
    if (got == 0) return true;
    if (contents->size() + static_cast<std::size_t>(got) > limit) {
      errno = EFBIG;
      return false;
    }
    contents->append(chunk, static_cast<std::size_t>(got));
  }
}

}  // namespace ordalis
