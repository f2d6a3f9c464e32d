#pragma once
// The entry points of libordalis.so: a client makes every object of the component by its
// programmatic identifier and talks to it through the interfaces of ordalis/interfaces.h.
//
//   std::shared_ptr<ordalis::IUnknown> object;
//   if (ordalis::CreateInstance("Ordalis.Script", &object) == ordalis::S_OK) {
//     auto script = std::dynamic_pointer_cast<ordalis::IScript>(object);
//     ...
//   }

#include <memory>
#include <string>

#include "ordalis/api.h"
#include "ordalis/interfaces.h"

namespace ordalis {

// Makes a new object of the class named [progid] ("Ordalis.Script", "Ordalis.ScriptItem",
// "Ordalis.ApplicationManager", "Ordalis.TesterUtilities", "Ordalis.BatchQueue",
// "Ordalis.ScriptProxy", each also with the suffix ".1"; the case of the letters does not
// matter). CLASS_E_CLASSNOTAVAILABLE for a name that is not in the table; E_POINTER for a null
// [object]. The caller owns the new object; the script and the batch queue start their worker
// threads here. Safe to call from any thread; never throws. The script and the batch queue also
// answer IConnectionPointContainer, through which their events are advised.
ORDALIS_API Status CreateInstance(const std::string& progid, std::shared_ptr<IUnknown>* object);

// S_OK when no object made through CreateInstance is alive (the settings store may then be
// released), S_FALSE otherwise. Safe to call from any thread.
ORDALIS_API Status CanUnloadNow();

}  // namespace ordalis
