// Fuzzing harness for the settings reader: the input is a settings file's text. What reads must
// write, and what it writes must read back to the same text.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "settings/settings_store.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ordalis::settings;
  SettingsKey root;
  std::string error;
  if (!SettingsJson::Read(std::string_view(reinterpret_cast<const char*>(data), size), &root, &error)) {
    return 0;
  }
  std::string text;
  if (!SettingsJson::Write(root, &text, &error)) return 0;
  SettingsKey again;
  std::string again_text;
  if (!SettingsJson::Read(text, &again, &error) || !SettingsJson::Write(again, &again_text, &error) ||
      again_text != text) {
    std::abort();
  }
  return 0;
}
