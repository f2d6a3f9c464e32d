#pragma once
// The class table of the component: the creatable classes by their programmatic identifiers
// ("Ordalis.Script" or "Ordalis.Script.1"), and the module's count of objects alive. Both entry
// points are declared in the SDK (ordalis/component.h), which is what libordalis.so exports.

#include "ordalis/component.h"
