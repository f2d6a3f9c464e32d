#pragma once
// CSMTP: the small SMTP client the results mailer uses. It connects to one mail server, greets
// it with HELO (or EHLO followed by AUTH LOGIN when a user name is given), sends messages as
// MIME multipart documents — the body first, then each attached file — and says goodbye with
// QUIT. Every failure answers false and leaves a text in GetLastError().
//
// Every wait on the server is bounded: connecting and each reply may take at most the time-out
// (60 s unless set), so a server that stops answering fails the call instead of holding the
// sending thread. A CSMTP belongs to one thread at a time; none of its operations may be called
// from two threads at once.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mail/mail_message.h"
#include "mail/tcp_connection.h"

namespace ordalis {

struct MailServerAddress {
  std::string host;
  std::uint16_t port = 25;
};

// Splits a mail server name into host and port: "host:2525" names port 2525, a name without a
// ":port" ending uses [default_port]. An IPv6 address is written in brackets when it carries a
// port ("[::1]:2525"). Empty when the name or its port is unusable (empty host, port 0 or above
// 65535). Safe to call from any thread.
std::optional<MailServerAddress> SplitServerName(std::string_view server_name,
                                                 std::uint16_t default_port = 25);

class CSMTP {
 public:
  static constexpr std::uint16_t kDefaultPort = 25;
  static constexpr std::chrono::milliseconds kDefaultTimeout{60000};

  CSMTP(std::string server_name, std::uint16_t port = kDefaultPort);
  CSMTP(const CSMTP&) = delete;
  CSMTP& operator=(const CSMTP&) = delete;
  // Disconnects when still connected.
  ~CSMTP();

  // Opens the connection and greets the server; true when connected (also when it already
  // was). Without a user name (absent or empty) or without a password the greeting is HELO;
  // otherwise EHLO and AUTH LOGIN with the base64 user name and password. A failure closes
  // the connection.
  bool Connect(std::optional<std::string_view> user_name = std::nullopt,
               std::optional<std::string_view> password = std::nullopt);

  // Sends [message] (its header is built now and stored in it); true when the server accepted
  // it. A recipient the server refuses does not stop the sending; RefusedRecipients() lists
  // them afterwards. A refusal by the server leaves the connection open for the next message;
  // a broken or silent connection is closed.
  bool SendMessage(CMailMessage& message);

  // Sends QUIT, reads the answer and closes the connection; true when the server confirmed.
  bool Disconnect();

  bool connected() const { return connected_; }
  const std::string& GetLastError() const { return last_error_; }
  // The server and port this client connects to, and the system's reason the last Connect
  // could not reach it (empty when it did).
  const std::string& server_name() const { return server_name_; }
  std::uint16_t port() const { return port_; }
  const std::string& ConnectFailure() const { return connection_.connect_failure(); }
  // The full text of the server's most recent reply (every line, CR LF kept).
  const std::string& LastReply() const { return last_reply_; }
  // Each recipient the server refused during the last SendMessage: address, ": ", first line
  // of the server's answer.
  const std::vector<std::string>& RefusedRecipients() const { return refused_; }
  const std::string& XMailer() const { return x_mailer_; }

  // Longest wait for connecting, for each reply and for the server to take sent data.
  void SetTimeout(std::chrono::milliseconds timeout) { timeout_ = timeout; }
  std::chrono::milliseconds timeout() const { return timeout_; }

 private:
  // Reads one complete reply, multi-line replies included, into last_reply_ and reply_code_.
  IoStatus ReadReply();
  // Reads a reply and checks its code; on a mismatch the error is "<code>:" + [failure].
  bool Expect(unsigned expected, const char* failure);
  bool Send(std::string_view text);
  // Sends [command] and expects [expected] in reply.
  bool Command(const std::string& command, unsigned expected, const char* failure);
  void SetTransportError(IoStatus status, bool receiving);
  bool Greet(std::optional<std::string_view> user_name, std::optional<std::string_view> password);
  bool BuildHeader(CMailMessage& message);
  bool Transmit(const CMailMessage& message);
  bool SendAttachment(const std::string& path);
  // Ends a failed transaction: RSET while the connection is still sound.
  bool Abandon();

  std::string server_name_;
  std::uint16_t port_;
  std::string x_mailer_ = "Lark Mail";
  bool connected_ = false;
  TcpConnection connection_;
  std::string last_error_ = "OK";
  std::string last_reply_;
  unsigned reply_code_ = 0;
  std::string inbox_;  // bytes received after the end of the last reply
  bool transport_failed_ = false;
  std::vector<std::string> refused_;
  std::chrono::milliseconds timeout_ = kDefaultTimeout;
};

}  // namespace ordalis
