#pragma once
// ActionRecord: the record file a run writes while it executes. It starts with the engine
// version and the system variables in force, then holds one in line (ticks and the literal
// text of the parameters sent) and one out line (ticks, the result digit and the literal text
// of the values received) for every tester action. During playback only out lines are written.
// An action that measured has a measurement line after its out line: four spaces, "M ", and
// one bracketed list per measurement, [name, type, value, unit, low, high, comparison,
// result], every part but the last two as a string (a missing limit as ""), the numbers in the
// shortest form that reads back as the same number.
//
// A record that cannot be written (a full disk, an I/O error) never stops the run: the first
// failure is reported once through the failure report given to Start, later lines are dropped,
// and the lines written before it stay readable.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ordalis/measurement.h"
#include "ordalis/types.h"
#include "ordalis/variant.h"

namespace ordalis {

// The measurement line's text after "    M ", and back (false when it is not one).
std::string MeasurementsLiteral(const MeasuredValues& measured);
bool ParseMeasurementsLiteral(std::string_view text, MeasuredValues* measured);

class ActionRecord {
 public:
  // Told, once per record, why the record could not be written.
  using FailureReport = std::function<void(const std::string& reason)>;

  // Creates or truncates [path] and writes the header with [variables] (name, value text) in
  // the order given; the start ticks are taken once the header is written. False when the file
  // cannot be created; later writes are then dropped. [report] hears of the first write that
  // fails; it is called on the thread that writes, with no lock held.
  bool Start(const std::string& path, const std::vector<std::pair<std::string, std::string>>& variables,
             FailureReport report = nullptr);

  // The in line, written and flushed just before a tester's Execute.
  void WriteIn(const VariantArrayPtr& parameters);
  // The out line, written and flushed just after it, with the measurement line when the action
  // measured.
  void WriteOut(Result result, const VariantArrayPtr& values, const MeasuredValues& measured = {});
  // The out line of an Execute call that itself failed.
  void WriteFailedCall();

  void Close();
  bool is_open() const { return fd_ >= 0; }
  // Whether a write has failed since the last Start; the record ends before the failure.
  bool failed() const { return failed_; }
  std::int64_t start_ticks() const { return start_ticks_; }

  ActionRecord() = default;
  ActionRecord(const ActionRecord&) = delete;
  ActionRecord& operator=(const ActionRecord&) = delete;
  // Closes the file without reporting: whoever listened may be gone by now.
  ~ActionRecord() {
    report_ = nullptr;
    Close();
  }

  // A chunk is reserved on the disk before it is mapped; it is small, and none is reserved when
  // less than kRoomKept is free, so the record never takes the space the log and the results
  // document of the run need. Closing gives back what the last chunk did not use.
  static constexpr std::size_t kChunk = 64 * 1024;
  static constexpr std::size_t kRoomKept = 16 * kChunk;

 private:
  std::int64_t Ticks() const;
  // Hands [line_] to the operating system at once, so a tester that takes the process down
  // still leaves every line written before it. Lines go into a shared mapping of the file,
  // which the kernel keeps whatever happens to the process, at the cost of a copy instead of a
  // system call per line; where the file cannot be mapped they are written.
  void WriteLine();
  void Write(const char* data, std::size_t size);
  void WriteMapped(const char** data, std::size_t* size);
  void WriteDirect(const char* data, std::size_t size);
  bool MapNextChunk();
  void Fail(const char* step, int error);

  int fd_ = -1;
  std::string path_;
  std::string line_;
  std::int64_t start_ticks_ = 0;
  char* map_ = nullptr;          // the mapped chunk, or null
  std::size_t map_start_ = 0;    // file offset of the mapped chunk
  std::size_t map_used_ = 0;     // bytes of the chunk written
  std::size_t written_ = 0;      // bytes of the file written
  bool mapping_failed_ = false;
  bool failed_ = false;
  FailureReport report_;
};

}  // namespace ordalis
