// ordalis mail test: sends a short test message with the mail settings results are sent with,
// or with a server and user given on the command line, and prints what the server said.

#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "command.h"
#include "settings_warnings.h"
#include "password_prompt.h"
#include "mail/mail_message.h"
#include "mail/results_mail.h"
#include "mail/smtp.h"
#include "settings/manager.h"

namespace ordalis::cli {

namespace {

const CommandSyntax kSyntax{
    "mail test",
    "[ADDRESSES] [--server HOST[:PORT]] [--user USER]\n"
    "                         [--from ADDRESS] [--timeout SECONDS]",
    "Sends a short test message and prints the server's last reply, or the error.\n"
    "\n"
    "  ADDRESSES          recipients: entries separated by \";\", each an address or a display\n"
    "                     name followed by an address in \"<\" and \">\"; the stored default\n"
    "                     recipients when left out\n",
    {
        {"--server", 0, "HOST[:PORT]", "the mail server; the stored one when left out (port 25 unless given)"},
        {"--user", 0, "USER",
         "log in as USER; the password is taken from ORDALIS_SMTP_PASSWORD or read from standard input. An "
         "empty USER sends without logging in. Left out: the stored user name and password."},
        {"--from", 0, "ADDRESS", "the sender (default ordalis@localhost)"},
        {"--timeout", 0, "SECONDS", "longest wait for the server at each step (default 60)"},
    },
    "Exit status: 0 sent, 1 the server could not be reached or refused the message,\n"
    "2 usage error.\n"};

struct Options {
  std::optional<std::string> addresses;
  std::optional<std::string> server;
  std::optional<std::string> user;
  std::string from{kResultsMailSender};
  std::chrono::milliseconds timeout = CSMTP::kDefaultTimeout;
};

// Reads the command line into [options]: the exit status to end with after help or a usage
// error, else -1.
int ParseOptions(const std::vector<std::string>& args, Options* options) {
  ParsedArguments arguments;
  if (int status = ParseOrExit(kSyntax, args, &arguments); status >= 0) return status;
  if (arguments.Has("--server")) options->server = arguments.Value("--server");
  if (arguments.Has("--user")) options->user = arguments.Value("--user");
  options->from = arguments.Value("--from", options->from);
  if (arguments.Has("--timeout")) {
    std::string text = arguments.Value("--timeout");
    char* end = nullptr;
    double seconds = std::strtod(text.c_str(), &end);
    if (*end != '\0' || !(seconds > 0) || seconds > 86400) return UsageError(kSyntax, "bad --timeout value");
    options->timeout = std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
  }
  const std::vector<std::string>& operands = arguments.operands();
  if (operands.size() > 1) return UsageError(kSyntax, "more than one address list");
  if (!operands.empty()) options->addresses = operands[0];
  return -1;
}

// The password for a user named on the command line: from the environment, else one line of
// standard input (prompted for without echo on a terminal).
std::string PasswordForUser() {
  if (const char* from_environment = std::getenv("ORDALIS_SMTP_PASSWORD")) return from_environment;
  return ReadPassword();
}

std::string HostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "this machine";
  return name;
}

// A server reply for the terminal: line ends without their CR.
std::string Printable(std::string reply) {
  std::erase(reply, '\r');
  return reply;
}

// Prints why sending failed: the client's error text and, when the server could not be
// reached, the server, the port and the system's reason.
int Fail(const CSMTP& smtp) {
  std::fprintf(stderr, "ordalis mail test: %s\n", smtp.GetLastError().c_str());
  if (!smtp.ConnectFailure().empty()) {
    std::fprintf(stderr, "ordalis mail test: server %s port %u: %s\n", smtp.server_name().c_str(),
                 static_cast<unsigned>(smtp.port()), smtp.ConnectFailure().c_str());
  }
  if (!smtp.LastReply().empty()) {
    std::fprintf(stderr, "server said: %s", Printable(smtp.LastReply()).c_str());
  }
  return 1;
}

int MailTest(const std::vector<std::string>& args) {
  Options options;
  if (int status = ParseOptions(args, &options); status >= 0) return status;

  WarnOfUnreadableSettings("mail test");
  settings::MailSettings stored = Manager::Instance().Mail();
  std::string server_name = options.server.value_or(stored.server_name);
  std::string addresses = options.addresses.value_or(stored.email_addresses);
  std::string user = options.user.value_or(stored.user_name);
  std::string password = options.user ? (user.empty() ? "" : PasswordForUser()) : stored.password;
  if (server_name.empty())
    return UsageError(kSyntax, "no mail server: give --server or store one with 'ordalis mail server'");

  CMailMessage message;
  if (!message.AddMultipleRecipients(addresses)) {
    return UsageError(kSyntax, "the address list has a '<' without a closing '>'");
  }
  if (message.RecipientCount() == 0)
    return UsageError(kSyntax, "no recipients: give ADDRESSES or store them with 'ordalis mail addresses'");
  std::optional<MailServerAddress> address = SplitServerName(server_name);
  if (!address) return UsageError(kSyntax, "bad mail server name '" + server_name + "'");

  message.set_from(options.from);
  message.set_subject("Ordalis test message");
  message.set_body("This is a test message sent by 'ordalis mail test' on " + HostName() + ".\n");
  CSMTP smtp(address->host, address->port);
  smtp.SetTimeout(options.timeout);
  if (!smtp.Connect(user, password)) return Fail(smtp);
  if (!smtp.SendMessage(message)) return Fail(smtp);
  for (const std::string& refused : smtp.RefusedRecipients()) {
    std::fprintf(stderr, "ordalis mail test: recipient refused: %s\n", refused.c_str());
  }
  std::printf("%s", Printable(smtp.LastReply()).c_str());
  smtp.Disconnect();
  return 0;
}

const CommandRegistration kRegistration{
    {"mail test", "send a test message with the mail settings", &MailTest}};

}  // namespace

}  // namespace ordalis::cli
