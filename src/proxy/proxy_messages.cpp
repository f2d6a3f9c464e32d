#include "proxy/proxy_messages.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "links/frame_reader.h"

namespace ordalis {

namespace {

constexpr char kLogPrefix[] = "log:";
constexpr char kVariableWord[] = "Variable ";
// Nested arrays deeper than this are written as "[...]", so a hostile value cannot exhaust
// the stack.
constexpr int kMaxValueDepth = 64;

const char* const kResultWords[] = {"passed", "failed", "notimplemented", "warning",
                                    "error",  "notrun", "aborted"};

void AppendValueText(const VariantArray& values, int depth, std::string& out);

void AppendElement(const Variant& element, int depth, std::string& out) {
  char number[64];
  switch (element.type()) {
    case VT_I4:
      out += std::to_string(element.as_int());
      return;
    case VT_R8:
      std::snprintf(number, sizeof number, "%g", element.as_double());
      out += number;
      return;
    case VT_BSTR:
      out += '"' + element.as_string() + '"';
      return;
    case VT_BOOL:
      out += element.as_bool() ? "true" : "false";
      return;
    case kVariantArrayType:
      out += '[';
      if (depth >= kMaxValueDepth) {
        out += "...";
      } else if (element.as_array()) {
        AppendValueText(*element.as_array(), depth + 1, out);
      }
      out += ']';
      return;
    default:
      out += "Unknown Format " + std::to_string(element.type());
  }
}

void AppendValueText(const VariantArray& values, int depth, std::string& out) {
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i > 0) out += ',';
    AppendElement(values[i], depth, out);
  }
}

}  // namespace

ProxyCommand SplitCommand(const std::string& text) {
  ProxyCommand command;
  std::size_t colon = text.find(':');
  command.name = text.substr(0, colon);
  if (colon != std::string::npos) {
    command.argument = text.substr(colon + 1);
    command.has_argument = true;
  }
  return command;
}

void CommandReader::Feed(const std::uint8_t* bytes, std::size_t length, FrameReader::Clock::time_point arrival,
                         std::vector<Command>& commands) {
  if (length == 0) return;
  std::vector<FrameReader::Frame> frames;
  frames_.DropIfPaused(arrival, frames);
  bool bare = !frames_.partial() && bytes[0] != 0;
  if (!bare) frames_.Feed(bytes, length, arrival, frames);
  for (FrameReader::Frame& frame : frames) {
    commands.push_back({std::string(frame.body.begin(), frame.body.end()), std::move(frame.refused), frame.dropped});
  }
  if (bare) {
    std::string text(reinterpret_cast<const char*>(bytes), length);
    text.resize(std::min(text.size(), text.find('\0')));
    commands.push_back({std::move(text), {}});
  }
}

std::string FramedMessage(const std::string& text) {
  std::string framed(4, '\0');
  PutBigEndian32(reinterpret_cast<std::uint8_t*>(framed.data()), static_cast<std::uint32_t>(text.size()));
  return framed + text;
}

std::string LogMessage(LoggingLevel level, const std::string& variable_name, const std::string& message) {
  return kLogPrefix + std::to_string(static_cast<int>(level)) + kVariableWord + variable_name + " " + message;
}

const char* ResultWord(Result result) {
  int index = static_cast<int>(result);
  return index >= 0 && index < 7 ? kResultWords[index] : "unknown";
}

std::string ValueText(const VariantArray& values) {
  std::string out;
  AppendValueText(values, 0, out);
  return out;
}

ProxyMessageKind KindOf(const std::string& message) {
  if (message.rfind(kLogPrefix, 0) == 0) return ProxyMessageKind::kLogLine;
  for (const char* word : kResultWords) {
    if (message == word) return ProxyMessageKind::kResult;
  }
  return message == "unknown" ? ProxyMessageKind::kResult : ProxyMessageKind::kReply;
}

bool ParseLogMessage(const std::string& message, ProxyLogLine* line) {
  std::size_t prefix = std::strlen(kLogPrefix);
  if (message.rfind(kLogPrefix, 0) != 0 || message.size() < prefix + 1) return false;
  char level = message[prefix];
  if (level < '0' || level > '6') return false;
  std::size_t word = prefix + 1;
  if (message.compare(word, std::strlen(kVariableWord), kVariableWord) != 0) return false;
  std::size_t name_start = word + std::strlen(kVariableWord);
  std::size_t space = message.find(' ', name_start);
  if (space == std::string::npos) return false;
  line->level = level - '0';
  line->variable_name = message.substr(name_start, space - name_start);
  line->message = message.substr(space + 1);
  return true;
}

}  // namespace ordalis
