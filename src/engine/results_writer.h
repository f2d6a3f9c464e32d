#pragma once
// The results document of a script run: every result of every item of the tree as XML, with the
// stylesheet, schema and viewer page written beside it.

#include <cstdint>
#include <string>
#include <vector>

#include "ordalis/types.h"

namespace ordalis {

class ScriptItem;

// Which runs the document lists: all of them (the format as written), or every run that is not
// Passed with the Passed runs of each item folded into one run element carrying their count,
// so a long soak that passes writes a small document.
enum class KeepRuns { kAll, kFailed };

// What the document says about the run besides the tree.
struct ResultsHeader {
  std::string script_file_name;
  std::string version_under_test;     // "Undefined" is written when empty
  std::string host_name;              // "Unknown" is written when empty
  std::string date;                   // YYYY-MM-DD of the save
  std::string time;                   // HH:MM:SS of the save
  std::vector<std::string> log_files; // relative to the results directory
  KeepRuns keep_runs = KeepRuns::kAll;
};

// The item type word of the results document ("assignment", "arrayIndex", "unknown").
const char* ResultsTypeName(ItemType type);

// The overall result of a node: its runs folded in order (Passed and Not Implemented count only
// while nothing else has, Failed wins over Warning and Error, Aborted wins over everything).
Result OverallResult(const ScriptItem& item);

// Where a results document goes: into [text] only, or through [text] as a buffer into a file
// descriptor, handed on whenever a megabyte has gathered, so a document of any size is written
// in one pass without ever being whole in memory.
class XmlOutput {
 public:
  XmlOutput() = default;
  explicit XmlOutput(int fd) : fd_(fd) { text.reserve(kFlushAt + 64 * 1024); }
  // Hands the gathered text on to the file when enough has gathered.
  void Pass();
  // Hands the rest on; false, with errno of the first failed write, when any write failed.
  bool Finish();

  std::string text;

 private:
  static constexpr std::size_t kFlushAt = std::size_t{1} << 20;
  int fd_ = -1;
  bool failed_ = false;
  int error_ = 0;
};

// Writes the whole results document for [root] to [output], lines ending with CR LF; the
// caller finishes the output.
void WriteResultsXml(ScriptItem& root, const ResultsHeader& header, XmlOutput& output);
// The whole results document for [root] as one text.
std::string ResultsXml(ScriptItem& root, const ResultsHeader& header);

// The name SaveResults writes to: [file_name] cut back to its last '.' (kept) followed by "xml".
std::string ResultsXmlName(const std::string& file_name);

// The header for a save now: host name, local date and time.
ResultsHeader HeaderForNow(std::string script_file_name, std::string version_under_test,
                           std::vector<std::string> log_files);

// Writes the stylesheet, schema and viewer page into [results_directory] where each is missing
// or differs; a file that cannot be written is skipped.
void WriteCompanionFiles(const std::string& results_directory);

// Names of the companion files inside a results directory.
inline constexpr const char* kStylesheetFile = "Ordalis4_2.xsl";
inline constexpr const char* kSchemaFile = "Ordalis4_2.xsd";
inline constexpr const char* kViewerFile = "ViewResults.html";

}  // namespace ordalis
