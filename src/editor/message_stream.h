#pragma once
// The base protocol of the editor servers: JSON messages, each after a header block
//
//   Content-Length: <bytes>\r\n
//   \r\n
//   <body>
//
// read from and written to a pipe (the server's standard input and output). A reader tells a
// malformed message apart from the end of the stream, so a server answers the one and ends on
// the other; after a fault it finds the next header block again.

#include <cstddef>
#include <mutex>
#include <string>

#include <nlohmann/json.hpp>

namespace ordalis::editor {

// The largest body a reader accepts; a larger one is read past and reported as malformed.
inline constexpr std::size_t kMaxBodyBytes = std::size_t{64} << 20;

struct Incoming {
  enum class Kind { kMessage, kMalformed, kEnd };
  Kind kind = Kind::kEnd;
  // The message, a JSON object (kMessage only).
  nlohmann::json message;
  // What is wrong with a malformed message, in one phrase.
  std::string problem;
};

class MessageReader {
 public:
  // Reads from [fd], which it does not own.
  explicit MessageReader(int fd) : fd_(fd) {}

  // The next message. kEnd when the stream ends or fails, also in the middle of a message.
  Incoming Next();

 private:
  // Fills the buffer with more of the stream; false at its end.
  bool Fill();
  // One header line without its line end; false at the end of the stream.
  bool ReadLine(std::string* line);
  // Reads past bytes up to the next "Content-Length:" header; false at the end of the stream.
  bool Resynchronise();
  // [length] bytes of body into [body] (or past them when body is null); false at the end.
  bool ReadBody(std::size_t length, std::string* body);

  int fd_;
  std::string buffer_;
  std::size_t start_ = 0;  // where the unread part of buffer_ begins
  bool lost_ = false;      // a fault left the reader inside an unknown body
};

// Writes framed messages to [fd] (not owned); Send may be called from any thread.
class MessageWriter {
 public:
  explicit MessageWriter(int fd) : fd_(fd) {}
  // False when the client has gone (the pipe is closed).
  bool Send(const nlohmann::json& message);

 private:
  int fd_;
  std::mutex mutex_;  // one message is written whole before the next begins
};

// The body of [message] as it goes out: bytes that are no UTF-8 are replaced, never refused.
std::string MessageText(const nlohmann::json& message);

}  // namespace ordalis::editor
