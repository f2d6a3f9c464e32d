// ordalis dap: a debug adapter over standard input and output. An editor launches a script
// under it, sets breakpoints on lines, pauses, steps, looks at the stack of function calls and
// at the variables, evaluates names, and sees the log; the run ends with the verdict that
// `ordalis run` gives as its exit status.

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "check/script_checker.h"
#include "command.h"
#include "option_table.h"
#include "editor/message_stream.h"
#include "engine/script.h"
#include "interp/variable_table.h"
#include "interp/variable_value.h"
#include "language/script_item.h"
#include "language/script_loader.h"
#include "platform/event.h"
#include "platform/file_descriptor.h"
#include "platform/text.h"
#include "settings/application_manager.h"
#include "trace/script_log.h"
#include "trace/trace_events_client.h"
#include "value_literal.h"

namespace ordalis::cli {

namespace {

using nlohmann::json;

const CommandSyntax kSyntax{
    "dap",
    "",
    "A debug adapter for editors (the Debug Adapter Protocol), speaking over standard input\n"
    "and output. The launch request takes:\n"
    "\n"
    "  program           the script to run\n"
    "  variables         {NAME: VALUE, ...}, as 'ordalis run --var NAME=VALUE' (a script\n"
    "                    literal: 12, 2.5, \"text\", ...)\n"
    "  resultsDirectory  where the results go, as 'ordalis run --results-dir'\n"
    "  playback          a record file to answer the testers' actions from\n"
    "  stopOnEntry       pause before the first statement\n"
    "\n"
    "Breakpoints stop before the statement of their line. Step into is the engine's own step:\n"
    "the next statement run, inside a function when the statement calls one; step over runs a\n"
    "called function whole; step out runs to the statement after the call. Each step shows the\n"
    "result the stepped statement recorded. The exited event carries the exit status\n"
    "'ordalis run' would give. See docs/editors.md.\n",
    {}};

// The variable references of the three scopes.
constexpr int kLocals = 1;
constexpr int kGlobals = 2;
constexpr int kOutside = 3;
constexpr int kThread = 1;

// The settings with the launch's variables laid over the user variables, as `ordalis run
// --var` does.
class LaunchManager : public CApplicationManager {
 public:
  explicit LaunchManager(std::map<std::string, std::string> variables) : variables_(std::move(variables)) {}
  Status get_UserVariableValue(const std::string& name, std::string* value) override {
    auto it = variables_.find(LowerAscii(name));
    if (it == variables_.end()) return CApplicationManager::get_UserVariableValue(name, value);
    if (value == nullptr) return E_POINTER;
    *value = it->second;
    return S_OK;
  }
  const std::map<std::string, std::string>& launch_variables() const { return variables_; }

 private:
  std::map<std::string, std::string> variables_;
};

// How deep in function calls [item] stands: the function definitions around it.
int FunctionDepth(const ScriptItem* item) {
  int depth = 0;
  for (; item != nullptr; item = item->parent()) depth += item->type() == functionItem ? 1 : 0;
  return depth;
}

const ScriptItem* EnclosingFunction(const ScriptItem* item) {
  for (; item != nullptr; item = item->parent()) {
    if (item->type() == functionItem) return item;
  }
  return nullptr;
}

// Whether [item] is a statement of its own (where a run can stop), not part of one.
bool IsStatement(const ScriptItem& item) {
  const ScriptItem* parent = item.parent();
  if (parent == nullptr || item.type() == commentItem || item.type() == errorItem) return false;
  switch (parent->type()) {
    case rootItem:
    case thenItem:
    case elseItem:
    case doItem:
    case functionItem:
    case ignoreResultItem:
      return true;
    default:
      return false;
  }
}

class DebugAdapter : public ITraceEventsClient,
                     public IScriptEventsClient,
                     public std::enable_shared_from_this<DebugAdapter> {
 public:
  DebugAdapter() : writer_(STDOUT_FILENO) {}

  int Serve() {
    editor::MessageReader reader(STDIN_FILENO);
    for (;;) {
      editor::Incoming incoming = reader.Next();
      if (incoming.kind == editor::Incoming::Kind::kEnd) {
        End();
        return 1;  // the client went away
      }
      if (incoming.kind == editor::Incoming::Kind::kMalformed) {
        Send({{"type", "response"}, {"request_seq", 0}, {"success", false}, {"command", ""},
              {"message", "malformed message: " + incoming.problem}});
        continue;
      }
      if (Dispatch(incoming.message)) {
        End();
        return 0;
      }
    }
  }

  // ---- the script's events (run thread or a client's thread) ----------------------------

  void Log(std::int64_t time, double seconds, LoggingLevel level, const std::string& variable_name,
           const std::string& message) override {
    if (level < information) return;
    Event("output", {{"category", level >= severe ? "stderr" : "console"},
                     {"output", ScriptLog::FileLine(LogTime{time, seconds}, level, variable_name, message) + "\n"}});
  }
  void LogClear() override {}
  void Executed(ScriptItem*) override {}
  void ResultsReset() override {}
  void Started() override {}
  void Reset() override {}
  void StateChanged(ScriptState state) override {
    if (state == ScriptPaused) Paused();
    // The run was started by configurationDone; a stop before its first statement ends it too.
    if (state == ScriptNotRunning && configured_.load() && !ended_.IsSet()) RunEnded();
  }

 private:
  enum class Stepping { kNone, kInto, kOver, kOut, kPause, kEntry };

  void Send(json message) {
    message["seq"] = seq_.fetch_add(1);
    writer_.Send(message);
  }
  void Event(const std::string& name, json body = json::object()) {
    Send({{"type", "event"}, {"event", name}, {"body", std::move(body)}});
  }

  // Answers one request; true when the client has disconnected.
  bool Dispatch(const json& message) {
    const std::string command = message.value("command", "");
    json response = {{"type", "response"}, {"request_seq", message.value("seq", 0)}, {"command", command},
                     {"success", true}};
    bool done = command == "disconnect";
    try {
      json body = Handle(command, message.value("arguments", json::object()));
      if (!body.is_null()) response["body"] = body;
    } catch (const std::runtime_error& error) {
      response["success"] = false;
      response["message"] = error.what();
    } catch (const json::exception& error) {
      response["success"] = false;
      response["message"] = std::string("wrong arguments: ") + error.what();
    }
    Send(response);
    if (command == "launch" && response["success"] == true) Event("initialized");
    if (command == "configurationDone" && response["success"] == true) Start();
    return done;
  }

  json Handle(const std::string& command, const json& arguments) {
    if (command == "initialize") {
      return {{"supportsConfigurationDoneRequest", true}, {"supportsEvaluateForHovers", true},
              {"supportsTerminateRequest", true}};
    }
    if (command == "launch") return Launch(arguments);
    if (command == "disconnect") return nullptr;
    if (command == "terminate") {
      // The run stops as a stopped run does: its results are written and exited follows.
      if (script_ != nullptr && configured_.load()) script_->Stop();
      else Event("terminated");
      return nullptr;
    }
    if (command == "setBreakpoints") return SetBreakpoints(arguments);
    if (command == "setExceptionBreakpoints" || command == "configurationDone") return nullptr;
    if (command == "threads") return {{"threads", json::array({{{"id", kThread}, {"name", "script"}}})}};
    if (script_ == nullptr) throw std::runtime_error("no script is launched");
    if (command == "continue") {
      Resume(Stepping::kNone);
      return {{"allThreadsContinued", true}};
    }
    if (command == "next") return Resume(Stepping::kOver);
    if (command == "stepIn") return Resume(Stepping::kInto);
    if (command == "stepOut") return Resume(Stepping::kOut);
    if (command == "pause") {
      SetStepping(Stepping::kPause, nullptr);
      script_->Pause();
      return nullptr;
    }
    if (command == "stackTrace") return StackTrace();
    if (command == "scopes") return Scopes();
    if (command == "variables") return Variables(arguments.at("variablesReference"));
    if (command == "evaluate") return Evaluate(arguments.at("expression"));
    throw std::runtime_error("no request " + command);
  }

  // ---- launch -------------------------------------------------------------------------

  json Launch(const json& arguments) {
    if (script_ != nullptr && configured_.load()) throw std::runtime_error("a script is already launched");
    try {
      return Load(arguments);
    } catch (...) {
      End();  // a script that did not load is never started by a configurationDone that follows
      script_.reset();
      throw;
    }
  }

  json Load(const json& arguments) {
    std::string program = arguments.at("program");
    std::error_code error;
    program_ = std::filesystem::absolute(program, error).lexically_normal().string();
    std::map<std::string, std::string> variables;
    const json given = arguments.value("variables", json::object());
    for (const auto& [name, value] : given.items()) variables[LowerAscii(name)] = LaunchLiteral(name, value);
    if (!std::filesystem::is_regular_file(program_, error)) {
      throw std::runtime_error("cannot open the script '" + program + "': no such file");
    }
    manager_ = std::make_shared<LaunchManager>(std::move(variables));
    // No pauses between statements: the editor is no graphical client that needs pacing.
    script_ = CScript::Create(manager_, Pacing{0, 0, 0});
    script_->SetTraceEventsClient(shared_from_this(), information);
    script_->SetScriptEventsClient(shared_from_this());
    VariantBool loaded = kVariantFalse;
    script_->Load(program_, &loaded);
    if (loaded != kVariantTrue) throw std::runtime_error("cannot open the script '" + program + "'");
    std::string problems = SyntaxProblems();
    if (!problems.empty()) throw std::runtime_error("the script has syntax errors; not run:\n" + problems);
    if (arguments.contains("resultsDirectory")) script_->put_ResultsDirectory(arguments["resultsDirectory"]);
    if (arguments.contains("playback")) Playback(arguments["playback"]);
    stop_on_entry_ = arguments.value("stopOnEntry", false);
    return nullptr;
  }

  // Answers the testers' actions from the record file [path], which must be readable now.
  void Playback(const std::string& path) {
    std::error_code error;
    FileDescriptor record = OpenFile(path, O_RDONLY);
    if (!record || !std::filesystem::is_regular_file(path, error) || Failed(script_->PlaybackFile(path))) {
      throw std::runtime_error("cannot read the record file '" + path + "'" +
                               (record ? std::string() : std::string(": ") + std::strerror(errno)));
    }
  }

  // A launch variable as `ordalis run --var NAME=VALUE` takes it: a script literal ("12",
  // "2.5", "\"text\"", ...); JSON numbers and booleans stand for themselves.
  static std::string LaunchLiteral(const std::string& name, const json& value) {
    std::string text = value.is_string() ? value.get<std::string>() : value.dump();
    std::string problem;
    std::optional<std::string> literal = CheckedLiteral(text, &problem);
    if (!literal) throw std::runtime_error("the variable " + name + "=" + text + ": " + problem);
    return *literal;
  }

  // The syntax errors of the loaded script, one line each, as `ordalis run` prints them.
  std::string SyntaxProblems() {
    ScriptItemPtr again = ScriptItem::Make(rootItem, program_, program_, 0);
    ScriptLoader loader;
    if (!loader.Load(program_, again)) return "";
    std::string lines;
    for (const Finding& finding : CheckSyntaxErrors(*again, loader.SyntaxNotes())) lines += FindingLine(finding) + "\n";
    for (const SyntaxNote& note : loader.SyntaxNotes()) {
      if (lines.empty()) lines += note.summary + "\n";
    }
    if (lines.empty() && loader.ErrorCount() > 0) lines = "the script holds errors\n";
    return lines;
  }

  void Start() {
    if (script_ == nullptr || configured_.exchange(true)) return;
    if (stop_on_entry_) {
      SetStepping(Stepping::kEntry, nullptr);
      script_->Step();
    } else {
      script_->Run();
    }
  }

  // ---- breakpoints ----------------------------------------------------------------------

  // The path an item's file stands for.
  std::string PathOf(const ScriptItem& item) const {
    std::filesystem::path file(item.file_name());
    if (file.is_relative()) file = std::filesystem::path(program_).parent_path() / file;
    return file.lexically_normal().string();
  }

  // The first statement of [path] on [line] or the nearest line after it.
  ScriptItem* StatementAt(const std::string& path, std::uint32_t line) {
    ScriptItem* best = nullptr;
    std::vector<ScriptItem*> pending{script_->root().get()};
    while (!pending.empty()) {
      ScriptItem* item = pending.back();
      pending.pop_back();
      if (item->line() >= line && IsStatement(*item) && PathOf(*item) == path &&
          (best == nullptr || item->line() < best->line())) {
        best = item;
      }
      for (const ScriptItemPtr& child : item->children()) pending.push_back(child.get());
    }
    return best;
  }

  json SetBreakpoints(const json& arguments) {
    if (script_ == nullptr) throw std::runtime_error("launch the script before setting breakpoints");
    std::error_code error;
    std::string path = std::filesystem::absolute(arguments.at("source").at("path").get<std::string>(), error)
                           .lexically_normal().string();
    for (ScriptItem* item : breakpoints_[path]) item->set_breakpoint(false);
    breakpoints_[path].clear();
    json answered = json::array();
    for (const json& wanted : arguments.value("breakpoints", json::array())) {
      ScriptItem* item = StatementAt(path, wanted.at("line"));
      if (item == nullptr) {
        answered.push_back({{"verified", false}, {"message", "no statement on or after this line"}});
        continue;
      }
      item->set_breakpoint(true);
      breakpoints_[path].push_back(item);
      answered.push_back({{"verified", true}, {"line", item->line()}, {"source", {{"path", path}}}});
    }
    return {{"breakpoints", answered}};
  }

  // ---- run control ----------------------------------------------------------------------

  ScriptItem* Current() const {
    std::shared_ptr<IScriptItem> current;
    if (script_ == nullptr || Failed(script_->get_CurrentItem(&current))) return nullptr;
    auto* item = dynamic_cast<ScriptItem*>(current.get());
    return item != nullptr && item->type() != rootItem ? item : nullptr;
  }

  // The statement the editor is shown as the place of the stop: the current item, or the
  // statement whose breakpoint stopped the run before it became current.
  ScriptItem* Shown() const {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (shown_ != nullptr) return shown_;
    }
    return Current();
  }

  // The statement with a breakpoint the run stopped in front of when [current] has none: the
  // engine stops on entering a block or a called function, before its first statement becomes
  // current. Null when there is none.
  ScriptItem* PendingBreakpoint(ScriptItem* current) const {
    if (current == nullptr || current->breakpoint()) return nullptr;
    std::vector<ScriptItem*> pending{current};
    std::set<const ScriptItem*> seen;
    for (std::size_t next = 0; next < pending.size(); ++next) {
      ScriptItem* item = pending[next];
      if (!seen.insert(item).second) continue;
      if (item != current && item->breakpoint() && IsStatement(*item)) return item;
      for (const ScriptItemPtr& child : item->children()) pending.push_back(child.get());
      if (item->type() == functionCallItem) {
        for (ScriptItem* definition : DefinitionsOf(item->text())) pending.push_back(definition);
      }
    }
    return nullptr;
  }

  // The statement a run stopped on entry is in front of: the first of the script that runs (a
  // function definition is passed over), unless [current] already is it.
  ScriptItem* FirstStatement(ScriptItem* current) const {
    if (current != nullptr) return nullptr;
    for (const ScriptItemPtr& child : script_->root()->children()) {
      if (IsStatement(*child) && child->type() != functionItem) return child.get();
    }
    return nullptr;
  }

  // The function definitions named [name] anywhere in the script.
  std::vector<ScriptItem*> DefinitionsOf(const std::string& name) const {
    std::vector<ScriptItem*> found;
    std::vector<ScriptItem*> pending{script_->root().get()};
    while (!pending.empty()) {
      ScriptItem* item = pending.back();
      pending.pop_back();
      if (item->type() == functionItem && LowerAscii(item->text()) == LowerAscii(name)) found.push_back(item);
      for (const ScriptItemPtr& child : item->children()) pending.push_back(child.get());
    }
    return found;
  }

  void SetStepping(Stepping stepping, ScriptItem* from) {
    std::lock_guard<std::mutex> lock(mutex_);
    shown_ = nullptr;
    stepping_ = stepping;
    stepped_ = from;
    step_depth_ = FunctionDepth(from);
    return_to_ = CallerOf(from);
  }

  json Resume(Stepping stepping) {
    ScriptItem* from = Shown();
    SetStepping(stepping, from);
    if (stepping == Stepping::kNone) {
      script_->Run();
    } else {
      script_->Step();
    }
    return nullptr;
  }

  // The run stopped: a step that has not yet left the function it must leave goes on;
  // otherwise the editor is told why it stopped, and of the stepped statement's result.
  void Paused() {
    Stepping stepping;
    ScriptItem* stepped;
    const ScriptItem* return_to;
    int depth_before;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stepping = stepping_;
      stepped = stepped_;
      return_to = return_to_;
      depth_before = step_depth_;
    }
    ScriptItem* current = Current();
    int depth = FunctionDepth(current);
    if (StepGoesOn(stepping, stepped, return_to, current, depth, depth_before)) {
      script_->Step();
      return;
    }
    if (stepped != nullptr && stepped != current) {
      Event("output", {{"category", "console"},
                       {"output", "line " + std::to_string(stepped->line()) + ": " +
                                      VariableValue::ResultWord(stepped->current_result()) + "\n"}});
    }
    ScriptItem* breakpoint = stepping == Stepping::kNone    ? PendingBreakpoint(current)
                             : stepping == Stepping::kEntry ? FirstStatement(current)
                                                            : nullptr;
    const char* reason = stepping == Stepping::kPause                                  ? "pause"
                         : stepping == Stepping::kEntry                                ? "entry"
                         : stepping != Stepping::kNone && FunctionDepth(current) > depth_before &&
                                   current && current->breakpoint()                    ? "breakpoint"
                         : stepping != Stepping::kNone                                 ? "step"
                         : breakpoint != nullptr || (current && current->breakpoint()) ? "breakpoint"
                                                                                       : "pause";
    SetStepping(Stepping::kNone, nullptr);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      shown_ = breakpoint;
    }
    Event("stopped", {{"reason", reason}, {"threadId", kThread}, {"allThreadsStopped", true}});
  }

  // Whether a pause or step that stopped at [current] must go on. The engine's step stops before the
  // next statement it runs, also one inside the statement stepped (the body of a result block,
  // a called function) and at the call a function returns to; an editor's step over runs a
  // call whole, a step out runs to the caller, and no step stops where the run already was.
  bool StepGoesOn(Stepping stepping, const ScriptItem* stepped, const ScriptItem* return_to,
                  const ScriptItem* current, int depth, int depth_before) {
    if (stepping == Stepping::kNone || stepping == Stepping::kEntry) return false;
    // Between statements (a block's end, a loop's next pass, a function's entry) there is no
    // line to show: a pause or step goes on to the next statement.
    if (current == nullptr || current->type() == functionItem) return true;
    if (stepping == Stepping::kPause) return false;
    // A breakpoint in a function that a step over or out runs stops it there.
    if (current->breakpoint() && current != stepped) return false;
    if (stepping == Stepping::kOver && depth > depth_before) return true;
    if (stepping == Stepping::kOut && depth >= depth_before) return true;
    if (current == stepped) return true;
    for (const ScriptItem* item = current; item != nullptr; item = item->parent()) {
      if (item == stepped && current->line() == stepped->line()) return true;
    }
    return current == return_to;  // the call has run: its statement is behind the run
  }

  // The statement of the call that the function around [item] was called from; null outside a
  // function. While a function runs, the engine makes the call its definition's current parent.
  static const ScriptItem* CallerOf(const ScriptItem* item) {
    for (const ScriptItem* at = item; at != nullptr; at = at->current_parent()) {
      const ScriptItem* up = at->current_parent();
      if (at->type() == functionItem && up != nullptr && up != at->parent()) return StatementOf(up);
    }
    return nullptr;
  }

  void RunEnded() {
    ended_.Set();
    std::vector<std::string> problems = script_->results_problems();
    for (const std::string& problem : problems) Event("output", {{"category", "stderr"}, {"output", problem + "\n"}});
    Result verdict = script_->root()->current_result();
    int status = !problems.empty() ? 2 : verdict == TestPassed ? 0 : 1;
    Event("output", {{"category", "console"},
                     {"output", "The script " + VariableValue::ResultWord(verdict) + "; results: " +
                                    script_->results_xml_path() + "\n"}});
    Event("exited", {{"exitCode", status}});
    Event("terminated");
  }

  // Stops a run in progress. The script itself goes with the adapter, after the run thread has
  // delivered what it was telling.
  void End() {
    if (script_ == nullptr) return;
    script_->SetTraceEventsClient(nullptr);
    script_->SetScriptEventsClient(nullptr);
    script_->Stop();
  }

  // ---- what the editor shows while stopped ---------------------------------------------

  json Frame(int id, const ScriptItem* item) const {
    const ScriptItem* function = EnclosingFunction(item);
    std::string path = item ? PathOf(*item) : program_;
    return {{"id", id},
            {"name", function ? function->text() : std::filesystem::path(program_).filename().string()},
            {"line", item ? item->line() : 0},
            {"column", 1},
            {"source", {{"name", std::filesystem::path(path).filename().string()}, {"path", path}}}};
  }

  // The statement the run stopped at, then the statement of each call it is inside. While a
  // function runs, the engine makes the call its definition's current parent, so the chain of
  // current parents leads from the statement through every call out to the script.
  json StackTrace() {
    const ScriptItem* shown = Shown();
    json frames = json::array({Frame(0, shown)});
    for (const ScriptItem* at = shown; at != nullptr;) {
      const ScriptItem* up = at->current_parent();
      if (at->type() == functionItem && up != nullptr && up != at->parent()) {
        up = StatementOf(up);
        frames.push_back(Frame(static_cast<int>(frames.size()), up));
      }
      at = up;
    }
    return {{"stackFrames", frames}, {"totalFrames", frames.size()}};
  }

  // The statement [item] is part of.
  static const ScriptItem* StatementOf(const ScriptItem* item) {
    const ScriptItem* statement = item;
    while (statement != nullptr && !IsStatement(*statement)) statement = statement->current_parent();
    return statement != nullptr ? statement : item;
  }

  static json Scopes() {
    return {{"scopes", json::array({{{"name", "Locals"}, {"variablesReference", kLocals}, {"expensive", false}},
                                    {{"name", "Global"}, {"variablesReference", kGlobals}, {"expensive", false}},
                                    {{"name", "User and system variables"}, {"variablesReference", kOutside},
                                     {"expensive", false}}})}};
  }

  static json Variable(const std::string& name, const std::string& value) {
    return {{"name", name}, {"value", value}, {"variablesReference", 0}};
  }

  // The names the function around the current statement declares local, and its arguments.
  std::set<std::string> LocalNames() const {
    std::set<std::string> names;
    const ScriptItem* function = EnclosingFunction(Shown());
    if (function == nullptr) return names;
    names.insert(LowerAscii(function->text()));
    std::vector<const ScriptItem*> pending{function};
    while (!pending.empty()) {
      const ScriptItem* item = pending.back();
      pending.pop_back();
      if (item->type() == localItem) {
        for (const ScriptItemPtr& child : item->children()) {
          // "local name" or "local name = value"
          const ScriptItem* named = child->type() == assignmentItem && child->child_count() > 0 ? child->child(0) : child.get();
          names.insert(LowerAscii(named->text()));
        }
      }
      for (const ScriptItemPtr& child : item->children()) pending.push_back(child.get());
    }
    return names;
  }

  json Variables(int reference) {
    json list = json::array();
    if (reference == kOutside) return OutsideVariables();
    std::set<std::string> locals = LocalNames();
    VariableTable& table = script_->variables();
    std::string name;
    VariableValue value;
    for (std::size_t i = 0; table.EntryAt(i, &name, &value); ++i) {
      bool local = locals.count(LowerAscii(name)) > 0;
      if (local == (reference == kLocals)) list.push_back(Variable(name, value.DisplayText()));
    }
    return {{"variables", list}};
  }

  json OutsideVariables() {
    json list = json::array();
    std::uint32_t count = 0;
    manager_->get_UserVariableCount(&count);
    std::set<std::string> seen;
    for (std::uint32_t i = 0; i < count; ++i) {
      std::string name;
      std::string value;
      if (Failed(manager_->get_UserVariableNames(i, &name))) continue;
      manager_->get_UserVariableValue(name, &value);
      seen.insert(LowerAscii(name));
      list.push_back(Variable(name + " (user)", value));
    }
    for (const auto& [name, value] : manager_->launch_variables()) {
      if (seen.insert(name).second) list.push_back(Variable(name + " (launch)", value));
    }
    manager_->get_SystemVariableCount(&count);
    for (std::uint32_t i = 0; i < count; ++i) {
      std::string name;
      std::string value;
      if (Failed(manager_->get_SystemVariableNames(i, &name))) continue;
      manager_->get_SystemVariableValue(name, &value);
      list.push_back(Variable(name + " (system)", value));
    }
    return {{"variables", list}};
  }

  // NAME or NAME[INDEX]...: a variable, or an element of an array it holds, by name.
  json Evaluate(const std::string& expression) {
    static const std::regex kForm(R"(^\s*([A-Za-z_][A-Za-z0-9_]*)((\s*\[\s*[0-9]+\s*\])*)\s*$)");
    std::smatch form;
    if (!std::regex_match(expression, form, kForm)) {
      throw std::runtime_error("'" + expression + "' is no variable: the debug console shows a NAME or NAME[INDEX]");
    }
    VariableValue value;
    if (!script_->variables().Get(form[1].str(), &value)) throw std::runtime_error("no variable '" + form[1].str() + "'");
    std::string indices = form[2].str();
    static const std::regex kIndex("[0-9]+");
    for (auto it = std::sregex_iterator(indices.begin(), indices.end(), kIndex); it != std::sregex_iterator(); ++it) {
      std::size_t index = it->str().size() > 9 ? value.ElementCount() : std::stoul(it->str());
      if (index >= value.ElementCount()) {
        throw std::runtime_error("index " + it->str() + " is past the end of " + value.DisplayText());
      }
      VariableValue element = value.Element(index);
      value = std::move(element);
    }
    return {{"result", value.DisplayText()}, {"variablesReference", 0}};
  }

  editor::MessageWriter writer_;
  std::atomic<int> seq_{1};
  std::shared_ptr<LaunchManager> manager_;
  std::shared_ptr<CScript> script_;
  std::string program_;
  bool stop_on_entry_ = false;
  std::map<std::string, std::vector<ScriptItem*>> breakpoints_;
  std::atomic<bool> configured_{false};  // configurationDone has started the run
  ordalis::Event ended_{EventReset::kManual};

  mutable std::mutex mutex_;  // guards the stepping state and the place shown
  ScriptItem* shown_ = nullptr;
  Stepping stepping_ = Stepping::kNone;
  ScriptItem* stepped_ = nullptr;
  int step_depth_ = 0;
  const ScriptItem* return_to_ = nullptr;  // the caller's statement a step out of a function reaches
};

int Dap(const std::vector<std::string>& args) {
  ParsedArguments arguments;
  if (int status = ParseOrExit(kSyntax, args, &arguments); status >= 0) return status;
  if (!arguments.operands().empty()) return UsageError(kSyntax, "unexpected argument '" + arguments.operands()[0] + "'");
  auto adapter = std::make_shared<DebugAdapter>();
  return adapter->Serve();
}

const CommandRegistration kRegistration({"dap", "debug scripts in editors as a debug adapter over stdin/stdout", &Dap});

}  // namespace

}  // namespace ordalis::cli
