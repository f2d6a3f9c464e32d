// ordalis proxy: serves one script over a communication link until interrupted. A peer (for
// example `ordalis remote`) connects, sends script statements and reads the log and the result.

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "command.h"
#include "option_table.h"
#include "settings_warnings.h"
#include "interrupts.h"
#include "platform/text.h"
#include "proxy/proxy_settings.h"
#include "proxy/script_proxy.h"
#include "remote_control.h"
#include "settings/application_manager.h"

namespace ordalis::cli {
namespace {

const char kDescription[] =
    "Serves one script over a communication link until interrupted (Ctrl-C). A peer sends\n"
    "commands (connect, script:STATEMENTS, variable:NAME, abort, disconnect) and receives\n"
    "replies, the script's log lines and its result; `ordalis remote` is such a peer. The\n"
    "script's log lines and the link's status are printed here as well.\n"
    "\n"
    "TYPE        tcp, tcppkt, udp, rs232, rs232pkt, visa, loopback, process\n"
    "PARAMETERS  the link's parameters as script literals separated by commas:\n"
    "              tcp  5025                   listen on port 5025 (0: any free port)\n"
    "              tcp  \"station7\", 5025       connect out to a peer that listens\n"
    "              udp  5025[, \"host\"[, 5026]]\n"
    "              rs232 3, 9600\n";

const char kDetails[] =
    "With a TCP server link, the port actually listened on is printed as\n"
    "\"ordalis proxy: listening on port N\".\n"
    "\n"
    "Exit status: 0 after an interrupt, 1 when the link cannot be opened, 2 for a usage error,\n"
    "a refused link, a settings file that cannot be read or one --save cannot write.\n";

const CommandSyntax kSyntax{
    "proxy",
    "TYPE PARAMETERS [OPTIONS]\n       ordalis proxy --settings FILE [OPTIONS]",
    kDescription,
    {
        KeyOption("encrypt the traffic under the key phrase KEY"),
        CipherOption("chacha20-poly1305 (default): authenticated frames under a session key agreed per "
                     "connection; forged, altered or replayed commands never run. A TCP server drops a peer "
                     "that has not shown the key within 10 seconds, or when another peer connects first, so it "
                     "cannot hold the connection. rc4: the old framing, for old peers; it only obscures the "
                     "traffic"),
        {"--insecure", 0, nullptr,
         "serve a network link (a TCP server or UDP) without an authenticated key: any peer that reaches "
         "the port may then run scripts with this station's testers. Without this option such a link is "
         "refused"},
        {"--settings", 0, "FILE", "take the link, its parameters and key from a proxy settings file"},
        {"--save", 0, "FILE", "write the link settings to a proxy settings file"},
        {"--bind", 0, "ADDRESS",
         "a TCP server or UDP link listens on this local address only (for example 127.0.0.1); default: "
         "every address"},
        {"--results-dir", 0, "DIR",
         "write the results of runs into DIR (default ./Results, or beside the settings file)"},
        LinkLogLevelOption(),
        {"--pace", 0, nullptr, "keep the pauses that pace graphical clients"},
    },
    kDetails};

struct Options : LinkOptions {
  bool insecure = false;
  std::string settings;
  std::string save;
  std::string results_dir;
  std::string bind;
  bool pace = false;
};

bool Fail(const std::string& message) {
  std::fprintf(stderr, "ordalis proxy: %s\n", message.c_str());
  return false;
}

// Reads the command line into [options]: the exit status to end with after help or a usage
// error, else -1.
int ParseOptions(const std::vector<std::string>& args, Options* options) {
  ParsedArguments arguments;
  if (int status = ParseOrExit(kSyntax, args, &arguments); status >= 0) return status;
  if (std::string problem = ReadLinkOptions(arguments, options); !problem.empty()) return UsageError(kSyntax, problem);
  options->insecure = arguments.Has("--insecure");
  options->settings = arguments.Value("--settings");
  options->save = arguments.Value("--save");
  options->results_dir = arguments.Value("--results-dir");
  options->bind = arguments.Value("--bind");
  options->pace = arguments.Has("--pace");
  const std::vector<std::string>& operands = arguments.operands();
  if (options->settings.empty()) {
    std::string problem = ReadLinkOperands(operands, options);
    if (operands.size() < 2) problem = "give TYPE and PARAMETERS, or --settings FILE";
    return problem.empty() ? -1 : UsageError(kSyntax, problem);
  }
  if (!operands.empty()) return UsageError(kSyntax, "--settings takes the place of TYPE and PARAMETERS");
  return -1;
}

// Reads the settings file into [options] (the command line's --key and --cipher win).
bool ReadSettingsFile(Options* options) {
  std::ifstream in(options->settings, std::ios::binary);
  if (!in) return Fail("cannot open the settings file '" + options->settings + "'");
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ProxySettings settings;
  std::string error;
  SettingsRead read = ReadProxySettings(bytes, &settings, &error);
  if (read == SettingsRead::kOldVersion) {
    return Fail("the settings file has version " + std::to_string(settings.version) + ", expecting version 1 or later");
  }
  if (read == SettingsRead::kDamaged) return Fail("the settings file cannot be read: " + error);
  options->type = settings.type;
  options->parameters = settings.parameters;
  if (!options->has_key) {
    options->key = settings.key;
    options->cipher = settings.cipher;
  }
  return true;
}

// A network server needs the authenticated cipher unless the user accepts the exposure.
bool Acceptable(const Options& options) {
  bool authenticated = options.cipher == CipherMode::kChaCha20Poly1305 && !options.key.empty();
  if (authenticated || options.insecure || !IsNetworkServer(options.type, options.parameters)) return true;
  return Fail("refusing to serve a " + options.type + " server without an authenticated key: any peer "
              "that reaches the port could run scripts with this station's testers. Give --key KEY "
              "(with the default cipher chacha20-poly1305), or --insecure to serve it anyway");
}

// Wakes the main thread on every status line, so it can read the port a server listens on.
class StatusWatcher : public ITraceEventsClient {
 public:
  explicit StatusWatcher(LoggingLevel level) : printer_(level) {}
  void Log(std::int64_t time, double seconds, LoggingLevel level, const std::string& variable_name,
           const std::string& message) override {
    printer_.Log(time, seconds, level, variable_name, message);
    if (variable_name == "proxy") status_.Set();
  }
  void LogClear() override {}
  Event& status() { return status_; }

 private:
  LogLinePrinter printer_;
  Event status_{EventReset::kAuto};
};

// Prints the port a TCP server listens on, once the link knows it.
void ReportPort(const Options& options, CScriptProxy& proxy, StatusWatcher& watcher) {
  bool tcp = EqualsIgnoringCase(options.type, "tcp") || EqualsIgnoringCase(options.type, "tcppkt");
  if (!tcp || !IsNetworkServer(options.type, options.parameters)) return;
  for (int changes = 0; changes < 50; ++changes) {
    if (std::uint16_t port = proxy.ListeningPort()) {
      std::printf("ordalis proxy: listening on port %u\n", port);
      std::fflush(stdout);
      return;
    }
    if (!watcher.status().Wait(2000)) return;
  }
}

// Opens the link from the command line, or from the settings file (whose results then go
// beside it) with the command line's key, if any, laid over the file's.
bool OpenLink(CScriptProxy& proxy, const Options& options) {
  if (options.settings.empty()) {
    proxy.SetCipher(options.cipher);
    proxy.put_EncryptionKey(options.key);
    return Succeeded(proxy.SetSerialParameters(options.type, options.parameters));
  }
  if (Failed(proxy.Load(options.settings)) || proxy.LinkStatus().empty()) return false;
  if (options.has_key) {
    proxy.SetCipher(options.cipher);
    proxy.put_EncryptionKey(options.key);
  }
  return true;
}

int Serve(const Options& options, sigset_t interrupts) {
  ISerial::SetDefaultKeyChangeWait(0);
  Pacing pacing = options.pace ? Pacing() : Pacing{0, 0, 0};
  std::shared_ptr<CScriptProxy> proxy = CScriptProxy::Create(std::make_shared<CApplicationManager>(), pacing);
  auto watcher = std::make_shared<StatusWatcher>(options.level);
  proxy->SetLocalLog(watcher);
  if (!options.bind.empty()) proxy->SetBindAddress(options.bind);
  std::shared_ptr<IScript> script;
  proxy->get_Script(&script);
  if (!options.results_dir.empty()) {
    if (auto item = std::dynamic_pointer_cast<IBatchQueueItem2>(script)) item->put_ResultsDirectory(options.results_dir);
  }
  if (!OpenLink(*proxy, options)) {
    std::fprintf(stderr, "ordalis proxy: could not open the %s link with parameters '%s'\n", options.type.c_str(),
                 options.parameters.c_str());
    return 1;
  }
  if (!options.save.empty() && Failed(proxy->SaveAs(options.save))) {
    std::fprintf(stderr, "ordalis proxy: could not write the settings file '%s'\n", options.save.c_str());
    return 2;
  }
  std::printf("ordalis proxy: serving a script over %s %s (%s)\n", options.type.c_str(), options.parameters.c_str(),
              options.key.empty() ? "not encrypted" : CipherName(options.cipher));
  std::fflush(stdout);
  ReportPort(options, *proxy, *watcher);
  int signal = 0;
  sigwait(&interrupts, &signal);
  std::printf("ordalis proxy: stopping\n");
  std::fflush(stdout);
  proxy.reset();
  return 0;
}

int RunProxy(const std::vector<std::string>& args) {
  Options options;
  if (int status = ParseOptions(args, &options); status >= 0) return status;
  if (!options.settings.empty() && !ReadSettingsFile(&options)) return 2;
  LinkParameters parameters;
  if (!ParseLinkParameterText(options.parameters, &parameters)) {
    std::fprintf(stderr, "ordalis proxy: the parameters '%s' are not script literals\n", options.parameters.c_str());
    return 2;
  }
  if (!Acceptable(options)) return 2;
  WarnOfUnreadableSettings("proxy");
  return Serve(options, BlockInterrupts());
}

const CommandRegistration kRegistration({"proxy", "serve a script to a remote peer over a link", RunProxy});

}  // namespace
}  // namespace ordalis::cli
