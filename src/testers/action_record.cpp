#include "testers/action_record.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <memory>
#include <cstring>
#include <system_error>

#include "codec/literal_text.h"
#include "trace/clock.h"

namespace ordalis {

bool ActionRecord::Start(const std::string& path,
                         const std::vector<std::pair<std::string, std::string>>& variables,
                         FailureReport report) {
  Close();
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd_ < 0) return false;
  // The lock tells a later run in the same folder that this record's run is alive, wherever
  // it runs; the kernel drops it when the process ends, however it ends.
  ::flock(fd_, LOCK_SH | LOCK_NB);
  path_ = path;
  failed_ = false;
  report_ = std::move(report);
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

void ActionRecord::Fail(const char* step, int error) {
  if (failed_) return;
  failed_ = true;
  FailureReport report = std::move(report_);
  report_ = nullptr;
  if (!report) return;
  std::string reason = std::string(step) + " '" + path_ + "': " +
                       std::error_code(error, std::generic_category()).message();
  try {
    report(reason);
  } catch (...) {
    // Whoever listens cannot make the record worse; the run goes on.
  }
}

namespace {

// Appends [value] in the shortest form that reads back as the same number.
void AppendShortest(std::string& out, double value) {
  char text[64];
  auto written = std::to_chars(text, text + sizeof text, value);
  out.append(text, written.ptr);
}

// Appends the type word and exact text of a measured value, each quoted; a value that is
// neither a number, a text nor a boolean is kept as its literal text.
void AppendMeasuredValue(std::string& out, const Variant& value) {
  double number = 0;
  if (value.type() == VT_BSTR) {
    out += "\"String\",";
    AppendLiteralString(out, value.as_string());
  } else if (value.type() == VT_BOOL) {
    out += value.as_bool() ? "\"Boolean\",\"true\"" : "\"Boolean\",\"false\"";
  } else if (MeasuredValue::NumberOf(value, &number)) {
    out += "\"Double\",\"";
    AppendShortest(out, number);
    out += '"';
  } else {
    out += "\"String\",";
    AppendLiteralString(out, LiteralText(std::make_shared<VariantArray>(VariantArray{value})));
  }
}

void AppendLimit(std::string& out, bool has, double limit) {
  out += '"';
  if (has) AppendShortest(out, limit);
  out += '"';
}

}  // namespace

// Written straight into the line, as LiteralText would write the lists: the line is on the path
// of every action that measures.
std::string MeasurementsLiteral(const MeasuredValues& measured) {
  std::string out;
  for (const MeasuredValue& m : measured) {
    if (!out.empty()) out += ',';
    out += '[';
    AppendLiteralString(out, m.name);
    out += ',';
    AppendMeasuredValue(out, m.value);
    out += ',';
    AppendLiteralString(out, m.unit);
    out += ',';
    AppendLimit(out, m.has_low, m.low);
    out += ',';
    AppendLimit(out, m.has_high, m.high);
    out += ',';
    out += std::to_string(static_cast<int>(m.comparison));
    out += ',';
    out += std::to_string(static_cast<int>(m.result));
    out += ']';
  }
  return out;
}

namespace {

bool RoomToReserve(int fd) {
  struct statvfs info {};
  if (::fstatvfs(fd, &info) != 0) return false;
  return static_cast<unsigned long long>(info.f_bavail) * info.f_frsize >= ActionRecord::kRoomKept;
}

}  // namespace

// Maps the next chunk of the file. Its blocks are reserved first: a store into a mapped page
// that the file system cannot back ends the process with SIGBUS, while a reservation that
// fails is an error code, after which the lines are written instead and a full disk is
// reported like any other failed write.
bool ActionRecord::MapNextChunk() {
  if (map_ != nullptr) {
    ::munmap(map_, kChunk);
    map_ = nullptr;
    map_start_ += kChunk;
  }
  if (mapping_failed_ || !RoomToReserve(fd_)) {
    mapping_failed_ = true;
    return false;
  }
  int reserved;
  do {
    reserved = ::fallocate(fd_, 0, static_cast<off_t>(map_start_), static_cast<off_t>(kChunk));
  } while (reserved != 0 && errno == EINTR);
  void* chunk = reserved == 0 ? ::mmap(nullptr, kChunk, PROT_WRITE, MAP_SHARED, fd_,
                                       static_cast<off_t>(map_start_))
                              : MAP_FAILED;
  if (chunk == MAP_FAILED) {
    mapping_failed_ = true;
    // A reservation may have grown the file before it failed; the file ends with its lines.
    if (::ftruncate(fd_, static_cast<off_t>(written_)) != 0) {
      // The reader stops at the first byte no line holds, so a longer file still reads.
    }
    return false;
  }
  map_ = static_cast<char*>(chunk);
  map_used_ = 0;
  return true;
}

void ActionRecord::WriteMapped(const char** data, std::size_t* size) {
  while (*size > 0 && !mapping_failed_) {
    if (map_ == nullptr || map_used_ == kChunk) {
      if (!MapNextChunk()) return;
    }
    std::size_t part = std::min(*size, kChunk - map_used_);
    std::memcpy(map_ + map_used_, *data, part);
    map_used_ += part;
    written_ += part;
    *data += part;
    *size -= part;
  }
}

void ActionRecord::WriteDirect(const char* data, std::size_t size) {
  while (size > 0) {
    ssize_t done = ::pwrite(fd_, data, size, static_cast<off_t>(written_));
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) {
      Fail("Failed to write the record file", done < 0 ? errno : ENOSPC);
      return;
    }
    data += done;
    size -= static_cast<std::size_t>(done);
    written_ += static_cast<std::size_t>(done);
  }
}

void ActionRecord::Write(const char* data, std::size_t size) {
  if (failed_) return;  // a record with a gap would replay the wrong answers
  WriteMapped(&data, &size);
  if (size > 0) WriteDirect(data, size);
}

void ActionRecord::WriteIn(const VariantArrayPtr& parameters) {
  if (fd_ < 0) return;
  line_ = std::to_string(Ticks());
  line_ += ' ';
  line_ += LiteralText(parameters);
  line_ += "\r\n";
  WriteLine();
}

void ActionRecord::WriteOut(Result result, const VariantArrayPtr& values, const MeasuredValues& measured) {
  if (fd_ < 0) return;
  line_ = "    ";
  line_ += std::to_string(Ticks());
  line_ += ' ';
  line_ += std::to_string(static_cast<int>(result));
  line_ += ' ';
  line_ += LiteralText(values);
  line_ += "\r\n";
  if (!measured.empty()) {
    line_ += "    M ";
    line_ += MeasurementsLiteral(measured);
    line_ += "\r\n";
  }
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
  // The file ends where the last line does, not at the end of the reserved chunk.
  if (map_start_ + map_used_ > 0 && ::ftruncate(fd_, static_cast<off_t>(written_)) != 0) {
    Fail("Failed to end the record file", errno);
  }
  if (::close(fd_) != 0 && errno != EINTR) Fail("Failed to close the record file", errno);
  fd_ = -1;
  map_ = nullptr;
  map_start_ = 0;
  map_used_ = 0;
  written_ = 0;
  mapping_failed_ = false;
  report_ = nullptr;
}

}  // namespace ordalis
