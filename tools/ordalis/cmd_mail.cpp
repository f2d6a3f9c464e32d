// ordalis mail: show and change the mail settings used to send results (server, user name and
// password, default recipients). The password is never shown.

#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "command.h"
#include "settings_warnings.h"
#include "password_prompt.h"
#include "settings/manager.h"

namespace ordalis::cli {

namespace {

const CommandSyntax kSyntax{
    "mail",
    "\n"
    "       ordalis mail server NAME\n"
    "       ordalis mail auth USER\n"
    "       ordalis mail addresses LIST",
    "Shows or changes the mail settings that results are sent with.\n"
    "\n"
    "  server NAME       the mail server's name or address, optionally with \":port\"\n"
    "                    (port 25 otherwise); an empty NAME clears it\n"
    "  auth USER         the user name for AUTH LOGIN; the password is read from standard\n"
    "                    input (prompted for without echo on a terminal). An empty password\n"
    "                    clears the stored one; an empty USER turns authentication off.\n"
    "                    The password is stored encrypted and never shown.\n"
    "  addresses LIST    the default recipients: entries separated by \";\", each an address or\n"
    "                    a display name followed by an address in \"<\" and \">\", e.g.\n"
    "                    \"Team <team@example.com>;lead@example.com\"\n",
    {},
    "Changes go to the machine settings file when it can be written, otherwise to the user's.\n"
    "Exit status: 0 done, 1 refused or not written, 2 usage error.\n",
    1};

int Usage(const std::string& problem) { return UsageError(kSyntax, problem); }

int Show(const Manager& manager) {
  MailSettings mail = manager.Mail();
  std::printf("server: %s\n", mail.server_name.c_str());
  std::printf("user: %s\n", mail.user_name.c_str());
  std::printf("password: %s\n", mail.password.empty() ? "(none)" : "(set)");
  std::printf("addresses: %s\n", mail.email_addresses.c_str());
  return 0;
}

// Reads one line from standard input; on a terminal, prompts and turns echo off meanwhile.
int Report(const Manager& manager, Status status, const std::string& reason = "") {
  if (Succeeded(status)) return 0;
  std::string why = reason.empty() ? manager.LastError() : reason;
  std::fprintf(stderr, "ordalis mail: %s\n", why.empty() ? "the change failed" : why.c_str());
  return 1;
}

int Mail(const std::vector<std::string>& args) {
  ParsedArguments arguments;
  if (int status = ParseOrExit(kSyntax, args, &arguments); status >= 0) return status;
  const std::vector<std::string>& words = arguments.operands();
  Manager& manager = Manager::Instance();
  WarnOfUnreadableSettings("mail");
  if (words.empty()) return Show(manager);
  const std::string& verb = words[0];
  if (verb != "server" && verb != "auth" && verb != "addresses") {
    return Usage("unknown subcommand '" + verb + "'");
  }
  if (words.size() != 2) return Usage("'mail " + verb + "' takes one argument");
  const std::string& value = words[1];
  if (verb == "server") return Report(manager, manager.SetSmtpServerName(value));
  if (verb == "auth") return Report(manager, manager.SetSmtpAuthentication(value, ReadPassword()));
  std::string reason;
  return Report(manager, manager.SetEmailAddresses(value, &reason), reason);
}

const CommandRegistration kRegistration{{"mail", "show or change the mail settings", &Mail}};

}  // namespace

}  // namespace ordalis::cli
