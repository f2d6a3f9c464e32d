#include "links/serial.h"

#include <chrono>
#include <thread>

namespace ordalis {

namespace {

std::atomic<std::uint32_t> default_key_change_wait_ms{1000};

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

}  // namespace

void ISerial::SetDefaultKeyChangeWait(std::uint32_t milliseconds) {
  default_key_change_wait_ms.store(milliseconds);
}

std::uint32_t ISerial::DefaultKeyChangeWait() { return default_key_change_wait_ms.load(); }

bool ISerial::Send(const std::uint8_t* bytes, std::size_t length) {
  std::unique_ptr<Encrypt> cipher = CurrentCipher();
  if (!cipher) return SendRaw(bytes, length);
  if (length > 0xFFFFFFFFu) return false;
  std::vector<std::uint8_t> frame(4 + length);
  PutBigEndian32(frame.data(), static_cast<std::uint32_t>(length));
  if (length > 0) std::copy(bytes, bytes + length, frame.begin() + 4);
  if (!cipher->Apply(frame.data() + 4, length)) return false;
  return SendRaw(frame.data(), frame.size());
}

void ISerial::SetOnline(bool online) {
  bool was = online_.exchange(online);
  if (client_ && was != online) {
    if (online) {
      client_->Connected(this);
    } else {
      client_->Disconnected(this);
    }
  }
  {
    std::lock_guard lock(status_mutex_);
    status_ = description_ + (online ? " online" : " offline");
  }
  if (client_) client_->StatusChanged(this);
}

void ISerial::SetDescription(const std::string& description) {
  {
    std::lock_guard lock(status_mutex_);
    description_ = description;
    status_ = description_ + (online_.load() ? " online" : " offline");
  }
  if (client_) client_->StatusChanged(this);
}

std::string ISerial::Status() const {
  std::lock_guard lock(status_mutex_);
  return status_;
}

std::string ISerial::Description() const {
  std::lock_guard lock(status_mutex_);
  return description_;
}

void ISerial::SetEncryptionKey(const std::uint8_t* bytes, std::size_t length) {
  std::uint32_t wait_ms = key_change_wait_ms_.load();
  if (wait_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(wait_ms));
  std::unique_ptr<Encrypt> replacement;
  if (length > 0) {
    replacement = std::make_unique<Encrypt>(std::string(reinterpret_cast<const char*>(bytes), length));
  }
  std::lock_guard lock(encrypt_mutex_);
  encrypt_ = std::move(replacement);
}

std::unique_ptr<Encrypt> ISerial::CurrentCipher() const {
  std::lock_guard lock(encrypt_mutex_);
  return encrypt_ ? std::make_unique<Encrypt>(*encrypt_) : nullptr;
}

void ISerial::DeliverReceived(const std::uint8_t* bytes, std::size_t length) {
  std::unique_ptr<Encrypt> cipher = CurrentCipher();
  if (!cipher) {
    if (client_) client_->Received(this, bytes, length);
    return;
  }
  DeliverFrames(bytes, length, std::move(*cipher));
}

// Walks a chunk of whole frames; a frame reaching past the end of the chunk, or one that fails
// to decrypt, ends the walk.
void ISerial::DeliverFrames(const std::uint8_t* bytes, std::size_t length, Encrypt cipher) {
  if (length < 5) return;
  std::size_t offset = 0;
  std::vector<std::uint8_t> plain;
  while (length - offset >= 5) {
    std::uint32_t frame_length = GetBigEndian32(bytes + offset);
    if (frame_length > length - offset - 4) return;
    plain.assign(bytes + offset + 4, bytes + offset + 4 + frame_length);
    if (!cipher.Apply(plain.data(), plain.size())) return;
    if (client_) client_->Received(this, plain.data(), plain.size());
    offset += 4 + frame_length;
  }
}

void ISerial::NotifySent(const std::uint8_t* bytes, std::size_t length) {
  if (client_) client_->Sent(this, bytes, length);
}

void ISerial::NotifyLineEvent(int code) {
  if (client_) client_->LineEvent(this, code);
}

}  // namespace ordalis
