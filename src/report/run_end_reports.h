#pragma once
// The reports of a run that no command line watches: a script made through the class factory, a
// batch item, the script a proxy serves. Given to the script as its run-end observer, it writes
// the HTML report beside each results document and refreshes the results directory's index, as
// `ordalis run` does (without the run's annotations: the document alone has no file and line).

#include <memory>

#include "engine/run_end_observer.h"

namespace ordalis::report {

// A failure to write is thrown as std::runtime_error naming the file; the script logs it.
std::shared_ptr<IRunEndObserver> MakeRunEndReports();

}  // namespace ordalis::report
