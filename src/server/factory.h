#pragma once
// The class table of the component: the creatable classes by their programmatic identifiers
// ("Ordalis.Script" or "Ordalis.Script.1"), and the module's count of objects alive.

#include <memory>
#include <string>

#include "ordalis/interfaces.h"

namespace ordalis {

// Makes a new object of the class named [progid]. CLASS_E_CLASSNOTAVAILABLE for a name that is
// not in the table or a class this build does not offer yet; E_POINTER for a null [object].
// Safe to call from any thread.
Status CreateInstance(const std::string& progid, std::shared_ptr<IUnknown>* object);

// S_OK when no object made through the table is alive (the settings store may then be
// released), S_FALSE otherwise.
Status CanUnloadNow();

}  // namespace ordalis
