// ordalis remote: the peer side of the script proxy. Connects to an `ordalis proxy` (or any
// script proxy) over a link, sends commands and prints the replies, log lines and results.

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "command.h"
#include "links/frame_reader.h"
#include "links/serial_creator.h"
#include "proxy/proxy_messages.h"
#include "remote_control.h"
#include "trace/script_log.h"

namespace ordalis::cli {
namespace {

using namespace std::chrono_literals;

constexpr int kDefaultTimeoutSeconds = 300;

const char kDescription[] =
    "Drives a script served by a script proxy (`ordalis proxy`) over a communication link.\n"
    "Interactive: each line read from standard input is sent as one command and its answer\n"
    "is waited for; replies, the script's log lines and its results are printed as they come:\n"
    "  connect            start a fresh remote script (reply OK)\n"
    "  script:STATEMENTS  append statements and run them (the result word follows: passed,\n"
    "                     failed, notimplemented, warning, error, notrun, aborted)\n"
    "  variable:NAME      the value of a script variable\n"
    "  abort              abort the script\n"
    "  disconnect         stop the script; its run ends and its results are written\n"
    "\n"
    "TYPE        tcp, tcppkt, udp, rs232, rs232pkt, visa, loopback, process\n"
    "PARAMETERS  the link's parameters as script literals separated by commas, for example\n"
    "            tcp '\"station7\", 5025' to reach a proxy listening on port 5025\n";

const char kDetails[] =
    "Without a key, on a stream link (tcp, rs232, process) each command goes framed (its\n"
    "32-bit big-endian length first), so the proxy takes a long script whole however the\n"
    "stream cuts it; a proxy that does not know framed commands ignores them.\n"
    "\n"
    "Exit status: 0 success (with --run: the script passed), 1 a failed script, an error\n"
    "reply, a refused frame or a time-out, 2 for a usage error or a file that cannot be read.\n";

const CommandSyntax kSyntax{
    "remote",
    "TYPE PARAMETERS [OPTIONS]",
    kDescription,
    {
        {"--run", 0, "FILE",
         "send connect, the statements of FILE and disconnect; exit 0 when the result is passed, 1 "
         "otherwise. A FILE longer than one message of a message link carries (udp: 65507 bytes, tcppkt "
         "and rs232pkt: 32763, less the key's framing) is refused with exit status 2"},
        KeyOption("the key phrase the proxy uses"),
        CipherOption("chacha20-poly1305 (default) or rc4, as the proxy uses"),
        {"--timeout", 0, "SECONDS", "how long to wait for the connection and for each answer (default 300)"},
        LinkLogLevelOption(),
    },
    kDetails};

struct Options : LinkOptions {
  std::string run;
  int timeout_seconds = kDefaultTimeoutSeconds;
};

bool Fail(const std::string& message) {
  std::fprintf(stderr, "ordalis remote: %s\n", message.c_str());
  return false;
}

// Reads the command line into [options]: the exit status to end with after help or a usage
// error, else -1.
int ParseOptions(const std::vector<std::string>& args, Options* options) {
  ParsedArguments arguments;
  if (int status = ParseOrExit(kSyntax, args, &arguments); status >= 0) return status;
  if (std::string problem = ReadLinkOptions(arguments, options); !problem.empty()) return UsageError(kSyntax, problem);
  options->run = arguments.Value("--run");
  if (arguments.Has("--timeout")) {
    std::string text = arguments.Value("--timeout");
    char* end = nullptr;
    long seconds = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || seconds < 1 || seconds > 86400) {
      return UsageError(kSyntax, "bad --timeout '" + text + "'");
    }
    options->timeout_seconds = static_cast<int>(seconds);
  }
  std::string problem = ReadLinkOperands(arguments.operands(), options);
  return problem.empty() ? -1 : UsageError(kSyntax, problem);
}

// The log line that tells a run has ended, waited for after disconnect.
constexpr char kRunEndedLine[] = "State changed to ScriptNotRunning";

// What goes to standard output, written by a thread of its own so that a slow reader of the
// output never holds up the link: the proxy would otherwise find its queue full and give up
// messages, the result among them. At most kMaxQueuedBytes of log lines wait; beyond that log
// lines are dropped and a note in their place says how many. Replies and results are never
// dropped. Safe to call from any thread.
class Output {
 public:
  static constexpr std::size_t kMaxQueuedBytes = std::size_t{1} << 20;

  Output() : writer_([this] { Write(); }) {}
  ~Output() { Finish(); }

  void LogLine(std::string line) { Put(std::move(line), Kind::kLogLine); }
  void Answer(std::string line) { Put(std::move(line), Kind::kAnswer); }

  // Writes what is queued (and the note of any lines dropped at the end) and stops.
  void Finish() {
    {
      std::lock_guard lock(mutex_);
      if (finishing_) return;
      finishing_ = true;
    }
    changed_.notify_all();
    if (writer_.joinable()) writer_.join();
  }

 private:
  enum class Kind { kLogLine, kAnswer };

  void Put(std::string line, Kind kind) {
    {
      std::lock_guard lock(mutex_);
      if (kind == Kind::kLogLine && queued_bytes_ + line.size() > kMaxQueuedBytes) {
        ++dropped_;
        return;
      }
      TakeDroppedNote();
      queued_bytes_ += line.size();
      lines_.push_back(std::move(line));
    }
    changed_.notify_all();
  }

  // The note stands where the lines went missing. With mutex_ held.
  void TakeDroppedNote() {
    if (dropped_ == 0) return;
    lines_.push_back("ordalis remote: " + std::to_string(dropped_) +
                     " log lines dropped (the output was read more slowly than they came)");
    queued_bytes_ += lines_.back().size();
    dropped_ = 0;
  }

  void Write() {
    std::unique_lock lock(mutex_);
    for (;;) {
      changed_.wait(lock, [&] { return finishing_ || !lines_.empty(); });
      if (lines_.empty()) {
        TakeDroppedNote();
        if (lines_.empty()) break;
      }
      std::string line = std::move(lines_.front());
      lines_.pop_front();
      queued_bytes_ -= line.size();
      bool last = lines_.empty();
      lock.unlock();
      std::fwrite(line.data(), 1, line.size(), stdout);
      std::fputc('\n', stdout);
      if (last) std::fflush(stdout);
      lock.lock();
    }
    std::fflush(stdout);
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::string> lines_;
  std::size_t queued_bytes_ = 0;
  std::size_t dropped_ = 0;
  bool finishing_ = false;
  std::thread writer_;
};

// What a command waits for: the next reply, or the script's result (or an error reply).
enum class Answer { kReply, kResult };

// The link's client: reads the proxy's messages out of whatever chunks arrive, prints them and
// lets the main thread wait for the answer to its command.
class RemoteClient : public ISerialClient {
 public:
  RemoteClient(LoggingLevel level, Output& output) : level_(level), output_(output) {}

  void Received(ISerial*, const std::uint8_t* bytes, std::size_t length) override {
    std::vector<FrameReader::Frame> frames;
    {
      std::lock_guard lock(mutex_);
      reader_.Feed(bytes, length, frames);
    }
    for (const FrameReader::Frame& frame : frames) {
      if (frame.refused.empty()) Take(std::string(frame.body.begin(), frame.body.end()));
    }
  }
  void Sent(ISerial*, const std::uint8_t*, std::size_t) override {}
  void Connected(ISerial*) override {
    Update([&] {
      reader_.Reset();
      online_ = true;
    });
  }
  void Disconnected(ISerial*) override { Update([&] { online_ = false; }); }
  void LineEvent(ISerial*, int) override {}
  void StatusChanged(ISerial* link) override { std::fprintf(stderr, "[%s]\n", link->Status().c_str()); }
  void FrameRejected(ISerial*, const std::string& reason) override {
    std::fprintf(stderr, "ordalis remote: refused %s from the proxy\n", reason.c_str());
    Update([&] { refused_ = true; });
  }

  bool WaitOnline(std::chrono::seconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return online_; });
  }

  // Starts waiting for an answer of [kind]; returns the number of answers so far, after which
  // the command's answer comes. The kind also tells how an answer is shown: "error" is both a
  // reply and a result word.
  std::size_t Expect(Answer kind) {
    std::lock_guard lock(mutex_);
    awaited_ = kind;
    return answers_.size();
  }

  // The first answer of [kind] after [mark]; empty after the time-out or a refused frame.
  std::string WaitAnswer(std::size_t mark, Answer kind, std::chrono::seconds timeout) {
    std::unique_lock lock(mutex_);
    std::string found;
    changed_.wait_for(lock, timeout, [&] {
      for (std::size_t i = mark; i < answers_.size() && found.empty(); ++i) {
        bool result = KindOf(answers_[i]) == ProxyMessageKind::kResult;
        bool error = answers_[i] == "error" || answers_[i] == "ERROR";
        if (kind == Answer::kReply || result || error) found = answers_[i];
      }
      return !found.empty() || refused_;
    });
    return found;
  }

  // How many runs have ended so far, by their log lines.
  std::size_t RunsEnded() {
    std::lock_guard lock(mutex_);
    return runs_ended_;
  }
  // Waits up to [timeout] for a run to end after [mark] had.
  bool WaitRunEnded(std::size_t mark, std::chrono::seconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return runs_ended_ > mark; });
  }

  bool refused() {
    std::lock_guard lock(mutex_);
    return refused_;
  }

 private:
  template <typename F>
  void Update(F change) {
    {
      std::lock_guard lock(mutex_);
      change();
    }
    changed_.notify_all();
  }

  void Take(const std::string& message) {
    ProxyLogLine line;
    if (ParseLogMessage(message, &line)) {
      if (line.level >= level_) output_.LogLine(ScriptLog::FileLine(ScriptLog::Now(), line.level, line.variable_name, line.message));
      if (line.message.find(kRunEndedLine) != std::string::npos) Update([&] { ++runs_ended_; });
      return;
    }
    bool result = false;
    Update([&] {
      result = awaited_ ? *awaited_ == Answer::kResult : KindOf(message) == ProxyMessageKind::kResult;
      answers_.push_back(message);
    });
    output_.Answer((result ? "Result: " : "Reply: ") + message);
  }

  const LoggingLevel level_;
  Output& output_;
  std::mutex mutex_;
  std::condition_variable changed_;
  FrameReader reader_;
  bool online_ = false;
  bool refused_ = false;
  std::deque<std::string> answers_;
  std::optional<Answer> awaited_;
  std::size_t runs_ended_ = 0;
};

class Session {
 public:
  Session(ISerial& link, RemoteClient& client, std::chrono::seconds timeout)
      : link_(link), client_(client), timeout_(timeout) {}

  // Sends [command] and returns its answer; empty when none came.
  std::string Ask(const std::string& command) {
    Answer kind = SplitCommand(command).name == "script" ? Answer::kResult : Answer::kReply;
    std::size_t mark = client_.Expect(kind);
    if (!link_.Send(Wire(command))) {
      Fail("the link did not take the command (" + link_.Status() + ")");
      return "";
    }
    std::string answer = client_.WaitAnswer(mark, kind, timeout_);
    if (answer.empty() && !client_.refused()) Fail("no answer to '" + command.substr(0, 40) + "' in time");
    return answer;
  }

 private:
  // A stream cuts bytes anywhere and, without a key, nothing else marks where a command
  // ends, so the command goes framed; keyed and message links carry each message whole.
  std::string Wire(const std::string& command) const {
    bool bare_stream = link_.framing() == LinkFraming::kStream && link_.cipher_mode() == CipherMode::kNone;
    return bare_stream ? FramedMessage(command) : command;
  }

  ISerial& link_;
  RemoteClient& client_;
  std::chrono::seconds timeout_;
};

// connect, the file's statements, disconnect; then the end of the run's log, briefly.
int RunFile(Session& session, RemoteClient& client, const std::string& statements) {
  if (session.Ask("connect") != "OK") return 1;
  std::string result = session.Ask("script:" + statements);
  std::size_t runs_ended = client.RunsEnded();
  if (session.Ask("disconnect") == "OK") client.WaitRunEnded(runs_ended, 10s);
  if (client.refused()) return 1;
  return result == "passed" ? 0 : 1;
}

int Interactive(Session& session, RemoteClient& client) {
  std::string line;
  bool failed = false;
  while (std::getline(std::cin, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    std::string answer = session.Ask(line);
    if (answer.empty() || answer == "ERROR" || answer == "error") failed = true;
    if (client.refused()) return 1;
  }
  return failed ? 1 : 0;
}

// A script a message link cannot carry in one message would reach the proxy cut, or not at
// all; it is refused before anything is sent.
bool Carries(const ISerial& link, const std::string& type, const std::string& statements) {
  std::size_t length = std::string("script:").size() + statements.size();
  if (length <= link.LargestMessage()) return true;
  return Fail("the script (" + std::to_string(length) + " bytes with its command) is longer than the " +
              std::to_string(link.LargestMessage()) + " bytes one message of a " + type +
              " link carries; use a stream link (tcp) for it");
}

int RunRemote(const std::vector<std::string>& args) {
  Options options;
  if (int status = ParseOptions(args, &options); status >= 0) return status;
  std::string statements;
  if (!options.run.empty()) {
    std::ifstream in(options.run, std::ios::binary);
    if (!in) return Fail("cannot open '" + options.run + "'"), 2;
    statements.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  LinkParameters parameters;
  if (!ParseLinkParameterText(options.parameters, &parameters)) {
    return Fail("the parameters '" + options.parameters + "' are not script literals"), 2;
  }
  Output output;
  RemoteClient client(options.level, output);
  std::unique_ptr<ISerial> link = SerialCreator::Instance().Create(&client, options.type);
  if (!link) return Fail("unknown link type '" + options.type + "' (see ordalis remote --help)"), 2;
  auto timeout = std::chrono::seconds(options.timeout_seconds);
  link->SetKeyChangeWait(0);
  if (!options.key.empty()) link->SetEncryption(options.cipher, options.key);
  if (!options.run.empty() && !Carries(*link, options.type, statements)) return 2;
  if (!link->Open(parameters)) {
    Fail("could not open the " + options.type + " link with parameters '" + options.parameters + "'");
    return 1;
  }
  int status = 1;
  if (!client.WaitOnline(timeout)) {
    Fail("no connection within " + std::to_string(options.timeout_seconds) + " s (" + link->Status() + ")");
  } else {
    Session session(*link, client, timeout);
    status = options.run.empty() ? Interactive(session, client) : RunFile(session, client, statements);
  }
  link->Close();
  output.Finish();
  return status;
}

const CommandRegistration kRegistration({"remote", "drive a script served by a script proxy", RunRemote});

}  // namespace
}  // namespace ordalis::cli
