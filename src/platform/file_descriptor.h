#pragma once
// FileDescriptor: the one owner of a POSIX file descriptor, and the system calls on it with
// EINTR retried. Move-only; the destructor closes and never throws; close is never retried,
// because the descriptor is gone after the first call whatever it returns.

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

namespace ordalis {

class FileDescriptor {
 public:
  FileDescriptor() = default;
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.fd_, -1));
    return *this;
  }
  ~FileDescriptor() { Reset(); }

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  explicit operator bool() const { return valid(); }
  // Closes the descriptor held and takes [fd].
  void Reset(int fd = -1);
  // Gives the descriptor up without closing it.
  int Release() { return std::exchange(fd_, -1); }

 private:
  int fd_ = -1;
};

// open(2) with EINTR retried and O_CLOEXEC added; an invalid descriptor, with errno set, when
// the file cannot be opened.
FileDescriptor OpenFile(const std::string& path, int flags, mode_t mode = 0);

// read(2) and write(2) with EINTR retried; they return what the system call returns.
long ReadRetry(int fd, void* buffer, std::size_t length);
long WriteRetry(int fd, const void* buffer, std::size_t length);

// Writes all of [bytes] to the blocking [fd]; false, with errno set, when a write fails (a full
// disk, an I/O error), so a short write is never taken for success.
bool WriteAll(int fd, std::string_view bytes);

// Appends everything [fd] delivers up to its end to [text]; false, with errno set, on an error.
bool ReadAll(int fd, std::string* text);

// The whole file at [path] into [contents]. False, with errno set, when it cannot be opened or
// read; a directory gives EISDIR.
bool ReadWholeFile(const std::string& path, std::string* contents);

// The whole of the regular file at [path] into [contents], refusing anything else: false with
// errno EISDIR for a directory, EINVAL for any other file that is not regular (a device, a FIFO,
// a socket; it is opened without blocking and never read), EFBIG when the file holds more than
// [limit] bytes (then nothing beyond [limit] + 1 bytes is read), or the error of open or read.
bool ReadRegularFile(const std::string& path, std::size_t limit, std::string* contents);

}  // namespace ordalis
