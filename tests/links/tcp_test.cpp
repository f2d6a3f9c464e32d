#include "links/tcp.h"

#include <gtest/gtest.h>

#include "recording_client.h"
#include "socket_peer.h"

namespace ordalis {
namespace {

using testing::Bytes;
using testing::Params;
using testing::RecordingClient;

TEST(TcpClient, ExchangesDataAndReconnectsAfterTheServerDropsIt) {
  std::uint16_t port = 0;
  FileDescriptor listener = testing::ListenLocal(port);
  RecordingClient client;
  TCP link(&client);
  ASSERT_TRUE(link.Open(Params({Variant::String("127.0.0.1"), Variant::Int(port)})));
  EXPECT_TRUE(link.IsOpen());
  EXPECT_FALSE(link.Open(Params({Variant::String("127.0.0.1"), Variant::Int(port)})));

  FileDescriptor first = testing::AcceptOne(listener.get());
  ASSERT_TRUE(first.valid());
  ASSERT_TRUE(client.WaitFor([](const auto& r) { return r.connected == 1; }));
  std::string base = "tcp client of 127.0.0.1 port " + std::to_string(port);
  EXPECT_TRUE(client.WaitForStatusContaining(base + " connected online"));

  ASSERT_TRUE(link.Send(Bytes("hello server").data(), 12));
  EXPECT_EQ(testing::ReceiveBytes(first.get(), 12), "hello server");
  EXPECT_TRUE(client.WaitFor([](const auto& r) { return r.sent == "hello server"; }));
  ASSERT_TRUE(testing::SendText(first.get(), "hello link"));
  EXPECT_TRUE(client.WaitForReceived("hello link"));

  first.Reset();
  ASSERT_TRUE(client.WaitFor([](const auto& r) { return r.disconnected == 1; }));
  EXPECT_TRUE(client.WaitForStatusContaining(base + " disconnected offline"));
  FileDescriptor second = testing::AcceptOne(listener.get());
  ASSERT_TRUE(second.valid());
  ASSERT_TRUE(client.WaitFor([](const auto& r) { return r.connected == 2; }));
  ASSERT_TRUE(link.Send(Bytes("again").data(), 5));
  EXPECT_EQ(testing::ReceiveBytes(second.get(), 5), "again");

  EXPECT_TRUE(link.Close());
  EXPECT_FALSE(link.Close());
  EXPECT_FALSE(link.IsOnline());
  EXPECT_TRUE(testing::WaitForClose(second.get()));
}

TEST(TcpClient, ReportsAConnectionErrorAndKeepsTrying) {
  std::uint16_t port = 0;
  { FileDescriptor gone = testing::ListenLocal(port); }  // nothing listens there any more
  RecordingClient client;
  TCP link(&client);
  ASSERT_TRUE(link.Open(Params({Variant::String("127.0.0.1"), Variant::Int(port)})));
  EXPECT_TRUE(client.WaitForStatusContaining(" connecting to server offline"));
  EXPECT_TRUE(client.WaitForStatusContaining(" Connection error "));
  EXPECT_TRUE(client.WaitFor([](const auto& r) {
    int errors = 0;
    for (const auto& s : r.statuses) errors += s.find("Connection error") != std::string::npos;
    return errors >= 2;  // it tried again
  }));
  EXPECT_TRUE(link.Close());
}

TEST(TcpClient, UnknownHostIsReported) {
  RecordingClient client;
  TCP link(&client);
  ASSERT_TRUE(link.Open(Params({Variant::String("no-such-host.invalid"), Variant::Int(5025)})));
  EXPECT_TRUE(client.WaitForStatusContaining(
      "tcp client of no-such-host.invalid port 5025 failed to find server address offline"));
  EXPECT_TRUE(link.Close());
}

class TcpServer : public ::testing::Test {
 protected:
  void SetUp() override {
    link.SetBindAddress("127.0.0.1");
    ASSERT_TRUE(link.Open(Params({Variant::Int(0)})));
    ASSERT_TRUE(client.WaitForStatusContaining("tcp server port 0 accepting connection offline"));
    port = link.ListeningPort();
    ASSERT_NE(port, 0);
  }
  RecordingClient client;
  TCP link{&client};
  std::uint16_t port = 0;
};

TEST_F(TcpServer, ServesOneClientAtATimeAndListensAgain) {
  FileDescriptor first = testing::ConnectLocal(port);
  ASSERT_TRUE(first.valid());
  ASSERT_TRUE(client.WaitFor([](const auto& r) { return r.connected == 1; }));
  ASSERT_TRUE(testing::SendText(first.get(), "one;"));
  ASSERT_TRUE(client.WaitForReceived("one;"));

  // The second client waits in the backlog while the first is served.
  FileDescriptor second = testing::ConnectLocal(port);
  ASSERT_TRUE(second.valid());
  ASSERT_TRUE(testing::SendText(second.get(), "two;"));
  ASSERT_TRUE(link.Send(Bytes("to first").data(), 8));
  EXPECT_EQ(testing::ReceiveBytes(first.get(), 8), "to first");
  EXPECT_EQ(client.Snapshot().received, "one;");

  first.Reset();
  ASSERT_TRUE(client.WaitFor([](const auto& r) { return r.disconnected == 1 && r.connected == 2; }));
  ASSERT_TRUE(client.WaitForReceived("one;two;"));
  ASSERT_TRUE(link.Send(Bytes("to second").data(), 9));
  EXPECT_EQ(testing::ReceiveBytes(second.get(), 9), "to second");
  EXPECT_TRUE(link.Close());
  EXPECT_TRUE(testing::WaitForClose(second.get()));
}

TEST_F(TcpServer, DataQueuedBeforeAClientArrivesIsSentToIt) {
  ASSERT_TRUE(link.Send(Bytes("early").data(), 5));
  FileDescriptor peer = testing::ConnectLocal(port);
  EXPECT_EQ(testing::ReceiveBytes(peer.get(), 5), "early");
}

// A peer that never reads: the send thread blocks with full socket buffers, and Close must
// still end it at once.
TEST_F(TcpServer, CloseEndsTheThreadsWhileAPeerHangs) {
  FileDescriptor peer = testing::ConnectLocal(port);
  ASSERT_TRUE(client.WaitFor([](const auto& r) { return r.connected == 1; }));
  std::vector<std::uint8_t> block(1 << 20, 'x');
  for (int i = 0; i < 16; ++i) ASSERT_TRUE(link.Send(block.data(), block.size()));
  ASSERT_TRUE(client.WaitFor([](const auto& r) { return !r.sent.empty(); }));
  EXPECT_TRUE(link.Close());
  EXPECT_FALSE(link.IsOpen());
  EXPECT_FALSE(link.IsOnline());
}

TEST(Tcp, OpenRejectsOtherParameterShapes) {
  RecordingClient client;
  TCP link(&client);
  const LinkParameters rejected[] = {
      {},
      Params({Variant::String("localhost")}),
      Params({Variant::Int(70000)}),
      Params({Variant::Int(-1)}),
      Params({Variant::Int(5025), Variant::String("localhost")}),
      Params({Variant::String(""), Variant::Int(5025)}),
      Params({Variant::String("localhost"), Variant::Double(5025)}),
      Params({Variant::String("localhost"), Variant::Int(5025), Variant::Int(1)}),
  };
  for (const auto& parameters : rejected) {
    EXPECT_FALSE(link.Open(parameters)) << parameters.size();
    EXPECT_FALSE(link.IsOpen());
  }
  EXPECT_FALSE(link.Close());
}

}  // namespace
}  // namespace ordalis
