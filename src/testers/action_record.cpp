#include "testers/action_record.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "codec/literal_text.h"
#include "trace/clock.h"

namespace ordalis {

bool ActionRecord::Start(const std::string& path,
                         const std::vector<std::pair<std::string, std::string>>& variables) {
  Close();
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
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
  Write(line_.data(), line_.size());
  line_.clear();
}

bool ActionRecord::MapNextChunk() {
  if (map_ != nullptr) {
    ::munmap(map_, kChunk);
    map_ = nullptr;
    map_start_ += kChunk;
  }
  if (mapping_failed_ || ::ftruncate(fd_, static_cast<off_t>(map_start_ + kChunk)) != 0) {
    mapping_failed_ = true;
    return false;
  }
  void* chunk = ::mmap(nullptr, kChunk, PROT_WRITE, MAP_SHARED, fd_, static_cast<off_t>(map_start_));
  if (chunk == MAP_FAILED) {
    mapping_failed_ = true;
    ::ftruncate(fd_, static_cast<off_t>(written_));
    return false;
  }
  map_ = static_cast<char*>(chunk);
  map_used_ = 0;
  return true;
}

void ActionRecord::Write(const char* data, std::size_t size) {
  while (size > 0 && !mapping_failed_) {
    if (map_ == nullptr || map_used_ == kChunk) {
      if (!MapNextChunk()) break;
    }
    std::size_t part = std::min(size, kChunk - map_used_);
    std::memcpy(map_ + map_used_, data, part);
    map_used_ += part;
    written_ += part;
    data += part;
    size -= part;
  }
  while (size > 0) {
    ssize_t done = ::pwrite(fd_, data, size, static_cast<off_t>(written_));
    if (done < 0) {
      if (errno == EINTR) continue;
      return;  // a full disk loses the record, never the run
    }
    data += done;
    size -= static_cast<std::size_t>(done);
    written_ += static_cast<std::size_t>(done);
  }
}

void ActionRecord::WriteIn(const VariantArrayPtr& parameters) {
  if (fd_ < 0) return;
  line_ = std::to_string(Ticks());
  line_ += ' ';
  line_ += LiteralText(parameters);
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
  line_ += LiteralText(values);
  line_ += "\r\n";
  WriteLine();
}

void ActionRecord::WriteFailedCall() {
  if (fd_ < 0) return;
  line_ = "    " + std::to_string(Ticks()) + " 4 \r\n";
  WriteLine();
}

void ActionRecord::Close() {
  if (fd_ < 0) return;
  if (map_ != nullptr) ::munmap(map_, kChunk);
  // The file ends where the last line does, not at the end of the mapped chunk.
  if (::ftruncate(fd_, static_cast<off_t>(written_)) != 0) {
    // The record stays readable: its loader stops at the first byte no line holds.
  }
  ::close(fd_);
  fd_ = -1;
  map_ = nullptr;
  map_start_ = 0;
  map_used_ = 0;
  written_ = 0;
  mapping_failed_ = false;
}

}  // namespace ordalis
