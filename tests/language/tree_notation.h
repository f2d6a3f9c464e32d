#pragma once
// Helpers shared by the language tests: loading text into a fresh root and writing a tree in a
// compact notation, type"text"[children...], so a whole tree compares as one string.

#include <string>
#include <string_view>

#include "language/script_item.h"
#include "language/script_loader.h"

namespace ordalis::testing {

inline std::string Notation(const ScriptItem& item) {
  const char* name = ItemTypeName(item.type());
  std::string out = name ? name : "?";
  out += "\"" + item.text() + "\"";
  if (item.child_count() > 0) {
    out += "[";
    for (std::size_t i = 0; i < item.child_count(); ++i) {
      if (i > 0) out += ",";
      out += Notation(*item.child(i));
    }
    out += "]";
  }
  return out;
}

// The notation of every child of [root], comma-separated.
inline std::string ChildrenNotation(const ScriptItem& root) {
  std::string out;
  for (std::size_t i = 0; i < root.child_count(); ++i) {
    if (i > 0) out += ",";
    out += Notation(*root.child(i));
  }
  return out;
}

inline ScriptItemPtr LoadedText(std::string_view text) {
  ScriptItemPtr root = ScriptItem::Make(rootItem, "root", "N/A", 0);
  ScriptLoader().LoadText(text, root);
  return root;
}

// The tree [text] loads into, in notation.
inline std::string TreeOf(std::string_view text) { return ChildrenNotation(*LoadedText(text)); }

}  // namespace ordalis::testing
