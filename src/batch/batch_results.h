#pragma once
// Batch results: one record per finished attempt of a queue entry, and the batch results file
// (root element odl_batch_result) that lists them grouped by iteration, with a check code that
// the stylesheet recomputes to show that the file was edited by hand. The same file can be read
// back into records.
//
// All functions are safe to call from any thread; they touch only the files they are given.

#include <cstdint>
#include <string>
#include <vector>

#include "ordalis/types.h"

namespace ordalis::batch {

inline constexpr const char* kBatchStylesheetFile = "OrdalisBatch4_2.xsl";
inline constexpr const char* kBatchSchemaFile = "OrdalisBatch4_2.xsd";

// One finished attempt. Names are relative to the results directory.
struct BatchResultRecord {
  std::string name;
  std::string comment;
  std::string results_file;  // empty when the item has none
  BatchQueueItemStatus status = BatchQueueItemFailed;
  std::uint32_t id = 0;
  std::uint32_t iteration = 0;
  std::uint32_t retry = 0;     // earlier attempts of the entry in this pass
  std::uint32_t maxretry = 0;  // the retry count when the attempt finished
  // Why the attempt was an Error that never ran (its file cannot run); empty when it ran. Not
  // written to the file: the comment carries it there.
  std::string error;
  // How a command entry's command ended: its exit status, -1 when a signal ended it; unset
  // (kNoExitStatus) for scripts and attempts that never ran. Written as the optional
  // <exitstatus> element.
  static constexpr int kNoExitStatus = -2;
  int exit_status = kNoExitStatus;
  bool operator==(const BatchResultRecord&) const = default;
};

// What the file says about the batch besides its records.
struct BatchResultsHeader {
  std::string batch_name;
  std::string version_under_test;  // "Undefined" is written when empty
  std::string host_name;
  std::string version_text;
  std::int64_t start_time = 0;        // seconds since 1970
  std::int64_t last_update_time = 0;  // seconds since 1970
  bool all_passed = false;
  bool operator==(const BatchResultsHeader&) const = default;
};

// The sum of 12345678 for every Passed record and 87654321 for every other, modulo 2^32.
std::uint32_t CheckCode(const std::vector<BatchResultRecord>& records);

// "Failed" when the all-passed flag is clear, else "Not Run" without records, else "Passed".
const char* OverallResultText(const BatchResultsHeader& header,
                              const std::vector<BatchResultRecord>& records);

// The whole batch results file, lines ending with CR LF.
std::string BatchResultsXml(const BatchResultsHeader& header,
                            const std::vector<BatchResultRecord>& records);

// Whether writing a batch results file also writes the stylesheet and schema beside it, or only
// those that are missing (they do not change while a queue runs).
enum class CompanionFiles { kReplace, kIfMissing };

// Writes the stylesheet and the schema beside [path] and then the file itself. False when the
// file cannot be written; the companion files are best effort.
bool WriteBatchResults(const std::string& path, const BatchResultsHeader& header,
                       const std::vector<BatchResultRecord>& records,
                       CompanionFiles companions = CompanionFiles::kReplace);

// Writes the embedded file [resource] into [directory] under the same name, each of its line
// ends written as CR LF. False when it cannot be written or is not embedded.
bool WriteCompanionFile(const std::string& directory, const char* resource);

// Reads a batch results file back. Missing elements keep their defaults: the texts "Unknown",
// times 0, the all-passed flag clear. Records read back carry the entry id 0. False when the
// file cannot be opened; the outputs are then untouched.
bool LoadBatchResults(const std::string& path, BatchResultsHeader* header,
                      std::vector<BatchResultRecord>* records);

}  // namespace ordalis::batch
