#include "links/frame_reader.h"

#include <algorithm>

namespace ordalis {

void PutBigEndian32(std::uint8_t* out, std::uint32_t value) {
  out[0] = static_cast<std::uint8_t>(value >> 24);
  out[1] = static_cast<std::uint8_t>(value >> 16);
  out[2] = static_cast<std::uint8_t>(value >> 8);
  out[3] = static_cast<std::uint8_t>(value);
}

std::uint32_t GetBigEndian32(const std::uint8_t* in) {
  return (std::uint32_t{in[0]} << 24) | (std::uint32_t{in[1]} << 16) |
         (std::uint32_t{in[2]} << 8) | std::uint32_t{in[3]};
}

void FrameReader::Feed(const std::uint8_t* bytes, std::size_t length, Clock::time_point arrival,
                       std::vector<Frame>& frames) {
  if (length == 0) return;
  DropIfPaused(arrival, frames);
  last_arrival_ = arrival;
  std::size_t offset = 0;
  while (offset < length) {
    if (skip_ > 0) {
      std::size_t passed = std::min(skip_, length - offset);
      skip_ -= passed;
      offset += passed;
    } else if (pending_.size() < 4) {
      offset += TakeHeader(bytes + offset, length - offset, frames);
    } else {
      offset += TakeBody(bytes + offset, length - offset, frames);
    }
  }
  // A frame of length zero completes with its header, even at the very end of the bytes.
  if (pending_.size() == 4 && body_length_ == 0) TakeBody(bytes, 0, frames);
}

// Collects the 4 length bytes; with all four, either starts the body or, for an over-long
// frame, reports it and starts skipping its bytes.
std::size_t FrameReader::TakeHeader(const std::uint8_t* bytes, std::size_t length,
                                    std::vector<Frame>& frames) {
  std::size_t taken = std::min<std::size_t>(4 - pending_.size(), length);
  pending_.insert(pending_.end(), bytes, bytes + taken);
  if (pending_.size() < 4) return taken;
  body_length_ = GetBigEndian32(pending_.data());
  if (body_length_ > max_length_) {
    frames.push_back({{}, "a frame of " + std::to_string(body_length_) + " bytes is longer than the " +
                              std::to_string(max_length_) + " bytes a link accepts"});
    skip_ = body_length_;
    pending_.clear();
  }
  return taken;
}

std::size_t FrameReader::TakeBody(const std::uint8_t* bytes, std::size_t length,
                                  std::vector<Frame>& frames) {
  std::size_t held = pending_.size() - 4;
  std::size_t taken = std::min(body_length_ - held, length);
  pending_.insert(pending_.end(), bytes, bytes + taken);
  if (pending_.size() - 4 == body_length_) {
    // The held bytes become the frame, so a long frame's buffer is not kept for the next one.
    std::vector<std::uint8_t> body = std::move(pending_);
    body.erase(body.begin(), body.begin() + 4);
    frames.push_back({std::move(body), {}});
    pending_ = {};
    body_length_ = 0;
  }
  return taken;
}

// The stream paused inside a frame: what is held of it (or left to skip of a refused one) is
// given up, so the bytes that come now are read as the start of a new frame.
void FrameReader::DropIfPaused(Clock::time_point arrival, std::vector<Frame>& frames) {
  if (!partial() || arrival - last_arrival_ < pause_) return;
  std::string what = skip_ > 0 ? "the rest of a refused frame (" + std::to_string(skip_) + " bytes still to come)"
                     : pending_.size() < 4
                         ? "an unfinished frame (" + std::to_string(pending_.size()) + " of its 4 length bytes)"
                         : "an unfinished frame (" + std::to_string(pending_.size() - 4) + " of its " +
                               std::to_string(body_length_) + " bytes)";
  Frame dropped;
  dropped.refused = what + " that stopped arriving for " + std::to_string(pause_.count()) + " ms";
  dropped.dropped = true;
  frames.push_back(std::move(dropped));
  Reset();
}

void FrameReader::Reset() {
  pending_ = {};  // a large unfinished frame's buffer is not kept
  body_length_ = 0;
  skip_ = 0;
}

}  // namespace ordalis
