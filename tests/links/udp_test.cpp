#include "links/udp.h"

#include <gtest/gtest.h>

#include "recording_client.h"
#include "socket_peer.h"

namespace ordalis {
namespace {

using testing::Bytes;
using testing::Params;
using testing::RecordingClient;

TEST(Udp, OneIntegerTalksToItselfThroughLocalhost) {
  RecordingClient client;
  UDP link(&client);
  link.SetBindAddress("127.0.0.1");
  std::uint16_t port = testing::FreeUdpPort();
  ASSERT_TRUE(link.Open(Params({Variant::Int(port)})));
  EXPECT_TRUE(link.IsOpen());
  EXPECT_TRUE(link.IsOnline());
  std::string p = std::to_string(port);
  EXPECT_EQ(link.Status(), "udp " + p + " <--> localhost:" + p + " online");
  ASSERT_TRUE(link.Send(Bytes("echo me").data(), 7));
  EXPECT_TRUE(client.WaitForReceived("echo me"));
  EXPECT_TRUE(client.WaitFor([](const auto& r) { return r.sent == "echo me"; }));
  EXPECT_TRUE(link.Close());
  EXPECT_FALSE(link.Close());
  EXPECT_EQ(link.Status(), "udp " + p + " <--> localhost:" + p + " offline");
}

TEST(Udp, TwoLinksWithTheSameKeyTalkWhileAPlainPeerSeesCiphertext) {
  std::uint16_t a_port = testing::FreeUdpPort();
  std::uint16_t b_port = testing::FreeUdpPort();
  RecordingClient a_client, b_client;
  UDP a(&a_client), b(&b_client);
  for (UDP* link : {&a, &b}) {
    link->SetBindAddress("127.0.0.1");
    link->SetKeyChangeWait(0);
    link->SetEncryptionKey("shared phrase");
  }
  ASSERT_TRUE(a.Open(Params({Variant::Int(a_port), Variant::String("127.0.0.1"), Variant::Int(b_port)})));
  ASSERT_TRUE(b.Open(Params({Variant::Int(b_port), Variant::String("127.0.0.1"), Variant::Int(a_port)})));
  ASSERT_TRUE(a.Send(Bytes("ping").data(), 4));
  ASSERT_TRUE(b_client.WaitForReceived("ping"));
  EXPECT_EQ(b_client.Snapshot().received_chunks.front(), "ping");
  ASSERT_TRUE(b.Send(Bytes("pong").data(), 4));
  EXPECT_TRUE(a_client.WaitForReceived("pong"));

  // The same link without the key delivers the raw frame: a length and ciphertext.
  b.SetEncryptionKey("");
  ASSERT_TRUE(a.Send(Bytes("abc").data(), 3));
  ASSERT_TRUE(b_client.WaitFor([](const auto& r) { return r.received_chunks.back().size() == 7; }));
  std::string frame = b_client.Snapshot().received_chunks.back();
  EXPECT_EQ(frame.substr(0, 4), std::string("\0\0\0\3", 4));
  EXPECT_NE(frame.substr(4), "abc");
}

TEST(Udp, OpenRejectsOtherParameterShapes) {
  RecordingClient client;
  UDP link(&client);
  const LinkParameters rejected[] = {
      {},
      Params({Variant::String("localhost")}),
      Params({Variant::Int(70000)}),
      Params({Variant::Int(5025), Variant::Int(5026)}),
      Params({Variant::Int(5025), Variant::String("localhost"), Variant::String("5026")}),
      Params({Variant::Int(1), Variant::String("h"), Variant::Int(2), Variant::Int(3)}),
  };
  for (const auto& parameters : rejected) EXPECT_FALSE(link.Open(parameters)) << parameters.size();
  EXPECT_FALSE(link.IsOpen());
}

}  // namespace
}  // namespace ordalis
