// The `ordalis term` command driven as a user would: its standard input, output and error on
// pipes, against a loop-back, a shell and a TCP server of the test's own.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <vector>

#include "links/encrypt.h"
#include "socket_peer.h"

extern char** environ;

namespace ordalis {
namespace {

// A running `ordalis term` with pipes on its standard streams.
class Term {
 public:
  explicit Term(std::vector<std::string> args) {
    args.insert(args.begin(), {ORDALIS_CLI, "term"});
    int in[2], out[2], err[2];
    EXPECT_EQ(::pipe2(in, O_CLOEXEC), 0);
    EXPECT_EQ(::pipe2(out, O_CLOEXEC), 0);
    EXPECT_EQ(::pipe2(err, O_CLOEXEC), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    EXPECT_EQ(::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    input_.Reset(in[1]);
    output_.Reset(out[0]);
    errors_.Reset(err[0]);
  }
  ~Term() {
    if (pid_ > 0) Finish();
  }

  // Feeds standard input while the command reads it: writes until the pipe has stayed full for
  // [quiet_ms] or [limit] bytes went in; returns how many did.
  std::size_t FeedUntilItStopsReading(std::size_t limit, int quiet_ms) {
    ::fcntl(input_.get(), F_SETFL, ::fcntl(input_.get(), F_GETFL) | O_NONBLOCK);
    std::string block(64 * 1024, 'i');
    std::size_t total = 0;
    while (total < limit) {
      long wrote = ::write(input_.get(), block.data(), block.size());
      if (wrote > 0) {
        total += static_cast<std::size_t>(wrote);
        continue;
      }
      pollfd entry{input_.get(), POLLOUT, 0};
      if (::poll(&entry, 1, quiet_ms) == 0) break;
    }
    return total;
  }

  void Write(const std::string& text) { EXPECT_EQ(::write(input_.get(), text.data(), text.size()), static_cast<long>(text.size())); }
  // Reads standard output until it holds [text] (or the safety time-out passes).
  bool WaitForOutput(const std::string& text) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (output.find(text) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
      if (!Pump(1000)) break;
    }
    return output.find(text) != std::string::npos;
  }
  // Closes standard input, reads everything to the end and returns the exit status.
  int Finish() {
    input_.Reset();
    while (Pump(20000)) {
    }
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  // Closes the reading end of standard output, as `| head` does once it has its line.
  void CloseOutput() { output_.Reset(); }
  // Waits, standard input still open, for the command to end by itself: its error stream ends
  // (or the safety time-out passes). The exit status, or -2 when it was still running and had
  // to be stopped.
  int WaitForEnd() {
    while (Pump(20000)) {
    }
    bool still_running = errors_.valid();  // its error stream never ended
    if (still_running) ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    if (still_running) return -2;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::string output;
  std::string errors;

 private:
  // Reads what is ready on either stream; false when both have ended.
  bool Pump(int timeout_ms) {
    pollfd entries[2] = {{output_.get(), POLLIN, 0}, {errors_.get(), POLLIN, 0}};
    if (!output_.valid() && !errors_.valid()) return false;
    if (::poll(entries, 2, timeout_ms) <= 0) return false;
    char buffer[4096];
    FileDescriptor* streams[2] = {&output_, &errors_};
    std::string* texts[2] = {&output, &errors};
    for (int i = 0; i < 2; ++i) {
      if (!entries[i].revents) continue;
      long got = ::read(streams[i]->get(), buffer, sizeof buffer);
      if (got > 0) {
        texts[i]->append(buffer, static_cast<std::size_t>(got));
      } else {
        streams[i]->Reset();
      }
    }
    return true;
  }

  pid_t pid_ = -1;
  FileDescriptor input_, output_, errors_;
};

TEST(Term, LoopBackEchoesStandardInput) {
  Term term({"loopback", "", "--linger", "0"});
  term.Write("hello link\n");
  EXPECT_TRUE(term.WaitForOutput("hello link\n"));
  EXPECT_EQ(term.Finish(), 0);
  EXPECT_EQ(term.output, "hello link\n");
  EXPECT_NE(term.errors.find("[unknown online]"), std::string::npos) << term.errors;
}

// A terminal whose output no one reads any more ends, as it did when the closed pipe's signal
// ended it, rather than going on talking to no one while its input stays open.
TEST(Term, EndsWhenItsOutputIsClosed) {
  Term term({"loopback", "", "--linger", "600000"});
  term.CloseOutput();
  term.Write("hello link\n");
  EXPECT_EQ(term.WaitForEnd(), 0) << term.errors;
}

TEST(Term, ProcessRunsShellCommandsAndEndsWithTheShell) {
  Term term({"process", "", "--linger", "600000"});
  term.Write("echo term-$((2 + 3))\nexit\n");
  EXPECT_EQ(term.Finish(), 0);  // the shell's exit ends the command, not the linger time
  EXPECT_NE(term.output.find("term-5"), std::string::npos) << term.output;
}

TEST(Term, TcpClientWithKeyTalksToAServer) {
  std::uint16_t port = 0;
  FileDescriptor listener = testing::ListenLocal(port);
  Term term({"TCP", "\"127.0.0.1\", " + std::to_string(port), "--key", "secret", "--linger", "0"});
  FileDescriptor peer = testing::AcceptOne(listener.get());
  ASSERT_TRUE(peer.valid());
  term.Write("ping");
  std::string frame = testing::ReceiveBytes(peer.get(), 8);
  ASSERT_EQ(frame.size(), 8u);
  std::string plain = frame.substr(4);
  Encrypt("secret").Apply(plain);
  EXPECT_EQ(plain, "ping");
  std::string reply = "pong";
  Encrypt("secret").Apply(reply);
  ASSERT_TRUE(testing::SendText(peer.get(), std::string("\0\0\0\4", 4) + reply));
  EXPECT_TRUE(term.WaitForOutput("pong"));
  EXPECT_EQ(term.Finish(), 0);
  EXPECT_NE(term.errors.find(" connected online]"), std::string::npos) << term.errors;
}

// A link that never comes up fails the command with its last status and the system's reason,
// and a status repeated while the link retries is shown once.
TEST(Term, LinkThatNeverComesUpFails) {
  std::uint16_t port = 0;
  { FileDescriptor closed = testing::ListenLocal(port); }
  Term term({"tcp", "\"127.0.0.1\", " + std::to_string(port), "--linger", "500"});
  EXPECT_EQ(term.Finish(), 1);
  EXPECT_NE(term.errors.find("the tcp link never came up; its last status: "), std::string::npos)
      << term.errors;
  std::string refused = "Connection error " + std::to_string(ECONNREFUSED);
  std::size_t first = term.errors.find(refused + " offline (Connection refused)]");
  EXPECT_NE(first, std::string::npos) << term.errors;
  EXPECT_EQ(term.errors.find("[" , term.errors.find("\n", first)), std::string::npos)
      << "shown once: " << term.errors;
}

// An empty frame carries nothing and prints nothing; the frame after it still arrives.
TEST(Term, EmptyKeyedFrameFromThePeerIsHarmless) {
  std::uint16_t port = 0;
  FileDescriptor listener = testing::ListenLocal(port);
  Term term({"tcp", "\"127.0.0.1\", " + std::to_string(port), "--key", "secret", "--linger", "0"});
  FileDescriptor peer = testing::AcceptOne(listener.get());
  ASSERT_TRUE(peer.valid());
  std::string reply = "pong";
  Encrypt("secret").Apply(reply);
  ASSERT_TRUE(testing::SendText(peer.get(), std::string("\0\0\0\0\0\0\0\4", 8) + reply));
  EXPECT_TRUE(term.WaitForOutput("pong"));
  EXPECT_EQ(term.Finish(), 0);
  EXPECT_EQ(term.output, "pong");
}

// A peer that does not read: the link's queue fills and the command stops reading its input,
// so its memory stays flat; when the peer reads again everything arrives.
TEST(Term, StopsReadingInputWhileThePeerDoesNotRead) {
  std::uint16_t port = 0;
  FileDescriptor listener = testing::ListenLocal(port);
  int small = 4096;
  ::setsockopt(listener.get(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  Term term({"tcp", "\"127.0.0.1\", " + std::to_string(port), "--linger", "0"});
  FileDescriptor peer = testing::AcceptOne(listener.get());
  ASSERT_TRUE(peer.valid());
  constexpr std::size_t kLimit = std::size_t{64} << 20;
  std::size_t fed = term.FeedUntilItStopsReading(kLimit, 2000);
  EXPECT_LT(fed, std::size_t{32} << 20) << "the input was read on although nothing could be sent";
  EXPECT_EQ(testing::ReceiveBytes(peer.get(), fed).size(), fed);
  EXPECT_EQ(term.Finish(), 0);
}

struct UsageCase {
  std::vector<std::string> args;
  int status;
  const char* message;
};

void PrintTo(const UsageCase& c, std::ostream* out) { *out << ::testing::PrintToString(c.args); }

class TermUsage : public ::testing::TestWithParam<UsageCase> {};

TEST_P(TermUsage, ReportsTheProblem) {
  Term term(GetParam().args);
  EXPECT_EQ(term.Finish(), GetParam().status);
  EXPECT_NE((term.errors + term.output).find(GetParam().message), std::string::npos) << term.errors;
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, TermUsage,
    ::testing::Values(UsageCase{{"--help"}, 0, "Usage: ordalis term TYPE PARAMETERS"},
                      UsageCase{{}, 2, "Usage: ordalis term"},
                      UsageCase{{"modem", ""}, 2, "unknown link type 'modem'"},
                      UsageCase{{"tcp", "\"localhost, 5025"}, 2, "unterminated text"},
                      UsageCase{{"tcp", "\"localhost\" 5025"}, 2, "expected a comma"},
                      UsageCase{{"tcp", "[1], 2"}, 2, "arrays are not link parameters"},
                      UsageCase{{"tcp", "5025,"}, 2, "a value is missing"},
                      UsageCase{{"tcp", "\"localhost\""}, 1, "could not open the tcp link"},
                      UsageCase{{"rs232pkt", "\"/nonexistent/tty\", 9600"}, 1, "open: No such file or directory"}),
    [](const auto& info) { return std::to_string(info.index); });

}  // namespace
}  // namespace ordalis
