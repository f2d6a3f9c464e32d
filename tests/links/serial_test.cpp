#include "links/serial.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <utility>

#include "links/loop_back.h"
#include "links/packet_serial.h"
#include "links/serial_creator.h"
#include "links/tcp.h"
#include "recording_client.h"

namespace ordalis {
namespace {

using testing::Bytes;
using testing::Params;
using testing::RecordingClient;

// A link kind that only records what it is asked to transmit.
class CapturingLink : public ISerial {
 public:
  using ISerial::ISerial;
  bool Open(const LinkParameters&) override { return true; }
  bool Close() override { return true; }
  bool IsOpen() override { return true; }
  bool SendRaw(const std::uint8_t* bytes, std::size_t length) override {
    wire.insert(wire.end(), bytes, bytes + length);
    return true;
  }
  std::vector<std::uint8_t> wire;
};

class SerialBase : public ::testing::Test {
 protected:
  void SetUp() override { link.SetKeyChangeWait(0); }
  RecordingClient client;
  CapturingLink link{&client};
};

TEST_F(SerialBase, StatusFollowsDescriptionAndOnlineFlag) {
  EXPECT_EQ(link.Status(), "unknown offline");
  link.SetOnline(true);
  link.SetOnline(true);
  link.SetDescription("tcp server port 5025");
  link.SetOnline(false);
  auto record = client.Snapshot();
  EXPECT_EQ(record.connected, 1);
  EXPECT_EQ(record.disconnected, 1);
  EXPECT_EQ(record.statuses, (std::vector<std::string>{"unknown online", "unknown online",
                                                       "tcp server port 5025 online",
                                                       "tcp server port 5025 offline"}));
}

TEST_F(SerialBase, KeyedSendFramesCiphertextWithBigEndianLength) {
  link.SetEncryptionKey("secret");
  ASSERT_TRUE(link.Send(Bytes("abc").data(), 3));
  ASSERT_EQ(link.wire.size(), 7u);
  EXPECT_EQ(std::vector<std::uint8_t>(link.wire.begin(), link.wire.begin() + 4),
            (std::vector<std::uint8_t>{0, 0, 0, 3}));
  EXPECT_NE(std::string(link.wire.begin() + 4, link.wire.end()), "abc");

  CapturingLink peer(&client);
  peer.SetKeyChangeWait(0);
  peer.SetEncryptionKey("secret");
  peer.DeliverReceived(link.wire.data(), link.wire.size());
  EXPECT_EQ(client.Snapshot().received_chunks, (std::vector<std::string>{"abc"}));
}

TEST_F(SerialBase, KeyOfLengthZeroSwitchesEncryptionOff) {
  link.SetEncryptionKey("secret");
  link.SetEncryptionKey("");
  ASSERT_TRUE(link.Send(Bytes("abc").data(), 3));
  EXPECT_EQ(link.wire, Bytes("abc"));
}

// Builds a chunk from frames enciphered under "k"; a frame is (declared length, plaintext).
std::vector<std::uint8_t> Frames(const std::vector<std::pair<std::uint32_t, std::string>>& frames) {
  std::vector<std::uint8_t> chunk;
  for (const auto& [length, text] : frames) {
    std::string cipher = text;
    Encrypt("k").Apply(cipher);
    for (int shift = 24; shift >= 0; shift -= 8) chunk.push_back(static_cast<std::uint8_t>(length >> shift));
    chunk.insert(chunk.end(), cipher.begin(), cipher.end());
  }
  return chunk;
}

struct FrameCase {
  const char* name;
  std::vector<std::uint8_t> chunk;
  std::vector<std::string> delivered;
};

class EncryptedDelivery : public ::testing::TestWithParam<FrameCase> {};

TEST_P(EncryptedDelivery, WalksWholeFrames) {
  RecordingClient client;
  CapturingLink link(&client);
  link.SetKeyChangeWait(0);
  link.SetEncryptionKey("k");
  link.DeliverReceived(GetParam().chunk.data(), GetParam().chunk.size());
  EXPECT_EQ(client.Snapshot().received_chunks, GetParam().delivered);
}

std::vector<FrameCase> FrameCases() {
  std::vector<std::uint8_t> two = Frames({{2, "hi"}, {5, "there"}});
  std::vector<std::uint8_t> truncated = Frames({{2, "hi"}, {9, "cut"}});
  std::vector<std::uint8_t> trailing = Frames({{2, "hi"}});
  trailing.insert(trailing.end(), {0, 0, 0, 1});
  return {
      {"FourBytesOrFewerIgnored", {0, 0, 0, 0}, {}},
      {"OneFrame", Frames({{3, "abc"}}), {"abc"}},
      {"TwoFramesInOneChunk", two, {"hi", "there"}},
      {"FramePastTheEndStopsTheWalk", truncated, {"hi"}},
      {"FewerThanFiveTrailingBytesIgnored", trailing, {"hi"}},
      {"OverlongLengthDeliversNothing", Frames({{0xFFFFFFFFu, "abc"}}), {}},
      {"EmptyFrameIsNotDelivered", Frames({{2, "hi"}, {0, ""}, {3, "you"}}), {"hi", "you"}},
  };
}

INSTANTIATE_TEST_SUITE_P(Frames, EncryptedDelivery, ::testing::ValuesIn(FrameCases()),
                         [](const auto& info) { return std::string(info.param.name); });

// A stream link: the bytes of one frame may come in any number of chunks.
class StreamLink : public CapturingLink {
 public:
  using CapturingLink::CapturingLink;
  LinkFraming framing() const override { return LinkFraming::kStream; }
};

struct StreamCase {
  const char* name;
  std::vector<std::uint8_t> stream;
  std::size_t chunk;  // the stream arrives in chunks of this size
  std::vector<std::string> delivered;
  std::size_t rejections;
};

void PrintTo(const StreamCase& c, std::ostream* out) { *out << c.name; }

class StreamReassembly : public ::testing::TestWithParam<StreamCase> {};

TEST_P(StreamReassembly, DeliversEveryWholeFrameHoweverTheBytesArrive) {
  RecordingClient client;
  StreamLink link(&client);
  link.SetKeyChangeWait(0);
  link.SetEncryptionKey("k");
  const std::vector<std::uint8_t>& stream = GetParam().stream;
  for (std::size_t at = 0; at < stream.size(); at += GetParam().chunk) {
    link.DeliverReceived(stream.data() + at, std::min(GetParam().chunk, stream.size() - at));
  }
  auto record = client.Snapshot();
  EXPECT_EQ(record.received_chunks, GetParam().delivered);
  EXPECT_EQ(record.rejections.size(), GetParam().rejections);
}

std::vector<StreamCase> StreamCases() {
  std::string large(5000, 'x');
  large[4999] = 'y';
  std::vector<std::uint8_t> overlong = {0x01, 0x00, 0x00, 0x01};  // 16 MiB + 1 bytes follow
  overlong.resize(overlong.size() + (std::size_t{16} << 20) + 1, 0xAB);
  std::vector<std::uint8_t> after = Frames({{5, "after"}});
  overlong.insert(overlong.end(), after.begin(), after.end());
  std::vector<StreamCase> cases = {
      {"FrameOverTwoKilobytesInTwoKilobyteChunks", Frames({{5000, large}, {2, "hi"}}), 2048, {large, "hi"}, 0},
      {"ByteByByte", Frames({{3, "abc"}, {0, ""}, {2, "de"}}), 1, {"abc", "de"}, 0},
      {"OverlongFrameIsSkippedAndTheNextOneRead", overlong, 65536, {"after"}, 1},
  };
  // Every split point of two frames sent back to back.
  std::vector<std::uint8_t> two = Frames({{5, "first"}, {6, "second"}});
  for (std::size_t split = 1; split < two.size(); ++split) {
    cases.push_back({"InChunksOf", two, split, {"first", "second"}, 0});
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Chunks, StreamReassembly, ::testing::ValuesIn(StreamCases()),
                         [](const auto& info) { return std::string(info.param.name) + std::to_string(info.index); });

// A new connection starts a new stream: half a frame from the old one is forgotten.
TEST(StreamReassembly, ComingOnlineDropsAHalfReceivedFrame) {
  RecordingClient client;
  StreamLink link(&client);
  link.SetKeyChangeWait(0);
  link.SetEncryptionKey("k");
  std::vector<std::uint8_t> frame = Frames({{5, "stale"}});
  link.DeliverReceived(frame.data(), 6);
  link.SetOnline(true);
  std::vector<std::uint8_t> fresh = Frames({{5, "fresh"}});
  link.DeliverReceived(fresh.data(), fresh.size());
  EXPECT_EQ(client.Snapshot().received_chunks, std::vector<std::string>{"fresh"});
}

// Pieces of a keyed stream, each arriving some milliseconds after the start: stray bytes and
// frames the stream pauses inside cost at most the frame they overlap.
struct PausedStreamCase {
  std::string name;
  std::vector<std::pair<int, std::vector<std::uint8_t>>> pieces;  // (arrival in ms, bytes)
  std::vector<std::string> delivered;
  std::size_t rejections;
};

void PrintTo(const PausedStreamCase& c, std::ostream* out) { *out << c.name; }

std::vector<std::uint8_t> Slice(const std::vector<std::uint8_t>& bytes, std::size_t from, std::size_t to) {
  return {bytes.begin() + static_cast<long>(from), bytes.begin() + static_cast<long>(std::min(to, bytes.size()))};
}

class PausedStream : public ::testing::TestWithParam<PausedStreamCase> {};

TEST_P(PausedStream, DropsAFrameTheStreamPausedInsideAndReadsOn) {
  RecordingClient client;
  StreamLink link(&client);
  link.SetKeyChangeWait(0);
  link.SetEncryptionKey("k");
  const auto start = FrameReader::Clock::time_point() + std::chrono::hours(1);
  for (const auto& [at, bytes] : GetParam().pieces) {
    link.DeliverReceived(bytes.data(), bytes.size(), start + std::chrono::milliseconds(at));
  }
  auto record = client.Snapshot();
  EXPECT_EQ(record.received_chunks, GetParam().delivered);
  EXPECT_EQ(record.rejections.size(), GetParam().rejections);
}

std::vector<PausedStreamCase> PausedStreamCases() {
  const int pause = static_cast<int>(kFramePause.count());
  std::vector<std::uint8_t> next = Frames({{4, "next"}});
  std::vector<std::uint8_t> split = Frames({{5, "split"}});
  std::vector<std::uint8_t> promise = Frames({{100, "short"}});
  std::vector<PausedStreamCase> cases;
  // Stray bytes are dropped when the next frame comes; four of them make a length far over the
  // limit, refused at once as well.
  for (std::size_t stray = 1; stray <= 4; ++stray) {
    cases.push_back({"Stray" + std::to_string(stray) + "BytesThenAFrame",
                     {{0, std::vector<std::uint8_t>(stray, ' ')}, {pause + 100, next}}, {"next"}, stray == 4 ? 2u : 1u});
  }
  cases.push_back({"StrayByteSwallowsTheFrameRightAfterItOnly",
                   {{0, {' '}}, {10, Frames({{4, "lost"}})}, {pause + 100, next}}, {"next"}, 2});
  cases.push_back({"FrameInThreePiecesWithinThePause",
                   {{0, Slice(split, 0, 2)}, {pause - 1, Slice(split, 2, 6)}, {2 * pause - 2, Slice(split, 6, 9)}},
                   {"split"}, 0});
  cases.push_back({"HeaderPromisingMoreThanArrives", {{0, promise}, {pause + 100, next}}, {"next"}, 1});
  cases.push_back({"APauseOfTheWholeLimitDropsTheFrame",
                   {{0, Slice(split, 0, 3)}, {pause, next}}, {"next"}, 1});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Pauses, PausedStream, ::testing::ValuesIn(PausedStreamCases()),
                         [](const auto& info) { return info.param.name; });

// With the authenticated cipher every data frame carries the next counter; the frame stray
// bytes swallowed leaves a gap, which must not make every later frame a refused one.
TEST(PausedStream, AnAuthenticatedStreamReadsOnAfterTheFrameStrayBytesCost) {
  RecordingClient sender_client, receiver_client;
  StreamLink sender(&sender_client), receiver(&receiver_client);
  for (StreamLink* link : {&sender, &receiver}) {
    link->SetKeyChangeWait(0);
    link->SetEncryption(CipherMode::kChaCha20Poly1305, "phrase");
    link->SetOnline(true);
  }
  for (int round = 0; round < 4 && !(sender.SessionEstablished() && receiver.SessionEstablished()); ++round) {
    std::vector<std::uint8_t> there = std::exchange(sender.wire, {}), back = std::exchange(receiver.wire, {});
    receiver.DeliverReceived(there.data(), there.size());
    sender.DeliverReceived(back.data(), back.size());
  }
  ASSERT_TRUE(sender.SessionEstablished() && receiver.SessionEstablished());
  const auto start = FrameReader::Clock::now() + std::chrono::hours(1);
  auto deliver = [&](int at, std::vector<std::uint8_t> bytes) {
    receiver.DeliverReceived(bytes.data(), bytes.size(), start + std::chrono::milliseconds(at));
  };
  ASSERT_TRUE(sender.Send("lost"));
  std::vector<std::uint8_t> lost = std::exchange(sender.wire, {});
  deliver(0, {' '});
  deliver(10, lost);
  ASSERT_TRUE(sender.Send("next"));
  deliver(static_cast<int>(kFramePause.count()) + 100, std::exchange(sender.wire, {}));
  EXPECT_EQ(receiver_client.Snapshot().received_chunks, std::vector<std::string>{"next"});
  ASSERT_TRUE(sender.Send("after"));
  deliver(static_cast<int>(kFramePause.count()) + 110, std::exchange(sender.wire, {}));
  deliver(static_cast<int>(kFramePause.count()) + 120, lost);  // played again: still refused
  EXPECT_EQ(receiver_client.Snapshot().received_chunks, (std::vector<std::string>{"next", "after"}));
  EXPECT_EQ(receiver_client.Snapshot().rejections.back(), "a replayed or out-of-order data frame");
}

TEST(LoopBack, ReturnsWhatIsSentOnTheCallersThreadDecryptedAgain) {
  RecordingClient client;
  LoopBack link(&client);
  EXPECT_FALSE(link.SendRaw(Bytes("x").data(), 1));
  ASSERT_TRUE(link.Open({}));
  EXPECT_FALSE(link.Open({}));
  EXPECT_TRUE(link.IsOpen());
  link.SetKeyChangeWait(0);
  link.SetEncryptionKey("phrase");
  ASSERT_TRUE(link.Send(Bytes("ping").data(), 4));
  auto record = client.Snapshot();
  EXPECT_EQ(record.received, "ping");
  EXPECT_EQ(record.sent.size(), 8u);  // the framed ciphertext went over the wire
  EXPECT_EQ(record.sent_threads, std::vector<std::thread::id>{std::this_thread::get_id()});
  EXPECT_TRUE(link.Close());
  EXPECT_FALSE(link.Close());
  EXPECT_EQ(link.Status(), "unknown offline");
}

// Traffic and a key change on different threads: each message is enciphered on its own copy of
// the cipher, so the change is free of data races (the thread sanitizer build checks this).
TEST(LoopBack, KeyMayChangeWhileTrafficFlows) {
  RecordingClient client;
  LoopBack link(&client);
  link.SetKeyChangeWait(0);
  ASSERT_TRUE(link.Open({}));
  std::thread traffic([&] {
    for (int i = 0; i < 200; ++i) link.Send(Bytes("data").data(), 4);
  });
  for (int i = 0; i < 50; ++i) link.SetEncryptionKey(i % 2 ? "" : "key");
  traffic.join();
  link.SetEncryptionKey("");
  ASSERT_TRUE(link.Send(Bytes("last").data(), 4));
  EXPECT_TRUE(client.WaitForReceived("last"));
}

struct CreateCase {
  const char* type;
  const char* kind;  // empty: no link
};

void PrintTo(const CreateCase& c, std::ostream* out) { *out << '"' << c.type << '"'; }
void PrintTo(const FrameCase& c, std::ostream* out) { *out << c.name; }

class Creator : public ::testing::TestWithParam<CreateCase> {};

TEST_P(Creator, MakesTheNamedKindIgnoringCase) {
  RecordingClient client;
  std::unique_ptr<ISerial> link = SerialCreator::Instance().Create(&client, GetParam().type);
  std::string kind = GetParam().kind;
  if (kind.empty()) {
    EXPECT_EQ(link, nullptr);
    return;
  }
  ASSERT_NE(link, nullptr);
  EXPECT_FALSE(link->IsOpen());
  EXPECT_FALSE(link->IsOnline());
  std::string name = typeid(*link).name();
  if (auto* packet = dynamic_cast<PacketSerial*>(link.get())) {
    name = std::string("PacketSerial over ") + typeid(*packet->inner()).name();
  }
  EXPECT_NE(name.find(kind), std::string::npos) << name;
}

INSTANTIATE_TEST_SUITE_P(
    TypeNames, Creator,
    ::testing::Values(CreateCase{"rs232", "RS232"}, CreateCase{"RS-232", "RS232"},
                      CreateCase{"rs232pkt", "PacketSerial over N7ordalis5RS232"},
                      CreateCase{"rs-232PKT", "PacketSerial over N7ordalis5RS232"},
                      CreateCase{"tcp", "TCP"}, CreateCase{"TCPPKT", "PacketSerial over N7ordalis3TCP"},
                      CreateCase{"Udp", "UDP"}, CreateCase{"VISA", "VISAComs"},
                      CreateCase{"LoopBack", "LoopBack"}, CreateCase{"process", "ProcessPipe"},
                      CreateCase{"serial", ""}, CreateCase{"", ""}, CreateCase{"tcp ", ""}),
    [](const auto& info) { return std::to_string(info.index); });

}  // namespace
}  // namespace ordalis
