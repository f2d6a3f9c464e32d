#pragma once
// A temporary folder for a test, made under $TMPDIR (else /tmp) and removed with everything in it
// when the folder object goes, pass or fail. Every test that writes files takes one, so a test
// run leaves nothing behind.

#include <stdlib.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace ordalis::testing_support {

class TemporaryFolder {
 public:
  // A new folder named [prefix] followed by six random characters.
  explicit TemporaryFolder(const std::string& prefix = "ordalis-test-") {
    std::error_code error;
    std::filesystem::path base = std::filesystem::temp_directory_path(error);
    if (error) base = "/tmp";
    std::string pattern = (base / (prefix + "XXXXXX")).string();
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~TemporaryFolder() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;

  // Empty when the folder could not be made.
  const std::string& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return std::filesystem::path(path_) / name; }

 private:
  std::string path_;
};

}  // namespace ordalis::testing_support
