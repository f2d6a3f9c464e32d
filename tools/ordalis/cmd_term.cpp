// ordalis term: a terminal on a communication link. Opens a link of the named type with its
// parameters written as script literals, copies standard input to the link and what arrives to
// standard output, and shows status changes on standard error.

#include <poll.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "command.h"
#include "remote_control.h"
#include "links/descriptor.h"
#include "links/packet_serial.h"
#include "links/rs232.h"
#include "links/serial.h"
#include "links/serial_creator.h"
#include "platform/text.h"

namespace ordalis::cli {

namespace {

constexpr int kDefaultLingerMs = 1000;

static_assert(kDefaultLingerMs == 1000, "the help of --linger names the default");

const CommandSyntax kSyntax{
    "term",
    "TYPE PARAMETERS [--key KEY [--cipher NAME]] [--linger MS]",
    "Opens a communication link and connects it to this terminal: standard input goes\n"
    "to the link, what arrives goes to standard output, status changes and line\n"
    "events go to standard error.\n"
    "\n"
    "TYPE        rs232, rs-232, rs232pkt, rs-232pkt, tcp, tcppkt, udp, visa, loopback,\n"
    "            process (case does not matter)\n"
    "PARAMETERS  the link's parameters as script literals separated by commas:\n"
    "            integers, doubles, \"double-quoted texts\", true, false; '' for none\n"
    "              tcp     5025                 listen on port 5025\n"
    "              tcp     \"localhost\", 5025    connect to a server\n"
    "              udp     5025[, \"host\"[, 5026]]\n"
    "              rs232   3, 9600[, \"CTS\"]     /dev/ttyS2 at 9600 baud\n"
    "              rs232   \"/dev/ttyUSB0\", 115200, \"None\"\n"
    "              visa    \"GPIB0::1::INSTR\"\n",
    {
        KeyOption("encrypt the traffic under the key phrase KEY"),
        CipherOption("rc4 (default here, the old framing) or chacha20-poly1305 (authenticated frames, as "
                     "`ordalis proxy` uses by default)"),
        {"--linger", 0, "MS",
         "after standard input ends, keep showing what arrives for MS milliseconds (default 1000)"},
    },
    "A status the link repeats while it retries is shown once; a status that ends in a\n"
    "system error number is followed by its reason.\n"
    "\n"
    "While the link's send queue is full (a peer that does not read), standard input\n"
    "is not read further.\n"
    "\n"
    "Exit status: 0 success, 1 the link could not be opened or never came up (the\n"
    "last status is shown), 2 usage error.\n"};

// Reads one double-quoted text starting at [at] (on the opening quote).
bool ParseQuoted(const std::string& text, std::size_t& at, std::string& out, std::string& error) {
  for (++at; at < text.size(); ++at) {
    char c = text[at];
    if (c == '"') {
      ++at;
      return true;
    }
    if (c == '\\' && at + 1 < text.size()) {
      char next = text[++at];
      switch (next) {
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case 'r': out += '\r'; break;
        default: out += next; break;  // \" and \\ and anything else stand for themselves
      }
      continue;
    }
    out += c;
  }
  error = "unterminated text";
  return false;
}

// Reads one number: an integer when it has no point or exponent and fits 32 bits, otherwise a
// double.
bool ParseNumber(const std::string& text, std::size_t& at, Variant& out, std::string& error) {
  const char* start = text.c_str() + at;
  char* end = nullptr;
  errno = 0;
  long long integer = std::strtoll(start, &end, 10);
  bool is_integer = end != start && errno == 0 && integer >= INT32_MIN && integer <= INT32_MAX &&
                    *end != '.' && *end != 'e' && *end != 'E';
  if (is_integer) {
    out = Variant::Int(static_cast<std::int32_t>(integer));
    at += static_cast<std::size_t>(end - start);
    return true;
  }
  errno = 0;
  double number = std::strtod(start, &end);
  if (end == start || !std::isfinite(number)) {
    error = "not a value at '" + text.substr(at) + "'";
    return false;
  }
  out = Variant::Double(number);
  at += static_cast<std::size_t>(end - start);
  return true;
}

bool MatchWord(const std::string& text, std::size_t at, const char* word) {
  if (!StartsWithIgnoringCase(std::string_view(text).substr(at), word)) return false;
  std::size_t length = std::strlen(word);
  return at + length == text.size() || !std::isalnum(static_cast<unsigned char>(text[at + length]));
}

// Parses link parameters written as script literals: integers, doubles, double-quoted texts,
// true and false, separated by commas. An empty text is an empty list.
bool ParseParameters(const std::string& text, LinkParameters& out, std::string& error) {
  std::size_t at = 0;
  auto skip_space = [&] {
    while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) ++at;
  };
  skip_space();
  if (at == text.size()) return true;
  for (;;) {
    skip_space();
    if (at == text.size()) {
      error = "a value is missing after the last comma";
      return false;
    }
    char c = text[at];
    if (c == '"') {
      std::string value;
      if (!ParseQuoted(text, at, value, error)) return false;
      out.push_back(Variant::String(value));
    } else if (MatchWord(text, at, "true") || MatchWord(text, at, "false")) {
      bool value = MatchWord(text, at, "true");
      out.push_back(Variant::Bool(value));
      at += value ? 4 : 5;
    } else if (c == '[') {
      error = "arrays are not link parameters";
      return false;
    } else {
      Variant value;
      if (!ParseNumber(text, at, value, error)) return false;
      out.push_back(value);
    }
    skip_space();
    if (at == text.size()) return true;
    if (text[at] != ',') {
      error = "expected a comma at '" + text.substr(at) + "'";
      return false;
    }
    ++at;
  }
}

// " (reason)" for a status text that ends in "error N" with N a system error number, so
// "Connection error 111" reads "Connection error 111 (Connection refused)"; empty otherwise.
std::string SystemReason(const std::string& status) {
  std::size_t at = status.rfind("error ");
  if (at == std::string::npos) return "";
  char* end = nullptr;
  long number = std::strtol(status.c_str() + at + 6, &end, 10);
  if (end == status.c_str() + at + 6 || number <= 0 || number > 4095) return "";
  return " (" + std::string(std::strerror(static_cast<int>(number))) + ")";
}

// Shows what the link reports; remembers whether the link ever came up, its last status, and
// when a link that does not come back went offline. A status a retrying link repeats is shown
// once until the link comes up again.
class TerminalClient : public ISerialClient {
 public:
  explicit TerminalClient(bool ends_when_offline) : ends_when_offline_(ends_when_offline) {}

  void Received(ISerial*, const std::uint8_t* bytes, std::size_t length) override {
    if (length == 0) return;  // an empty message prints nothing
    std::lock_guard lock(output_mutex_);
    std::fwrite(bytes, 1, length, stdout);
    // The terminal is its standard output: once no one reads it (`| head`), the session ends.
    if (std::fflush(stdout) != 0 && errno == EPIPE) ended_.Set();
  }
  void Sent(ISerial*, const std::uint8_t*, std::size_t) override {}
  void Connected(ISerial*) override {
    std::lock_guard lock(output_mutex_);
    came_up_ = true;
    shown_.clear();
  }
  void Disconnected(ISerial*) override {
    if (ends_when_offline_) ended_.Set();
  }
  void LineEvent(ISerial*, int code) override {
    if (code == kLineReceivedCharacter || code == kLineTransmitEmpty) return;  // every byte has them
    std::lock_guard lock(output_mutex_);
    std::fprintf(stderr, "[line event %d]\n", code);
  }
  void StatusChanged(ISerial* link) override {
    std::string status = link->Status();
    std::lock_guard lock(output_mutex_);
    last_status_ = status;
    if (!SystemReason(status).empty()) last_problem_ = status;
    if (!shown_.insert(status).second) return;
    std::fprintf(stderr, "[%s%s]\n", status.c_str(), SystemReason(status).c_str());
  }
  void FrameRejected(ISerial*, const std::string& reason) override {
    std::lock_guard lock(output_mutex_);
    std::fprintf(stderr, "[refused %s]\n", reason.c_str());
  }

  const WakeSignal& ended() const { return ended_; }
  bool came_up() const {
    std::lock_guard lock(output_mutex_);
    return came_up_;
  }
  // The last status that named a system error, else the last status.
  std::string last_status() const {
    std::lock_guard lock(output_mutex_);
    return last_problem_.empty() ? last_status_ : last_problem_;
  }

 private:
  const bool ends_when_offline_;
  mutable std::mutex output_mutex_;
  bool came_up_ = false;
  std::string last_status_;
  std::string last_problem_;
  std::set<std::string> shown_;
  WakeSignal ended_;
};

struct TermOptions {
  std::string type;
  std::string parameters;
  std::string key;
  bool has_key = false;
  CipherMode cipher = CipherMode::kRc4;
  int linger_ms = kDefaultLingerMs;
};

// Reads the command line into [options]: the exit status to end with after help or a usage
// error, else -1.
int ParseTermArguments(const std::vector<std::string>& args, TermOptions& options) {
  ParsedArguments arguments;
  if (int status = ParseOrExit(kSyntax, args, &arguments); status >= 0) return status;
  options.has_key = arguments.Has("--key");
  options.key = arguments.Value("--key");
  if (std::string cipher = arguments.Value("--cipher"); arguments.Has("--cipher") && !ParseCipherName(cipher, &options.cipher)) {
    return UsageError(kSyntax, "unknown cipher '" + cipher + "'");
  }
  if (arguments.Has("--linger")) {
    std::string text = arguments.Value("--linger");
    char* end = nullptr;
    long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < 0 || value > 3600000) return UsageError(kSyntax, "bad --linger '" + text + "'");
    options.linger_ms = static_cast<int>(value);
  }
  const std::vector<std::string>& operands = arguments.operands();
  if (operands.empty()) return UsageError(kSyntax, "give TYPE and PARAMETERS");
  if (operands.size() > 2) return UsageError(kSyntax, "too many arguments ('" + operands[2] + "')");
  options.type = operands[0];
  if (operands.size() == 2) options.parameters = operands[1];
  return -1;
}

// Sends [length] bytes, waiting while the link's send queue is full (standard input is not
// read meanwhile); false when the link ended for good or Close came.
bool SendWhenRoom(ISerial& link, const TerminalClient& client, const std::uint8_t* bytes, std::size_t length) {
  bool reported = false;
  while (!link.Send(bytes, length)) {
    if (client.ended().IsSet() || !link.IsOpen()) return false;
    if (!reported) {
      std::fprintf(stderr, "ordalis term: waiting for the peer to read (%s)\n", link.Status().c_str());
      reported = true;
    }
    link.WaitForSendRoom(length, std::chrono::seconds(1));
  }
  return true;
}

// Copies standard input to the link until it ends or the link ended for good.
void CopyInput(ISerial& link, const TerminalClient& client) {
  char buffer[4096];
  for (;;) {
    Readiness ready = WaitReady(STDIN_FILENO, POLLIN, client.ended());
    if (ready != Readiness::kReady) return;
    long got = ReadRetry(STDIN_FILENO, buffer, sizeof buffer);
    if (got <= 0) return;
    if (!SendWhenRoom(link, client, reinterpret_cast<const std::uint8_t*>(buffer), static_cast<std::size_t>(got))) {
      std::fprintf(stderr, "ordalis term: the link did not take the input\n");
      return;
    }
  }
}

// The reason a serial port did not open, as ": reason", or empty.
std::string OpenFailure(ISerial& link) {
  ISerial* port = &link;
  if (auto* packet = dynamic_cast<PacketSerial*>(port)) port = packet->inner();
  auto* rs232 = dynamic_cast<RS232*>(port);
  if (!rs232 || rs232->OpenError().empty()) return "";
  return ": " + rs232->OpenError();
}

int RunTerm(const std::vector<std::string>& args) {
  TermOptions options;
  if (int status = ParseTermArguments(args, options); status >= 0) return status;
  LinkParameters parameters;
  std::string error;
  if (!ParseParameters(options.parameters, parameters, error)) {
    std::fprintf(stderr, "ordalis term: bad parameters '%s': %s\n", options.parameters.c_str(), error.c_str());
    return 2;
  }
  bool process = EqualsIgnoringCase(options.type, "process");
  TerminalClient client(process);
  std::unique_ptr<ISerial> link = SerialCreator::Instance().Create(&client, options.type);
  if (!link) {
    std::fprintf(stderr, "ordalis term: unknown link type '%s' (see ordalis term --help)\n", options.type.c_str());
    return 2;
  }
  link->SetKeyChangeWait(0);
  if (options.has_key) link->SetEncryption(options.cipher, options.key);
  if (!link->Open(parameters)) {
    std::fprintf(stderr, "ordalis term: could not open the %s link with parameters '%s'%s\n",
                 options.type.c_str(), options.parameters.c_str(), OpenFailure(*link).c_str());
    return 1;
  }
  CopyInput(*link, client);
  if (options.linger_ms > 0) WaitWake(client.ended(), options.linger_ms);
  link->Close();
  if (!client.came_up()) {
    std::string status = client.last_status();
    std::fprintf(stderr, "ordalis term: the %s link never came up; its last status: %s%s\n",
                 options.type.c_str(), status.c_str(), SystemReason(status).c_str());
    return 1;
  }
  return 0;
}

const CommandRegistration kTerm({"term", "connect the terminal to a communication link", RunTerm});

}  // namespace

}  // namespace ordalis::cli
