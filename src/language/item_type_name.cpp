#include "ordalis/types.h"

namespace ordalis {

const char* ItemTypeName(ItemType type) {
  switch (type) {
#define ORDALIS_ITEM_NAME(name) \
  case name:                    \
    return #name;
    ORDALIS_ITEM_NAME(errorItem) ORDALIS_ITEM_NAME(rootItem) ORDALIS_ITEM_NAME(ifItem)
    ORDALIS_ITEM_NAME(thenItem) ORDALIS_ITEM_NAME(elseItem) ORDALIS_ITEM_NAME(whileItem)
    ORDALIS_ITEM_NAME(actionItem) ORDALIS_ITEM_NAME(assignmentItem) ORDALIS_ITEM_NAME(doItem)
    ORDALIS_ITEM_NAME(lessThanItem) ORDALIS_ITEM_NAME(lessThanOrEqualItem)
    ORDALIS_ITEM_NAME(equalItem) ORDALIS_ITEM_NAME(greaterThanOrEqualItem)
    ORDALIS_ITEM_NAME(greaterThanItem) ORDALIS_ITEM_NAME(notEqualItem)
    ORDALIS_ITEM_NAME(integerItem) ORDALIS_ITEM_NAME(stringItem) ORDALIS_ITEM_NAME(idItem)
    ORDALIS_ITEM_NAME(newItem) ORDALIS_ITEM_NAME(deleteItem) ORDALIS_ITEM_NAME(arithmeticItem)
    ORDALIS_ITEM_NAME(incrementItem) ORDALIS_ITEM_NAME(decrementItem)
    ORDALIS_ITEM_NAME(commentItem) ORDALIS_ITEM_NAME(testResultItem)
    ORDALIS_ITEM_NAME(resultItem) ORDALIS_ITEM_NAME(includeItem)
    ORDALIS_ITEM_NAME(endIncludeItem) ORDALIS_ITEM_NAME(sleepItem) ORDALIS_ITEM_NAME(boolItem)
    ORDALIS_ITEM_NAME(doubleItem) ORDALIS_ITEM_NAME(sprintfItem)
    ORDALIS_ITEM_NAME(arrayIndexItem) ORDALIS_ITEM_NAME(andItem) ORDALIS_ITEM_NAME(orItem)
    ORDALIS_ITEM_NAME(notItem) ORDALIS_ITEM_NAME(assertItem) ORDALIS_ITEM_NAME(hexItem)
    ORDALIS_ITEM_NAME(octalItem) ORDALIS_ITEM_NAME(sscanfItem) ORDALIS_ITEM_NAME(defaultItem)
    ORDALIS_ITEM_NAME(arrayLengthItem) ORDALIS_ITEM_NAME(ignoreResultItem)
    ORDALIS_ITEM_NAME(functionItem) ORDALIS_ITEM_NAME(functionCallItem)
    ORDALIS_ITEM_NAME(arrayItem) ORDALIS_ITEM_NAME(moveLogFileItem)
    ORDALIS_ITEM_NAME(copyLogFileItem) ORDALIS_ITEM_NAME(returnItem)
    ORDALIS_ITEM_NAME(localItem) ORDALIS_ITEM_NAME(abortItem)
#undef ORDALIS_ITEM_NAME
  }
  return nullptr;
}

}  // namespace ordalis
