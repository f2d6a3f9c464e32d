#pragma once
// Expression evaluation: turning expression subtrees of script items into values. Every
// evaluator returns a Result (TestPassed on success) and reports its failures to the script
// log; none throws. They run on the script's run thread.

#include <cstdint>

#include "interp/script_context.h"
#include "interp/variable_value.h"

namespace ordalis {

class ScriptItem;

// A literal, name, arithmetic, result word, indexed name, arraylength or action call.
// Literals, result words and arraylength append to [value]; names, indexing and arithmetic
// replace it.
Result EvaluateValue(IScriptContext& script, ScriptItem* item, VariableValue* value);

// One element of an array literal, of an assignment's value list or of a return list;
// appends to [value] (an indexed name replaces it).
Result EvaluateArrayElement(IScriptContext& script, ScriptItem* item, VariableValue* value);

// <left> op <right> with op one of + - * / % ^; [value] becomes a one-element array.
Result EvaluateArithmetic(IScriptContext& script, ScriptItem* item, VariableValue* value);

// A comparison, and/or/not, a Boolean variable or a true/false literal. A malformed condition
// records TestError on its item, raises Executed for it and sets [result] to TestError.
bool EvaluateCondition(IScriptContext& script, ScriptItem* item, Result* result);

// <name>[<index>]…: [value] becomes the indexed element. An index past the elements of a
// String picks one byte of it.
bool EvaluateIndex(IScriptContext& script, ScriptItem* item, VariableValue* value);

// Evaluates [item] as an array index: a single Integer. False otherwise.
bool EvaluateIndexNumber(IScriptContext& script, ScriptItem* item, std::int32_t* index);

}  // namespace ordalis
