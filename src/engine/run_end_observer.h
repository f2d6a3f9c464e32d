#pragma once
// IRunEndObserver: told when a finished run's results document has been written, so a client
// that did not start the run from the command line (a batch queue, a program using the script
// object) can write its own reports from that document.

#include <string>

#include "ordalis/interfaces.h"

namespace ordalis {

// A finished run's results as an observer finds them.
struct WrittenResults {
  std::string results_xml_path;  // the results document, complete on disk
  Result verdict = TestNotRun;   // the root's result
  std::string script_file_name;
};

class IRunEndObserver {
 public:
  virtual ~IRunEndObserver() = default;
  // Called on the run thread once per run whose results document was written, after the summary
  // mail and before the state changes to ScriptNotRunning, with no lock of the script held: the
  // observer may call back into the script, and a client that waits for ScriptNotRunning finds
  // what the observer wrote. A run whose document could not be written is not reported.
  virtual void ResultsWritten(const WrittenResults& results) = 0;
};

}  // namespace ordalis
