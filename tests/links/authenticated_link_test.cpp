// Links with the authenticated cipher, end to end over TCP on the loop-back interface.

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "links/tcp.h"
#include "recording_client.h"
#include "socket_peer.h"

namespace ordalis {
namespace {

using namespace std::chrono_literals;
using testing::Params;
using testing::RecordingClient;

constexpr CipherMode kAuthenticated = CipherMode::kChaCha20Poly1305;

class AuthenticatedTcp : public ::testing::Test {
 protected:
  void SetUp() override {
    server.SetBindAddress("127.0.0.1");
    server.SetKeyChangeWait(0);
    server.SetEncryption(kAuthenticated, "shared phrase");
    ASSERT_TRUE(server.Open(Params({Variant::Int(0)})));
    ASSERT_TRUE(server_client.WaitForStatusContaining("accepting connection"));
  }
  // A client link keyed with [key], opened towards the server.
  std::unique_ptr<TCP> Connect(RecordingClient& client, const std::string& key) {
    auto link = std::make_unique<TCP>(&client);
    link->SetKeyChangeWait(0);
    link->SetEncryption(kAuthenticated, key);
    EXPECT_TRUE(link->Open(Params({Variant::String("127.0.0.1"), Variant::Int(server.ListeningPort())})));
    return link;
  }

  RecordingClient server_client;
  TCP server{&server_client};
};

TEST_F(AuthenticatedTcp, MessagesSentBeforeTheKeyIsAgreedArriveWholeAndInOrder) {
  RecordingClient client;
  std::unique_ptr<TCP> link = Connect(client, "shared phrase");
  std::string large(100000, 'L');
  ASSERT_TRUE(link->Send("first"));  // before the connection, or before the key: held
  ASSERT_TRUE(link->Send(large));
  ASSERT_TRUE(link->WaitForSession(20s));
  ASSERT_TRUE(link->Send("last"));
  ASSERT_TRUE(server_client.WaitFor([](const auto& r) { return r.received_chunks.size() == 3; }));
  EXPECT_EQ(server_client.Snapshot().received_chunks, (std::vector<std::string>{"first", large, "last"}));
  ASSERT_TRUE(server.Send("reply"));
  EXPECT_TRUE(client.WaitForReceived("reply"));
  EXPECT_TRUE(server_client.Snapshot().rejections.empty());
  EXPECT_TRUE(link->Close());
}

// Each connection agrees its own key; nothing held for the first peer reaches the second.
TEST_F(AuthenticatedTcp, EachConnectionHasItsOwnSession) {
  {
    RecordingClient first;
    std::unique_ptr<TCP> link = Connect(first, "shared phrase");
    ASSERT_TRUE(link->WaitForSession(20s));
    ASSERT_TRUE(server.WaitForSession(20s));
    ASSERT_TRUE(link->Close());
  }
  ASSERT_TRUE(server_client.WaitFor([](const auto& r) { return r.disconnected == 1; }));
  ASSERT_TRUE(server.Send("for the first peer"));
  RecordingClient second;
  std::unique_ptr<TCP> link = Connect(second, "shared phrase");
  ASSERT_TRUE(link->WaitForSession(20s));
  ASSERT_TRUE(link->Send("hello again"));
  ASSERT_TRUE(server_client.WaitForReceived("hello again"));
  ASSERT_TRUE(server.Send("for the second peer"));
  ASSERT_TRUE(second.WaitForReceived("for the second peer"));
  EXPECT_EQ(second.Snapshot().received_chunks, std::vector<std::string>{"for the second peer"});
  EXPECT_TRUE(second.Snapshot().rejections.empty());
}

TEST_F(AuthenticatedTcp, APeerWithAnotherKeyIsRefused) {
  RecordingClient client;
  std::unique_ptr<TCP> link = Connect(client, "guessed phrase");
  ASSERT_TRUE(link->Send("script:power.Off()"));
  ASSERT_TRUE(server_client.WaitFor([](const auto& r) { return !r.rejections.empty(); }));
  auto record = server_client.Snapshot();
  EXPECT_EQ(record.rejections.front(), "a data frame that failed authentication");
  EXPECT_TRUE(record.received.empty());
  EXPECT_TRUE(link->Close());
}

// A peer speaking the old RC4 framing to an authenticated link gets nothing through.
TEST_F(AuthenticatedTcp, OldFramingIsRefused) {
  FileDescriptor peer = testing::ConnectLocal(server.ListeningPort());
  ASSERT_TRUE(testing::SendText(peer.get(), std::string("\0\0\0\x07", 4) + "connect"));
  ASSERT_TRUE(server_client.WaitFor([](const auto& r) { return !r.rejections.empty(); }));
  EXPECT_TRUE(server_client.Snapshot().received.empty());
}

}  // namespace
}  // namespace ordalis
