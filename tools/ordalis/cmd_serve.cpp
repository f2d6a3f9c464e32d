// ordalis serve: the station's live view in the browser.

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "command.h"
#include "history/store_location.h"
#include "interrupts.h"
#include "option_table.h"
#include "report/run_history.h"
#include "station/station_server.h"

namespace ordalis::cli {
namespace {

namespace fs = std::filesystem;

const CommandSyntax kSyntax{
    "serve",
    "[OPTIONS]",
    "Serves the station's live view: open the printed address in a browser to start a script,\n"
    "watch its statements turn green and red as their results are recorded, read its log lines\n"
    "as they come (filtered by level), follow its named results, elapsed time and verdict, and\n"
    "pause, resume, step or stop it and set breakpoints. Several browsers see the same run.\n"
    "The History tab lists the station's runs from the results store with each script's pass\n"
    "rate per day and the flaky list ('ordalis history'), and opens each run's report. The\n"
    "Fleet tab lists every station writing to the results store (a fleet's shared PostgreSQL\n"
    "store) with its last run, verdict and pass rate.\n",
    {
        {"--listen", 0, "ADDR:PORT",
         "the address to listen on (default 127.0.0.1:8080; port 0 picks a free one)"},
        {"--results", 0, "DIR",
         "the results folder: runs started here write into it, its files are served read-only under "
         "/results/ (default ./Results)"},
        {"--results-db", 0, "STORE",
         "the results store the history comes from: a file, sqlite:FILE or postgresql://USER@HOST/DB "
         "(default: the settings key ResultsDatabase, else results.db in the results folder)"},
        {"--token", 0, "TEXT",
         "the token every request that changes anything must carry in the X-Ordalis-Token header "
         "(default: a new random one, printed)"},
        {"--cert", 0, "FILE", "serve over TLS with this PEM certificate (with --key)"},
        {"--key", 0, "FILE", "the certificate's PEM private key (with --cert)"},
    },
    "The printed address carries the token after '#', which the browser keeps to itself; the\n"
    "page sends it in the header. The server sends no cross-origin headers, refuses request\n"
    "bodies over 64 KiB and requests slower than 5 s, and on a loopback address answers only\n"
    "requests addressed to the loopback. A browser that reads slowly or not at all costs the\n"
    "run nothing: it is sent a fresh snapshot when it catches up.\n"
    "\n"
    "Ctrl-C stops a run in progress and the server.\n"
    "\n"
    "Exit status: 0 after Ctrl-C, 2 for a usage error, an address that cannot be listened on,\n"
    "a certificate that cannot be loaded or a results folder that cannot be made.\n"};

bool SplitListen(const std::string& text, station::StationOptions* options) {
  std::size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) return false;
  std::string host = text.substr(0, colon);
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  const std::string port = text.substr(colon + 1);
  if (port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos) return false;
  int number = std::stoi(port);
  if (number > 65535) return false;
  options->host = host;
  options->port = number;
  return true;
}

// Reads the command line into [options]: the exit status to end with after help or a usage
// error, else -1.
int ParseOptions(const std::vector<std::string>& args, station::StationOptions* options) {
  ParsedArguments arguments;
  if (int status = ParseOrExit(kSyntax, args, &arguments); status >= 0) return status;
  if (!arguments.operands().empty()) return UsageError(kSyntax, "unexpected argument '" + arguments.operands()[0] + "'");
  if (arguments.Has("--listen") && !SplitListen(arguments.Value("--listen"), options)) {
    return UsageError(kSyntax, "--listen needs ADDR:PORT, got '" + arguments.Value("--listen") + "'");
  }
  options->results_folder = arguments.Value("--results", options->results_folder);
  options->store = arguments.Value("--results-db", options->store);
  options->token = arguments.Value("--token", options->token);
  options->certificate = arguments.Value("--cert", options->certificate);
  options->private_key = arguments.Value("--key", options->private_key);
  if (options->certificate.empty() != options->private_key.empty()) {
    return UsageError(kSyntax, "--cert and --key go together");
  }
  return -1;
}

// Makes the results folder and gives its full path; false after printing why it cannot.
bool PrepareFolder(station::StationOptions* options) {
  if (options->results_folder.empty()) options->results_folder = "Results";
  std::error_code error;
  fs::create_directories(options->results_folder, error);
  fs::path full = fs::canonical(options->results_folder, error);
  if (error) {
    std::fprintf(stderr, "ordalis serve: cannot make the results folder %s: %s\n",
                 options->results_folder.c_str(), error.message().c_str());
    return false;
  }
  options->results_folder = full.string();
  return true;
}

bool CheckStore(const station::StationOptions& options) {
  history::StoreLocation location;
  std::string problem;
  if (history::ParseStoreLocation(report::StoreText(options.store), options.results_folder, &location, &problem)) {
    return true;
  }
  std::fprintf(stderr, "ordalis serve: --results-db: %s\n", problem.c_str());
  return false;
}

int ServeCommand(const std::vector<std::string>& args) {
  station::StationOptions options;
  if (int status = ParseOptions(args, &options); status >= 0) return status;
  if (!PrepareFolder(&options) || !CheckStore(options)) return 2;
  const bool token_given = !options.token.empty();
  if (!token_given) options.token = station::NewToken();
  report::HistoryContext history;
  history.store = options.store;
  report::SetDefaultHistoryContext(history);
  sigset_t interrupt_signals = BlockInterrupts();
  station::StationServer server(options);
  std::string problem;
  if (!server.Bind(&problem)) {
    std::fprintf(stderr, "ordalis serve: %s\n", problem.c_str());
    return 2;
  }
  InterruptWatcher interrupts(interrupt_signals, "ordalis serve: stopping", [&server] { server.Stop(); });
  const bool v6 = options.host.find(':') != std::string::npos;
  std::string address = std::string(options.certificate.empty() ? "http" : "https") + "://" +
                        (v6 ? "[" + options.host + "]" : options.host) + ":" + std::to_string(server.port()) + "/";
  std::printf("Station view: %s#token=%s\n", address.c_str(), options.token.c_str());
  if (!token_given) std::printf("Token (for X-Ordalis-Token): %s\n", options.token.c_str());
  std::printf("Results: %s\n", options.results_folder.c_str());
  std::fflush(stdout);
  server.Serve();
  return 0;
}

const CommandRegistration kRegistration({"serve", "serve the station's live view and history to a browser",
                                         ServeCommand});

}  // namespace
}  // namespace ordalis::cli
