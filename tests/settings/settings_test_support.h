#pragma once
// Shared helpers of the settings tests: a temporary directory that the settings files live in
// (named to the store through the environment overrides), reading files byte for byte, and
// making a file read-only in a way that holds even for the superuser.

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "settings/settings_store.h"

namespace ordalis::settings::testing {

inline std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void WriteBytes(const std::string& path, const std::string& bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

// The file text of [root].
inline std::string Written(const SettingsKey& root) {
  std::string text, error;
  EXPECT_TRUE(SettingsJson::Write(root, &text, &error)) << error;
  return text;
}

// Sets or clears the immutable attribute, which stops every writer, root included.
inline bool SetImmutable(const std::string& path, bool on) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  int flags = 0;
  bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  if (ok) {
    flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  }
  ::close(fd);
  return ok;
}

// A fresh directory with the two settings files named through the environment overrides.
class SettingsDirectory {
 public:
  SettingsDirectory() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "ordalis-settings-XXXXXX").string();
    dir_ = ::mkdtemp(pattern.data());
    machine_ = dir_ + "/machine/settings.json";
    user_ = dir_ + "/user/settings.json";
    ::setenv("ORDALIS_MACHINE_SETTINGS", machine_.c_str(), 1);
    ::setenv("ORDALIS_USER_SETTINGS", user_.c_str(), 1);
  }
  ~SettingsDirectory() {
    for (const std::string& path : locked_) {
      SetImmutable(path, false);
      ::chmod(path.c_str(), std::filesystem::is_directory(path) ? 0755 : 0644);
    }
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
    ::unsetenv("ORDALIS_MACHINE_SETTINGS");
    ::unsetenv("ORDALIS_USER_SETTINGS");
  }
  const std::string& dir() const { return dir_; }
  const std::string& machine() const { return machine_; }
  const std::string& user() const { return user_; }

  // Makes [path] unwritable for this process: by permission bits, and where those do not bind
  // (the superuser), by the immutable attribute. False when neither could be done.
  bool MakeReadOnly(const std::string& path) {
    locked_.push_back(path);
    ::chmod(path.c_str(), 0444);
    if (::access(path.c_str(), W_OK) != 0) return true;
    return SetImmutable(path, true) && ::access(path.c_str(), W_OK) != 0;
  }

 private:
  std::string dir_;
  std::string machine_;
  std::string user_;
  std::vector<std::string> locked_;
};

}  // namespace ordalis::settings::testing
