#pragma once
// The enumerations shared by the engine, its clients and its plug-ins. The numeric values are
// part of the public contract: they appear in results files, record files and events.

#include <cstdint>

#include "ordalis/api.h"

namespace ordalis {

enum Result : std::int32_t {
  TestPassed = 0,
  TestFailed = 1,
  TestNotImplemented = 2,
  TestWarning = 3,
  TestError = 4,
  TestNotRun = 5,
  TestAborted = 6,
};

enum LoggingLevel : std::int32_t {
  finest = 0,
  finer = 1,
  fine = 2,
  configuration = 3,
  information = 4,
  warning = 5,
  severe = 6,
};

enum ScriptState : std::int32_t {
  ScriptRunning = 0,
  ScriptPausing = 1,
  ScriptPaused = 2,
  ScriptStopping = 3,
  ScriptNotRunning = 4,
};

enum BatchQueueState : std::int32_t {
  BatchQueueRunning = 0,
  BatchQueuePausing = 1,
  BatchQueuePaused = 2,
  BatchQueueStopping = 3,
  BatchQueueNotRunning = 4,
};

enum BatchQueueItemStatus : std::int32_t {
  BatchQueueItemNotRunning = 0,
  BatchQueueItemRunning = 1,
  BatchQueueItemPassed = 2,
  BatchQueueItemFailed = 3,
  BatchQueueItemAborted = 4,
};

// Kind of a script item. The values 5, 10 and 28 are not assigned.
enum ItemType : std::int32_t {
  errorItem = 0,
  rootItem = 1,
  ifItem = 2,
  thenItem = 3,
  elseItem = 4,
  whileItem = 6,
  actionItem = 7,
  assignmentItem = 8,
  doItem = 9,
  lessThanItem = 11,
  lessThanOrEqualItem = 12,
  equalItem = 13,
  greaterThanOrEqualItem = 14,
  greaterThanItem = 15,
  notEqualItem = 16,
  integerItem = 17,
  stringItem = 18,
  idItem = 19,
  newItem = 20,
  deleteItem = 21,
  arithmeticItem = 22,
  incrementItem = 23,
  decrementItem = 24,
  commentItem = 25,
  testResultItem = 26,
  resultItem = 27,
  includeItem = 29,
  endIncludeItem = 30,
  sleepItem = 31,
  boolItem = 32,
  doubleItem = 33,
  sprintfItem = 34,
  arrayIndexItem = 35,
  andItem = 36,
  orItem = 37,
  notItem = 38,
  assertItem = 39,
  hexItem = 40,
  octalItem = 41,
  sscanfItem = 42,
  defaultItem = 43,
  arrayLengthItem = 44,
  ignoreResultItem = 45,
  functionItem = 46,
  functionCallItem = 47,
  arrayItem = 48,
  moveLogFileItem = 49,
  copyLogFileItem = 50,
  returnItem = 51,
  localItem = 52,
  abortItem = 53,
};

// The name of [type] as written in code and in `ordalis tree --json` ("assignmentItem"), or
// nullptr for a value that names no item kind.
ORDALIS_API const char* ItemTypeName(ItemType type);

}  // namespace ordalis
