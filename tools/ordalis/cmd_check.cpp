// ordalis check SCRIPT...: parses scripts without running them and prints every error found.

#include <malloc.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <string>
#include <vector>

#include "command.h"
#include "language/script_item.h"
#include "language/script_loader.h"

namespace ordalis::cli {

namespace {

constexpr const char* kHelp =
    "Usage: ordalis check SCRIPT...\n"
    "\n"
    "Loads each script with its include files, without running it, and prints one line\n"
    "per error found:\n"
    "\n"
    "  FILE(LINE) : Error: TEXT\n"
    "\n"
    "Exit status: 0 when no script has an error, 1 when at least one error was found,\n"
    "2 when a script file cannot be opened or no script was named.\n";

// Prints the error line of every error item below [item]; returns how many there were.
std::size_t PrintErrors(const ScriptItem& item) {
  std::size_t errors = 0;
  if (item.type() == errorItem) {
    std::string line = item.ErrorLine(item.text());
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stdout);
    ++errors;
  }
  for (const ScriptItemPtr& child : item.children()) errors += PrintErrors(*child);
  return errors;
}

// A large script becomes hundreds of thousands of small items. Letting the heap grow in one
// large step backed by huge pages, where the system allows them, saves most of the page faults
// that building such a tree otherwise costs.
void PrepareHeapFor(const std::vector<std::string>& scripts) {
  std::uint64_t total = 0;
  for (const std::string& path : scripts) {
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) total += static_cast<std::uint64_t>(info.st_size);
  }
  if (total < (256u << 10)) return;
  // The tree takes about 40 bytes of heap per byte of script; leave some room.
  std::uint64_t pad = std::min<std::uint64_t>(total * 48, std::uint64_t{1} << 30);
  mallopt(M_TOP_PAD, static_cast<int>(pad));
  mallopt(M_MMAP_THRESHOLD, 1 << 20);
  void* probe = std::malloc(512u << 10);  // grows the heap by the pad
  auto start = reinterpret_cast<std::uintptr_t>(probe);
  auto end = reinterpret_cast<std::uintptr_t>(::sbrk(0));
  constexpr std::uintptr_t kHuge = 2u << 20;
  std::uintptr_t aligned = (start + kHuge - 1) & ~(kHuge - 1);
  if (end > aligned) ::madvise(reinterpret_cast<void*>(aligned), end - aligned, MADV_HUGEPAGE);
  std::free(probe);
}

int Check(const std::vector<std::string>& args) {
  if (WantsHelp(args)) {
    std::fputs(kHelp, stdout);
    return 0;
  }
  if (args.empty()) {
    std::fputs(kHelp, stderr);
    return 2;
  }
  // The trees stay alive until the process ends: releasing a large tree item by item would
  // only cost time on the way out.
  static auto* const kept_trees = new std::vector<ScriptItemPtr>();
  PrepareHeapFor(args);
  bool unreadable = false;
  std::size_t errors = 0;
  for (const std::string& path : args) {
    ScriptItemPtr root = ScriptItem::Make(rootItem, path, path, 0);
    ScriptLoader loader;
    if (!loader.Load(path, root)) {
      std::fprintf(stderr, "ordalis check: cannot open '%s'\n", path.c_str());
      unreadable = true;
      continue;
    }
    if (loader.ErrorCount() > 0) errors += PrintErrors(*root);
    kept_trees->push_back(std::move(root));
  }
  if (unreadable) return 2;
  return errors > 0 ? 1 : 0;
}

const CommandRegistration kRegistration(
    {"check", "parse scripts and print every error they contain", &Check});

}  // namespace

}  // namespace ordalis::cli
