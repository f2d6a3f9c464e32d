// Fuzzing harness for the proxy settings file reader: the input is the file's bytes. What reads
// is written and read again.

#include <cstddef>
#include <cstdint>
#include <string>

#include "proxy/proxy_settings.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ordalis;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  ProxySettings settings;
  std::string error;
  if (ReadProxySettings(bytes, &settings, &error) != SettingsRead::kRead) return 0;
  ProxySettings again;
  ReadProxySettings(WriteProxySettings(settings), &again, &error);
  return 0;
}
