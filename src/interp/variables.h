#pragma once
// Variables and scopes: looking names up (script variables first, then the recorded variables
// of a playback, or the user and system variables of the application manager), storing them,
// the scopes of `local` statements and function parameters, and the statements that only
// manage variables: default, ++, --, saveuservar and arraylength.

#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "interp/script_context.h"
#include "interp/variable_value.h"

namespace ordalis {

class ScriptItem;

// Finds the variable that [name_item] names: an idItem's text, or for an arrayIndexItem the
// name of its first child, recursively (a[1][2] finds a). [name] receives the lower-case name,
// [value] a copy of the whole variable. A user, system or recorded variable found on the way
// is converted from its literal text and becomes a script variable.
bool FindVariable(IScriptContext& script, const ScriptItem* name_item, std::string* name,
                  VariableValue* value);
// The same lookup by name.
bool FindVariableByName(IScriptContext& script, std::string_view name, std::string* lower_name,
                        VariableValue* value);
// Stores a copy of [value] under the lower-case [name].
void SetVariable(IScriptContext& script, std::string_view name, const VariableValue& value);
void SetVariable(IScriptContext& script, std::string_view name, VariableValue&& value);
// Removes the variable [name] (lower-cased first); false when it did not exist.
bool RemoveVariable(IScriptContext& script, std::string_view name);

// The two scope tables of one statement chain: values that `local` statements of the chain
// displaced, and variables they created. The statement executor keeps one per chain; the
// tables come into being with the chain's first local statement, so the usual chain, which has
// none, costs nothing.
class ChainScope {
 public:
  // local <statement>: runs the qualified statement as a chain of its own and notes the names
  // it changed or created.
  Result ExecuteLocal(IScriptContext& script, ScriptItem* local_item);

  // End of the chain: displaced values come back, created variables go, and testers that only
  // those variables held are closed. [returned] is the value the enclosing function call is
  // returning (null outside a function); a tester in it is not closed.
  void End(IScriptContext& script, const VariableValue* returned = nullptr) {
    if (tables_) EndLocals(script, returned);
  }
  // Forgets both tables without restoring anything (the chain ended by an exception).
  void Discard();

  // How many values the chain's local statements displaced.
  std::size_t saved_count() const { return tables_ ? tables_->saved.size() : 0; }

 private:
  void EndLocals(IScriptContext& script, const VariableValue* returned);

  struct Tables {
    std::map<std::string, VariableValue> saved;
    std::map<std::string, VariableValue> created;
  };
  std::unique_ptr<Tables> tables_;
};

// The arguments of the script function call [call_item]: each argument is evaluated and all
// elements of its value are appended, in order, to [parameters] (an array argument contributes
// its elements one by one). The first argument that fails logs
// "Error: parameter n to function f invalid" and its code is returned.
Result FunctionArguments(IScriptContext& script, ScriptItem* call_item, VariableValue* parameters);

// The parameters of a script function call, held in the variable named after the function
// for the duration of the call. Construction saves the variable's value and stores
// [parameters]; Restore (or destruction) puts the saved value back, or removes the variable
// when it did not exist before the call.
class FunctionParameters {
 public:
  FunctionParameters(IScriptContext& script, std::string_view function_name,
                     VariableValue parameters);
  FunctionParameters(const FunctionParameters&) = delete;
  FunctionParameters& operator=(const FunctionParameters&) = delete;
  ~FunctionParameters();
  void Restore();

 private:
  IScriptContext& script_;
  std::string name_;
  VariableValue saved_;
  bool existed_ = false;
  bool restored_ = false;
};

// default <assignment>
Result ExecuteDefault(IScriptContext& script, ScriptItem* default_item);

enum class Step { kIncrement, kDecrement };
// <variable>++ and <variable>--
Result ExecuteIncrement(IScriptContext& script, ScriptItem* item, Step step);

// saveuservar(<name>, …): stores the list text of each named variable as a user variable.
Result SaveUserVariables(IScriptContext& script, ScriptItem* call_item);

// Where an arraylength(<name>) stands; the messages differ.
enum class ArrayLengthUse { kExpression, kAssignment };
// arraylength(<name>): [length] receives Integer element count (replacing its content).
Result ArrayLength(IScriptContext& script, ScriptItem* item, ArrayLengthUse use,
                   VariableValue* length);

}  // namespace ordalis
