#pragma once
// Mail servers for the mail tests, all on loopback ports:
// - RecordingServer: the aiosmtpd server of smtp_server.py in a child process, recording every
//   message it accepts (envelope, session, raw text, decoded parts) to files;
// - ScriptedServer: a one-connection fake that sends a fixed greeting and fixed replies, then
//   falls silent or hangs up — for servers that misbehave in ways a real one will not.

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace ordalis::testing {

// What the recording server noted of one accepted message: its session, its envelope and the
// file name of each decoded MIME part ("" for a part without one, such as the body).
struct MessageRecord {
  std::string greeting;   // "HELO" or "EHLO", as the client greeted
  std::string auth_user;  // "" when the session did not authenticate
  std::string mail_from;
  std::vector<std::string> rcpt_tos;
  std::vector<std::string> part_names;
  std::vector<std::string> part_files;  // where the server wrote each part's bytes
};

using Addresses = std::vector<std::string>;

class RecordingServer {
 public:
  // Starts the server with the extra command-line [options] of smtp_server.py and waits for
  // its "ready" line. started() tells whether that came; error() says why not.
  explicit RecordingServer(const std::vector<std::string>& options = {});
  ~RecordingServer();
  RecordingServer(const RecordingServer&) = delete;
  RecordingServer& operator=(const RecordingServer&) = delete;

  bool started() const { return port_ != 0; }
  const std::string& error() const { return error_; }
  std::uint16_t port() const { return port_; }
  std::string server_name() const { return "127.0.0.1:" + std::to_string(port_); }
  // The record of the [n]th accepted message (from 1); none when there is none.
  std::optional<MessageRecord> Record(int n) const;
  // The [n]th message's decoded MIME parts, as raw bytes, in message order.
  std::vector<std::string> Parts(int n) const;
  // The [n]th message as received (transparency dots removed), header included.
  std::string RawMessage(int n) const;

 private:
  pid_t pid_ = -1;
  std::uint16_t port_ = 0;
  std::string directory_;
  std::string error_;
};

enum class AfterScript { kStaySilent, kHangUp };

class ScriptedServer {
 public:
  // Sends [greeting] on connection (nothing when empty), answers each received line with the
  // next of [replies], then stays silent or hangs up.
  ScriptedServer(std::string greeting, std::vector<std::string> replies, AfterScript after);
  ~ScriptedServer();
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;

  std::uint16_t port() const { return port_; }
  std::string server_name() const { return "127.0.0.1:" + std::to_string(port_); }

 private:
  void Serve();
  // Waits until [fd] is readable or the server is told to stop; false when stopping.
  bool WaitReadable(int fd) const;

  std::string greeting_;
  std::vector<std::string> replies_;
  AfterScript after_;
  int listen_fd_ = -1;
  int stop_pipe_[2] = {-1, -1};
  std::uint16_t port_ = 0;
  std::jthread thread_;
};

// A loopback port on which nothing listens.
std::uint16_t ClosedPort();

// A fresh temporary directory, removed by the caller.
std::string MakeTempDirectory();
std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);

}  // namespace ordalis::testing
