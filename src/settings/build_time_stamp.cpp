#include "settings/manager.h"

namespace ordalis::settings {

// The date and time this file was compiled, in the compiler's form: "Aug  7 2012 21:31:46".
std::string BuildTimeStamp() { return __DATE__ " " __TIME__; }

}  // namespace ordalis::settings
