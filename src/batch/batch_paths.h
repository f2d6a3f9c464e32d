#pragma once
// Path rules of the batch queue: file types, taking a queue file's path apart, entry names made
// relative to a directory and resolved again, and the names of time-stamped results files.
// Both "/" and "\" separate directories on input; paths are built with "/".
//
// Every function here is pure (or touches only the file it is asked to create) and safe to call
// from any thread.

#include <cstdint>
#include <ctime>
#include <string>

namespace ordalis::batch {

// The text after the last "." of [file_name], without the "."; empty when there is none.
std::string FileType(const std::string& file_name);

// True when the text from the last "." of [file_name] equals [extension] (".tbq") ignoring the
// case of A-Z.
bool HasExtension(const std::string& file_name, const char* extension);

// A queue file's location: the directory before the last separator ("." when there is none),
// the file name after it, and the batch name, the file name up to its last ".".
struct QueueLocation {
  std::string directory = ".";
  std::string file_name = "BatchQueue.tbq";
  std::string batch_name = "BatchQueue";
};
QueueLocation SplitQueuePath(const std::string& path);

// [target] relative to [base], a directory followed by "/". A target inside the base gives its
// remainder, one elsewhere gives "../" steps. Only whole directory names are matched, and letter
// case counts, since two names that differ in case are two files here.
std::string MakeRelativePath(const std::string& base, const std::string& target);

// An entry name read from a queue file in [queue_directory]: an absolute name is used as it is;
// a relative one is resolved against the directory, each leading "../" climbing one level while
// there is a level to climb.
std::string ResolveStoredName(const std::string& queue_directory, const std::string& name);

// [path] made absolute against the current directory, without touching the file system beyond
// reading the current directory; "." and ".." steps are resolved lexically.
std::string AbsolutePath(const std::string& path);

// True when [path] is absolute: it begins with "/" (or, for names written on another system,
// with "\" or a drive letter and ":").
bool IsAbsolutePath(const std::string& path);

// Why the file at [path] cannot be read as a batch entry or a batch file: the system's reason
// when it cannot be opened (missing, no permission, a symbolic link loop), or kNotARegularFile
// for a directory, a FIFO, a device or a socket, which is opened without waiting on it and is
// never read. Empty when it is a regular file that can be opened for reading.
inline constexpr const char* kNotARegularFile = "not a regular file";
std::string UnreadableFile(const std::string& path);

// "YYYY_MM_DD_hh_mm_ss" of [time] in local time.
std::string TimeStamp(std::time_t time);

// Creates a new, empty file [stem] + [extension] in [directory] and returns its path; when that
// name is taken, [stem] + "_2" + [extension], "_3" and so on. The file is created exclusively,
// so two writers never pick the same name. Empty when none can be created.
std::string CreateUniqueFile(const std::string& directory, const std::string& stem,
                             const std::string& extension);

// Writes [bytes] to [path] through a temporary file beside it and a rename, so a reader never
// sees half a file. False when the file cannot be written.
bool WriteFileAtomically(const std::string& path, const std::string& bytes);

}  // namespace ordalis::batch
