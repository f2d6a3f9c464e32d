#pragma once
// Atomic replacement of a file: the new contents go to a temporary file beside the target,
// are synced to the disk and renamed over the target, and the directory is synced so the
// rename itself survives a crash. Readers see the old file or the new one, never a part; a
// crash leaves one of the two; a failed write (a full disk, an I/O error) leaves the old file
// untouched and removes the temporary one. Safe to call from any thread; two writers of the
// same file must agree on a lock of their own, or the last rename wins.

#include <sys/types.h>

#include <functional>
#include <string>
#include <string_view>

namespace ordalis {

// Replaces the file at [path] by one holding [bytes]. The new file gets the permission bits of
// the file it replaces, or [new_file_mode] when there was none (exactly: the umask does not
// apply). A symbolic link at [path] is replaced, not followed; callers that want the link kept
// pass the path it resolves to. False, with "cannot write <path>: <reason>" in [error], when
// anything fails.
bool WriteFileAtomically(const std::string& path, std::string_view bytes, mode_t new_file_mode,
                         std::string* error);

// As above, the contents written by [write] to the temporary file's descriptor, so a document
// of any size can be streamed; [write] returns false (errno set) when a write fails.
bool WriteFileAtomically(const std::string& path, const std::function<bool(int fd)>& write,
                         mode_t new_file_mode, std::string* error);

}  // namespace ordalis
