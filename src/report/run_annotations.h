#pragma once
// What a run knows about its results that the results document does not hold: the file and line
// of every item, the log lines logged around each failure, and which statements failed while a
// named result ran. `ordalis run` gathers them while the script runs and hands them to the report
// writers; a report made later from the document alone goes without them.

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "ordalis/types.h"

namespace ordalis {
class ScriptItem;
}

namespace ordalis::report {

// The place of one node of the results document in the script, in document order.
struct NodeNote {
  const char* type = "";       // the document's type word, to check the two still line up
  std::uint32_t file = 0;      // index into RunAnnotations::files
  std::uint32_t line = 0;      // 0 when the item has no line
};

struct RunAnnotations {
  std::vector<std::string> files;
  std::vector<NodeNote> nodes;
  // Log lines up to and including the first failing execution of a node, by node index.
  std::unordered_map<std::size_t, std::vector<std::string>> failure_logs;
  // For a named result that failed: the node index of the first statement that failed while it
  // ran, also when that statement sits in a function it called.
  std::unordered_map<std::size_t, std::size_t> row_failures;
  // A strict run counts a condition that could not be evaluated in its verdict; otherwise the
  // language lets it pass and the reports list it as not counted.
  bool strict = false;
};

// Gathers the annotations of one run. OnLogLine may be called from any thread; OnExecuted is
// called on the run thread after each statement; Finish after the run has ended.
class RunRecorder {
 public:
  // How many log lines are kept before each failure, and for how many failing statements.
  static constexpr std::size_t kLinesBeforeFailure = 8;
  static constexpr std::size_t kFailuresWithLines = 500;

  // A log line as the log file writes it. Safe to call from any thread.
  void OnLogLine(std::string line);
  // [item] has run and recorded its result. Run thread only.
  void OnExecuted(ScriptItem* item);
  // The annotations for the results document written for [root]. Call once the run has ended.
  RunAnnotations Finish(ScriptItem& root);

 private:
  struct Executed {
    ScriptItem* item;
    bool failed;
  };
  void NoteFailure(const Executed& entry);
  void AttributeToRow(ScriptItem* row);

  std::mutex mutex_;  // guards the lines and the failures; the ring of statements is unguarded
  std::vector<std::string> recent_lines_;  // a ring of the latest lines
  std::size_t next_line_ = 0;
  std::unordered_map<ScriptItem*, std::vector<std::string>> failure_lines_;
  std::vector<Executed> recent_;           // a ring of the latest statements run (run thread only)
  std::size_t next_executed_ = 0;
  std::unordered_map<ScriptItem*, ScriptItem*> row_failures_;
};

// The notes of every node of the document written for [root], in document order, and the map
// from item to node index.
void NoteTree(ScriptItem& root, RunAnnotations* notes,
              std::unordered_map<const ScriptItem*, std::size_t>* index_of);

// Whether a node of [type_word] is a block around other statements (root, then, do, result…)
// rather than a statement of its own; blocks are never listed as failures.
bool IsBlockType(std::string_view type_word);

}  // namespace ordalis::report
