#include "language/script_loader.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <exception>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>

#include "language/lexical_analyser.h"

namespace ordalis {

namespace {

// Serialises all loads of the process.
std::recursive_mutex& LoaderMutex() {
  static std::recursive_mutex mutex;
  return mutex;
}

// Every pair of consecutive backslashes becomes one backslash, then every backslash a "/".
std::string OpenPath(std::string_view path) {
  std::string out;
  out.reserve(path.size());
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (path[i] == '\\') {
      if (i + 1 < path.size() && path[i + 1] == '\\') ++i;
      out += '/';
    } else {
      out += path[i];
    }
  }
  return out;
}

// The size of the regular file at [path]; 0 for anything else, which is refused unread.
std::uint64_t RegularFileSize(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return 0;
  return static_cast<std::uint64_t>(info.st_size);
}

// The include items among [item]'s children from [first] on and below them, in script order.
// Include items have no children before they are expanded.
std::vector<ScriptItem*> IncludesBelow(ScriptItem& item, std::size_t first) {
  std::vector<ScriptItem*> includes;
  std::vector<ScriptItem*> pending;
  const auto& children = item.children();
  for (std::size_t i = children.size(); i > first; --i) pending.push_back(children[i - 1].get());
  while (!pending.empty()) {
    ScriptItem* next = pending.back();
    pending.pop_back();
    if (next->type() == includeItem) {
      includes.push_back(next);
      continue;
    }
    const auto& below = next->children();
    for (auto it = below.rbegin(); it != below.rend(); ++it) pending.push_back(it->get());
  }
  return includes;
}

std::optional<std::pair<std::uint64_t, std::uint64_t>> IdentityOf(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return std::nullopt;
  return std::make_pair(static_cast<std::uint64_t>(info.st_dev),
                        static_cast<std::uint64_t>(info.st_ino));
}

std::string WorkingDirectory() {
  std::error_code error;
  std::filesystem::path path = std::filesystem::current_path(error);
  return error ? std::string() : path.string();
}

}  // namespace

bool ScriptLoader::Load(const std::string& path, const ScriptItemPtr& root) {
  return LoadFile(path, root, nullptr);
}

bool ScriptLoader::Load(const std::string& path, const ScriptItemPtr& root, const StatementsDone& done) {
  return LoadFile(path, root, &done);
}

bool ScriptLoader::LoadFile(const std::string& path, const ScriptItemPtr& root, const StatementsDone* done) {
  std::lock_guard lock(LoaderMutex());
  std::string name = path;
  std::replace(name.begin(), name.end(), '\\', '/');
  std::size_t last = name.rfind('/');
  if (last != std::string::npos) {
    directory_ = name.substr(0, last);
    file_name_ = name.substr(last + 1);
  } else {
    file_name_ = name;
  }
  current_directory_ = WorkingDirectory();
  std::string open_path = OpenPath(path);
  try {
    LexicalAnalyser lexer(root, std::make_shared<const std::string>(open_path));
    error_count_ = 0;
    expansions_ = 0;
    syntax_notes_.clear();
    open_files_.clear();
    if (auto identity = IdentityOf(open_path)) open_files_.push_back(*identity);
    // The statements not yet handed over start here.
    std::size_t first_new = root->child_count();
    if (done != nullptr) {
      lexer.builder().SetTopStatementDone([&] {
        bytes_loaded_ = lexer.bytes_read();
        if (lexer.builder().include_count() > 0) ExpandWithinLimit(*root, first_new, 0);
        (*done)(*root);
        first_new = root->child_count();
      });
    }
    if (!lexer.ParseFile(open_path, kMaxScriptBytes)) {
      open_files_.clear();
      return false;
    }
    bytes_loaded_ = lexer.bytes_read();
    error_count_ += lexer.builder().error_count();
    std::vector<SyntaxNote> notes = lexer.builder().TakeSyntaxNotes();
    syntax_notes_.insert(syntax_notes_.begin(), std::make_move_iterator(notes.begin()),
                         std::make_move_iterator(notes.end()));
    if (lexer.builder().include_count() > 0) ExpandWithinLimit(*root, first_new, 0);
    if (done != nullptr && root->child_count() > first_new) (*done)(*root);
    open_files_.clear();
    return true;
  } catch (const std::exception&) {
    open_files_.clear();
    return false;  // out of memory: whatever was built stays
  }
}

bool ScriptLoader::LoadText(std::string_view text, const ScriptItemPtr& root) {
  std::lock_guard lock(LoaderMutex());
  try {
    static const auto kNoFile = std::make_shared<const std::string>("N/A");
    LexicalAnalyser lexer(root, kNoFile);
    lexer.ParseText(text);
    bytes_loaded_ = text.size();
    expansions_ = 0;
    error_count_ = lexer.builder().error_count();
    syntax_notes_ = lexer.builder().TakeSyntaxNotes();
    open_files_.clear();
    if (lexer.builder().include_count() > 0) ExpandWithinLimit(*root, 0, 0);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

bool ScriptLoader::ExpandIncludes(const ScriptItemPtr& item) {
  std::lock_guard lock(LoaderMutex());
  try {
    open_files_.clear();
    bytes_loaded_ = 0;
    expansions_ = 0;
    Expand(item, 0);
  } catch (const std::exception&) {
  }
  return true;
}

std::string ScriptLoader::IncludePath(const std::string& include_text) {
  // The text is path + "#" + name where the path ends with the name; a "#" inside the
  // directory or the name is told apart by that.
  std::size_t hash = include_text.find('#');
  for (std::size_t at = hash; at != std::string::npos; at = include_text.find('#', at + 1)) {
    std::string_view before(include_text.data(), at);
    std::string_view after = std::string_view(include_text).substr(at + 1);
    if (before.ends_with(after)) {
      hash = at;
      break;
    }
  }
  if (hash == std::string::npos) return OpenPath(include_text);
  // A name written as an absolute path stands for itself, not below the script's directory.
  std::string_view name = std::string_view(include_text).substr(hash + 1);
  bool absolute = (!name.empty() && (name[0] == '/' || name[0] == '\\')) ||
                  (name.size() >= 2 && name[1] == ':');
  return OpenPath(absolute ? name : std::string_view(include_text).substr(0, hash));
}

void ScriptLoader::ExpandChildrenFrom(ScriptItem& item, std::size_t first, int depth) {
  std::size_t index = first;
  while (index < item.child_count()) {
    const ScriptItemPtr& child = item.children()[index];
    if (child->type() != includeItem) {
      ExpandChildren(*child, depth);
      ++index;
      continue;
    }
    ScriptItemPtr include = child;  // the splice removes it from [item]
    index += Expand(include, depth);
  }
}

std::size_t ScriptLoader::Expand(const ScriptItemPtr& item, int depth) {
  if (item->type() != includeItem) {
    ExpandChildren(*item, depth);
    return 1;
  }
  const std::string path = IncludePath(item->text());
  auto fail = [&](const std::string& text) {
    item->Initialise(errorItem, text, item->file_name(), item->line());
    ++error_count_;
    return std::size_t{1};
  };
  auto identity = IdentityOf(path);
  if (identity && std::find(open_files_.begin(), open_files_.end(), *identity) !=
                      open_files_.end()) {
    return fail("Recursive include '" + path + "'");
  }
  if (depth >= kMaxIncludeDepth) return fail("Include nesting too deep '" + path + "'");
  if (++expansions_ > kMaxIncludeExpansions) return fail("Too many includes '" + path + "'");
  bool nested_includes = false;
  {
    LexicalAnalyser lexer(item, std::make_shared<const std::string>(path));
    if (!lexer.ParseFile(path, kMaxScriptBytes - std::min(bytes_loaded_, kMaxScriptBytes))) {
      if (errno == EISDIR || errno == EINVAL) return fail("Include is not a regular file '" + path + "'");
      if (errno == EFBIG) return fail("Script too large with include '" + path + "'");
      return fail("Failed to load '" + path + "'");
    }
    bytes_loaded_ += lexer.bytes_read();
    nested_includes = lexer.builder().include_count() > 0;
    error_count_ += lexer.builder().error_count();
    for (SyntaxNote& note : lexer.builder().TakeSyntaxNotes()) syntax_notes_.push_back(std::move(note));
  }
  if (item->parent() == nullptr) return 1;
  if (nested_includes) {
    if (identity) open_files_.push_back(*identity);
    ExpandWithinLimit(*item, 0, depth + 1);
    if (identity) open_files_.pop_back();
  }
  std::size_t inserted = item->child_count();
  Splice(item);
  return inserted;
}

void ScriptLoader::ExpandWithinLimit(ScriptItem& item, std::size_t first, int depth) {
  std::vector<ScriptItem*> includes = IncludesBelow(item, first);
  std::uint64_t total = bytes_loaded_;
  for (ScriptItem* include : includes) total += RegularFileSize(IncludePath(include->text()));
  if (total > kMaxScriptBytes) {
    for (ScriptItem* include : includes) {
      include->Initialise(errorItem, "Script too large with include '" + IncludePath(include->text()) + "'",
                          include->file_name(), include->line());
      ++error_count_;
    }
    return;
  }
  ExpandChildrenFrom(item, first, depth);
}

// The include's children take its place in its parent, in order.
void ScriptLoader::Splice(const ScriptItemPtr& include) {
  ScriptItem* parent = include->parent();
  std::size_t position = parent->IndexOfChild(include.get());
  std::vector<ScriptItemPtr> children = include->children();
  for (std::size_t i = 0; i < children.size(); ++i) {
    parent->InsertChild(position + i, children[i]);
  }
  parent->RemoveChild(include.get());
}

}  // namespace ordalis
