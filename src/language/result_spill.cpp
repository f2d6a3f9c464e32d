#include "language/result_spill.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace ordalis {

namespace {

// Arrays nested deeper than this are kept as empty values: a spill never recurses without end.
constexpr int kMaxValueDepth = 64;

template <typename T>
void Put(std::string* bytes, T value) {
  char raw[sizeof(T)];
  std::memcpy(raw, &value, sizeof(T));
  bytes->append(raw, sizeof(T));
}

// Writes [value] as a varint at [out]; returns the end of what it wrote (at most 10 bytes).
char* WriteVarint(char* out, std::uint64_t value) {
  while (value >= 0x80) {
    *out++ = static_cast<char>((value & 0x7F) | 0x80);
    value >>= 7;
  }
  *out++ = static_cast<char>(value);
  return out;
}

void PutVarint(std::string* bytes, std::uint64_t value) {
  char raw[10];
  bytes->append(raw, static_cast<std::size_t>(WriteVarint(raw, value) - raw));
}

std::uint64_t ZigZag(std::int64_t value) {
  return (static_cast<std::uint64_t>(value) << 1) ^ static_cast<std::uint64_t>(value >> 63);
}

std::int64_t UnZigZag(std::uint64_t value) {
  return static_cast<std::int64_t>(value >> 1) ^ -static_cast<std::int64_t>(value & 1);
}

// A record's first byte says which of its fields are left out because they are the usual ones
// (a record of a loop's pass has the iteration and the second of the one before it, and most
// have no values), how its time taken is written, and, in its top three bits, the usual results.
enum RecordFlags : std::uint8_t {
  kSameIteration = 1,  // as the record before it in the block (0 for the first)
  kSameTime = 2,       // as the record before it in the block (0 for the first)
  kNoTimeTaken = 4,    // time taken exactly +0.0
  kNoValues = 8,  // and no measurements
  kWholeNanoseconds = 16,  // time taken a whole number of nanoseconds, written as that number
};
constexpr int kResultShift = 5;
// A result from Passed to Aborted is the flag byte's top bits (the result's number plus one);
// zero there means the result follows as a number of its own.
constexpr std::uint32_t kMaxFlaggedResult = TestAborted;

// The whole number of nanoseconds [seconds] is, when it is one exactly as the decoder makes it
// again (a positive count below 2^53 times 1e-9); 0 when it is not.
std::uint64_t WholeNanoseconds(double seconds) {
  if (!(seconds > 0) || seconds >= 9e6) return 0;
  auto count = static_cast<std::uint64_t>(seconds * 1e9 + 0.5);
  if (count == 0) return 0;
  double again = static_cast<double>(count) * 1e-9;
  return std::memcmp(&again, &seconds, sizeof again) == 0 ? count : 0;
}

class Reader {
 public:
  explicit Reader(std::string_view bytes) : bytes_(bytes) {}
  template <typename T>
  bool Get(T* value) {
    if (bytes_.size() - at_ < sizeof(T)) return false;
    std::memcpy(value, bytes_.data() + at_, sizeof(T));
    at_ += sizeof(T);
    return true;
  }
  bool Text(std::uint32_t length, std::string* text) {
    if (bytes_.size() - at_ < length) return false;
    text->assign(bytes_.data() + at_, length);
    at_ += length;
    return true;
  }
  bool Varint(std::uint64_t* value) {
    *value = 0;
    for (int shift = 0; shift < 64; shift += 7) {
      if (at_ == bytes_.size()) return false;
      auto byte = static_cast<std::uint8_t>(bytes_[at_++]);
      *value |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
      if ((byte & 0x80) == 0) return true;
    }
    return false;
  }
  bool done() const { return at_ == bytes_.size(); }

 private:
  std::string_view bytes_;
  std::size_t at_ = 0;
};

void EncodeValue(const Variant& value, int depth, std::string* bytes) {
  std::uint16_t type = value.type();
  if (value.is_object() || (value.is_array() && depth >= kMaxValueDepth)) type = VT_EMPTY;
  Put(bytes, type);
  if (type == VT_R8) {
    Put(bytes, value.as_double());
  } else if (type == VT_BSTR) {
    Put(bytes, static_cast<std::uint32_t>(value.as_string().size()));
    bytes->append(value.as_string());
  } else if (type == kVariantArrayType) {
    const VariantArrayPtr& elements = value.as_array();
    Put(bytes, static_cast<std::uint32_t>(elements ? elements->size() : 0));
    if (elements) {
      for (const Variant& element : *elements) EncodeValue(element, depth + 1, bytes);
    }
  } else if (type != VT_EMPTY) {
    Put(bytes, value.as_int64());
  }
}

bool DecodeValue(Reader& in, int depth, Variant* value) {
  std::uint16_t type = 0;
  if (!in.Get(&type)) return false;
  if (type == VT_EMPTY) {
    *value = Variant();
  } else if (type == VT_R8) {
    double number = 0;
    if (!in.Get(&number)) return false;
    *value = Variant::Double(number);
  } else if (type == VT_BSTR) {
    std::uint32_t length = 0;
    std::string text;
    if (!in.Get(&length) || !in.Text(length, &text)) return false;
    *value = Variant::String(std::move(text));
  } else if (type == kVariantArrayType) {
    std::uint32_t count = 0;
    if (depth >= kMaxValueDepth || !in.Get(&count)) return false;
    VariantArray elements;
    for (std::uint32_t i = 0; i < count; ++i) {
      if (!DecodeValue(in, depth + 1, &elements.emplace_back())) return false;
    }
    *value = Variant::Array(std::move(elements));
  } else {
    std::int64_t payload = 0;
    if (!in.Get(&payload)) return false;
    *value = type == VT_I4 ? Variant::Int(static_cast<std::int32_t>(payload))
             : type == VT_BOOL ? Variant::BoolBits(static_cast<VariantBool>(payload))
                               : Variant::Other(type, payload);
  }
  return true;
}

void PutText(std::string* bytes, const std::string& text) {
  PutVarint(bytes, text.size());
  bytes->append(text);
}

bool GetText(Reader& in, std::string* text) {
  std::uint64_t length = 0;
  return in.Varint(&length) && length <= UINT32_MAX && in.Text(static_cast<std::uint32_t>(length), text);
}

// Which limits a spilled measurement has.
enum LimitFlags : std::uint8_t { kHasLow = 1, kHasHigh = 2 };

void EncodeMeasurement(const Measurement& measurement, std::string* bytes) {
  PutText(bytes, measurement.name);
  PutText(bytes, measurement.text);
  PutText(bytes, measurement.unit);
  Put(bytes, measurement.number);
  const auto limits = static_cast<std::uint8_t>((measurement.low ? kHasLow : 0) | (measurement.high ? kHasHigh : 0));
  Put(bytes, static_cast<std::uint8_t>(measurement.kind));
  Put(bytes, static_cast<std::uint8_t>(measurement.comparison));
  Put(bytes, limits);
  if (measurement.low) Put(bytes, *measurement.low);
  if (measurement.high) Put(bytes, *measurement.high);
  PutVarint(bytes, ZigZag(measurement.result));
}

bool DecodeMeasurement(Reader& in, Measurement* measurement) {
  std::uint8_t kind = 0;
  std::uint8_t comparison = 0;
  std::uint8_t limits = 0;
  if (!GetText(in, &measurement->name) || !GetText(in, &measurement->text) ||
      !GetText(in, &measurement->unit) || !in.Get(&measurement->number) || !in.Get(&kind) ||
      !in.Get(&comparison) || !in.Get(&limits)) {
    return false;
  }
  if (kind > static_cast<std::uint8_t>(MeasuredKind::kBoolean) ||
      comparison > static_cast<std::uint8_t>(Comparison::kLogOnly)) {
    return false;
  }
  measurement->kind = static_cast<MeasuredKind>(kind);
  measurement->comparison = static_cast<Comparison>(comparison);
  double limit = 0;
  if ((limits & kHasLow) != 0) {
    if (!in.Get(&limit)) return false;
    measurement->low = limit;
  }
  if ((limits & kHasHigh) != 0) {
    if (!in.Get(&limit)) return false;
    measurement->high = limit;
  }
  std::uint64_t result = 0;
  if (!in.Varint(&result)) return false;
  measurement->result = static_cast<Result>(static_cast<std::int32_t>(UnZigZag(result)));
  return true;
}

bool DecodeRecord(Reader& in, const ResultRecord& previous, ResultRecord* record) {
  std::uint8_t flags = 0;
  if (!in.Get(&flags)) return false;
  if ((flags & kNoTimeTaken) != 0 && (flags & kWholeNanoseconds) != 0) return false;
  if (std::uint32_t flagged = flags >> kResultShift; flagged != 0) {
    record->result = static_cast<Result>(flagged - 1);
  } else {
    std::uint64_t result = 0;
    if (!in.Varint(&result)) return false;
    record->result = static_cast<Result>(static_cast<std::int32_t>(UnZigZag(result)));
  }
  record->iteration = previous.iteration;
  if ((flags & kSameIteration) == 0) {
    std::uint64_t iteration = 0;
    if (!in.Varint(&iteration) || iteration > UINT32_MAX) return false;
    record->iteration = static_cast<std::uint32_t>(iteration);
  }
  record->time = previous.time;
  if ((flags & kSameTime) == 0) {
    std::uint64_t delta = 0;
    if (!in.Varint(&delta)) return false;
    record->time = static_cast<std::int64_t>(static_cast<std::uint64_t>(previous.time) +
                                             static_cast<std::uint64_t>(UnZigZag(delta)));
  }
  record->time_taken = 0.0;
  if ((flags & kWholeNanoseconds) != 0) {
    std::uint64_t nanoseconds = 0;
    if (!in.Varint(&nanoseconds) || nanoseconds >= (std::uint64_t{1} << 53)) return false;
    record->time_taken = static_cast<double>(nanoseconds) * 1e-9;
  } else if ((flags & kNoTimeTaken) == 0 && !in.Get(&record->time_taken)) {
    return false;
  }
  if ((flags & kNoValues) == 0) {
    // The count of values, shifted left by one; the low bit says measurements follow them.
    std::uint64_t values = 0;
    if (!in.Varint(&values) || (values >> 1) > UINT32_MAX) return false;
    const bool measured = (values & 1) != 0;
    values >>= 1;
    for (std::uint64_t i = 0; i < values; ++i) {
      if (!DecodeValue(in, 0, &record->values.emplace_back())) return false;
    }
    if (measured) {
      std::uint64_t count = 0;
      if (!in.Varint(&count) || count == 0 || count > UINT32_MAX) return false;
      std::vector<Measurement> measurements;
      for (std::uint64_t i = 0; i < count; ++i) {
        if (!DecodeMeasurement(in, &measurements.emplace_back())) return false;
      }
      record->measurements = MeasurementList(std::move(measurements));
    }
  }
  return true;
}

// An unnamed file in [directory]: O_TMPFILE where the file system has it, otherwise a unique
// name removed at once.
FileDescriptor UnnamedFileIn(const std::string& directory) {
  if (directory.empty()) return {};
  FileDescriptor file = OpenFile(directory, O_TMPFILE | O_RDWR, 0600);
  if (file) return file;
  std::string name = directory + "/.ordalis-results-XXXXXX";
  int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) return {};
  ::unlink(name.c_str());
  return FileDescriptor(fd);
}

bool PwriteAll(int fd, std::string_view bytes, std::uint64_t offset) {
  while (!bytes.empty()) {
    ssize_t written = ::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset));
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(written));
    offset += static_cast<std::uint64_t>(written);
  }
  return true;
}

bool PreadAll(int fd, char* buffer, std::size_t length, std::uint64_t offset) {
  while (length > 0) {
    ssize_t got = ::pread(fd, buffer, length, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    buffer += got;
    length -= static_cast<std::size_t>(got);
    offset += static_cast<std::uint64_t>(got);
  }
  return true;
}

}  // namespace

void EncodeRecords(const std::vector<ResultRecord>& records, std::string* bytes) {
  const ResultRecord* previous = nullptr;
  const ResultRecord none;  // what the first record of a block is told apart from
  // The fields of a record before its values: flags, result, iteration, time, time taken.
  constexpr std::size_t kMostFixedBytes = 1 + 10 + 10 + 10 + 10;
  // The fixed fields are written straight into [bytes], made large enough for every record's
  // at the start (and again past a record's values): a loop's pass is a few bytes, and
  // appending them field by field would cost more than writing them.
  std::size_t at = bytes->size();
  std::size_t left = records.size();
  bytes->resize(at + left * kMostFixedBytes);
  std::string values;
  for (const ResultRecord& record : records) {
    const ResultRecord& before = previous != nullptr ? *previous : none;
    std::uint8_t flags = 0;
    if (record.iteration == before.iteration) flags |= kSameIteration;
    if (record.time == before.time) flags |= kSameTime;
    std::uint64_t time_bits = 0;
    std::memcpy(&time_bits, &record.time_taken, sizeof time_bits);
    std::uint64_t nanoseconds = WholeNanoseconds(record.time_taken);
    if (time_bits == 0) {
      flags |= kNoTimeTaken;
    } else if (nanoseconds != 0) {
      flags |= kWholeNanoseconds;
    }
    if (record.values.empty() && record.measurements.empty()) flags |= kNoValues;
    const auto result = static_cast<std::uint32_t>(record.result);
    const bool flagged = result <= kMaxFlaggedResult;
    if (flagged) flags |= static_cast<std::uint8_t>((result + 1) << kResultShift);
    --left;
    char* const start = bytes->data() + at;
    char* out = start;
    *out++ = static_cast<char>(flags);
    if (!flagged) out = WriteVarint(out, ZigZag(static_cast<std::int32_t>(record.result)));
    if ((flags & kSameIteration) == 0) out = WriteVarint(out, record.iteration);
    if ((flags & kSameTime) == 0) {
      out = WriteVarint(out, ZigZag(static_cast<std::int64_t>(static_cast<std::uint64_t>(record.time) -
                                                             static_cast<std::uint64_t>(before.time))));
    }
    if ((flags & kWholeNanoseconds) != 0) {
      out = WriteVarint(out, nanoseconds);
    } else if ((flags & kNoTimeTaken) == 0) {
      std::memcpy(out, &record.time_taken, sizeof record.time_taken);
      out += sizeof record.time_taken;
    }
    at += static_cast<std::size_t>(out - start);
    if ((flags & kNoValues) == 0) {
      values.clear();
      PutVarint(&values, (std::uint64_t{record.values.size()} << 1) | (record.measurements.empty() ? 0 : 1));
      for (const Variant& value : record.values) EncodeValue(value, 0, &values);
      if (!record.measurements.empty()) {
        PutVarint(&values, record.measurements.size());
        for (const Measurement& measurement : record.measurements) EncodeMeasurement(measurement, &values);
      }
      bytes->resize(at + values.size() + left * kMostFixedBytes);
      std::memcpy(bytes->data() + at, values.data(), values.size());
      at += values.size();
    }
    previous = &record;
  }
  bytes->resize(at);
}

bool DecodeRecords(std::string_view bytes, std::vector<ResultRecord>* records) {
  Reader in(bytes);
  ResultRecord previous;  // iteration and time as the block's first record is told them
  while (!in.done()) {
    ResultRecord& record = records->emplace_back();
    if (!DecodeRecord(in, previous, &record)) return false;
    previous.iteration = record.iteration;
    previous.time = record.time;
  }
  return true;
}

ResultSpill::ResultSpill(std::string directory, SpillWindow window)
    : directory_(std::move(directory)), window_(window) {}

bool ResultSpill::OpenLocked() {
  if (file_) return true;
  if (open_failed_) return false;
  file_ = UnnamedFileIn(directory_);
  if (!file_) {
    const char* temporary = std::getenv("TMPDIR");
    file_ = UnnamedFileIn(temporary && *temporary ? temporary : "/tmp");
  }
  if (!file_) file_ = UnnamedFileIn("/tmp");
  open_failed_ = !file_;
  return !open_failed_;
}

bool ResultSpill::Append(const std::vector<ResultRecord>& records, Block* block) {
  std::lock_guard lock(mutex_);
  if (!OpenLocked()) return false;
  const std::size_t before = pending_.size();
  EncodeRecords(records, &pending_);
  const std::size_t bytes = pending_.size() - before;
  if (bytes > UINT32_MAX || !FlushLocked()) {
    pending_.resize(before);  // the caller keeps these records in memory
    return false;
  }
  block->offset = end_;
  block->bytes = static_cast<std::uint32_t>(bytes);
  block->count = static_cast<std::uint32_t>(records.size());
  end_ += bytes;
  return true;
}

// Writes the whole pages of what is pending once there is enough of it. The file grows by whole
// pages at page boundaries, so the kernel never has to clear the part of a page a short write
// leaves; what is left stays pending, to be read from memory.
bool ResultSpill::FlushLocked() {
  if (pending_.size() < kSpillWriteBytes) return true;
  const std::size_t whole = pending_.size() / kSpillPageBytes * kSpillPageBytes;
  if (!PwriteAll(file_.get(), std::string_view(pending_).substr(0, whole), written_)) return false;
  written_ += whole;
  pending_.erase(0, whole);
  // A large block's bytes are not kept between appends.
  if (pending_.capacity() > 2 * kSpillWriteBytes && pending_.size() < kSpillWriteBytes) pending_.shrink_to_fit();
  return true;
}

bool ResultSpill::ReadLocked(const Block& block, std::vector<ResultRecord>* records) const {
  if (!file_ || block.offset + block.bytes > end_) return false;
  std::string bytes(block.bytes, '\0');
  // The part of the block already in the file is read from it, the rest is still pending.
  const std::uint64_t in_file = block.offset >= written_ ? 0 : std::min<std::uint64_t>(block.bytes, written_ - block.offset);
  if (in_file > 0 && !PreadAll(file_.get(), bytes.data(), in_file, block.offset)) return false;
  if (in_file < block.bytes) {
    std::memcpy(bytes.data() + in_file, pending_.data() + (block.offset + in_file - written_), block.bytes - in_file);
  }
  std::size_t before = records->size();
  if (!DecodeRecords(bytes, records) || records->size() - before != block.count) {
    records->resize(before);
    return false;
  }
  return true;
}

bool ResultSpill::Read(const Block& block, std::vector<ResultRecord>* records) const {
  std::lock_guard lock(mutex_);
  return ReadLocked(block, records);
}

bool ResultSpill::ReadOne(const Block& block, std::size_t index, ResultRecord* record) const {
  std::lock_guard lock(mutex_);
  if (cached_offset_ != block.offset) {
    cached_.clear();
    cached_offset_ = ~std::uint64_t{0};
    if (!ReadLocked(block, &cached_)) return false;
    cached_offset_ = block.offset;
  }
  if (index >= cached_.size()) return false;
  *record = cached_[index];
  return true;
}

std::uint64_t ResultSpill::size() const {
  std::lock_guard lock(mutex_);
  return end_;
}

}  // namespace ordalis
