#include "links/authenticated_session.h"

#include <nettle/chacha-poly1305.h>
#include <nettle/hmac.h>
#include <nettle/memops.h>
#include <nettle/pbkdf2.h>
#include <sys/random.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "links/frame_reader.h"

namespace ordalis {

namespace {

constexpr std::uint8_t kHelloType = 'H';
constexpr std::uint8_t kDataType = 'D';
// Version 2 derives the link key once and each session key from it; a version 1 peer derived
// every session key from the phrase and cannot agree with this end.
constexpr std::uint8_t kVersion = 2;
constexpr char kLinkKeySalt[] = "ordalis link key 2";
constexpr char kSessionLabel[] = "ordalis link session 2";

std::atomic<std::uint32_t> g_key_iterations{kKeyIterations};
std::atomic<std::uint64_t> g_link_key_derivations{0};

AuthenticatedSession::Random FreshRandom() {
  AuthenticatedSession::Random random{};
  std::size_t filled = 0;
  while (filled < random.size()) {
    ssize_t got = ::getrandom(random.data() + filled, random.size() - filled, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) throw std::runtime_error("no random numbers from the system");
    filled += static_cast<std::size_t>(got);
  }
  return random;
}

void PutBigEndian64(std::uint8_t* out, std::uint64_t value) {
  for (int i = 7; i >= 0; --i, value >>= 8) out[i] = static_cast<std::uint8_t>(value);
}

std::uint64_t GetBigEndian64(const std::uint8_t* in) {
  std::uint64_t value = 0;
  for (int i = 0; i < 8; ++i) value = (value << 8) | in[i];
  return value;
}

AuthenticatedSession::Outcome Refused(std::string reason) {
  AuthenticatedSession::Outcome outcome;
  outcome.refused = std::move(reason);
  return outcome;
}

}  // namespace

AuthenticatedSession::AuthenticatedSession(std::string key_phrase, CounterRule rule, OwnEcho own_echo)
    : key_phrase_(std::move(key_phrase)), rule_(rule), own_echo_(own_echo), own_(FreshRandom()) {}

AuthenticatedSession::Bytes AuthenticatedSession::Hello(const Random& own, const Random& peer) {
  Bytes frame(4 + kHelloSize);
  PutBigEndian32(frame.data(), kHelloSize);
  frame[4] = kHelloType;
  frame[5] = kVersion;
  std::copy(own.begin(), own.end(), frame.begin() + 6);
  std::copy(peer.begin(), peer.end(), frame.begin() + 6 + 32);
  return frame;
}

void AuthenticatedSession::SetKeyIterationsForFuzzing(std::uint32_t iterations) {
  g_key_iterations.store(iterations == 0 ? 1 : iterations);
}

AuthenticatedSession::Bytes AuthenticatedSession::Restart() {
  own_ = FreshRandom();
  own_used_ = false;
  Drop();
  echoed_ = Random{};
  return Hello(own_, echoed_);
}

std::uint64_t AuthenticatedSession::LinkKeyDerivations() { return g_link_key_derivations.load(); }

void AuthenticatedSession::Drop() {
  established_ = false;
  peer_proven_ = false;
  has_peer_ = false;
  key_ = {};
}

AuthenticatedSession::Outcome AuthenticatedSession::Open(const std::uint8_t* body, std::size_t length) {
  if (length == 0) return Refused("an empty frame");
  if (body[0] == kHelloType) return OpenHello(body, length);
  if (body[0] == kDataType) return OpenData(body, length);
  return Refused("a frame of unknown type " + std::to_string(body[0]));
}

// A hello tells the peer's current random and the random of ours it heard last. A new peer
// random starts a new session; ours, echoed back, completes it. We answer whenever our last
// hello did not yet carry the peer's current random, so both ends settle after one exchange.
AuthenticatedSession::Outcome AuthenticatedSession::OpenHello(const std::uint8_t* body, std::size_t length) {
  if (length != kHelloSize) return Refused("a malformed hello frame");
  if (body[1] != kVersion) {
    return Refused("a hello of version " + std::to_string(body[1]) + " (this end speaks version " +
                   std::to_string(kVersion) + ")");
  }
  Random peer, heard;
  std::copy(body + 2, body + 34, peer.begin());
  std::copy(body + 34, body + 66, heard.begin());
  if (peer == own_ && own_echo_ == OwnEcho::kRefused) {
    return Refused("a hello carrying this end's own random (a reflected frame)");
  }
  Outcome outcome;
  if (established_ && peer == peer_) {
    // The peer has not heard our random yet (its copy of our hello was lost): tell it again.
    if (heard != own_) outcome.reply = Hello(own_, peer_);
    return outcome;
  }
  if (!has_peer_ || peer != peer_) AdoptPeer(peer);
  if (heard == own_ && !own_used_) {
    Establish();
    outcome.established = true;
  }
  if (echoed_ != peer_) {
    outcome.reply = Hello(own_, peer_);
    echoed_ = peer_;
  }
  return outcome;
}

// A random that already made a session key is never used for another one: a peer replaying an
// old hello would otherwise meet the old key again.
void AuthenticatedSession::AdoptPeer(const Random& peer) {
  if (own_used_) {
    own_ = FreshRandom();
    own_used_ = false;
    echoed_ = Random{};
  }
  established_ = false;
  peer_proven_ = false;
  peer_ = peer;
  has_peer_ = true;
}

void AuthenticatedSession::DeriveLinkKey() {
  pbkdf2_hmac_sha256(key_phrase_.size(), reinterpret_cast<const std::uint8_t*>(key_phrase_.data()),
                     g_key_iterations.load(), sizeof kLinkKeySalt - 1,
                     reinterpret_cast<const std::uint8_t*>(kLinkKeySalt), link_key_.size(), link_key_.data());
  has_link_key_ = true;
  g_link_key_derivations.fetch_add(1);
}

void AuthenticatedSession::Establish() {
  if (!has_link_key_) DeriveLinkKey();
  const Random& low = std::min(own_, peer_);
  const Random& high = std::max(own_, peer_);
  hmac_sha256_ctx context;
  hmac_sha256_set_key(&context, link_key_.size(), link_key_.data());
  hmac_sha256_update(&context, sizeof kSessionLabel - 1, reinterpret_cast<const std::uint8_t*>(kSessionLabel));
  hmac_sha256_update(&context, low.size(), low.data());
  hmac_sha256_update(&context, high.size(), high.data());
  hmac_sha256_digest(&context, key_.size(), key_.data());
  // The end with the lower random sends in direction 0; a loop-back talks to itself in one.
  send_direction_ = own_ <= peer_ ? 0 : 1;
  receive_direction_ = own_ == peer_ ? 0 : 1 - send_direction_;
  sent_ = 0;
  received_ = 0;
  gap_forgiven_ = false;
  established_ = true;
  peer_proven_ = false;
  own_used_ = true;
}

void AuthenticatedSession::Nonce(std::uint8_t direction, std::uint64_t counter, std::uint8_t* nonce) const {
  std::memset(nonce, 0, CHACHA_POLY1305_NONCE_SIZE);
  nonce[0] = direction;
  PutBigEndian64(nonce + CHACHA_POLY1305_NONCE_SIZE - 8, counter);
}

AuthenticatedSession::Bytes AuthenticatedSession::Seal(const std::uint8_t* bytes, std::size_t length) {
  Bytes frame(SealedSize(length));
  PutBigEndian32(frame.data(), static_cast<std::uint32_t>(kDataOverhead + length));
  std::uint8_t* body = frame.data() + 4;
  body[0] = kDataType;
  PutBigEndian64(body + 1, ++sent_);
  std::uint8_t nonce[CHACHA_POLY1305_NONCE_SIZE];
  Nonce(send_direction_, sent_, nonce);
  chacha_poly1305_ctx context;
  chacha_poly1305_set_key(&context, key_.data());
  chacha_poly1305_set_nonce(&context, nonce);
  chacha_poly1305_update(&context, 9, body);
  if (length > 0) chacha_poly1305_encrypt(&context, length, body + 9, bytes);
  chacha_poly1305_digest(&context, CHACHA_POLY1305_DIGEST_SIZE, body + 9 + length);
  return frame;
}

AuthenticatedSession::Outcome AuthenticatedSession::OpenData(const std::uint8_t* body, std::size_t length) {
  if (!established_) return Refused("a data frame before the session key was agreed");
  if (length < kDataOverhead) return Refused("a malformed data frame");
  std::uint64_t counter = GetBigEndian64(body + 1);
  std::size_t size = length - kDataOverhead;
  std::uint8_t nonce[CHACHA_POLY1305_NONCE_SIZE];
  Nonce(receive_direction_, counter, nonce);
  chacha_poly1305_ctx context;
  chacha_poly1305_set_key(&context, key_.data());
  chacha_poly1305_set_nonce(&context, nonce);
  chacha_poly1305_update(&context, 9, body);
  Bytes plain(size);
  if (size > 0) chacha_poly1305_decrypt(&context, size, plain.data(), body + 9);
  std::uint8_t tag[CHACHA_POLY1305_DIGEST_SIZE];
  chacha_poly1305_digest(&context, sizeof tag, tag);
  if (!memeql_sec(tag, body + 9 + size, sizeof tag)) {
    return Refused("a data frame that failed authentication");
  }
  bool strict = rule_ == CounterRule::kNextInSequence && !gap_forgiven_;
  bool in_order = strict ? counter == received_ + 1 : counter > received_;
  if (!in_order) return Refused("a replayed or out-of-order data frame");
  received_ = counter;
  gap_forgiven_ = false;
  peer_proven_ = true;
  Outcome outcome;
  outcome.plaintext = std::move(plain);
  return outcome;
}

}  // namespace ordalis
