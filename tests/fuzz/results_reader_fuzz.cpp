// Fuzzing harness for the reader of results documents, which reads whatever lies in a results
// folder: the input is written to a file and digested as `ordalis report` and the folder's index
// do. Documents of any shape, document type declarations and entities among them, must end in a
// digest or an error quickly and within bounded memory (libFuzzer's time-out and memory limit
// catch an entity that expands).

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "report/run_digest.h"

namespace {

std::string DocumentPath() {
  // Under $TMPDIR (else /tmp), as every scratch file of the tests.
  static const std::string path =
      (std::filesystem::temp_directory_path() / ("ordalis_results_reader_fuzz_" + std::to_string(::getpid()) + ".xml")).string();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = DocumentPath();
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return 0;
  std::fwrite(data, 1, size, file);
  std::fclose(file);
  ordalis::report::RunDigest digest;
  std::string error;
  ordalis::report::DigestResults(path, nullptr, &digest, &error);
  std::remove(path.c_str());
  return 0;
}
