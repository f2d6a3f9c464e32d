#pragma once
// The queue file (".tbq"): a little-endian archive of the entries (file name and e-mail
// addresses of each) and the queue's settings. Format version 9 is written; versions 0 to 9 are
// read. Texts are archive strings: an optional UTF-16 marker (FF FF FE), a length in one, three,
// seven or fifteen bytes, then the characters, UTF-16LE after the marker and 8-bit without it.
//
// Entry names are stored relative to the queue file's directory, so a folder of scripts and its
// queue file move together; absolute names are used as they stand when read.
//
// All functions are safe to call from any thread.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ordalis::batch {

inline constexpr std::uint32_t kQueueFileVersion = 9;
// The largest queue file read; anything bigger is refused before it is read.
inline constexpr std::size_t kMaxQueueFileSize = 16u << 20;
// The most entries a queue file may list (and a queue may hold): a file that says it lists
// more is refused before a single entry is read, so a few bytes cannot ask for gigabytes.
inline constexpr std::size_t kMaxQueueEntries = 10000;

struct QueueFileEntry {
  std::string file_name;
  std::string email_addresses;
  bool operator==(const QueueFileEntry&) const = default;
};

// The settings of fields 4 to 9. The initial values are those a file of an older format version
// gives for the fields it does not carry.
struct QueueSettings {
  bool auto_remove = false;
  bool email_enabled = true;
  bool auto_reset = false;
  std::uint32_t retry_count = 0;
  bool auto_save = false;
  bool stop_at_end = false;
  bool operator==(const QueueSettings&) const = default;
};

// The settings of a queue made afresh (those of a new batch queue object).
inline constexpr QueueSettings kNewQueueSettings{false, false, true, 0, false, true};

struct QueueFileContents {
  std::uint32_t version = kQueueFileVersion;
  std::vector<QueueFileEntry> entries;
  QueueSettings settings;
};

// Why a file could not be read as a queue file: the byte offset where reading stopped and what
// was wrong there.
struct QueueFileError {
  std::size_t offset = 0;
  std::string reason;
};

// Appends [text] as an archive string in the UTF-16 form. UTF-8 is converted; a byte that is not
// part of valid UTF-8 becomes the character of the same number.
void AppendArchiveString(std::string& out, const std::string& text);

// The archive bytes of [contents], names written as they stand (version 9 layout whatever
// contents.version says).
std::string SerializeQueueFile(const QueueFileContents& contents);

// Reads [bytes] as a queue file; names are kept as stored. False, with [error] filled, when the
// bytes end early, are no queue file (a format version above 9) or list more than
// kMaxQueueEntries entries; [contents] is then untouched.
bool ParseQueueFile(std::string_view bytes, QueueFileContents* contents, QueueFileError* error);

enum class QueueFileRead { kRead, kCannotOpen, kMalformed };

// Reads the queue file at [path] and resolves its entry names: from format version 4 on, a
// relative name is resolved against the file's directory. Only a regular file is read (a FIFO
// or a device is refused without waiting on it: kCannotOpen), and one larger than
// kMaxQueueFileSize is refused before it is read (kMalformed). [problem] receives a sentence
// that names the file (and, for a malformed file, the byte offset).
QueueFileRead ReadQueueFile(const std::string& path, QueueFileContents* contents, std::string* problem);

// The bytes of a queue file to be written at [path]: absolute entry names (and relative ones,
// taken against the current directory) are stored relative to the file's directory.
std::string QueueFileBytes(const std::string& path, const std::vector<QueueFileEntry>& entries,
                           const QueueSettings& settings);

}  // namespace ordalis::batch
