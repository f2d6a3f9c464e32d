#pragma once
// The class table of the component: the creatable classes by their programmatic identifiers
// ("Ordalis.Script" or "Ordalis.Script.1"), and the module's count of objects alive. Both entry
// points are declared in the SDK (ordalis/component.h), which is what libordalis.so exports.

#include <string>
#include <vector>

#include "ordalis/component.h"

namespace ordalis {

// The version-independent identifiers of the creatable classes, in table order; each is also
// creatable with the suffix ".1". For `ordalis classes`; not part of the exported surface.
std::vector<std::string> ClassProgids();

}  // namespace ordalis
