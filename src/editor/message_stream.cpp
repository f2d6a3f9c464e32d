#include "editor/message_stream.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "platform/file_descriptor.h"

namespace ordalis::editor {

namespace {

constexpr std::string_view kLengthHeader = "content-length:";
constexpr std::size_t kReadChunk = 64 << 10;
// A header line longer than this is no header: the reader looks for the next block instead.
constexpr std::size_t kMaxHeaderLine = 4096;

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

Incoming Malformed(std::string problem) {
  Incoming incoming;
  incoming.kind = Incoming::Kind::kMalformed;
  incoming.problem = std::move(problem);
  return incoming;
}

// The length a Content-Length value gives; false when it is no plain decimal number.
bool ParseLength(const std::string& value, std::size_t* length) {
  std::size_t first = value.find_first_not_of(" \t");
  std::size_t last = value.find_last_not_of(" \t");
  if (first == std::string::npos) return false;
  std::string digits = value.substr(first, last - first + 1);
  if (digits.size() > 18 || !std::all_of(digits.begin(), digits.end(), ::isdigit)) return false;
  *length = std::strtoull(digits.c_str(), nullptr, 10);
  return true;
}

}  // namespace

bool MessageReader::Fill() {
  if (start_ > 0) {
    buffer_.erase(0, start_);
    start_ = 0;
  }
  char chunk[kReadChunk];
  long got = ReadRetry(fd_, chunk, sizeof chunk);
  if (got <= 0) return false;
  buffer_.append(chunk, static_cast<std::size_t>(got));
  return true;
}

bool MessageReader::ReadLine(std::string* line) {
  for (;;) {
    std::size_t end = buffer_.find('\n', start_);
    if (end != std::string::npos) {
      line->assign(buffer_, start_, end - start_);
      if (!line->empty() && line->back() == '\r') line->pop_back();
      start_ = end + 1;
      return true;
    }
    if (buffer_.size() - start_ > kMaxHeaderLine) {  // no line end in sight: not a header
      line->assign(buffer_, start_, kMaxHeaderLine);
      start_ += kMaxHeaderLine;
      return true;
    }
    if (!Fill()) return false;
  }
}

bool MessageReader::Resynchronise() {
  for (;;) {
    std::string lower = Lower(buffer_.substr(start_));
    std::size_t found = lower.find(kLengthHeader);
    if (found != std::string::npos) {
      start_ += found;
      lost_ = false;
      return true;
    }
    // Keep a tail that may be the start of the header cut by the read.
    std::size_t keep = std::min(buffer_.size() - start_, kLengthHeader.size() - 1);
    start_ = buffer_.size() - keep;
    if (!Fill()) return false;
  }
}

bool MessageReader::ReadBody(std::size_t length, std::string* body) {
  while (length > 0) {
    if (start_ == buffer_.size() && !Fill()) return false;
    std::size_t here = std::min(length, buffer_.size() - start_);
    if (body != nullptr) body->append(buffer_, start_, here);
    start_ += here;
    length -= here;
  }
  return true;
}

Incoming MessageReader::Next() {
  if (lost_ && !Resynchronise()) return Incoming{};
  std::string line;
  bool have_length = false;
  std::size_t length = 0;
  std::string problem;
  bool any_header = false;
  for (;;) {
    if (!ReadLine(&line)) return Incoming{};
    if (line.empty()) {
      if (any_header) break;
      continue;  // blank lines between messages are tolerated
    }
    any_header = true;
    std::size_t colon = line.find(':');
    if (colon == std::string::npos) {
      problem = "a header line without ':'";
      continue;
    }
    if (Lower(line.substr(0, colon + 1)) == kLengthHeader) {
      have_length = ParseLength(line.substr(colon + 1), &length);
      if (!have_length) problem = "a Content-Length that is no number";
    }
  }
  if (!have_length) {
    lost_ = true;
    return Malformed(problem.empty() ? "a message without a Content-Length header" : problem);
  }
  if (length > kMaxBodyBytes) {
    if (!ReadBody(length, nullptr)) return Incoming{};
    return Malformed("a message of " + std::to_string(length) + " bytes, above the limit of " +
                     std::to_string(kMaxBodyBytes));
  }
  std::string body;
  body.reserve(length);
  if (!ReadBody(length, &body)) return Incoming{};
  Incoming incoming;
  incoming.message = nlohmann::json::parse(body, nullptr, false);
  if (incoming.message.is_discarded()) return Malformed("a body that is no JSON");
  if (!incoming.message.is_object()) return Malformed("a body that is no JSON object");
  incoming.kind = Incoming::Kind::kMessage;
  return incoming;
}

std::string MessageText(const nlohmann::json& message) {
  return message.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

bool MessageWriter::Send(const nlohmann::json& message) {
  std::string body = MessageText(message);
  std::string framed = "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  std::lock_guard<std::mutex> lock(mutex_);
  return WriteAll(fd_, framed);
}

}  // namespace ordalis::editor
