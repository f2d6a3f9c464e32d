// Fuzzing harness for the batch queue file reader: the input is a queue file's bytes.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "batch/queue_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ordalis::batch;
  QueueFileContents contents;
  QueueFileError error;
  ParseQueueFile(std::string_view(reinterpret_cast<const char*>(data), size), &contents, &error);
  return 0;
}
