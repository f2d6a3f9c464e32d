// The base protocol of the editor servers: what a reader makes of well-formed and faulty
// streams, and what a writer sends.

#include "editor/message_stream.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "platform/file_descriptor.h"

namespace ordalis::editor {
namespace {

// A pipe whose ends close with the test.
struct Pipe {
  Pipe() {
    int ends[2];
    EXPECT_EQ(::pipe(ends), 0);
    read_end.Reset(ends[0]);
    write_end.Reset(ends[1]);
  }
  FileDescriptor read_end;
  FileDescriptor write_end;
};

std::string Framed(const std::string& body) {
  return "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// What a reader makes of [stream], one word per message until the end: "{...}" for a message,
// "bad" for a malformed one, "end" last.
std::string ReadAllOf(const std::string& stream) {
  Pipe pipe;
  std::thread writer([&] {
    WriteAll(pipe.write_end.get(), stream);
    pipe.write_end.Reset();
  });
  MessageReader reader(pipe.read_end.get());
  std::string seen;
  for (int i = 0; i < 20; ++i) {
    Incoming incoming = reader.Next();
    if (!seen.empty()) seen += " ";
    if (incoming.kind == Incoming::Kind::kEnd) {
      seen += "end";
      break;
    }
    seen += incoming.kind == Incoming::Kind::kMessage ? MessageText(incoming.message) : "bad";
  }
  writer.join();
  return seen;
}

struct FramingCase {
  const char* name;
  std::string stream;
  const char* seen;
};

class Framing : public testing::TestWithParam<FramingCase> {};

TEST_P(Framing, ReadsEachMessageAndGoesOnAfterAFault) {
  EXPECT_EQ(ReadAllOf(GetParam().stream), GetParam().seen);
}

const std::string kGood = Framed(R"({"id":1})");

INSTANTIATE_TEST_SUITE_P(
    Streams, Framing,
    testing::Values(
        FramingCase{"two_messages", kGood + Framed(R"({"id":2})"), R"({"id":1} {"id":2} end)"},
        FramingCase{"further_headers_and_any_case",
                    "content-length: 8\r\nContent-Type: application/vscode-jsonrpc\r\n\r\n{\"id\":3}",
                    R"({"id":3} end)"},
        FramingCase{"bare_line_feeds", "Content-Length: 8\n\n{\"id\":4}", R"({"id":4} end)"},
        FramingCase{"body_no_json", Framed("{nope") + kGood, R"(bad {"id":1} end)"},
        FramingCase{"body_no_object", Framed("[1,2]") + kGood, R"(bad {"id":1} end)"},
        FramingCase{"no_length", "Content-Type: x\r\n\r\n{\"id\":9}" + kGood, R"(bad {"id":1} end)"},
        FramingCase{"length_no_number", "Content-Length: ten\r\n\r\n{\"id\":9}" + kGood,
                    R"(bad {"id":1} end)"},
        FramingCase{"negative_length", "Content-Length: -5\r\n\r\n{}" + kGood, R"(bad {"id":1} end)"},
        FramingCase{"garbage_before_header", "hello there\r\n\r\n" + kGood, R"(bad {"id":1} end)"},
        FramingCase{"length_above_limit",
                    "Content-Length: " + std::to_string(kMaxBodyBytes + 1) + "\r\n\r\n" +
                        std::string(kMaxBodyBytes + 1, ' ') + kGood,
                    R"(bad {"id":1} end)"},
        FramingCase{"body_cut_short", "Content-Length: 50\r\n\r\n{\"id\":1}", "end"},
        FramingCase{"headers_cut_short", "Content-Length: 5\r\n", "end"},
        FramingCase{"empty_stream", "", "end"}),
    [](const testing::TestParamInfo<FramingCase>& info) { return std::string(info.param.name); });

TEST(MessageWriter, FramesAMessageAndReplacesBytesThatAreNoUtf8) {
  Pipe pipe;
  MessageWriter writer(pipe.write_end.get());
  ASSERT_TRUE(writer.Send({{"text", std::string("a\xff")}}));
  pipe.write_end.Reset();
  std::string sent;
  ASSERT_TRUE(ReadAll(pipe.read_end.get(), &sent));
  EXPECT_EQ(sent, Framed("{\"text\":\"a\xEF\xBF\xBD\"}"));
}

TEST(MessageWriter, TellsThatTheClientHasGone) {
  struct sigaction ignore {};
  struct sigaction before {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, &before);
  Pipe pipe;
  pipe.read_end.Reset();
  MessageWriter writer(pipe.write_end.get());
  EXPECT_FALSE(writer.Send({{"id", 1}}));
  sigaction(SIGPIPE, &before, nullptr);
}

}  // namespace
}  // namespace ordalis::editor
