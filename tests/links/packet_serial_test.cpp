#include "links/packet_serial.h"

#include <gtest/gtest.h>

#include <chrono>
#include <utility>
#include <vector>

#include "links/serial_creator.h"
#include "links/tcp.h"
#include "fake_port.h"
#include "recording_client.h"
#include "socket_peer.h"

namespace ordalis {
namespace {

using testing::Bytes;
using testing::Params;
using testing::RecordingClient;

std::string Packet(const std::string& payload, std::uint32_t declared) {
  std::string packet;
  for (int shift = 24; shift >= 0; shift -= 8) packet.push_back(static_cast<char>(declared >> shift));
  return packet + payload;
}
std::string Packet(const std::string& payload) { return Packet(payload, static_cast<std::uint32_t>(payload.size())); }

struct ReassemblyCase {
  const char* name;
  std::string stream;       // what the inner link receives
  std::size_t chunk_size;   // cut into chunks of this size (0: one chunk)
  std::vector<std::string> packets;
};

void PrintTo(const ReassemblyCase& c, std::ostream* out) { *out << c.name; }

class Reassembly : public ::testing::TestWithParam<ReassemblyCase> {};

// The inner link's chunks are fed straight to the packet link in its role as the inner link's
// client, so every way of cutting the stream is reproduced exactly.
TEST_P(Reassembly, DeliversWholePackets) {
  RecordingClient client;
  PacketSerial link(&client, "tcp");
  const ReassemblyCase& c = GetParam();
  std::size_t step = c.chunk_size ? c.chunk_size : c.stream.size();
  for (std::size_t at = 0; at < c.stream.size(); at += step) {
    std::string chunk = c.stream.substr(at, step);
    link.Received(link.inner(), reinterpret_cast<const std::uint8_t*>(chunk.data()), chunk.size());
  }
  EXPECT_EQ(client.Snapshot().received_chunks, c.packets);
}

std::vector<ReassemblyCase> ReassemblyCases() {
  std::string largest(PacketSerial::kMaxPacket, 'L');
  std::string too_large(PacketSerial::kMaxPacket + 1, 'T');
  std::string big(5000, 'b');
  return {
      {"OneChunk", Packet("abc") + Packet("de"), 0, {"abc", "de"}},
      {"ByteByByte", Packet("abc") + Packet("de"), 1, {"abc", "de"}},
      {"ThreeBytesAtATime", Packet("hello") + Packet(big) + Packet("x"), 3, {"hello", big, "x"}},
      {"GrowsBeyondTheFirstBuffer", Packet(big), 700, {big}},
      {"LargestPacketPasses", Packet(largest), 1000, {largest}},
      {"OversizeDroppedWithTheRestOfItsChunk", Packet(too_large, too_large.size()) + Packet("lost"), 0, {}},
      {"EmptyPacketDeliversNothing", Packet("") + Packet("after"), 2, {"after"}},
  };
}

INSTANTIATE_TEST_SUITE_P(Chunks, Reassembly, ::testing::ValuesIn(ReassemblyCases()),
                         [](const auto& info) { return std::string(info.param.name); });

// Chunks of the inner link's stream, each arriving some milliseconds after the start: stray
// bytes and a packet the stream pauses inside cost at most the packet they overlap.
struct PausedPacketsCase {
  std::string name;
  std::vector<std::pair<int, std::string>> chunks;
  std::vector<std::string> packets;
  std::size_t rejections;
};

void PrintTo(const PausedPacketsCase& c, std::ostream* out) { *out << c.name; }

class PausedPackets : public ::testing::TestWithParam<PausedPacketsCase> {};

TEST_P(PausedPackets, DropsAPacketTheStreamPausedInsideAndReadsOn) {
  RecordingClient client;
  PacketSerial link(&client, "tcp");
  const auto start = FrameReader::Clock::time_point() + std::chrono::hours(1);
  for (const auto& [at, chunk] : GetParam().chunks) {
    link.ReceivedAt(reinterpret_cast<const std::uint8_t*>(chunk.data()), chunk.size(),
                    start + std::chrono::milliseconds(at));
  }
  auto record = client.Snapshot();
  EXPECT_EQ(record.received_chunks, GetParam().packets);
  EXPECT_EQ(record.rejections.size(), GetParam().rejections);
}

std::vector<PausedPacketsCase> PausedPacketsCases() {
  const int pause = static_cast<int>(kFramePause.count());
  std::string split = Packet("split");
  std::vector<PausedPacketsCase> cases;
  for (std::size_t stray = 1; stray <= 3; ++stray) {
    cases.push_back({"Stray" + std::to_string(stray) + "BytesThenAPacket",
                     {{0, std::string(stray, '\0')}, {pause + 100, Packet("next")}}, {"next"}, 1});
  }
  // Three stray zeros and the next packet's first byte make an empty packet; its other bytes
  // then read as a length of 1132, which swallows that packet's payload.
  cases.push_back({"StrayBytesSwallowThePacketRightAfterThemOnly",
                   {{0, std::string(3, '\0')}, {10, Packet("lost")}, {pause + 100, Packet("next")}}, {"next"}, 1});
  cases.push_back({"PacketInThreePiecesWithinThePause",
                   {{0, split.substr(0, 2)}, {pause - 1, split.substr(2, 4)}, {2 * pause - 2, split.substr(6)}},
                   {"split"}, 0});
  cases.push_back({"HeaderPromisingMoreThanArrives",
                   {{0, Packet("short", 100)}, {pause + 100, Packet("next")}}, {"next"}, 1});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Pauses, PausedPackets, ::testing::ValuesIn(PausedPacketsCases()),
                         [](const auto& info) { return info.param.name; });

// A server and a client packet link over TCP on 127.0.0.1, both keyed alike.
class TcpPackets : public ::testing::Test {
 protected:
  void SetUp() override {
    server = SerialCreator::Instance().Create(&server_client, "tcppkt");
    client = SerialCreator::Instance().Create(&client_client, "TCPPKT");
    auto* inner = dynamic_cast<TCP*>(dynamic_cast<PacketSerial&>(*server).inner());
    inner->SetBindAddress("127.0.0.1");
    ASSERT_TRUE(server->Open(Params({Variant::Int(0)})));
    ASSERT_TRUE(server_client.WaitForStatusContaining("accepting connection"));
    port = inner->ListeningPort();
  }
  RecordingClient server_client, client_client;
  std::unique_ptr<ISerial> server, client;
  std::uint16_t port = 0;
};

TEST_F(TcpPackets, EncryptedPacketsCrossWholeAndLargePacketsToo) {
  for (ISerial* link : {server.get(), client.get()}) {
    link->SetKeyChangeWait(0);
    link->SetEncryptionKey("phrase");
  }
  ASSERT_TRUE(client->Open(Params({Variant::String("127.0.0.1"), Variant::Int(port)})));
  ASSERT_TRUE(client_client.WaitFor([](const auto& r) { return r.connected == 1; }));
  EXPECT_TRUE(client_client.WaitForStatusContaining("tcp client of 127.0.0.1 port " + std::to_string(port) +
                                                   " connected online"));
  std::string big(20000, 'z');
  ASSERT_TRUE(client->Send("first"));
  ASSERT_TRUE(client->Send(big));
  ASSERT_TRUE(server_client.WaitFor([](const auto& r) { return r.received_chunks.size() == 2; }));
  auto record = server_client.Snapshot();
  EXPECT_EQ(record.received_chunks, (std::vector<std::string>{"first", big}));
  ASSERT_TRUE(server->Send("reply"));
  EXPECT_TRUE(client_client.WaitForReceived("reply"));
  // Sent reports what the packet link sent: the encrypted frame without the packet header.
  EXPECT_TRUE(client_client.WaitFor([&](const auto& r) { return r.sent.size() == 4 + 5 + 4 + big.size(); }));
}

TEST_F(TcpPackets, PlainPeerSeesPacketHeaderAndCiphertext) {
  server->SetKeyChangeWait(0);
  server->SetEncryptionKey("phrase");
  FileDescriptor peer = testing::ConnectLocal(port);
  ASSERT_TRUE(server_client.WaitFor([](const auto& r) { return r.connected == 1; }));
  ASSERT_TRUE(server->Send("abc"));
  std::string wire = testing::ReceiveBytes(peer.get(), 11);
  ASSERT_EQ(wire.size(), 11u);
  EXPECT_EQ(wire.substr(0, 8), std::string("\0\0\0\7\0\0\0\3", 8));
  EXPECT_NE(wire.substr(8), "abc");
}

TEST_F(TcpPackets, OversizePacketFromAPeerIsDroppedAndTheNextOneArrives) {
  FileDescriptor peer = testing::ConnectLocal(port);
  ASSERT_TRUE(server_client.WaitFor([](const auto& r) { return r.connected == 1; }));
  std::string too_large(PacketSerial::kMaxPacket + 1, 'T');
  ASSERT_TRUE(testing::SendText(peer.get(), Packet(too_large)));
  // Whatever of the oversize packet arrives in later chunks is read as further (oversize)
  // lengths and dropped too; a new connection starts a clean packet stream.
  peer.Reset();
  ASSERT_TRUE(server_client.WaitFor([](const auto& r) { return r.disconnected == 1; }));
  FileDescriptor again = testing::ConnectLocal(port);
  ASSERT_TRUE(server_client.WaitFor([](const auto& r) { return r.connected == 2; }));
  ASSERT_TRUE(testing::SendText(again.get(), Packet("fine")));
  ASSERT_TRUE(server_client.WaitForReceived("fine"));
  EXPECT_EQ(server_client.Snapshot().received, "fine");
}

// Packets over a serial port: a packet written in pieces by the device arrives whole, and what
// the link sends carries its length in front.
TEST(Rs232Packets, ReassemblesPiecesWrittenByTheDevice) {
  testing::FakePort port;
  RecordingClient client;
  std::unique_ptr<ISerial> link = SerialCreator::Instance().Create(&client, "rs232pkt");
  ASSERT_TRUE(link->Open(Params({Variant::String(port.path()), Variant::Int(57600), Variant::String("Software")})));
  EXPECT_TRUE(link->IsOpen());
  EXPECT_TRUE(client.WaitForStatusContaining("rs232 " + port.path() + ",57600,Software online"));
  std::string packet = Packet("measure 1") + Packet("measure 2");
  for (std::size_t at = 0; at < packet.size(); at += 5) {
    std::string piece = packet.substr(at, 5);
    ASSERT_EQ(::write(port.master(), piece.data(), piece.size()), static_cast<long>(piece.size()));
  }
  ASSERT_TRUE(client.WaitFor([](const auto& r) { return r.received_chunks.size() == 2; }));
  EXPECT_EQ(client.Snapshot().received_chunks, (std::vector<std::string>{"measure 1", "measure 2"}));
  ASSERT_TRUE(link->Send("ok"));
  EXPECT_EQ(testing::ReceiveBytes(port.master(), 6), Packet("ok"));
  EXPECT_TRUE(link->Close());
  EXPECT_FALSE(link->IsOpen());
}

}  // namespace
}  // namespace ordalis
