#include "platform/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/file_descriptor.h"

namespace ordalis {

namespace {

std::string DirectoryOf(const std::string& path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool Fail(const std::string& path, int error_number, std::string* error) {
  if (error) *error = "cannot write " + path + ": " + std::strerror(error_number);
  return false;
}

}  // namespace

bool WriteFileAtomically(const std::string& path, std::string_view bytes, mode_t new_file_mode,
                         std::string* error) {
  return WriteFileAtomically(path, [bytes](int fd) { return WriteAll(fd, bytes); }, new_file_mode, error);
}

bool WriteFileAtomically(const std::string& path, const std::function<bool(int fd)>& write,
                         mode_t new_file_mode, std::string* error) {
  mode_t mode = new_file_mode;
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) mode = info.st_mode & 07777;
  std::string temporary = path + ".tmp-XXXXXX";
  FileDescriptor out(::mkostemp(temporary.data(), O_CLOEXEC));
  if (!out) return Fail(path, errno, error);
  errno = 0;
  if (!write(out.get()) || ::fchmod(out.get(), mode) != 0 || ::fsync(out.get()) != 0) {
    int failure = errno != 0 ? errno : EIO;
    ::unlink(temporary.c_str());
    return Fail(path, failure, error);
  }
  out.Reset();
  if (::rename(temporary.c_str(), path.c_str()) != 0) {
    int failure = errno;
    ::unlink(temporary.c_str());
    return Fail(path, failure, error);
  }
  FileDescriptor directory = OpenFile(DirectoryOf(path), O_RDONLY | O_DIRECTORY);
  if (directory) ::fsync(directory.get());
  return true;
}

}  // namespace ordalis
