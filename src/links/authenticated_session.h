#pragma once
// AuthenticatedSession: the authenticated encryption of a link (ChaCha20-Poly1305), with a
// session key agreed afresh for every connection.
//
// Both ends hold the same key phrase, from which each derives a link key once, with
// PBKDF2-SHA256 (kKeyIterations rounds). Each end draws a fresh 32-byte random and announces it
// in a hello frame; once an end has the peer's random and sees its own echoed back, it derives
// the session key as HMAC-SHA256 under the link key over both randoms. The slow derivation is
// paid once per key, not per hello, so a peer without the key that echoes hellos costs the
// other end next to nothing; and a recorded session replayed on a new connection meets a
// different session key and runs nothing. Data frames carry a counter; the nonce is a direction byte and that counter, the
// receiver accepts only frames that authenticate and come in order (the next counter on stream
// links, a higher one on message links), so forged, altered, replayed and reordered frames are
// refused. Frame bodies (the part after the 32-bit big-endian length):
//   hello  'H' 0x02 <own random: 32> <peer random heard last: 32, zeros before any>
//   data   'D' <counter: 8, big-endian> <ciphertext> <tag: 16>
// docs/file-formats.md describes the exchange for authors of peers.
//
// Not thread-safe: the owning link serialises every call.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ordalis {

// PBKDF2-SHA256 rounds of the link key derived from a key phrase.
inline constexpr std::uint32_t kKeyIterations = 100000;

class AuthenticatedSession {
 public:
  using Random = std::array<std::uint8_t, 32>;
  using Bytes = std::vector<std::uint8_t>;

  // How data frame counters must advance: by one on a stream link (nothing is lost or reordered
  // there, so any gap is tampering), upwards on a message link (datagrams may be lost).
  enum class CounterRule { kNextInSequence, kIncreasing };
  // A loop-back link hears its own hello; every other link refuses a hello with its own random.
  enum class OwnEcho { kRefused, kAccepted };

  // What one received frame came to.
  struct Outcome {
    std::optional<Bytes> plaintext;  // a data frame's message
    std::optional<Bytes> reply;      // a hello frame (with its length) to send back
    std::string refused;             // why the frame was refused, or empty
    bool established = false;        // this frame completed the session key
  };

  AuthenticatedSession(std::string key_phrase, CounterRule rule, OwnEcho own_echo);

  // Starts over: a fresh random, no peer, no session. Returns the hello to send (with length).
  Bytes Restart();
  // Forgets the session and the peer (the connection went away); the random stays unused.
  void Drop();
  bool established() const { return established_; }
  // True once a data frame from the peer authenticated in this session: the peer has shown
  // that it holds the key (an echoed hello shows nothing).
  bool peer_proven() const { return peer_proven_; }

  // The whole data frame (length, body) carrying [length] bytes; only while established.
  Bytes Seal(const std::uint8_t* bytes, std::size_t length);
  // The size of the data frame Seal makes for [length] bytes.
  static std::size_t SealedSize(std::size_t length) { return 4 + kDataOverhead + length; }

  // Handles one received frame body.
  Outcome Open(const std::uint8_t* body, std::size_t length);
  // The stream lost a frame the link could not read whole (it stopped arriving): the next data
  // frame may skip counters, once, as on a message link. Replays and reordering stay refused.
  void ForgiveLostFrame() { gap_forgiven_ = true; }

  // A hello frame (with its length) from [own] that has heard [peer]; for tests and peers.
  static Bytes Hello(const Random& own, const Random& peer);

  // Changes the PBKDF2 rounds of link keys derived from now on, for fuzzing harnesses that make a
  // session per input (both ends must use the same count; nothing else should call it).
  static void SetKeyIterationsForFuzzing(std::uint32_t iterations);

  // How many link keys the process has derived from key phrases so far (the slow step).
  static std::uint64_t LinkKeyDerivations();

 private:
  static constexpr std::size_t kHelloSize = 2 + 32 + 32;
  static constexpr std::size_t kDataOverhead = 1 + 8 + 16;

  Outcome OpenHello(const std::uint8_t* body, std::size_t length);
  Outcome OpenData(const std::uint8_t* body, std::size_t length);
  void AdoptPeer(const Random& peer);
  void Establish();
  void DeriveLinkKey();
  void Nonce(std::uint8_t direction, std::uint64_t counter, std::uint8_t* nonce) const;

  const std::string key_phrase_;
  const CounterRule rule_;
  const OwnEcho own_echo_;

  Random own_{};
  bool own_used_ = false;    // a session key was made with own_; a new peer gets a new random
  Random peer_{};
  bool has_peer_ = false;
  Random echoed_{};          // the peer random our last hello carried
  bool established_ = false;
  bool peer_proven_ = false;
  std::array<std::uint8_t, 32> link_key_{};  // from the key phrase, once
  bool has_link_key_ = false;
  std::array<std::uint8_t, 32> key_{};
  std::uint8_t send_direction_ = 0;
  std::uint8_t receive_direction_ = 1;
  std::uint64_t sent_ = 0;      // counter of the last data frame sealed
  std::uint64_t received_ = 0;  // counter of the last data frame accepted
  bool gap_forgiven_ = false;   // the next data frame may skip counters
};

}  // namespace ordalis
