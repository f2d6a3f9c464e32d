#include "test_servers.h"

#include <nlohmann/json.hpp>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

extern char** environ;

namespace ordalis::testing {

namespace {

// Safety net only: the server normally reports ready well within a second.
constexpr int kStartTimeoutMs = 30000;

int ListenOnLoopback(std::uint16_t* port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd, 4) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    if (fd >= 0) ::close(fd);
    return -1;
  }
  *port = ntohs(address.sin_port);
  return fd;
}

// Reads from [fd] until a line "ready <port>" arrives; 0 when it does not.
std::uint16_t ReadReadyLine(int fd, std::string* seen) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartTimeoutMs);
  while (seen->find('\n') == std::string::npos) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) return 0;
    pollfd entry{fd, POLLIN, 0};
    int rc = ::poll(&entry, 1, static_cast<int>(left));
    if (rc < 0 && errno == EINTR) continue;
    if (rc <= 0) return 0;
    char buffer[256];
    ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return 0;
    seen->append(buffer, static_cast<std::size_t>(got));
  }
  if (seen->rfind("ready ", 0) != 0) return 0;
  return static_cast<std::uint16_t>(std::stoi(seen->substr(6)));
}

}  // namespace

std::string MakeTempDirectory() {
  std::string pattern = (std::filesystem::temp_directory_path() / "ordalis-mail-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) return {};
  return pattern;
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream file(path, std::ios::binary);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::uint16_t ClosedPort() {
  std::uint16_t port = 0;
  int fd = ListenOnLoopback(&port);
  if (fd >= 0) ::close(fd);
  return port;
}

RecordingServer::RecordingServer(const std::vector<std::string>& options) {
  directory_ = MakeTempDirectory();
  std::string script = std::string(ORDALIS_SOURCE_DIR) + "/tests/mail/smtp_server.py";
  std::vector<std::string> args = {"/usr/bin/python3", script, "--record-dir", directory_};
  args.insert(args.end(), options.begin(), options.end());
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) {
    error_ = "pipe failed";
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  int rc = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  if (rc != 0) {
    pid_ = -1;
    error_ = "cannot start /usr/bin/python3";
  } else {
    std::string seen;
    port_ = ReadReadyLine(out[0], &seen);
    if (port_ == 0) error_ = "the SMTP server did not report ready; it said: " + seen;
  }
  ::close(out[0]);
}

RecordingServer::~RecordingServer() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
  std::error_code ignored;
  if (!directory_.empty()) std::filesystem::remove_all(directory_, ignored);
}

std::optional<MessageRecord> RecordingServer::Record(int n) const {
  std::string text = ReadFileBytes(directory_ + "/" + std::to_string(n) + ".json");
  nlohmann::json json = nlohmann::json::parse(text, nullptr, false);
  if (!json.is_object()) return std::nullopt;
  auto text_of = [](const nlohmann::json& value) { return value.is_string() ? value.get<std::string>() : std::string(); };
  MessageRecord record;
  record.greeting = text_of(json.value("greeting", nlohmann::json()));
  record.auth_user = text_of(json.value("auth_user", nlohmann::json()));
  record.mail_from = text_of(json.value("mail_from", nlohmann::json()));
  for (const auto& address : json.value("rcpt_tos", nlohmann::json::array())) record.rcpt_tos.push_back(text_of(address));
  for (const auto& part : json.value("parts", nlohmann::json::array())) {
    record.part_names.push_back(text_of(part.value("filename", nlohmann::json())));
    record.part_files.push_back(text_of(part.value("file", nlohmann::json())));
  }
  return record;
}

std::vector<std::string> RecordingServer::Parts(int n) const {
  std::vector<std::string> parts;
  std::optional<MessageRecord> record = Record(n);
  if (!record) return parts;
  for (const std::string& file : record->part_files) parts.push_back(ReadFileBytes(file));
  return parts;
}

std::string RecordingServer::RawMessage(int n) const {
  return ReadFileBytes(directory_ + "/" + std::to_string(n) + ".eml");
}

ScriptedServer::ScriptedServer(std::string greeting, std::vector<std::string> replies,
                               AfterScript after)
    : greeting_(std::move(greeting)), replies_(std::move(replies)), after_(after) {
  listen_fd_ = ListenOnLoopback(&port_);
  if (::pipe2(stop_pipe_, O_CLOEXEC) != 0) return;
  thread_ = std::jthread([this] { Serve(); });
}

ScriptedServer::~ScriptedServer() {
  if (stop_pipe_[1] >= 0) {
    char stop = 's';
    while (::write(stop_pipe_[1], &stop, 1) < 0 && errno == EINTR) {
    }
  }
  if (thread_.joinable()) thread_.join();
  for (int fd : {listen_fd_, stop_pipe_[0], stop_pipe_[1]}) {
    if (fd >= 0) ::close(fd);
  }
}

bool ScriptedServer::WaitReadable(int fd) const {
  while (true) {
    pollfd entries[2] = {{fd, POLLIN, 0}, {stop_pipe_[0], POLLIN, 0}};
    int rc = ::poll(entries, 2, -1);
    if (rc < 0 && errno == EINTR) continue;
    if (rc < 0 || (entries[1].revents & POLLIN)) return false;
    if (entries[0].revents != 0) return true;
  }
}

void ScriptedServer::Serve() {
  if (listen_fd_ < 0 || !WaitReadable(listen_fd_)) return;
  int connection = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
  if (connection < 0) return;
  auto send_text = [connection](const std::string& text) {
    return ::send(connection, text.data(), text.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(text.size());
  };
  bool alive = greeting_.empty() || send_text(greeting_);
  std::string pending;
  for (std::size_t next = 0; alive && next < replies_.size();) {
    if (pending.find('\n') != std::string::npos) {
      pending.erase(0, pending.find('\n') + 1);
      alive = send_text(replies_[next++]);
      continue;
    }
    char buffer[512];
    if (!WaitReadable(connection)) break;
    ssize_t got = ::recv(connection, buffer, sizeof buffer, 0);
    if (got <= 0) break;
    pending.append(buffer, static_cast<std::size_t>(got));
  }
  if (after_ == AfterScript::kStaySilent) {
    // Keeps the connection open without a word until the client leaves or the test ends.
    while (WaitReadable(connection)) {
      char buffer[512];
      if (::recv(connection, buffer, sizeof buffer, 0) <= 0) break;
    }
  }
  ::close(connection);
}

}  // namespace ordalis::testing
