#include "language/statement_place.h"

namespace ordalis {

namespace {

bool IsBlock(ItemType type) {
  switch (type) {
    case rootItem: case thenItem: case elseItem: case doItem: case functionItem:
    case ignoreResultItem: case resultItem: case includeItem: case localItem: case defaultItem:
      return true;
    default:
      return false;
  }
}

std::string StatementText(const ScriptItem& statement) {
  switch (statement.type()) {
    case ifItem:
    case whileItem: {
      std::string condition = statement.child_count() > 0 ? statement.child(0)->SourceText() : "";
      const char* closing = statement.type() == ifItem ? " then" : " do";
      return statement.text() + " " + condition + closing;
    }
    case resultItem:
      return "result \"" + statement.text() + "\"";
    case ignoreResultItem:
      return "ignoreresult";
    default:
      return statement.SourceText();
  }
}

}  // namespace

const ScriptItem* StatementOf(const ScriptItem& item) {
  const ScriptItem* statement = &item;
  while (statement->parent() != nullptr && !IsBlock(statement->parent()->type())) {
    statement = statement->parent();
  }
  return statement->parent() != nullptr ? statement : nullptr;
}

std::string PlaceLine(const ScriptItem& item) {
  const ScriptItem* statement = StatementOf(item);
  if (statement == nullptr) statement = &item;
  return statement->file_name() + "(" + std::to_string(statement->line()) +
         "): " + StatementText(*statement);
}

}  // namespace ordalis
