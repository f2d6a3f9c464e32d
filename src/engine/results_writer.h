#pragma once
// The results document of a script run: every result of every item of the tree as XML, with the
// stylesheet, schema and viewer page written beside it.

#include <cstdint>
#include <string>
#include <vector>

#include "ordalis/types.h"

namespace ordalis {

class ScriptItem;

// What the document says about the run besides the tree.
struct ResultsHeader {
  std::string script_file_name;
  std::string version_under_test;     // "Undefined" is written when empty
  std::string host_name;              // "Unknown" is written when empty
  std::string date;                   // YYYY-MM-DD of the save
  std::string time;                   // HH:MM:SS of the save
  std::vector<std::string> log_files; // relative to the results directory
};

// The item type word of the results document ("assignment", "arrayIndex", "unknown").
const char* ResultsTypeName(ItemType type);

// The overall result of a node: its runs folded in order (Passed and Not Implemented count only
// while nothing else has, Failed wins over Warning and Error, Aborted wins over everything).
Result OverallResult(const ScriptItem& item);

// The whole results document for [root], lines ending with CR LF.
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
