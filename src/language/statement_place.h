#pragma once
// Where a run is: the statement an item belongs to, and the place line the console shows after
// a severe log line about it, "file(line): statement text".

#include <string>

#include "language/script_item.h"

namespace ordalis {

// The statement [item] belongs to: the item itself when it stands in a block, otherwise its
// nearest ancestor that does. Null for a root.
const ScriptItem* StatementOf(const ScriptItem& item);

// "file(line): text" for the statement [item] belongs to. An if or while shows its condition
// with its keywords ("if x < 1 then"); a block item shows its opening line. Reads the tree
// only; no result changes.
std::string PlaceLine(const ScriptItem& item);

}  // namespace ordalis
