// ordalis lsp: a language server over standard input and output. Editors get the findings of
// `ordalis check` as the document changes, completion of keywords, names and tester actions,
// hover documentation, definitions, references and the outline of a script.

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "check/script_checker.h"
#include "command.h"
#include "editor/message_stream.h"
#include "editor/editor_text.h"
#include "language/script_item.h"
#include "language/script_loader.h"
#include "platform/file_descriptor.h"
#include "platform/text.h"
#include "script_check.h"
#include "option_table.h"
#include "script_outline.h"
#include "tester_catalogue.h"

namespace ordalis::cli {

namespace {

using nlohmann::json;
using editor::ByteColumn;
using editor::NameStart;
using editor::PathToUri;
using editor::SplitLines;
using editor::UriToPath;
using editor::Utf16Column;
using editor::WordEnd;

const CommandSyntax kSyntax{
    "lsp",
    "[--no-testers]",
    "A language server for editors (the Language Server Protocol), speaking over standard\n"
    "input and output. It offers the findings of 'ordalis check' as the document changes,\n"
    "completion (keywords, the script's variables and functions, tester types after 'new',\n"
    "a tester's actions after 'name.' once 'name = new TYPE(...)' has assigned it), hover\n"
    "documentation, go to definition (functions, includes, variables), find references and\n"
    "the document's outline (functions and named results). See docs/editors.md.\n",
    {{"--no-testers", 0, nullptr, "do not load the installed testers (no type or action checks)"}},
    "Exit status: 0 after a shutdown request and exit, 1 when the client went away or asked\n"
    "to exit without a shutdown, 2 for wrong arguments.\n"};

constexpr int kParseError = -32700;
constexpr int kInvalidRequest = -32600;
constexpr int kMethodNotFound = -32601;
constexpr int kInvalidParams = -32602;

// What the file name of an item made from text in memory reads.
constexpr const char* kInMemory = "N/A";

const char* const kKeywords[] = {
    "if", "then", "else", "endif", "while", "do", "endwhile", "new", "delete", "include", "result",
    "function", "endfunction", "ignoreresult", "endignoreresult", "local", "default", "return",
    "abort", "movelogfile", "copylogfile", "and", "or", "not", "true", "false", "sleep", "assert"};
const char* const kBuiltIns[] = {"printf", "sprintf", "sscanf", "strlen", "saveuservar"};

// LSP's kinds of completion items and symbols.
constexpr int kCompletionMethod = 2;
constexpr int kCompletionFunction = 3;
constexpr int kCompletionVariable = 6;
constexpr int kCompletionClass = 7;
constexpr int kCompletionKeyword = 14;
constexpr int kSymbolFunction = 12;
constexpr int kSymbolEvent = 24;

// Loading a script takes include names against the working directory: while a document is
// loaded the directory is its own, as it is when the script runs from there.
class WorkingDirectory {
 public:
  explicit WorkingDirectory(const std::string& directory) {
    std::error_code error;
    before_ = std::filesystem::current_path(error);
    moved_ = !directory.empty() && ::chdir(directory.c_str()) == 0;
  }
  ~WorkingDirectory() {
    if (moved_ && ::chdir(before_.c_str()) != 0) std::perror("ordalis lsp: chdir");
  }
  WorkingDirectory(const WorkingDirectory&) = delete;
  WorkingDirectory& operator=(const WorkingDirectory&) = delete;

 private:
  std::filesystem::path before_;
  bool moved_ = false;
};

// A request the server cannot answer with a result.
struct RequestError {
  int code;
  std::string message;
};

struct Document {
  std::string uri;
  std::string path;
  std::string directory;
  std::string text;
  std::vector<std::string> lines;
  ScriptItemPtr root;
  std::unique_ptr<ScriptOutline> outline;
  std::set<std::string> published;  // URIs given diagnostics for this document
};

// Whether the server loads the installed testers, to check and complete their types and actions.
enum class TesterUse { kLoad, kSkip };

class LanguageServer {
 public:
  explicit LanguageServer(TesterUse testers) : writer_(STDOUT_FILENO) {
    if (testers == TesterUse::kLoad) testers_ = std::make_unique<InstalledTesters>();
    CheckOptions options;
    options.testers = testers_.get();
    std::set<std::string> stored = StoredVariableNames();
    options.defined_outside = [stored](const std::string& name) { return stored.count(name) > 0; };
    checker_ = std::make_unique<ScriptChecker>(std::move(options));
    use_catalogue_ = testers == TesterUse::kLoad;
  }

  int Serve() {
    editor::MessageReader reader(STDIN_FILENO);
    for (;;) {
      editor::Incoming incoming = reader.Next();
      if (incoming.kind == editor::Incoming::Kind::kEnd) return 1;  // the client went away
      if (incoming.kind == editor::Incoming::Kind::kMalformed) {
        Error(nullptr, kParseError, "malformed message: " + incoming.problem);
        continue;
      }
      const json& message = incoming.message;
      if (message.value("method", "") == "exit") return shut_down_ ? 0 : 1;
      Dispatch(message);
    }
  }

 private:
  void Dispatch(const json& message) {
    const bool request = message.contains("id");
    if (!message.contains("method") || !message["method"].is_string()) {
      if (request && !message.contains("result") && !message.contains("error")) {
        Error(message["id"], kInvalidRequest, "a request needs a method");
      }
      return;  // an answer to a request of ours, or nothing to act on
    }
    const std::string method = message["method"];
    const json params = message.value("params", json::object());
    try {
      json result = Handle(method, params, request);
      if (request) writer_.Send({{"jsonrpc", "2.0"}, {"id", message["id"]}, {"result", result}});
    } catch (const RequestError& error) {
      if (request) Error(message["id"], error.code, error.message);
    } catch (const json::exception& error) {
      if (request) Error(message["id"], kInvalidParams, std::string("wrong parameters: ") + error.what());
    }
  }

  void Error(const json& id, int code, const std::string& text) {
    writer_.Send({{"jsonrpc", "2.0"}, {"id", id}, {"error", {{"code", code}, {"message", text}}}});
  }

  json Handle(const std::string& method, const json& params, bool request) {
    if (shut_down_ && request) throw RequestError{kInvalidRequest, "the server is shut down"};
    if (method == "initialize") return Capabilities();
    if (method == "shutdown") {
      shut_down_ = true;
      return nullptr;
    }
    if (method == "textDocument/didOpen") {
      const json& item = params.at("textDocument");
      Open(item.at("uri"), item.at("text"));
    } else if (method == "textDocument/didChange") {
      Change(params.at("textDocument").at("uri"), params.at("contentChanges"));
    } else if (method == "textDocument/didClose") {
      Close(params.at("textDocument").at("uri"));
    } else if (method == "textDocument/completion") {
      return Completion(params);
    } else if (method == "textDocument/hover") {
      return Hover(params);
    } else if (method == "textDocument/definition") {
      return Definition(params);
    } else if (method == "textDocument/references") {
      return References(params);
    } else if (method == "textDocument/documentSymbol") {
      return Symbols(params);
    } else if (request) {
      throw RequestError{kMethodNotFound, "no method " + method};
    }
    return nullptr;
  }

  static json Capabilities() {
    return {{"capabilities",
             {{"textDocumentSync", {{"openClose", true}, {"change", 1}}},
              {"completionProvider", {{"triggerCharacters", {"."}}}},
              {"hoverProvider", true},
              {"definitionProvider", true},
              {"referencesProvider", true},
              {"documentSymbolProvider", true}}},
            {"serverInfo", {{"name", "ordalis"}}}};
  }

  // ---- documents ------------------------------------------------------------------------

  void Open(const std::string& uri, const std::string& text) {
    Document& document = documents_[uri];
    document.uri = uri;
    document.path = UriToPath(uri);
    document.directory = std::filesystem::path(document.path).parent_path().string();
    document.text = text;
    document.lines = SplitLines(text);
    document.root = ScriptItem::Make(rootItem, document.path, document.path, 0);
    ScriptLoader loader;
    std::vector<Finding> findings;
    {
      WorkingDirectory here(document.directory);
      loader.LoadText(text, document.root);
      findings = checker_->Check(*document.root, loader.SyntaxNotes());
    }
    document.outline = std::make_unique<ScriptOutline>(*document.root);
    Publish(document, findings);
  }

  // The server asks for the whole text on each change; a client that sends ranges anyway has
  // each applied in turn.
  void Change(const std::string& uri, const json& changes) {
    auto found = documents_.find(uri);
    std::string text = found == documents_.end() ? std::string() : found->second.text;
    for (const json& change : changes) {
      if (!change.contains("range")) {
        text = change.at("text");
        continue;
      }
      std::size_t start = Offset(text, change["range"].at("start"));
      std::size_t end = std::max(start, Offset(text, change["range"].at("end")));
      text.replace(start, end - start, change.at("text").get<std::string>());
    }
    Open(uri, text);
  }

  // The byte offset in [text] of an editor's position (a line from 0 and UTF-16 characters).
  static std::size_t Offset(const std::string& text, const json& position) {
    std::size_t start = 0;
    for (std::uint32_t line = position.at("line"); line > 0 && start < text.size(); --line) {
      std::size_t end = text.find('\n', start);
      start = end == std::string::npos ? text.size() : end + 1;
    }
    std::size_t end = std::min(text.find('\n', start), text.size());
    return start + ByteColumn(std::string_view(text).substr(start, end - start), position.at("character"));
  }

  void Close(const std::string& uri) {
    auto found = documents_.find(uri);
    if (found == documents_.end()) return;
    for (const std::string& published : found->second.published) {
      writer_.Send(Notification("textDocument/publishDiagnostics", {{"uri", published}, {"diagnostics", json::array()}}));
    }
    documents_.erase(found);
  }

  Document& Find(const json& params) {
    auto found = documents_.find(params.at("textDocument").at("uri").get<std::string>());
    if (found == documents_.end()) throw RequestError{kInvalidParams, "the document is not open"};
    return found->second;
  }

  static json Notification(const std::string& method, json params) {
    return {{"jsonrpc", "2.0"}, {"method", method}, {"params", std::move(params)}};
  }

  // ---- places ---------------------------------------------------------------------------

  // The URI of a file an item of [document] names (the document itself for text in memory).
  static std::string UriOf(const Document& document, const std::string& file) {
    if (file == kInMemory || file == document.path) return document.uri;
    std::filesystem::path path(file);
    if (path.is_relative()) path = std::filesystem::path(document.directory) / path;
    return PathToUri(path.lexically_normal().string());
  }

  // The text of line [line] (from 1) of [file]: the document's own, or read from disk.
  std::string LineOf(const Document& document, const std::string& file, std::uint32_t line) {
    const std::vector<std::string>* lines = &document.lines;
    if (UriOf(document, file) != document.uri) {
      std::string path = UriToPath(UriOf(document, file));
      auto cached = files_.find(path);
      if (cached == files_.end()) {
        std::string contents;
        ReadWholeFile(path, &contents);
        cached = files_.emplace(path, SplitLines(contents)).first;
      }
      lines = &cached->second;
    }
    return line >= 1 && line <= lines->size() ? (*lines)[line - 1] : std::string();
  }

  static json Position(std::uint32_t line, const std::string& text, std::uint32_t byte) {
    return {{"line", line == 0 ? 0 : line - 1}, {"character", Utf16Column(text, byte)}};
  }

  // The range of [name] at [place], and the location around it.
  json NameRange(const Document& document, const Place& place, const std::string& name) {
    std::string text = LineOf(document, place.file, place.line);
    std::uint32_t start = NameStart(text, place.column > 0 ? place.column - 1 : 0, name);
    return {{"start", Position(place.line, text, start)},
            {"end", Position(place.line, text, start + static_cast<std::uint32_t>(name.size()))}};
  }
  json Location(const Document& document, const Place& place, const std::string& name) {
    return {{"uri", UriOf(document, place.file)}, {"range", NameRange(document, place, name)}};
  }

  // ---- diagnostics ----------------------------------------------------------------------

  json Diagnostic(const Document& document, const Finding& finding) {
    std::string text = LineOf(document, finding.file, finding.line);
    std::uint32_t start = finding.column > 0 ? finding.column - 1 : 0;
    static const std::regex kOpened("opened on line ([0-9]+)");
    json diagnostic = {{"range", {{"start", Position(finding.line, text, start)},
                                  {"end", Position(finding.line, text, WordEnd(text, start))}}},
                       {"severity", finding.severity == Severity::kError     ? 1
                                    : finding.severity == Severity::kWarning ? 2
                                                                             : 3},
                       {"source", "ordalis"},
                       {"message", finding.text}};
    std::smatch opened;
    if (std::regex_search(finding.text, opened, kOpened)) {
      std::uint32_t line = static_cast<std::uint32_t>(std::stoul(opened[1].str()));
      std::string opened_text = LineOf(document, finding.file, line);
      std::uint32_t first = static_cast<std::uint32_t>(std::min(opened_text.find_first_not_of(" \t"), opened_text.size()));
      diagnostic["relatedInformation"] = json::array(
          {{{"location", {{"uri", UriOf(document, finding.file)},
                          {"range", {{"start", Position(line, opened_text, first)},
                                     {"end", Position(line, opened_text, WordEnd(opened_text, first))}}}}},
            {"message", "opened here"}}});
    }
    return diagnostic;
  }

  // Every finding, under the URI of its file; files that had findings before and have none now
  // are cleared.
  void Publish(Document& document, const std::vector<Finding>& findings) {
    std::map<std::string, json> by_uri;
    by_uri[document.uri] = json::array();
    for (const Finding& finding : findings) {
      by_uri[UriOf(document, finding.file)].push_back(Diagnostic(document, finding));
    }
    for (const std::string& before : document.published) by_uri.emplace(before, json::array());
    document.published.clear();
    for (auto& [uri, diagnostics] : by_uri) {
      if (!diagnostics.empty()) document.published.insert(uri);
      writer_.Send(Notification("textDocument/publishDiagnostics", {{"uri", uri}, {"diagnostics", diagnostics}}));
    }
    files_.clear();  // included files are read again after the next edit
  }

  // ---- completion -----------------------------------------------------------------------

  static json Item(const std::string& label, int kind, const std::string& detail = "",
                   const std::string& documentation = "") {
    json item = {{"label", label}, {"kind", kind}};
    if (!detail.empty()) item["detail"] = detail;
    if (!documentation.empty()) item["documentation"] = {{"kind", "markdown"}, {"value", documentation}};
    return item;
  }

  json Completion(const json& params) {
    Document& document = Find(params);
    std::uint32_t line = params.at("position").at("line").get<std::uint32_t>() + 1;
    std::string text = line <= document.lines.size() ? document.lines[line - 1] : "";
    std::string before = text.substr(0, ByteColumn(text, params.at("position").at("character")));
    static const std::regex kAfterDot("([A-Za-z_][A-Za-z0-9_]*)\\.[A-Za-z0-9_]*$");
    static const std::regex kAfterNew("(^|[^A-Za-z0-9_])new\\s+[A-Za-z0-9_]*$");
    std::smatch match;
    json items = json::array();
    if (std::regex_search(before, match, kAfterDot)) {
      ActionItems(document, LowerAscii(match[1].str()), &items);
    } else if (std::regex_search(before, match, kAfterNew)) {
      TypeItems(&items);
    } else {
      NameItems(document, &items);
    }
    return {{"isIncomplete", false}, {"items", items}};
  }

  const TypeDoc* TypeDocOf(const std::string& type) {
    return use_catalogue_ && !type.empty() ? catalogue_.Find(type) : nullptr;
  }

  void ActionItems(const Document& document, const std::string& variable, json* items) {
    const TypeDoc* type = TypeDocOf(document.outline->TypeOf(variable));
    if (type == nullptr) return;
    for (const ActionDoc& action : type->actions) {
      items->push_back(Item(action.name, kCompletionMethod, ActionSignature(action), action.description));
    }
  }

  void TypeItems(json* items) {
    if (!use_catalogue_) return;
    for (const std::string& name : catalogue_.Types()) {
      const TypeDoc* type = catalogue_.Find(name);
      std::string documentation = type ? type->description : "";
      if (type != nullptr && !type->constructor.empty()) documentation += "\n\n" + type->constructor;
      items->push_back(Item(name, kCompletionClass, "tester type", documentation));
    }
  }

  void NameItems(const Document& document, json* items) {
    for (const char* keyword : kKeywords) items->push_back(Item(keyword, kCompletionKeyword));
    for (const char* function : kBuiltIns) items->push_back(Item(function, kCompletionFunction, "built in"));
    for (const std::string& name : document.outline->FunctionNames()) {
      const Occurrence* definition = document.outline->Definition(LowerAscii(name));
      items->push_back(Item(name, kCompletionFunction, "function", DefinedAt(document, definition->place)));
    }
    for (const std::string& name : document.outline->VariableNames()) {
      items->push_back(Item(name, kCompletionVariable, "variable"));
    }
  }

  static std::string DefinedAt(const Document& document, const Place& place) {
    std::string file = place.file == kInMemory ? std::filesystem::path(document.path).filename().string() : place.file;
    return "defined on line " + std::to_string(place.line) + " of " + file;
  }

  // ---- what stands at a position ----------------------------------------------------------

  // The occurrence of the document at the request's position; null when none is there.
  const Occurrence* At(Document& document, const json& params) {
    std::uint32_t line = params.at("position").at("line").get<std::uint32_t>() + 1;
    if (line > document.lines.size()) return nullptr;
    const std::string& text = document.lines[line - 1];
    std::uint32_t byte = ByteColumn(text, params.at("position").at("character"));
    for (const Occurrence& occurrence : document.outline->occurrences()) {
      if (occurrence.place.line != line || UriOf(document, occurrence.place.file) != document.uri) continue;
      std::uint32_t start = NameStart(text, occurrence.place.column > 0 ? occurrence.place.column - 1 : 0, occurrence.name);
      if (byte >= start && byte <= start + occurrence.name.size()) return &occurrence;
    }
    return nullptr;
  }

  static bool SameSymbol(const Occurrence& a, const Occurrence& b) {
    auto group = [](Occurrence::Kind kind) {
      switch (kind) {
        case Occurrence::Kind::kFunctionCall:
        case Occurrence::Kind::kFunctionDefinition:
          return 0;
        case Occurrence::Kind::kVariableRead:
        case Occurrence::Kind::kVariableAssigned:
          return 1;
        default:
          return 2;
      }
    };
    return a.key == b.key && group(a.kind) == group(b.kind) && group(a.kind) != 2;
  }

  json Hover(const json& params) {
    Document& document = Find(params);
    const Occurrence* at = At(document, params);
    if (at == nullptr) return nullptr;
    std::string text;
    if (at->kind == Occurrence::Kind::kAction) {
      text = ActionHover(document, *at);
    } else if (at->kind == Occurrence::Kind::kType) {
      const TypeDoc* type = TypeDocOf(at->key);
      if (type != nullptr) text = "tester type **" + type->type + "**\n\n" + type->description;
    } else if (at->kind == Occurrence::Kind::kFunctionCall || at->kind == Occurrence::Kind::kFunctionDefinition) {
      const Occurrence* definition = document.outline->Definition(at->key);
      text = "function **" + at->name + "**, " +
             (definition ? DefinedAt(document, definition->place) : std::string("not defined in this script"));
    } else {
      text = VariableHover(document, *at);
    }
    if (text.empty()) return nullptr;
    return {{"contents", {{"kind", "markdown"}, {"value", text}}}};
  }

  std::string ActionHover(const Document& document, const Occurrence& action) {
    const TypeDoc* type = TypeDocOf(document.outline->TypeOf(action.object));
    if (type == nullptr) return "";
    for (const ActionDoc& doc : type->actions) {
      if (LowerAscii(doc.name) == action.key) {
        return "`" + type->type + "." + ActionSignature(doc) + "`\n\n" + doc.description;
      }
    }
    return "";
  }

  std::string VariableHover(const Document& document, const Occurrence& variable) {
    std::string lines;
    for (const Occurrence& occurrence : document.outline->occurrences()) {
      if (occurrence.kind == Occurrence::Kind::kVariableAssigned && occurrence.key == variable.key) {
        lines += (lines.empty() ? "" : ", ") + std::to_string(occurrence.place.line);
      }
    }
    std::string type = document.outline->TypeOf(variable.key);
    std::string text = "variable **" + variable.name + "**";
    if (!type.empty()) text += " (tester type " + type + ")";
    return text + (lines.empty() ? ", assigned by no statement of the script" : ", assigned on line " + lines);
  }

  json Definition(const json& params) {
    Document& document = Find(params);
    json include = IncludeAt(document, params);
    if (!include.is_null()) return include;
    const Occurrence* at = At(document, params);
    if (at == nullptr) return nullptr;
    for (const Occurrence& occurrence : document.outline->occurrences()) {
      bool defines = occurrence.kind == Occurrence::Kind::kFunctionDefinition ||
                     occurrence.kind == Occurrence::Kind::kVariableAssigned;
      if (defines && SameSymbol(occurrence, *at)) return Location(document, occurrence.place, occurrence.name);
    }
    return nullptr;
  }

  // The file an include statement on the request's line names. The loader puts the included
  // statements in the include's place, so the statement itself is read from the line.
  json IncludeAt(const Document& document, const json& params) {
    std::uint32_t line = params.at("position").at("line").get<std::uint32_t>();
    if (line >= document.lines.size()) return nullptr;
    static const std::regex kInclude("^\\s*include\\s+\"([^\"#]*)[^\"]*\"");
    std::smatch match;
    if (!std::regex_search(document.lines[line], match, kInclude)) return nullptr;
    std::filesystem::path path(match[1].str());
    if (path.is_relative()) path = std::filesystem::path(document.directory) / path;
    return {{"uri", PathToUri(path.lexically_normal().string())},
            {"range", {{"start", {{"line", 0}, {"character", 0}}}, {"end", {{"line", 0}, {"character", 0}}}}}};
  }

  json References(const json& params) {
    Document& document = Find(params);
    const Occurrence* at = At(document, params);
    json locations = json::array();
    if (at == nullptr) return locations;
    for (const Occurrence& occurrence : document.outline->occurrences()) {
      if (SameSymbol(occurrence, *at)) locations.push_back(Location(document, occurrence.place, occurrence.name));
    }
    return locations;
  }

  json Symbols(const json& params) {
    Document& document = Find(params);
    json symbols = json::array();
    auto add = [&](const std::string& name, const Place& place, int kind) {
      if (UriOf(document, place.file) != document.uri) return;
      json range = NameRange(document, place, name);
      symbols.push_back({{"name", name}, {"kind", kind}, {"range", range}, {"selectionRange", range}});
    };
    for (const Occurrence& occurrence : document.outline->occurrences()) {
      if (occurrence.kind == Occurrence::Kind::kFunctionDefinition) add(occurrence.name, occurrence.place, kSymbolFunction);
    }
    for (const NamedResult& result : document.outline->results()) add(result.name, result.place, kSymbolEvent);
    return symbols;
  }

  editor::MessageWriter writer_;
  std::unique_ptr<InstalledTesters> testers_;
  std::unique_ptr<ScriptChecker> checker_;
  TesterCatalogue catalogue_;
  bool use_catalogue_ = false;
  std::map<std::string, Document> documents_;
  std::map<std::string, std::vector<std::string>> files_;  // lines of included files, by path
  bool shut_down_ = false;
};

int Lsp(const std::vector<std::string>& args) {
  ParsedArguments arguments;
  if (int status = ParseOrExit(kSyntax, args, &arguments); status >= 0) return status;
  if (!arguments.operands().empty()) return UsageError(kSyntax, "unexpected argument '" + arguments.operands()[0] + "'");
  TesterUse testers = arguments.Has("--no-testers") ? TesterUse::kSkip : TesterUse::kLoad;
  LanguageServer server(testers);
  return server.Serve();
}

const CommandRegistration kRegistration({"lsp", "serve editors as a language server over stdin/stdout", &Lsp});

}  // namespace

}  // namespace ordalis::cli
