#pragma once
// Reads a results document (`odl_script_result`) as a stream of events, so that documents of
// any size are read in bounded memory: the reader keeps only the element it is in, the first
// kMaxText bytes of each text and the values and measurements of one run. Documents written by any version are
// read: text that is not valid UTF-8 is read byte by byte as Latin-1, control characters XML
// forbids are read as "\xNN", and documents declared iso-8859-1 are read as such.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "language/measurement.h"
#include "ordalis/types.h"
#include "report/run_annotations.h"

namespace ordalis::report {

// The head of the document: everything before the root node.
struct ResultsHeading {
  std::string name;                // the script's file name
  std::string version_under_test;  // "Undefined" when none was set
  std::string host_name;
  std::string date;                // YYYY-MM-DD of the save
  std::string time;                // hh:mm:ss of the save
  std::string version;
  std::vector<std::string> log_files;  // relative to the document's directory, '#' as "%23"
};

enum class ValueType { kInteger, kDouble, kString, kBoolean, kArray, kUnknown };

// One recorded value; arrays hold their elements.
struct ValueEntry {
  ValueType type = ValueType::kUnknown;
  std::string text;
  std::vector<ValueEntry> elements;
};

// One <run> of a node.
struct RunEntry {
  std::uint32_t iteration = 0;
  Result result = TestNotRun;
  double time_taken = 0.0;
  std::string date;
  std::string time;
  std::vector<ValueEntry> values;
  bool values_cut = false;  // more values were recorded than the reader keeps
  std::vector<Measurement> measurements;
  bool measurements_cut = false;  // more measurements were recorded than the reader keeps
  std::uint32_t count = 1;  // Passed runs a compact document folded into this one
};

// The start of a <node>: its type word and text, where it sits and, when the run's annotations
// are at hand, its place in the script.
struct NodeHead {
  std::size_t index = 0;  // position in document order, the root being 0
  int depth = 0;          // 1 for the root
  std::string type;
  std::string text;
  const NodeNote* note = nullptr;
  const std::string* file = nullptr;  // the note's file name
};

// Receives the events of one document in order: the heading, then for every node its start,
// its runs, its overall result, its children and its end.
class ResultsVisitor {
 public:
  virtual ~ResultsVisitor() = default;
  virtual void OnHeading(const ResultsHeading& heading) = 0;
  virtual void OnNodeStart(const NodeHead& head) = 0;
  virtual void OnRun(const RunEntry& run) = 0;
  virtual void OnNodeResult(Result overall) = 0;
  virtual void OnNodeEnd() = 0;
};

// Limits of what the reader keeps.
inline constexpr std::size_t kMaxText = 16 * 1024;     // bytes of one text or value
inline constexpr std::size_t kMaxRunValues = 256;      // values of one run, nested ones included
inline constexpr std::size_t kMaxRunMeasurements = 256;  // measurements of one run
inline constexpr int kMaxValueDepth = 16;              // arrays inside arrays
inline constexpr int kMaxNodeDepth = 10000;            // nodes inside nodes

// Reads the document at [path], calling [visitors] in the order given for every event. [notes]
// may be null; when its nodes stop matching the document's types it is no longer used. False,
// with [error] saying why (with the line number), when the file cannot be read or is not a
// results document; events already delivered stand.
bool ReadResults(const std::string& path, const std::vector<ResultsVisitor*>& visitors,
                 const RunAnnotations* notes, std::string* error);

}  // namespace ordalis::report
