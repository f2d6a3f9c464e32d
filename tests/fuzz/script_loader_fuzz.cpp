// Fuzzing harness for the front end: the input is script text, loaded below a root item as a
// remote peer's chunks are, then every top-level item is turned back into its one-line text
// (ScriptText), which walks the whole tree and makes the error lines of malformed items.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "language/script_item.h"
#include "language/script_loader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ordalis;
  ScriptItemPtr root = ScriptItem::Make(rootItem, "fuzz", "fuzz", 0);
  ScriptLoader loader;
  loader.LoadText(std::string_view(reinterpret_cast<const char*>(data), size), root);
  std::size_t total = 0;
  for (std::size_t i = 0; i < root->child_count(); ++i) {
    total += root->child(i)->ScriptTextOf().size();
    total += root->child(i)->ErrorLine("fuzz").size();
  }
  return total == 0 ? 0 : 0;
}
