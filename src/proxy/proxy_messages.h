#pragma once
// The texts a script proxy and its peer exchange. The peer sends one command per message:
// a name, optionally a colon and an argument ("connect", "script:x = 1", "variable:x",
// "abort", "disconnect"). The proxy answers with messages of a 32-bit big-endian length and
// that many bytes of text: replies ("OK", "ERROR", "error", a variable's value text), log
// lines ("log:" level "Variable " name " " message) and the result word each time the script
// holds after a chunk of statements ("passed", "failed", ...).

#include <cstdint>
#include <string>
#include <vector>

#include "links/frame_reader.h"
#include "ordalis/types.h"
#include "ordalis/variant.h"

namespace ordalis {

// One command split at its first colon; [has_argument] is false without a colon.
struct ProxyCommand {
  std::string name;
  std::string argument;
  bool has_argument = false;
};
ProxyCommand SplitCommand(const std::string& text);

// [text] with its 32-bit big-endian length in front.
std::string FramedMessage(const std::string& text);

// Cuts what a peer sends on a stream link into commands. A stream may cut a message anywhere,
// so a peer sends each command framed as the proxy frames its own messages (32-bit big-endian
// length, then the text); the first byte of such a frame is zero, which begins no command
// text. Older peers send the bare text, which is taken as it arrived, a chunk per command,
// up to its first zero byte. A framed command the stream paused inside for kFramePause is
// dropped (FrameReader), so stray bytes cost at most the command they overlap.
//
// Not thread-safe: one receive path feeds one reader.
class CommandReader {
 public:
  struct Command {
    std::string text;
    std::string refused;  // why a framed command was not taken (too long, unfinished), or empty
    bool dropped = false;  // an unfinished command given up: nothing to answer
  };

  // Adds the commands that [length] bytes, arrived at [arrival], complete to [commands], in order.
  void Feed(const std::uint8_t* bytes, std::size_t length, FrameReader::Clock::time_point arrival,
            std::vector<Command>& commands);
  void Feed(const std::uint8_t* bytes, std::size_t length, std::vector<Command>& commands) {
    Feed(bytes, length, FrameReader::Clock::now(), commands);
  }
  // Forgets a command cut short (a new connection starts a new stream).
  void Reset() { frames_.Reset(); }
  // True while part of a framed command is held.
  bool partial() const { return frames_.partial(); }

 private:
  FrameReader frames_;
};

// "log:" + level number + "Variable " + variable name + " " + message.
std::string LogMessage(LoggingLevel level, const std::string& variable_name, const std::string& message);

// "passed", "failed", "notimplemented", "warning", "error", "notrun", "aborted"; "unknown" for
// any other value.
const char* ResultWord(Result result);

// The elements of [values] joined by ",": integers in decimal, doubles as "%g", strings in
// double quotes, booleans as true/false, nested arrays in brackets, anything else as
// "Unknown Format " + its type number.
std::string ValueText(const VariantArray& values);

// How the peer tells the proxy's messages apart.
enum class ProxyMessageKind { kLogLine, kResult, kReply };
ProxyMessageKind KindOf(const std::string& message);

// A log line taken apart; false when [message] is not one.
struct ProxyLogLine {
  int level = 0;
  std::string variable_name;
  std::string message;
};
bool ParseLogMessage(const std::string& message, ProxyLogLine* line);

}  // namespace ordalis
