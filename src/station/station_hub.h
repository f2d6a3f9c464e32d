#pragma once
// StationHub: what the browsers watching a station see of its run — the script's statement
// tree, each statement's latest result, the running statement, the log lines, the state, the
// elapsed time and the verdict.
//
// The run thread only ever updates a table under a short lock: it never formats a message for
// a browser, never waits for one and never wakes one. Each browser's stream reads the table
// from its own thread every batch interval and sends what changed since its cursor, so a
// browser that reads slowly or not at all costs the run nothing. Log lines are kept in a
// bounded ring; a stream that falls behind the ring is sent a full snapshot instead (resync).
// All operations are safe to call from any thread.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "language/script_item.h"
#include "ordalis/types.h"

namespace ordalis::station {

// One statement of the tree as the page draws it.
struct StatementRow {
  std::int32_t parent = -1;  // the row of the statement it is nested in
  std::uint32_t line = 0;
  std::string type;
  std::string text;
  std::string named;         // the label of a named result
  ScriptItem* item = nullptr;
};

// A stream's place in the hub's updates.
struct StreamCursor {
  std::uint64_t seq = 0;  // everything up to here was sent
  bool synced = false;    // a snapshot was sent since the last script was loaded
};

class StationHub {
 public:
  static constexpr std::size_t kLogLinesKept = 2000;
  static constexpr std::size_t kLogLinesInSnapshot = 500;
  static constexpr std::chrono::milliseconds kBatchInterval{50};

  // A script was loaded: its statement tree replaces the one shown. [root] is kept alive.
  void Loaded(const ScriptItemPtr& root, const std::string& path);
  // A run is about to start: the results shown are cleared and the clock starts. Called
  // before the run is, since the run thread may record results before the state change that
  // starts it is told.
  void NewRun();
  // Run thread: [item] recorded a result.
  void Executed(ScriptItem* item);
  void StateChanged(ScriptState state);
  // [item] is the statement the run waits before (a pause or a breakpoint); null is ignored.
  void SetCurrent(ScriptItem* item);
  // A run ended with [verdict]; [report] is its HTML report relative to the results folder.
  void RunEnded(Result verdict, const std::string& report);
  void Log(LoggingLevel level, const std::string& source, const std::string& message);
  void SetBreakpoint(std::size_t row, bool on);

  // The whole state as one JSON document.
  std::string Snapshot();
  // Waits up to one batch interval for something newer than [cursor] and returns it as one
  // JSON document ("snapshot" when the stream fell behind or a script was loaded), or an empty
  // string when nothing changed. Returns at once once the hub is closed.
  std::string NextUpdate(StreamCursor* cursor);
  // Ends every stream's wait for good.
  void Close();
  bool closed() const;

  // The statement behind [row], or null.
  ScriptItem* ItemOfRow(std::size_t row);
  ScriptState state();

 private:
  struct RowState {
    std::uint64_t seq = 0;  // when it last changed
    Result result = TestNotRun;
    std::uint64_t runs = 0;
  };
  struct LogLine {
    std::uint64_t seq;
    double at;
    int level;
    std::string source;
    std::string message;
  };

  std::string SnapshotLocked() const;
  std::string BatchLocked(const StreamCursor& cursor) const;
  double ElapsedLocked() const;
  void BuildRows(ScriptItem* container, std::int32_t parent);

  mutable std::mutex mutex_;
  std::condition_variable changed_;  // a state change, a load or the close
  bool closed_ = false;
  std::uint64_t seq_ = 0;            // counts every change
  std::uint64_t loaded_seq_ = 0;     // the change that loaded the current script
  ScriptItemPtr root_;
  std::string path_;
  std::vector<StatementRow> rows_;
  std::vector<RowState> states_;
  std::unordered_map<const ScriptItem*, std::size_t> row_of_;
  std::int64_t current_row_ = -1;
  std::uint64_t current_seq_ = 0;
  std::deque<LogLine> log_;
  std::uint64_t dropped_seq_ = 0;    // the newest log line the ring let go
  ScriptState state_ = ScriptNotRunning;
  std::uint64_t state_seq_ = 0;
  // Counts the state changes, so a page that missed a quick Running–Paused between two batches
  // still sees that a step happened.
  std::uint64_t state_changes_ = 0;
  bool ran_ = false;
  bool ended_ = false;
  Result verdict_ = TestNotRun;
  std::string report_;
  std::chrono::steady_clock::time_point started_{};
  std::chrono::steady_clock::time_point ended_at_{};
};

}  // namespace ordalis::station
