#pragma once
// OutputFile: a file a command writes at a path its user named (a JUnit document, a report, a
// proxy settings file). What is at the path decides how it is written, as a shell's redirection
// would: a regular file, or a symbolic link to one, is replaced atomically (a temporary file in
// the directory of the link's target, synced and renamed over it, so the link stays a link and
// readers see the old file or the new one); a missing file is created the same way; a device or
// a FIFO is opened and written through, never replaced; a directory is refused. Every failed
// write (a full disk, an I/O error, a file larger than the process may write) is reported with
// the system's reason, so a command never takes a lost document for a written one.
// One object per file, used by one thread at a time.

#include <sys/types.h>

#include <string>
#include <string_view>

#include "platform/file_descriptor.h"

namespace ordalis {

// The permission bits of a replaced regular file.
enum class ReplacedMode {
  kKeep,     // those of the file replaced; [new_file_mode] only for a new file
  kExactly,  // always [new_file_mode] (a file that may hold a key stays private)
};

// Whether a replaced file is synced to the disk before it is renamed into place.
enum class Sync {
  kToDisk,  // a crash leaves the old file or the whole new one (documents, settings)
  kNone,    // readers still never see a part; a crash may lose the new file, so only for
            // files rebuilt from others (a report page, an index), where a sync per run costs
            // more than the file is worth
};

class OutputFile {
 public:
  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  // A file never committed leaves the old one in place and no temporary file behind.
  ~OutputFile();

  // Prepares to write [path]. False, with the system's reason in [error], when it cannot be
  // opened (a directory, no permission, a missing directory, a loop of links).
  bool Open(const std::string& path, mode_t new_file_mode, std::string* error,
            ReplacedMode replaced = ReplacedMode::kKeep, Sync sync = Sync::kToDisk);
  // Appends [bytes]; the first failure is kept for Commit and later writes are dropped.
  void Write(std::string_view bytes);
  // Ends the file: a replacement is synced and renamed into place, a device or FIFO closed.
  // False, with the reason of the first failure in [error], when any part was not written.
  bool Commit(std::string* error);

 private:
  bool Fail(int error_number, std::string* error);

  std::string target_;     // the path with every symbolic link followed
  std::string temporary_;  // the replacement being written; empty when writing through
  FileDescriptor fd_;
  mode_t mode_ = 0644;
  Sync sync_ = Sync::kToDisk;
  int failure_ = 0;        // errno of the first failed write
};

// Writes [bytes] to [path] as an OutputFile. False, with the system's reason in [error].
bool WriteOutputFile(const std::string& path, std::string_view bytes, mode_t new_file_mode,
                     std::string* error, ReplacedMode replaced = ReplacedMode::kKeep);

// [path] with every symbolic link along its last component followed (a link to a link, a
// relative link read from the link's own directory). A link to a missing file gives the missing
// file's path, so writing creates it as the shell does. False with errno ELOOP after too many
// links.
bool FollowLinks(const std::string& path, std::string* target);

}  // namespace ordalis
