#pragma once
// ScriptPlayback: a tester that stands in for every tester of a script and answers each action
// with the next outcome of a record file, so a recorded run can be replayed without its devices.
// The measurements an action recorded come back with its outcome.

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ordalis/interfaces.h"
#include "ordalis/measurement.h"

namespace ordalis {

// The largest record file playback reads (256 MiB).
inline constexpr std::size_t kMaxRecordFileBytes = std::size_t{256} << 20;

class ScriptPlayback : public ITester3, public ITesterMeasurements {
 public:
  struct Record {
    std::int64_t in_ticks = 0;
    std::int64_t out_ticks = -1;
    std::string in_text;
    std::string out_text;
    std::string measured_text;  // the measurement line after "    M ", when the action measured
    Result result = TestError;
  };

  // Reads [file_name]; an unreadable file, one that is not a regular file or one larger than
  // kMaxRecordFileBytes leaves the source empty. Tick values beyond the 64-bit range are clamped
  // to its largest value, and so are the wait times computed from them. Called while the script
  // is not running.
  void Load(const std::string& file_name);
  // Replays from the first record again; called at the start of every run.
  void Rewind();

  std::size_t RecordedVariableCount() const;
  std::string RecordedVariableName(std::size_t index) const;  // empty when out of range
  // The recorded value text of [name]; false when there is none.
  bool RecordedVariableValue(const std::string& name, std::string* value) const;
  const std::map<std::string, std::string>& recorded_variables() const { return variables_; }
  const std::vector<Record>& records() const { return records_; }

  // ITester
  Status get_ActionCount(std::uint32_t* count) override;
  Status get_Actions(std::uint32_t action_number, std::string* name) override;
  Status Execute(std::uint32_t action_number, VariantArrayPtr parameters, VariantArrayPtr* values,
                 Result* result) override;
  Status ActionDocumentation(std::uint32_t action_number, std::string* description,
                             TextArray* in_parameters, TextArray* out_parameters) override;
  Status Open(VariantArrayPtr parameters, VariantBool* opened) override;
  Status Close(VariantBool* closed) override;
  Status Abort() override;
  Status get_TesterType(std::string* type) override;
  Status get_Status(std::string* status) override;
  Status SetTrace(std::shared_ptr<ITrace> trace) override;
  // ITester1
  Status get_Version(std::string* version) override;
  Status scriptDirectory(const std::string& dir) override;
  // ITester2
  Status get_Description(std::string* description) override;
  Status ConstructorDocumentation(std::string* description, TextArray* in_parameters) override;
  // ITester3
  Status get_NumberOfReturnedTesters(std::uint32_t* count) override;
  Status createReturnedTester(std::uint32_t tester_number, std::shared_ptr<ITester>* tester) override;
  // ITesterMeasurements
  Status TakeMeasurements(MeasuredValues* measurements) override;

 private:
  void Log(LoggingLevel level, const std::string& text);

  mutable std::mutex trace_mutex_;  // SetTrace may come from another thread than Execute
  std::shared_ptr<ITrace> trace_;
  std::map<std::string, std::string> variables_;
  std::vector<Record> records_;
  std::size_t position_ = 0;
  MeasuredValues measured_;  // of the latest Execute
};

}  // namespace ordalis
