#pragma once
// FrameReader: cuts received bytes into frames, each a 32-bit big-endian length L followed by L
// bytes. On a stream link (TCP, serial port, process pipe) the bytes of one frame may arrive in
// any number of receive chunks, so the reader keeps the unfinished frame between chunks; a
// message link resets it after every chunk, so a frame never spans two datagrams.
//
// A frame longer than the reader's limit is never buffered: its bytes are skipped as they arrive
// and the frame is reported as refused, and the frames after it are read as usual.
//
// A stream must not pause inside a frame: when the next bytes of an unfinished frame (or of a
// refused frame being skipped) come kFramePause or more after the last ones, the unfinished
// frame is given up and reported as dropped, and the new bytes start a new frame. Stray bytes
// on a stream (a peer's stray write, line noise) would otherwise be read as the start of a
// length, and every later frame on the connection would be swallowed by it; this way they cost
// at most the frame they overlap. The pause is counted from the last bytes, not from the
// frame's first, so a large frame on a slow serial line is still read whole.
//
// Not thread-safe: one receive path feeds one reader.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ordalis {

// The longest frame a link accepts from a peer: 16 MiB.
inline constexpr std::size_t kMaxFrameLength = std::size_t{16} << 20;

// The longest a stream may pause inside a frame before the unfinished frame is dropped.
inline constexpr std::chrono::milliseconds kFramePause{500};

void PutBigEndian32(std::uint8_t* out, std::uint32_t value);
std::uint32_t GetBigEndian32(const std::uint8_t* in);

class FrameReader {
 public:
  using Clock = std::chrono::steady_clock;

  struct Frame {
    std::vector<std::uint8_t> body;  // the L bytes after the length
    std::string refused;             // why the frame was skipped, or empty for a whole frame
    bool dropped = false;            // refused because it stopped arriving before it was whole
  };

  explicit FrameReader(std::size_t max_length = kMaxFrameLength, std::chrono::milliseconds pause = kFramePause)
      : max_length_(max_length), pause_(pause) {}

  // Appends [length] bytes, which arrived at [arrival], and adds every frame they complete to
  // [frames], in order; first the unfinished frame they come too late for, if any, as dropped.
  void Feed(const std::uint8_t* bytes, std::size_t length, Clock::time_point arrival, std::vector<Frame>& frames);
  void Feed(const std::uint8_t* bytes, std::size_t length, std::vector<Frame>& frames) {
    Feed(bytes, length, Clock::now(), frames);
  }
  // Drops the unfinished frame, if any, that bytes arriving at [arrival] come too late for
  // (Feed does this first).
  void DropIfPaused(Clock::time_point arrival, std::vector<Frame>& frames);
  // Forgets an unfinished frame (a new connection starts a new stream of frames).
  void Reset();
  // True while part of a frame is held or being skipped.
  bool partial() const { return !pending_.empty() || skip_ > 0; }

 private:
  std::size_t TakeHeader(const std::uint8_t* bytes, std::size_t length, std::vector<Frame>& frames);
  std::size_t TakeBody(const std::uint8_t* bytes, std::size_t length, std::vector<Frame>& frames);

  const std::size_t max_length_;
  const std::chrono::milliseconds pause_;
  Clock::time_point last_arrival_{};   // when the bytes fed last came
  std::vector<std::uint8_t> pending_;  // header bytes, then the body bytes held so far
  std::size_t body_length_ = 0;        // L of the frame being read, once its header is whole
  std::size_t skip_ = 0;               // bytes of a refused frame still to pass over
};

}  // namespace ordalis
