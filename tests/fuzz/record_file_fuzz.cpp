// Fuzzing harness for the action record file read by playback: the input is written to a file,
// loaded, and every record is replayed through Execute as a script would call the actions, so
// tick values, result digits and value texts of any shape go through the playback timing and
// the literal reader.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "codec/literal_text.h"
#include "testers/script_playback.h"

namespace {

std::string RecordPath() {
  // Under $TMPDIR (else /tmp), as every scratch file of the tests.
  static const std::string path =
      (std::filesystem::temp_directory_path() / ("ordalis_record_fuzz_" + std::to_string(::getpid()) + ".txt")).string();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ordalis;
  const std::string path = RecordPath();
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return 0;
  std::fwrite(data, 1, size, file);
  std::fclose(file);
  ScriptPlayback playback;
  playback.Load(path);
  std::remove(path.c_str());
  std::string value;
  for (std::size_t i = 0; i < playback.RecordedVariableCount(); ++i) {
    playback.RecordedVariableValue(playback.RecordedVariableName(i), &value);
    VariantArray values;
    ParseLiteralText(value, &values);
  }
  for (const auto& record : playback.records()) {
    auto parameters = std::make_shared<VariantArray>();
    ParseLiteralText(record.in_text, parameters.get());
    VariantArrayPtr values;
    Result result = TestError;
    playback.Execute(0, parameters, &values, &result);
  }
  VariantArrayPtr values;
  Result result = TestError;
  playback.Execute(0, nullptr, &values, &result);  // beyond the end of the records
  return 0;
}
