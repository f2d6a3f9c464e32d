#include "mail/smtp.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "mail/base64.h"
#include "mail/mime.h"

namespace ordalis {

namespace {

constexpr const char* kServerError = "SMTP server error";
constexpr const char* kNotAvailable = "SMTP server not available";
constexpr const char* kNotReadyForData = "SMTP server not ready for data";
constexpr const char* kAuthNotAvailable = "SMTP Authendication not available";
constexpr const char* kAuthFailed = "SMTP Authendication failed";
constexpr const char* kNoTermination = "SMTP server didn't terminate session";
constexpr const char* kSocketError = "Socket Error";

// A reply is read whole even when it is long; only this much of it is kept, and a peer that
// sends more than kMaxReply bytes without ending its reply is treated as broken.
constexpr std::size_t kKeptReply = 16 * 1024;
constexpr std::size_t kMaxReply = 1024 * 1024;
// Attached files are read in blocks of whole base64 lines (57 bytes make 76 characters).
constexpr std::size_t kAttachmentBlock = 57 * 256;
// The To header folds onto a further line before it grows past this many characters, well
// inside the 998 a mail line may hold.
constexpr std::size_t kFoldHeaderAt = 900;

bool AllDigits(std::string_view text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::optional<std::uint16_t> ParsePort(std::string_view digits) {
  if (!AllDigits(digits) || digits.size() > 5) return std::nullopt;
  unsigned value = 0;
  for (char c : digits) value = value * 10 + static_cast<unsigned>(c - '0');
  if (value == 0 || value > 65535) return std::nullopt;
  return static_cast<std::uint16_t>(value);
}

// True when [line] (one line of a reply) is the last line: its code is not followed by "-".
bool IsLastLine(std::string_view line) {
  std::size_t i = 0;
  while (i < line.size() && line[i] >= '0' && line[i] <= '9') ++i;
  return i >= line.size() || line[i] != '-';
}

unsigned ReplyCode(std::string_view reply) {
  unsigned code = 0;
  for (std::size_t i = 0; i < reply.size() && i < 9 && reply[i] >= '0' && reply[i] <= '9'; ++i) {
    code = code * 10 + static_cast<unsigned>(reply[i] - '0');
  }
  return code;
}

std::string FirstLine(std::string_view reply) {
  return std::string(reply.substr(0, reply.find_first_of("\r\n")));
}

std::string LocalHostName() {
  char name[81] = {};
  if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
  return name;
}

// The To header: every recipient as display name and address in angle brackets, separated by
// commas; a list too long for one header line continues on folded lines.
std::string ToHeaderText(const std::vector<MailRecipient>& recipients) {
  std::string to;
  std::size_t line_length = 4;  // "To: "
  for (const MailRecipient& recipient : recipients) {
    std::string entry =
        HeaderDisplayName(recipient.name) + "<" + WireAddress(recipient.address) + ">";
    if (!to.empty()) {
      to += ',';
      ++line_length;
      if (line_length + entry.size() > kFoldHeaderAt) {
        to += "\r\n ";
        line_length = 1;
      }
    }
    to += entry;
    line_length += entry.size();
  }
  return to;
}

}  // namespace

std::optional<MailServerAddress> SplitServerName(std::string_view server_name,
                                                 std::uint16_t default_port) {
  MailServerAddress address{std::string(server_name), default_port};
  if (!server_name.empty() && server_name.front() == '[') {
    std::size_t close = server_name.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    address.host = std::string(server_name.substr(1, close - 1));
    std::string_view rest = server_name.substr(close + 1);
    if (!rest.empty()) {
      std::optional<std::uint16_t> port =
          rest.front() == ':' ? ParsePort(rest.substr(1)) : std::nullopt;
      if (!port) return std::nullopt;
      address.port = *port;
    }
  } else if (std::count(server_name.begin(), server_name.end(), ':') == 1) {
    std::size_t colon = server_name.find(':');
    std::optional<std::uint16_t> port = ParsePort(server_name.substr(colon + 1));
    if (!port) return std::nullopt;
    address.host = std::string(server_name.substr(0, colon));
    address.port = *port;
  }
  if (address.host.empty()) return std::nullopt;
  return address;
}

CSMTP::CSMTP(std::string server_name, std::uint16_t port)
    : server_name_(std::move(server_name)), port_(port) {}

CSMTP::~CSMTP() { Disconnect(); }

void CSMTP::SetTransportError(IoStatus status, bool receiving) {
  transport_failed_ = true;
  if (status != IoStatus::kTimedOut) {
    last_error_ = kSocketError;
  } else if (receiving) {
    last_error_ = "SMTP server did not answer within " + std::to_string(timeout_.count()) + " ms";
  } else {
    last_error_ =
        "SMTP server did not accept data within " + std::to_string(timeout_.count()) + " ms";
  }
}

IoStatus CSMTP::ReadReply() {
  last_reply_.clear();
  reply_code_ = 0;
  const auto deadline = TcpConnection::Clock::now() + timeout_;
  std::size_t reply_size = 0;
  bool first_line = true;
  while (true) {
    std::size_t end = inbox_.find('\n');
    if (end != std::string::npos) {
      std::string_view line(inbox_.data(), end + 1);
      if (first_line) reply_code_ = ReplyCode(line);
      first_line = false;
      reply_size += line.size();
      if (last_reply_.size() + line.size() <= kKeptReply) last_reply_ += line;
      bool last = IsLastLine(line);
      inbox_.erase(0, end + 1);
      if (last) return IoStatus::kOk;
      continue;
    }
    if (reply_size + inbox_.size() > kMaxReply) return IoStatus::kError;
    char buffer[1024];
    std::size_t received = 0;
    IoStatus status = connection_.Receive(buffer, sizeof buffer, &received, deadline);
    if (status != IoStatus::kOk) return status;
    inbox_.append(buffer, received);
  }
}

bool CSMTP::Expect(unsigned expected, const char* failure) {
  IoStatus status = ReadReply();
  if (status != IoStatus::kOk) {
    SetTransportError(status, true);
    return false;
  }
  if (reply_code_ != expected) {
    last_error_ = std::to_string(reply_code_) + ":" + failure;
    return false;
  }
  return true;
}

bool CSMTP::Send(std::string_view text) {
  IoStatus status = connection_.SendAll(text, timeout_);
  if (status == IoStatus::kOk) return true;
  SetTransportError(status, false);
  return false;
}

bool CSMTP::Command(const std::string& command, unsigned expected, const char* failure) {
  return Send(command) && Expect(expected, failure);
}

bool CSMTP::Connect(std::optional<std::string_view> user_name,
                    std::optional<std::string_view> password) {
  if (connected_) return true;
  transport_failed_ = false;
  inbox_.clear();
  switch (connection_.Connect(server_name_, port_, timeout_)) {
    case ConnectStatus::kConnected:
      break;
    case ConnectStatus::kUnresolved:
      last_error_ = "Unable to resolve server name " + server_name_;
      return false;
    case ConnectStatus::kNoSocket:
      last_error_ = "Unable to create the socket.";
      return false;
    case ConnectStatus::kRefused:
      last_error_ = "Unable to connect to server";
      return false;
    case ConnectStatus::kTimedOut:
      last_error_ = "Unable to connect to server (no answer within " +
                    std::to_string(timeout_.count()) + " ms)";
      return false;
  }
  if (!Greet(user_name, password)) {
    connection_.Close();
    return false;
  }
  connected_ = true;
  return true;
}

// Reads the greeting and introduces the client, authenticating when a user name is given.
bool CSMTP::Greet(std::optional<std::string_view> user_name,
                  std::optional<std::string_view> password) {
  IoStatus status = ReadReply();
  if (status != IoStatus::kOk) {
    last_error_ = "Server didn't respond.";
    return false;
  }
  if (reply_code_ != 220) {
    last_error_ = std::to_string(reply_code_) + ":" + kNotAvailable;
    return false;
  }
  const std::string host = LocalHostName();
  if (!user_name || !password || user_name->empty()) {
    return Command("HELO " + host + "\r\n", 250, kServerError);
  }
  // Each credential goes on one line of its own: a line break inside it would end the answer
  // early and the server would judge the rest as a further answer.
  return Command("EHLO " + host + "\r\n", 250, kServerError) &&
         Command("AUTH LOGIN\r\n", 334, kAuthNotAvailable) &&
         Command(Base64Encode(*user_name) + "\r\n", 334, kAuthNotAvailable) &&
         Command(Base64Encode(*password) + "\r\n", 235, kAuthFailed);
}

bool CSMTP::SendMessage(CMailMessage& message) {
  refused_.clear();
  if (!connected_) {
    last_error_ = "Must be connected";
    return false;
  }
  if (!BuildHeader(message)) return false;
  transport_failed_ = false;
  bool sent = Transmit(message);
  if (transport_failed_) {
    // The server is gone or silent in mid-conversation; nothing more can be sent on this
    // connection.
    connection_.Close();
    connected_ = false;
  }
  return sent;
}

bool CSMTP::BuildHeader(CMailMessage& message) {
  if (message.RecipientCount() == 0) {
    last_error_ = "No Recipients";
    return false;
  }
  std::time_t now = std::time(nullptr);
  std::tm local{};
  if (localtime_r(&now, &local) == nullptr) {
    last_error_ = "Could not get local time";
    return false;
  }
  std::string header = "Date:" + FormatMailDate(local) + "\r\n";
  header += "From: " + OneLine(message.from()) + "\r\n";
  header += "To: " + ToHeaderText(message.recipients()) + "\r\n";
  header += "Subject: " + EncodeHeaderText(message.subject()) + "\r\n";
  header += "MIME-Version: 1.0\r\n";
  header += "Content-type: multipart/mixed; boundary=\"" + std::string(kMailBoundary) + "\"\r\n";
  header += "X-Mailer: <" + x_mailer_ + ">\r\n\r\n";
  message.set_header(std::move(header), static_cast<std::int64_t>(now));
  return true;
}

bool CSMTP::Transmit(const CMailMessage& message) {
  if (!Command("MAIL From: <" + WireAddress(message.from()) + ">\r\n", 250, kServerError)) {
    return Abandon();
  }
  for (const MailRecipient& recipient : message.recipients()) {
    std::string address = WireAddress(recipient.address);
    if (!Send("RCPT TO: <" + address + ">\r\n")) return false;
    IoStatus status = ReadReply();
    if (status != IoStatus::kOk) {
      SetTransportError(status, true);
      return false;
    }
    if (reply_code_ / 100 != 2) refused_.push_back(address + ": " + FirstLine(last_reply_));
  }
  if (!Command("DATA\r\n", 354, kNotReadyForData)) return Abandon();
  if (!Send(message.header()) || !Send(BodyPart(message.body()))) return false;
  for (const std::string& path : message.attachments()) {
    if (!SendAttachment(path)) return false;
  }
  if (!Send("\r\n--" + std::string(kMailBoundary) + "--\r\n.\r\n")) return false;
  return Expect(250, kServerError) || Abandon();
}

// Sends one attached file as a base64 part; a file that cannot be opened is left out.
bool CSMTP::SendAttachment(const std::string& path) {
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) return true;
  std::ifstream file(path, std::ios::binary);
  if (!file) return true;
  if (!Send(AttachmentPartHead(path))) return false;
  std::string block(kAttachmentBlock, '\0');
  bool first = true;
  while (file) {
    file.read(block.data(), static_cast<std::streamsize>(block.size()));
    auto count = static_cast<std::size_t>(file.gcount());
    if (count == 0) break;
    std::string text = first ? std::string() : std::string("\r\n");
    text += Base64Encode(std::string_view(block.data(), count), kMimeBase64LineLength);
    if (!Send(text)) return false;
    first = false;
  }
  return true;
}

bool CSMTP::Abandon() {
  if (transport_failed_) return false;
  std::string error = last_error_;
  std::string reply = last_reply_;
  if (Send("RSET\r\n") && ReadReply() != IoStatus::kOk) transport_failed_ = true;
  // The reason the transaction failed is what the caller needs, not the fate of the RSET.
  last_error_ = std::move(error);
  last_reply_ = std::move(reply);
  return false;
}

bool CSMTP::Disconnect() {
  if (!connected_) return false;
  bool confirmed = Command("QUIT\r\n", 221, kNoTermination);
  connection_.Close();
  connected_ = false;
  inbox_.clear();
  return confirmed;
}

}  // namespace ordalis
