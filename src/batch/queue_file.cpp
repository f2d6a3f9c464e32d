#include "batch/queue_file.h"

#include <cerrno>
#include <cstring>
#include <iterator>

#include "batch/batch_paths.h"
#include "platform/file_descriptor.h"
#include "platform/utf8.h"

namespace ordalis::batch {

namespace {

void AppendU16(std::string& out, std::uint16_t value) {
  out += static_cast<char>(value & 0xFF);
  out += static_cast<char>(value >> 8);
}

void AppendU32(std::string& out, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out += static_cast<char>((value >> shift) & 0xFF);
}

void AppendU64(std::string& out, std::uint64_t value) {
  for (int shift = 0; shift < 64; shift += 8) out += static_cast<char>((value >> shift) & 0xFF);
}

void AppendBool(std::string& out, bool value) { AppendU32(out, value ? 1 : 0); }

std::u16string Utf16Of(const std::string& text) {
  std::u16string wide;
  wide.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    char32_t code_point = 0;
    std::size_t length = DecodeUtf8(text, i, &code_point);
    if (length == 0) {
      code_point = static_cast<unsigned char>(text[i]);
      length = 1;
    }
    i += length;
    if (code_point < 0x10000) {
      wide += static_cast<char16_t>(code_point);
    } else {
      code_point -= 0x10000;
      wide += static_cast<char16_t>(0xD800 + (code_point >> 10));
      wide += static_cast<char16_t>(0xDC00 + (code_point & 0x3FF));
    }
  }
  return wide;
}

// A lone surrogate, which no UTF-8 text can carry, becomes U+FFFD.
std::string Utf8Of(const std::u16string& wide) {
  std::string text;
  text.reserve(wide.size());
  for (std::size_t i = 0; i < wide.size(); ++i) {
    char32_t unit = wide[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 &&
        wide[i + 1] <= 0xDFFF) {
      unit = 0x10000 + ((unit - 0xD800) << 10) + (wide[i + 1] - 0xDC00);
      ++i;
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      unit = 0xFFFD;
    }
    AppendUtf8(text, unit);
  }
  return text;
}

// Reads the archive fields of a queue file one by one; every read checks that the bytes are
// there, so a file cut short is an error at the offset where it ends, never a read past it.
class ArchiveReader {
 public:
  explicit ArchiveReader(std::string_view bytes) : bytes_(bytes) {}

  bool U8(std::uint8_t* value) { return Little(1, value); }
  bool U16(std::uint16_t* value) { return Little(2, value); }
  bool U32(std::uint32_t* value) { return Little(4, value); }
  bool U64(std::uint64_t* value) { return Little(8, value); }
  bool Bool(bool* value) {
    std::uint32_t raw = 0;
    if (!U32(&raw)) return false;
    *value = raw == 1;
    return true;
  }

  bool String(std::string* text) {
    bool wide = false;
    std::uint64_t length = 0;
    if (!Length(&wide, &length)) return false;
    std::uint64_t size = wide ? length * 2 : length;
    if (length > bytes_.size() || size > bytes_.size() - offset_) {
      return Fail("a text of " + std::to_string(length) + " characters runs past the end");
    }
    std::string_view raw = bytes_.substr(offset_, static_cast<std::size_t>(size));
    offset_ += static_cast<std::size_t>(size);
    if (!wide) {
      *text = std::string(raw);
      return true;
    }
    std::u16string units(static_cast<std::size_t>(length), u'\0');
    for (std::size_t i = 0; i < units.size(); ++i) {
      units[i] = static_cast<char16_t>(static_cast<unsigned char>(raw[2 * i]) |
                                       (static_cast<unsigned char>(raw[2 * i + 1]) << 8));
    }
    *text = Utf8Of(units);
    return true;
  }

  bool Fail(std::string reason) {
    if (error_.reason.empty()) error_ = QueueFileError{offset_, std::move(reason)};
    return false;
  }
  const QueueFileError& error() const { return error_; }
  std::size_t offset() const { return offset_; }

 private:
  template <typename T>
  bool Little(std::size_t size, T* value) {
    if (bytes_.size() - offset_ < size) return Fail("the file ends early");
    T result = 0;
    for (std::size_t i = 0; i < size; ++i) {
      result |= static_cast<T>(static_cast<unsigned char>(bytes_[offset_ + i])) << (8 * i);
    }
    offset_ += size;
    *value = result;
    return true;
  }

  // The length of an archive string, after an optional UTF-16 marker.
  bool Length(bool* wide, std::uint64_t* length) {
    std::uint8_t byte = 0;
    if (!U8(&byte)) return false;
    if (byte < 0xFF) return (*length = byte), true;
    std::uint16_t word = 0;
    if (!U16(&word)) return false;
    if (word == 0xFFFE) {
      if (*wide) return Fail("a text carries two UTF-16 markers");
      *wide = true;
      return Length(wide, length);
    }
    if (word < 0xFFFF) return (*length = word), true;
    std::uint32_t dword = 0;
    if (!U32(&dword)) return false;
    if (dword < 0xFFFFFFFFu) return (*length = dword), true;
    return U64(length);
  }

  std::string_view bytes_;
  std::size_t offset_ = 0;
  QueueFileError error_;
};

bool ReadEntries(ArchiveReader& reader, std::uint32_t version, std::vector<QueueFileEntry>* entries) {
  std::uint32_t count = 0;
  if (!reader.U32(&count)) return false;
  if (count > kMaxQueueEntries) {
    return reader.Fail("the file lists " + std::to_string(count) + " entries; a queue holds at most " +
                       std::to_string(kMaxQueueEntries));
  }
  for (std::uint32_t i = 0; i < count; ++i) {
    QueueFileEntry entry;
    if (!reader.String(&entry.file_name)) return false;
    if (version >= 3 && !reader.String(&entry.email_addresses)) return false;
    entries->push_back(std::move(entry));
  }
  return true;
}

bool ReadSettings(ArchiveReader& reader, std::uint32_t version, QueueSettings* settings) {
  return (version < 2 || reader.Bool(&settings->auto_remove)) &&
         (version < 4 || reader.Bool(&settings->email_enabled)) &&
         (version < 6 || reader.Bool(&settings->auto_reset)) &&
         (version < 7 || reader.U32(&settings->retry_count)) &&
         (version < 8 || reader.Bool(&settings->auto_save)) &&
         (version < 9 || reader.Bool(&settings->stop_at_end));
}

}  // namespace

void AppendArchiveString(std::string& out, const std::string& text) {
  std::u16string wide = Utf16Of(text);
  out += '\xFF';
  AppendU16(out, 0xFFFE);
  std::uint64_t length = wide.size();
  if (length < 0xFF) {
    out += static_cast<char>(length);
  } else if (length < 0xFFFE) {
    out += '\xFF';
    AppendU16(out, static_cast<std::uint16_t>(length));
  } else {
    out += '\xFF';
    AppendU16(out, 0xFFFF);
    if (length < 0xFFFFFFFFu) {
      AppendU32(out, static_cast<std::uint32_t>(length));
    } else {
      AppendU32(out, 0xFFFFFFFFu);
      AppendU64(out, length);
    }
  }
  for (char16_t unit : wide) AppendU16(out, static_cast<std::uint16_t>(unit));
}

std::string SerializeQueueFile(const QueueFileContents& contents) {
  std::string out;
  AppendU32(out, kQueueFileVersion);
  AppendU32(out, static_cast<std::uint32_t>(contents.entries.size()));
  for (const QueueFileEntry& entry : contents.entries) {
    AppendArchiveString(out, entry.file_name);
    AppendArchiveString(out, entry.email_addresses);
  }
  const QueueSettings& s = contents.settings;
  AppendBool(out, s.auto_remove);
  AppendBool(out, s.email_enabled);
  AppendBool(out, s.auto_reset);
  AppendU32(out, s.retry_count);
  AppendBool(out, s.auto_save);
  AppendBool(out, s.stop_at_end);
  return out;
}

bool ParseQueueFile(std::string_view bytes, QueueFileContents* contents, QueueFileError* error) {
  ArchiveReader reader(bytes);
  QueueFileContents read;
  bool ok = reader.U32(&read.version);
  if (ok && read.version > kQueueFileVersion) {
    ok = reader.Fail("format version " + std::to_string(read.version) +
                     " is not one of a queue file (0 to 9)");
  }
  ok = ok && (read.version < 1 || ReadEntries(reader, read.version, &read.entries)) &&
       ReadSettings(reader, read.version, &read.settings);
  if (!ok) {
    if (error) *error = reader.error();
    return false;
  }
  *contents = std::move(read);
  return true;
}

QueueFileRead ReadQueueFile(const std::string& path, QueueFileContents* contents, std::string* problem) {
  std::string bytes;
  if (!ReadRegularFile(path, kMaxQueueFileSize, &bytes)) {
    int error = errno;
    if (error == EFBIG) {
      if (problem) {
        *problem = "The queue file " + path + " is larger than a queue file can be (" +
                   std::to_string(kMaxQueueFileSize >> 20) + " MiB)";
      }
      return QueueFileRead::kMalformed;
    }
    if (problem) {
      *problem = "Cannot open the queue file " + path + ": " +
                 (error == EISDIR || error == EINVAL ? std::string("not a regular file") : std::strerror(error));
    }
    return QueueFileRead::kCannotOpen;
  }
  QueueFileContents read;
  QueueFileError error;
  if (!ParseQueueFile(bytes, &read, &error)) {
    if (problem) {
      *problem = "The file " + path + " is not a queue file: " + error.reason + " at byte offset " +
                 std::to_string(error.offset);
    }
    return QueueFileRead::kMalformed;
  }
  if (read.version >= 4) {
    std::string directory = SplitQueuePath(path).directory;
    for (QueueFileEntry& entry : read.entries) {
      entry.file_name = ResolveStoredName(directory, entry.file_name);
    }
  }
  *contents = std::move(read);
  return QueueFileRead::kRead;
}

std::string QueueFileBytes(const std::string& path, const std::vector<QueueFileEntry>& entries,
                           const QueueSettings& settings) {
  std::string base = AbsolutePath(SplitQueuePath(path).directory) + "/";
  QueueFileContents contents;
  contents.settings = settings;
  contents.entries.reserve(entries.size());
  for (const QueueFileEntry& entry : entries) {
    std::string name = entry.file_name.empty() ? entry.file_name
                                               : MakeRelativePath(base, AbsolutePath(entry.file_name));
    contents.entries.push_back({name, entry.email_addresses});
  }
  return SerializeQueueFile(contents);
}

}  // namespace ordalis::batch
