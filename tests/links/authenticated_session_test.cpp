#include "links/authenticated_session.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "links/frame_reader.h"

namespace ordalis {
namespace {

using Bytes = AuthenticatedSession::Bytes;
using Rule = AuthenticatedSession::CounterRule;
using Echo = AuthenticatedSession::OwnEcho;

// The body of a whole frame (its 32-bit length cut off).
Bytes Body(const Bytes& frame) { return Bytes(frame.begin() + 4, frame.end()); }

// One end: a session and what it heard.
struct End {
  End(const std::string& key, Rule rule = Rule::kNextInSequence) : session(key, rule, Echo::kRefused) {}
  AuthenticatedSession session;
  std::vector<std::string> delivered;
  std::vector<std::string> refused;

  // Opens a whole frame; returns the reply to send back, if any.
  std::optional<Bytes> Take(const Bytes& frame) {
    Bytes body = Body(frame);
    AuthenticatedSession::Outcome outcome = session.Open(body.data(), body.size());
    if (outcome.plaintext) delivered.emplace_back(outcome.plaintext->begin(), outcome.plaintext->end());
    if (!outcome.refused.empty()) refused.push_back(outcome.refused);
    return outcome.reply;
  }
  Bytes Seal(const std::string& text) { return session.Seal(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()); }
};

using Wire = std::deque<std::pair<End*, Bytes>>;  // (receiver, frame)

// Carries frames between [a] and [b], each reply back to the other end, until nothing more is
// said; what [a] sends is kept in [sent_by_a] when given.
void Carry(Wire wire, End& a, End& b, std::vector<Bytes>* sent_by_a = nullptr) {
  for (int exchanged = 0; !wire.empty() && exchanged < 20; ++exchanged) {
    auto [receiver, frame] = wire.front();
    wire.pop_front();
    if (sent_by_a && receiver == &b) sent_by_a->push_back(frame);
    if (auto reply = receiver->Take(frame)) wire.push_back({receiver == &a ? &b : &a, *reply});
  }
  EXPECT_TRUE(wire.empty()) << "the hellos never settled";
}

// Both ends start afresh; their opening hellos cross (delivered in the order given).
void Handshake(End& a, End& b, bool b_first = false, std::vector<Bytes>* sent_by_a = nullptr) {
  Bytes hello_a = a.session.Restart();
  Bytes hello_b = b.session.Restart();
  Wire wire = {{&b, hello_a}, {&a, hello_b}};
  if (b_first) std::swap(wire[0], wire[1]);
  Carry(wire, a, b, sent_by_a);
}

class Sessions : public ::testing::TestWithParam<bool> {};

TEST_P(Sessions, AgreeOnAKeyWhicheverHelloArrivesFirst) {
  End a("open sesame"), b("open sesame");
  Handshake(a, b, GetParam());
  ASSERT_TRUE(a.session.established());
  ASSERT_TRUE(b.session.established());
  a.Take(b.Seal("from b"));
  b.Take(a.Seal("from a"));
  b.Take(a.Seal(std::string(100000, 'z')));
  EXPECT_EQ(a.delivered, std::vector<std::string>{"from b"});
  EXPECT_EQ(b.delivered, (std::vector<std::string>{"from a", std::string(100000, 'z')}));
  EXPECT_TRUE(a.refused.empty() && b.refused.empty());
}

INSTANTIATE_TEST_SUITE_P(Order, Sessions, ::testing::Bool());

struct Tamper {
  const char* name;
  std::function<void(Bytes&)> change;
};

class TamperedFrame : public ::testing::TestWithParam<Tamper> {};

// On a message link the session goes on after a forgery (on a stream link the frame's counter
// would then be missing, and the stream is refused from there on).
TEST_P(TamperedFrame, IsRefusedAndNothingDelivered) {
  End a("key", Rule::kIncreasing), b("key", Rule::kIncreasing);
  Handshake(a, b);
  Bytes frame = a.Seal("script:power.Off()");
  GetParam().change(frame);
  b.Take(frame);
  EXPECT_TRUE(b.delivered.empty());
  ASSERT_EQ(b.refused.size(), 1u);
  b.refused.clear();
  b.Take(a.Seal("next"));  // the session survives a forgery
  EXPECT_EQ(b.delivered, std::vector<std::string>{"next"});
}

INSTANTIATE_TEST_SUITE_P(
    Changes, TamperedFrame,
    ::testing::Values(Tamper{"CiphertextBit", [](Bytes& f) { f[4 + 9] ^= 0x01; }},
                      Tamper{"TagBit", [](Bytes& f) { f.back() ^= 0x80; }},
                      Tamper{"Counter", [](Bytes& f) { f[4 + 8] ^= 0x02; }},
                      Tamper{"TypeByte", [](Bytes& f) { f[4] = 'X'; }},
                      Tamper{"Truncated", [](Bytes& f) { f.resize(4 + 20); }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(AuthenticatedSession, RefusesReplayedAndReorderedFramesOnAStream) {
  End a("key"), b("key");
  Handshake(a, b);
  Bytes first = a.Seal("one"), second = a.Seal("two"), third = a.Seal("three");
  b.Take(first);
  b.Take(first);   // replayed
  b.Take(third);   // skips "two": something was removed from the stream
  b.Take(second);
  EXPECT_EQ(b.delivered, (std::vector<std::string>{"one", "two"}));
  EXPECT_EQ(b.refused, (std::vector<std::string>{"a replayed or out-of-order data frame",
                                                 "a replayed or out-of-order data frame"}));
}

TEST(AuthenticatedSession, AMessageLinkAcceptsGapsButNeverAnOlderFrame) {
  End a("key", Rule::kIncreasing), b("key", Rule::kIncreasing);
  Handshake(a, b);
  Bytes first = a.Seal("one"), lost = a.Seal("lost"), third = a.Seal("three");
  b.Take(first);
  b.Take(third);
  b.Take(lost);
  EXPECT_EQ(b.delivered, (std::vector<std::string>{"one", "three"}));
  EXPECT_EQ(b.refused.size(), 1u);
}

TEST(AuthenticatedSession, AWrongKeyNeverDeliversAnything) {
  End a("right key"), b("wrong key");
  Handshake(a, b);
  ASSERT_TRUE(b.session.established());  // hellos carry no secret; the first frame tells
  b.Take(a.Seal("connect"));
  EXPECT_TRUE(b.delivered.empty());
  EXPECT_EQ(b.refused, std::vector<std::string>{"a data frame that failed authentication"});
}

// An eavesdropper records one whole session from the peer's side and plays it to the proxy on
// a new connection: the proxy's fresh random makes a new key, so none of it opens.
TEST(AuthenticatedSession, ARecordedSessionReplayedOnANewConnectionOpensNothing) {
  End peer("key"), proxy("key");
  std::vector<Bytes> recorded;
  Handshake(peer, proxy, false, &recorded);
  recorded.push_back(peer.Seal("script:x = 1"));
  proxy.Take(recorded.back());
  ASSERT_EQ(proxy.delivered, std::vector<std::string>{"script:x = 1"});

  End fresh_proxy("key");
  fresh_proxy.session.Restart();
  for (const Bytes& frame : recorded) fresh_proxy.Take(frame);
  EXPECT_TRUE(fresh_proxy.delivered.empty());
  EXPECT_FALSE(fresh_proxy.refused.empty());
}

// A peer that hears a new random from the other end (it restarted) agrees a new key with a new
// random of its own, so an old hello played back later cannot bring an old key back either.
TEST(AuthenticatedSession, APeerRestartLeadsToANewKeyAndOldFramesStayShut) {
  End a("key", Rule::kIncreasing), b("key", Rule::kIncreasing);
  std::vector<Bytes> b_said;
  Handshake(b, a, false, &b_said);
  Bytes old_frame = b.Seal("old");
  End b2("key", Rule::kIncreasing);
  Carry({{&a, b2.session.Restart()}}, b2, a);
  ASSERT_TRUE(a.session.established() && b2.session.established());
  for (const Bytes& frame : b_said) a.Take(frame);  // the old hellos, played back
  a.Take(old_frame);
  EXPECT_TRUE(a.delivered.empty());
  Carry({{&a, b2.session.Restart()}}, b2, a);
  a.Take(b2.Seal("new"));
  EXPECT_EQ(a.delivered, std::vector<std::string>{"new"});
}

TEST(AuthenticatedSession, RefusesItsOwnHelloUnlessItIsALoopBack) {
  AuthenticatedSession link("key", Rule::kNextInSequence, Echo::kRefused);
  Bytes hello = Body(link.Restart());
  EXPECT_EQ(link.Open(hello.data(), hello.size()).refused,
            "a hello carrying this end's own random (a reflected frame)");

  AuthenticatedSession loop("key", Rule::kIncreasing, Echo::kAccepted);
  Bytes own = loop.Restart();
  for (int i = 0; i < 3 && !loop.established(); ++i) {
    Bytes body = Body(own);
    AuthenticatedSession::Outcome outcome = loop.Open(body.data(), body.size());
    if (outcome.reply) own = *outcome.reply;
  }
  ASSERT_TRUE(loop.established());
  Bytes sealed = Body(loop.Seal(reinterpret_cast<const std::uint8_t*>("echo"), 4));
  auto outcome = loop.Open(sealed.data(), sealed.size());
  ASSERT_TRUE(outcome.plaintext);
  EXPECT_EQ(std::string(outcome.plaintext->begin(), outcome.plaintext->end()), "echo");
}

// A peer without the key can echo hellos, and each echo completes a session; what it costs the
// other end is one slow derivation for the key phrase, not one per echo, and it never counts as
// a peer that has shown the key. A peer that holds the key shows it with its first data frame.
TEST(AuthenticatedSession, EchoedHellosCostOneKeyDerivationAndProveNothing) {
  End proxy("phrase");
  proxy.session.Restart();
  std::uint64_t derivations = AuthenticatedSession::LinkKeyDerivations();
  for (int echo = 0; echo < 20; ++echo) {
    AuthenticatedSession::Random stranger{};
    stranger[0] = static_cast<std::uint8_t>(echo + 1);
    AuthenticatedSession::Random proxy_random{};
    auto reply = proxy.Take(AuthenticatedSession::Hello(stranger, proxy_random));
    ASSERT_TRUE(reply);
    std::copy(reply->begin() + 6, reply->begin() + 38, proxy_random.begin());
    proxy.Take(AuthenticatedSession::Hello(stranger, proxy_random));
    EXPECT_TRUE(proxy.session.established());
    EXPECT_FALSE(proxy.session.peer_proven());
  }
  EXPECT_EQ(AuthenticatedSession::LinkKeyDerivations() - derivations, 1u);

  End peer("phrase");
  Handshake(proxy, peer);
  EXPECT_FALSE(proxy.session.peer_proven());
  proxy.Take(peer.Seal("connect"));
  EXPECT_TRUE(proxy.session.peer_proven());
  EXPECT_EQ(AuthenticatedSession::LinkKeyDerivations() - derivations, 2u);  // the peer's own
}

TEST(AuthenticatedSession, RefusesDataBeforeTheKeyAndMalformedFrames) {
  AuthenticatedSession session("key", Rule::kNextInSequence, Echo::kRefused);
  session.Restart();
  struct Case {
    Bytes body;
    const char* refused;
  };
  Bytes short_hello = {'H', 1, 2, 3};
  Bytes data(40, 0);
  data[0] = 'D';
  Bytes first_version = Body(AuthenticatedSession::Hello({}, {}));
  first_version[1] = 1;
  for (const Case& c : {Case{short_hello, "a malformed hello frame"},
                        Case{first_version, "a hello of version 1 (this end speaks version 2)"}, Case{data, "a data frame before the session key was agreed"},
                        Case{{'Z'}, "a frame of unknown type 90"}, Case{{}, "an empty frame"}}) {
    EXPECT_EQ(session.Open(c.body.data(), c.body.size()).refused, c.refused);
  }
}

}  // namespace
}  // namespace ordalis
