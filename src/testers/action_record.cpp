#include "testers/action_record.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "interp/variable_value.h"
#include "trace/clock.h"

namespace ordalis {

bool ActionRecord::Start(const std::string& path,
                         const std::vector<std::pair<std::string, std::string>>& variables) {
  Close();
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd_ < 0) return false;
  line_ = "Version 4.0n \r\nSystemVars\r\n";
  for (const auto& [name, value] : variables) {
    line_ += "    ";
    line_ += name;
    line_ += ' ';
    line_ += value;
    line_ += "\r\n";
  }
  WriteLine();
  start_ticks_ = Clock::Instance().ElapsedTicks();
  return true;
}

std::int64_t ActionRecord::Ticks() const { return Clock::Instance().ElapsedTicks() - start_ticks_; }

void ActionRecord::WriteLine() {
  const char* data = line_.data();
  std::size_t left = line_.size();
  while (left > 0) {
    ssize_t written = ::write(fd_, data, left);
    if (written < 0) {
      if (errno == EINTR) continue;
      break;  // a full disk loses the record, never the run
    }
    data += written;
    left -= static_cast<std::size_t>(written);
  }
  line_.clear();
}

void ActionRecord::WriteIn(const VariantArrayPtr& parameters) {
  if (fd_ < 0) return;
  line_ = std::to_string(Ticks());
  line_ += ' ';
  line_ += VariableValue::LiteralText(parameters);
  line_ += "\r\n";
  WriteLine();
}

void ActionRecord::WriteOut(Result result, const VariantArrayPtr& values) {
  if (fd_ < 0) return;
  line_ = "    ";
  line_ += std::to_string(Ticks());
  line_ += ' ';
  line_ += std::to_string(static_cast<int>(result));
  line_ += ' ';
  line_ += VariableValue::LiteralText(values);
  line_ += "\r\n";
  WriteLine();
}

void ActionRecord::WriteFailedCall() {
  if (fd_ < 0) return;
  line_ = "    " + std::to_string(Ticks()) + " 4 \r\n";
  WriteLine();
}

void ActionRecord::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

}  // namespace ordalis
