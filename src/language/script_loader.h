#pragma once
// ScriptLoader: turns a script file, or script text held in memory, into items below a root item
// supplied by the caller, and replaces every include statement by the items of the file it
// names, so a loaded tree holds no includeItem. All loads in the process run one at a time;
// every operation is safe to call from any thread.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "language/script_item.h"
#include "language/tree_builder.h"

namespace ordalis {

class ScriptLoader {
 public:
  // Includes nested deeper than this become error items.
  static constexpr int kMaxIncludeDepth = 32;
  // A script with everything it includes holds at most this many bytes (64 MiB); an include
  // that would pass it becomes an error item naming the file.
  static constexpr std::size_t kMaxScriptBytes = std::size_t{64} << 20;
  // At most this many include statements are expanded in one load, so includes that fan out
  // (each file including the next one twice) end in an error item instead of exponential time.
  static constexpr std::size_t kMaxIncludeExpansions = 10000;

  // Parses the file at [path] (separators "/" or "\") below [root] and expands its includes.
  // False only when the file cannot be read as a script — it cannot be opened, is not a regular
  // file (errno EISDIR or EINVAL) or is larger than kMaxScriptBytes (EFBIG); root is then
  // unchanged.
  bool Load(const std::string& path, const ScriptItemPtr& root);
  // As Load, handing the statements over as they are read: [done] is called with [root] after
  // each statement of the file's top level stands there whole, its includes expanded, and once
  // more at the end when statements were left open. It may take root's statements away, so a
  // script of any length is looked at in little memory.
  using StatementsDone = std::function<void(ScriptItem& root)>;
  bool Load(const std::string& path, const ScriptItemPtr& root, const StatementsDone& done);
  // Parses [text] below [root], after root's existing children, and expands its includes.
  // Items carry the file name "N/A"; include names are taken against the working directory.
  bool LoadText(std::string_view text, const ScriptItemPtr& root);
  // Replaces the include items at or below [item] by the items of the files they name.
  bool ExpandIncludes(const ScriptItemPtr& item);

  // The name part of the last path given to Load, its directory part (without the final
  // separator) and the working directory when Load ran.
  const std::string& FileName() const { return file_name_; }
  const std::string& Directory() const { return directory_; }
  const std::string& CurrentDirectory() const { return current_directory_; }
  // How many error items the last Load or LoadText put into the tree (syntax errors and
  // includes that failed); 0 means the tree holds none, so nobody needs to search it.
  std::size_t ErrorCount() const { return error_count_; }
  // The explanation of every syntax error of the last Load or LoadText, included files too,
  // each with the first error item it explains.
  const std::vector<SyntaxNote>& SyntaxNotes() const { return syntax_notes_; }

  // The path an include item stands for: the part of its text before the "#" that separates
  // it from the name as written (the name alone when it is an absolute path), with "\" read
  // as "/".
  static std::string IncludePath(const std::string& include_text);

 private:
  using FileIdentity = std::pair<std::uint64_t, std::uint64_t>;

  // Load, handing the statements to [done] when it is not null.
  bool LoadFile(const std::string& path, const ScriptItemPtr& root, const StatementsDone* done);
  // Expands [item] at include depth [depth]; returns how many items now stand in its place.
  std::size_t Expand(const ScriptItemPtr& item, int depth);
  void ExpandChildren(ScriptItem& item, int depth) { ExpandChildrenFrom(item, 0, depth); }
  // Expands the includes among children [first] on of [item] and below them.
  void ExpandChildrenFrom(ScriptItem& item, std::size_t first, int depth);
  // Expands the includes among children [first] on of [item] and below them, unless the files
  // they name would together take the load past kMaxScriptBytes: such a load ends in an error
  // whichever of them is read first, so none is read and each becomes the error item. Their
  // sizes are taken before anything is read, so a script that includes a large file many times
  // is refused at once, not after the loader has built a tree of the limit's worth of text.
  void ExpandWithinLimit(ScriptItem& item, std::size_t first, int depth);
  void Splice(const ScriptItemPtr& include);

  std::string file_name_;
  std::string directory_;
  std::string current_directory_;
  std::size_t error_count_ = 0;
  // What the current load has read so far and how many includes it has expanded.
  std::size_t bytes_loaded_ = 0;
  std::size_t expansions_ = 0;
  std::vector<SyntaxNote> syntax_notes_;
  // The files whose includes are being expanded, outermost first; an include of one of them
  // would never end.
  std::vector<FileIdentity> open_files_;
};

}  // namespace ordalis
