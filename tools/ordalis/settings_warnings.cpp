#include "settings_warnings.h"

#include <cstdio>
#include <string>

#include "settings/manager.h"

namespace ordalis::cli {

std::size_t WarnOfUnreadableSettings(const char* command) {
  std::vector<std::string> errors = settings::Manager::Instance().LoadErrors();
  for (const std::string& error : errors) {
    std::fprintf(stderr, "ordalis %s: warning: the settings were not read: %s\n", command, error.c_str());
  }
  return errors.size();
}

}  // namespace ordalis::cli
