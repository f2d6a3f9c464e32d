#pragma once
// The folder a benchmark program writes its scripts and documents in: one per process under
// $TMPDIR (else /tmp), removed with everything in it when the program ends.

#include <unistd.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace ordalis::bench {

class ScratchFolder {
 public:
  explicit ScratchFolder(const std::string& prefix)
      : path_(std::filesystem::temp_directory_path() / (prefix + std::to_string(::getpid()))) {
    std::filesystem::create_directories(path_);
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// The program's scratch folder, made on first use and removed at exit.
inline const std::filesystem::path& ScratchPath(const std::string& prefix) {
  static const ScratchFolder folder(prefix);
  return folder.path();
}

}  // namespace ordalis::bench
