#include "links/tcp.h"

#include <gtest/gtest.h>

#include <netinet/tcp.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <thread>

#include "links/encrypt.h"
#include "links/frame_reader.h"
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

// The peer never reads: the send thread blocks in the socket, the queue fills, and a sender
// waits for room. Close ends all of them at once. The sender refills whatever room the send
// thread makes while the socket buffers still take data, so it ends waiting either way.
TEST_F(TcpServer, CloseEndsTheThreadsWhileAPeerHangs) {
  FileDescriptor peer = testing::ConnectLocal(port);
  ASSERT_TRUE(client.WaitFor([](const auto& r) { return r.connected == 1; }));
  std::vector<std::uint8_t> block(1 << 20, 'x');
  link.SetSendWait(std::chrono::milliseconds(0));
  int queued = 0;
  while (queued < 64 && link.Send(block.data(), block.size())) ++queued;
  ASSERT_LT(queued, 64) << "the send queue is bounded";
  ASSERT_TRUE(client.WaitFor([](const auto& r) { return !r.sent.empty(); }));
  std::thread waiting([&] {
    while (link.WaitForSendRoom(block.size(), std::chrono::hours(1)))
      link.Send(block.data(), block.size(), std::chrono::milliseconds(0));
  });
  EXPECT_TRUE(link.Close());
  waiting.join();
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

// A peer that connects and never reads: the queue stops at its limit, Send fails after the
// send wait and the status says so; once the peer reads, sending works again.
TEST(TcpClient, SendQueueIsBoundedAgainstAPeerThatNeverReads) {
  std::uint16_t port = 0;
  FileDescriptor listener = testing::ListenLocal(port);
  int small = 4096;
  ::setsockopt(listener.get(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  RecordingClient client;
  TCP link(&client);
  constexpr std::size_t kLimit = 64 * 1024;
  link.SetSendQueueLimit(kLimit);
  link.SetSendWait(std::chrono::milliseconds(20));
  ASSERT_TRUE(link.Open(Params({Variant::String("127.0.0.1"), Variant::Int(port)})));
  FileDescriptor peer = testing::AcceptOne(listener.get());
  ASSERT_TRUE(client.WaitFor([](const auto& r) { return r.connected == 1; }));

  std::vector<std::uint8_t> block(16 * 1024, 'q');
  std::size_t accepted = 0;
  while (accepted < 4096 && link.Send(block.data(), block.size())) ++accepted;
  ASSERT_LT(accepted, 4096u);
  EXPECT_LE(link.QueuedBytes(), kLimit);
  EXPECT_NE(link.Status().find(" send queue full online"), std::string::npos) << link.Status();

  std::string drained = testing::ReceiveBytes(peer.get(), accepted * block.size());
  EXPECT_EQ(drained.size(), accepted * block.size());
  ASSERT_TRUE(link.WaitForSendRoom(block.size(), std::chrono::seconds(20)));
  ASSERT_TRUE(link.Send(block.data(), block.size()));
  EXPECT_EQ(link.Status().find("send queue full"), std::string::npos) << link.Status();
  EXPECT_EQ(testing::ReceiveBytes(peer.get(), block.size()).size(), block.size());
  EXPECT_TRUE(link.Close());
}

// RC4 frames of every size reach the client whole, though TCP hands them over in pieces of
// at most 2048 bytes.
TEST(TcpClient, KeyedFramesLongerThanAReceiveChunkArriveWhole) {
  std::uint16_t port = 0;
  FileDescriptor listener = testing::ListenLocal(port);
  RecordingClient client;
  TCP link(&client);
  link.SetKeyChangeWait(0);
  link.SetEncryptionKey("secret");
  ASSERT_TRUE(link.Open(Params({Variant::String("127.0.0.1"), Variant::Int(port)})));
  FileDescriptor peer = testing::AcceptOne(listener.get());
  std::string wire;
  std::vector<std::string> sent;
  for (std::size_t size : {1u, 2047u, 2048u, 5000u, 70000u, 3u}) {
    std::string text(size, static_cast<char>('a' + sent.size()));
    sent.push_back(text);
    Encrypt("secret").Apply(text);
    std::string header(4, '\0');
    PutBigEndian32(reinterpret_cast<std::uint8_t*>(header.data()), static_cast<std::uint32_t>(size));
    wire += header + text;
  }
  ASSERT_TRUE(testing::SendText(peer.get(), wire));
  ASSERT_TRUE(client.WaitFor([&](const auto& r) { return r.received_chunks.size() >= sent.size(); }));
  EXPECT_EQ(client.Snapshot().received_chunks, sent);
  EXPECT_TRUE(link.Close());
}

// Whether the process's own TCP socket from local port [local] to port [remote] sends each
// write at once (TCP_NODELAY); the link keeps its sockets to itself, so they are found among the
// process's descriptors.
std::optional<bool> SendsAtOnce(std::uint16_t local, std::uint16_t remote) {
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    int fd = std::atoi(entry.path().filename().c_str());
    sockaddr_in own{}, peer{};
    socklen_t own_size = sizeof own, peer_size = sizeof peer;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&own), &own_size) != 0 || own.sin_family != AF_INET ||
        ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peer_size) != 0) {
      continue;
    }
    if (ntohs(own.sin_port) != local || ntohs(peer.sin_port) != remote) continue;
    int on = 0;
    socklen_t size = sizeof on;
    if (::getsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, &size) != 0) return std::nullopt;
    return on != 0;
  }
  return std::nullopt;
}

std::uint16_t PeerPort(int fd) {
  sockaddr_in address{};
  socklen_t size = sizeof address;
  ::getpeername(fd, reinterpret_cast<sockaddr*>(&address), &size);
  return ntohs(address.sin_port);
}

// A command, its log lines and its reply are small writes; with Nagle's algorithm each one
// after the first waits for the peer's delayed acknowledgement.
TEST(Tcp, BothEndsSendEachWriteAtOnce) {
  std::uint16_t port = 0;
  FileDescriptor listener = testing::ListenLocal(port);
  RecordingClient client_side;
  TCP client(&client_side);
  ASSERT_TRUE(client.Open(Params({Variant::String("127.0.0.1"), Variant::Int(port)})));
  FileDescriptor accepted = testing::AcceptOne(listener.get());
  ASSERT_TRUE(accepted.valid());
  ASSERT_TRUE(client_side.WaitFor([](const auto& r) { return r.connected == 1; }));
  EXPECT_EQ(SendsAtOnce(PeerPort(accepted.get()), port), std::optional<bool>(true)) << "client";

  RecordingClient server_side;
  TCP server(&server_side);
  server.SetBindAddress("127.0.0.1");
  ASSERT_TRUE(server.Open(Params({Variant::Int(0)})));
  ASSERT_TRUE(server_side.WaitForStatusContaining("accepting connection"));
  FileDescriptor peer = testing::ConnectLocal(server.ListeningPort());
  ASSERT_TRUE(peer.valid());
  ASSERT_TRUE(server_side.WaitFor([](const auto& r) { return r.connected == 1; }));
  EXPECT_EQ(SendsAtOnce(server.ListeningPort(), testing::LocalPort(peer.get())), std::optional<bool>(true))
      << "server";
  EXPECT_TRUE(client.Close());
  EXPECT_TRUE(server.Close());
}

}  // namespace
}  // namespace ordalis
