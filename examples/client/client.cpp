// client: a program that drives the Ordalis component through libordalis.so, as a front end
// or an automation client does. It makes every creatable class by its identifier, then loads
// the script given on the command line and runs it to its end.
//
//   client [SCRIPT]       exit status 0 when every class was made (and the script passed)
//
// Build it against the installed package (see docs/component.md):
//   cmake -S examples/client -B client-build -DCMAKE_PREFIX_PATH=<prefix> && cmake --build client-build
// or with pkg-config:
//   g++ -std=c++20 client.cpp $(pkg-config --cflags --libs ordalis) -o client

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include "ordalis/component.h"

namespace {

using namespace ordalis;

const char* const kClasses[] = {"Ordalis.Script",          "Ordalis.ScriptItem.1",
                                "Ordalis.ApplicationManager", "Ordalis.TesterUtilities.1",
                                "Ordalis.BatchQueue",      "Ordalis.ScriptProxy.1"};

// Each class answers the interface it is named after.
bool AnswersItsInterface(const std::string& progid, const std::shared_ptr<IUnknown>& object) {
  if (progid.rfind("Ordalis.Script.", 0) == 0 || progid == "Ordalis.Script") return !!std::dynamic_pointer_cast<IScript>(object);
  if (progid.rfind("Ordalis.ScriptItem", 0) == 0) return !!std::dynamic_pointer_cast<IScriptItem>(object);
  if (progid.rfind("Ordalis.ApplicationManager", 0) == 0) return !!std::dynamic_pointer_cast<IApplicationManager>(object);
  if (progid.rfind("Ordalis.TesterUtilities", 0) == 0) return !!std::dynamic_pointer_cast<ITesterUtilities>(object);
  if (progid.rfind("Ordalis.BatchQueue", 0) == 0) return !!std::dynamic_pointer_cast<IBatchQueue>(object);
  if (progid.rfind("Ordalis.ScriptProxy", 0) == 0) return !!std::dynamic_pointer_cast<IScriptProxy>(object);
  return false;
}

// Runs [path] with a script object and waits for the run to end; true when it passed.
bool RunScript(const std::string& path) {
  std::shared_ptr<IUnknown> object;
  if (CreateInstance("Ordalis.Script", &object) != S_OK) return false;
  auto script = std::dynamic_pointer_cast<IScript>(object);
  VariantBool loaded = kVariantFalse;
  if (script->Load(path, &loaded) != S_OK || loaded != kVariantTrue) {
    std::fprintf(stderr, "client: cannot load %s\n", path.c_str());
    return false;
  }
  if (script->Run() != S_OK) return false;
  // A client with an event sink would wait for its events; this one asks for the state.
  ScriptState state = ScriptRunning;
  do {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    script->get_State(&state);
  } while (state != ScriptNotRunning);
  std::shared_ptr<IScriptItem> root;
  script->get_Item(&root);
  Result result = TestNotRun;
  root->get_CurrentResult(&result);
  std::printf("%s: %s\n", path.c_str(), result == TestPassed ? "Passed" : "not passed");
  return result == TestPassed;
}

}  // namespace

int main(int argc, char** argv) {
  int status = 0;
  for (const char* progid : kClasses) {
    std::shared_ptr<IUnknown> object;
    Status made = CreateInstance(progid, &object);
    bool answers = made == S_OK && AnswersItsInterface(progid, object);
    std::printf("%-28s %s\n", progid, answers ? "created" : "NOT created");
    if (!answers) status = 1;
  }
  if (CanUnloadNow() != S_OK) {
    std::printf("objects still alive after release\n");
    status = 1;
  }
  if (argc > 1 && !RunScript(argv[1])) status = 1;
  return status;
}
