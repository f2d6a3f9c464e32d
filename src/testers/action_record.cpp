#include "testers/action_record.h"

#include "interp/variable_value.h"
#include "trace/clock.h"

namespace ordalis {

bool ActionRecord::Start(const std::string& path,
                         const std::vector<std::pair<std::string, std::string>>& variables) {
  Close();
  file_.open(path, std::ios::binary | std::ios::trunc);
  if (!file_) return false;
  file_ << "Version 4.0n \r\nSystemVars\r\n";
  for (const auto& [name, value] : variables) file_ << "    " << name << ' ' << value << "\r\n";
  file_.flush();
  start_ticks_ = Clock::Instance().ElapsedTicks();
  return true;
}

std::int64_t ActionRecord::Ticks() const { return Clock::Instance().ElapsedTicks() - start_ticks_; }

void ActionRecord::WriteIn(const VariantArrayPtr& parameters) {
  if (!file_.is_open()) return;
  file_ << Ticks() << ' ' << VariableValue::LiteralText(parameters) << "\r\n";
  file_.flush();
}

void ActionRecord::WriteOut(Result result, const VariantArrayPtr& values) {
  if (!file_.is_open()) return;
  file_ << "    " << Ticks() << ' ' << static_cast<int>(result) << ' '
        << VariableValue::LiteralText(values) << "\r\n";
  file_.flush();
}

void ActionRecord::WriteFailedCall() {
  if (!file_.is_open()) return;
  file_ << "    " << Ticks() << " 4 \r\n";
  file_.flush();
}

void ActionRecord::Close() {
  if (file_.is_open()) file_.close();
  file_.clear();
}

}  // namespace ordalis
