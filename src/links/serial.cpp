#include "links/serial.h"

#include <chrono>
#include <thread>

#include "platform/text.h"

namespace ordalis {

namespace {

using namespace std::chrono_literals;

constexpr char kQueueFullNote[] = " send queue full";

std::atomic<std::uint32_t> default_key_change_wait_ms{1000};
std::atomic<std::int64_t> default_send_wait_ms{10000};

}  // namespace

const char* CipherName(CipherMode mode) {
  switch (mode) {
    case CipherMode::kRc4: return "rc4";
    case CipherMode::kChaCha20Poly1305: return "chacha20-poly1305";
    case CipherMode::kNone: break;
  }
  return "none";
}

bool ParseCipherName(const std::string& text, CipherMode* mode) {
  for (CipherMode candidate : {CipherMode::kRc4, CipherMode::kChaCha20Poly1305}) {
    if (EqualsIgnoringCase(text, CipherName(candidate))) {
      *mode = candidate;
      return true;
    }
  }
  return false;
}

void ISerial::SetDefaultKeyChangeWait(std::uint32_t milliseconds) {
  default_key_change_wait_ms.store(milliseconds);
}

std::uint32_t ISerial::DefaultKeyChangeWait() { return default_key_change_wait_ms.load(); }

void ISerial::SetDefaultSendWait(std::chrono::milliseconds wait) { default_send_wait_ms.store(wait.count()); }

std::chrono::milliseconds ISerial::DefaultSendWait() {
  return std::chrono::milliseconds(default_send_wait_ms.load());
}

// ---- status --------------------------------------------------------------------------------------

void ISerial::SetOnline(bool online) {
  bool was = online_.exchange(online);
  if (was != online) online ? RestartSession() : EndSession();
  if (client_ && was != online) {
    if (online) {
      client_->Connected(this);
    } else {
      client_->Disconnected(this);
    }
  }
  {
    std::lock_guard lock(status_mutex_);
    status_ = StatusFor(online);
  }
  if (client_) client_->StatusChanged(this);
}

void ISerial::SetDescription(const std::string& description) {
  {
    std::lock_guard lock(status_mutex_);
    description_ = description;
    status_ = StatusFor(online_.load());
  }
  if (client_) client_->StatusChanged(this);
}

std::string ISerial::StatusFor(bool online) const {
  return description_ + (queue_full_.load() ? kQueueFullNote : "") + (online ? " online" : " offline");
}

std::string ISerial::Status() const {
  std::lock_guard lock(status_mutex_);
  return status_;
}

std::string ISerial::Description() const {
  std::lock_guard lock(status_mutex_);
  return description_ + (queue_full_.load() ? kQueueFullNote : "");
}

// The note shows in the status text without a StatusChanged of its own: it is set on the
// sender's thread, often with the send order held, where no callback may run.
void ISerial::NoteSendQueueFull(bool full) {
  std::lock_guard lock(status_mutex_);
  if (queue_full_.exchange(full) == full) return;
  status_ = StatusFor(online_.load());
}

// Once full, the queue counts as full until it has drained to below half its limit, so that
// while a peer reads only now and then, senders do not wait at every message.
bool ISerial::Queued(PushResult result) {
  switch (result) {
    case PushResult::kQueued:
      NoteSendQueueFull(false);
      return true;
    case PushResult::kQueuedHalfFull:
      return true;
    case PushResult::kFull:
      NoteSendQueueFull(true);
      return false;
    case PushResult::kClosed:
      break;
  }
  return false;
}

std::chrono::milliseconds ISerial::SendWaitNow(std::chrono::milliseconds wait) const {
  return queue_full_.load() ? 0ms : wait;
}

bool ISerial::WaitForSendRoom(std::size_t length, std::chrono::milliseconds wait) {
  if (!WaitForQueueRoom(length, wait)) return false;
  NoteSendQueueFull(false);
  return true;
}

// ---- sending ---------------------------------------------------------------------------------------

bool ISerial::Send(const std::uint8_t* bytes, std::size_t length) { return Send(bytes, length, send_wait()); }

// A keyed message longer than a receiver accepts as one frame (16 MiB) is refused here.
bool ISerial::Send(const std::uint8_t* bytes, std::size_t length, std::chrono::milliseconds wait,
                   Patience patience) {
  if (patience == Patience::kUsual) wait = SendWaitNow(wait);
  CipherMode mode = cipher_mode();
  if (mode == CipherMode::kNone) return SendRawWithin(bytes, length, wait);
  if (length > kMaxFrameLength) return false;
  if (mode == CipherMode::kChaCha20Poly1305) return SendSealed(bytes, length, wait);
  std::unique_ptr<Encrypt> cipher = CurrentCipher();
  if (!cipher) return SendRawWithin(bytes, length, wait);  // switched off meanwhile
  Bytes frame(4 + length);
  PutBigEndian32(frame.data(), static_cast<std::uint32_t>(length));
  if (length > 0) std::copy(bytes, bytes + length, frame.begin() + 4);
  if (!cipher->Apply(frame.data() + 4, length)) return false;
  return SendRawWithin(frame.data(), frame.size(), wait);
}

// Before the session key is agreed a message waits in the link; *[held] tells whether it did.
// False when there was no room for it within [wait], or the cipher was switched off.
bool ISerial::HoldUntilSession(const std::uint8_t* bytes, std::size_t length,
                               std::chrono::milliseconds wait, bool* held) {
  auto deadline = std::chrono::steady_clock::now() + wait;
  std::unique_lock lock(cipher_mutex_);
  *held = false;
  for (;;) {
    if (!session_) return false;
    if (session_->established()) return true;
    if (pending_.empty() || pending_bytes_ + length <= kSendQueueLimit) {
      pending_.emplace_back(bytes, bytes + length);
      pending_bytes_ += length;
      *held = true;
      return true;
    }
    if (session_changed_.wait_until(lock, deadline) == std::cv_status::timeout) break;
  }
  lock.unlock();
  NoteSendQueueFull(true);
  return false;
}

// Seals the message (after any still waiting for the session) and queues the frames, holding
// the send order so that frames leave in counter order. Room is made sure of before a counter
// is spent: a frame sealed and then not sent would leave a gap the peer refuses.
bool ISerial::SendSealed(const std::uint8_t* bytes, std::size_t length, std::chrono::milliseconds wait) {
  bool held = false;
  if (!HoldUntilSession(bytes, length, wait, &held)) return false;
  if (held) return true;
  std::lock_guard order(send_order_mutex_);
  if (!WaitForQueueRoom(AuthenticatedSession::SealedSize(length), wait)) {
    NoteSendQueueFull(true);
    return false;
  }
  std::vector<Bytes> frames;
  {
    std::lock_guard lock(cipher_mutex_);
    if (!session_) return false;
    if (!session_->established()) {  // the connection changed meanwhile: wait for the next key
      pending_.emplace_back(bytes, bytes + length);
      pending_bytes_ += length;
      return true;
    }
    frames = SealPending();
    frames.push_back(session_->Seal(bytes, length));
  }
  bool sent = true;
  for (const Bytes& frame : frames) sent = SendRawWithin(frame.data(), frame.size(), wait) && sent;
  return sent;
}

std::vector<ISerial::Bytes> ISerial::SealPending() {
  std::vector<Bytes> frames;
  for (const Bytes& message : pending_) frames.push_back(session_->Seal(message.data(), message.size()));
  pending_.clear();
  pending_bytes_ = 0;
  return frames;
}

// ---- keys and sessions -----------------------------------------------------------------------------

void ISerial::SetEncryptionKey(const std::uint8_t* bytes, std::size_t length) {
  SetEncryption(CipherMode::kRc4, std::string(reinterpret_cast<const char*>(bytes), length));
}

void ISerial::SetEncryption(CipherMode mode, const std::string& key) {
  std::uint32_t wait_ms = key_change_wait_ms_.load();
  if (wait_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(wait_ms));
  if (key.empty()) mode = CipherMode::kNone;
  std::unique_ptr<Encrypt> rc4;
  std::unique_ptr<AuthenticatedSession> session;
  if (mode == CipherMode::kRc4) rc4 = std::make_unique<Encrypt>(key);
  if (mode == CipherMode::kChaCha20Poly1305) {
    auto rule = framing() == LinkFraming::kStream ? AuthenticatedSession::CounterRule::kNextInSequence
                                                  : AuthenticatedSession::CounterRule::kIncreasing;
    auto echo = HearsItself() ? AuthenticatedSession::OwnEcho::kAccepted : AuthenticatedSession::OwnEcho::kRefused;
    session = std::make_unique<AuthenticatedSession>(key, rule, echo);
  }
  {
    std::lock_guard receive(receive_mutex_);
    stream_reader_.Reset();
  }
  {
    std::lock_guard order(send_order_mutex_);
    std::lock_guard lock(cipher_mutex_);
    mode_ = mode;
    encrypt_ = std::move(rc4);
    session_ = std::move(session);
    session_ended_ = false;
    pending_.clear();
    pending_bytes_ = 0;
  }
  session_changed_.notify_all();
  if (mode == CipherMode::kChaCha20Poly1305 && online_.load()) RestartSession();
}

CipherMode ISerial::cipher_mode() const {
  std::lock_guard lock(cipher_mutex_);
  return mode_;
}

bool ISerial::SessionEstablished() const {
  std::lock_guard lock(cipher_mutex_);
  return session_ && session_->established();
}

std::size_t ISerial::LargestMessage() const {
  std::size_t most = MaxTransmission();
  if (most == SIZE_MAX) return most;
  std::size_t framing = 0;
  switch (cipher_mode()) {
    case CipherMode::kRc4: framing = 4; break;
    case CipherMode::kChaCha20Poly1305: framing = AuthenticatedSession::SealedSize(0); break;
    case CipherMode::kNone: break;
  }
  return most > framing ? most - framing : 0;
}

std::chrono::milliseconds ISerial::handshake_deadline() const {
  const ISerial* owner = cipher_owner_ ? cipher_owner_ : this;
  return std::chrono::milliseconds(owner->handshake_deadline_ms_.load());
}

bool ISerial::PeerUnproven() const {
  const ISerial* owner = cipher_owner_ ? cipher_owner_ : this;
  std::lock_guard lock(owner->cipher_mutex_);
  return owner->mode_ == CipherMode::kChaCha20Poly1305 && owner->session_ && !owner->session_->peer_proven();
}

bool ISerial::WaitForSession(std::chrono::milliseconds wait) {
  std::unique_lock lock(cipher_mutex_);
  return session_changed_.wait_for(lock, wait, [&] { return session_ && session_->established(); });
}

// A new connection (or a new key on a link that is online) starts a new session: a fresh hello,
// and on a stream link a fresh stream of frames. Frames sealed for the old session, and
// messages held after it ended, were for a peer that has gone and are dropped; messages sent
// before any session go to the first peer.
void ISerial::RestartSession() {
  {
    std::lock_guard receive(receive_mutex_);
    stream_reader_.Reset();
  }
  std::lock_guard order(send_order_mutex_);
  Bytes hello;
  {
    std::lock_guard lock(cipher_mutex_);
    if (!session_) return;
    hello = session_->Restart();
    if (session_ended_) {
      pending_.clear();
      pending_bytes_ = 0;
      session_ended_ = false;
    }
  }
  DiscardQueued();
  SendRawWithin(hello.data(), hello.size(), 0ms);
}

// The peer has gone: what is sent from now on waits for the next session key.
void ISerial::EndSession() {
  {
    std::lock_guard lock(cipher_mutex_);
    if (!session_) return;
    session_ended_ = session_ended_ || session_->established();
    session_->Drop();
  }
  session_changed_.notify_all();
}

std::unique_ptr<Encrypt> ISerial::CurrentCipher() const {
  std::lock_guard lock(cipher_mutex_);
  return encrypt_ ? std::make_unique<Encrypt>(*encrypt_) : nullptr;
}

// ---- receiving ---------------------------------------------------------------------------------------

// Without a key every chunk goes to the client as it came. With one, the chunk is cut into
// frames: on a stream link a frame may continue in the next chunk, on a message link the chunk
// is read on its own and a frame cut short at its end is dropped.
void ISerial::DeliverReceived(const std::uint8_t* bytes, std::size_t length) {
  DeliverReceived(bytes, length, FrameReader::Clock::now());
}

// A frame dropped because the stream paused inside it is reported like a refused one; with
// the authenticated cipher the session then accepts the next frame although the dropped one
// (if it was a data frame) leaves a gap in the counters, so stray bytes cost that one frame.
void ISerial::DeliverReceived(const std::uint8_t* bytes, std::size_t length, FrameReader::Clock::time_point arrival) {
  CipherMode mode = cipher_mode();
  if (mode == CipherMode::kNone) {
    if (client_) client_->Received(this, bytes, length);
    return;
  }
  std::vector<FrameReader::Frame> frames;
  if (framing() == LinkFraming::kStream) {
    std::lock_guard lock(receive_mutex_);
    stream_reader_.Feed(bytes, length, arrival, frames);
  } else {
    FrameReader reader;
    reader.Feed(bytes, length, frames);
  }
  for (FrameReader::Frame& frame : frames) {
    if (frame.dropped && mode == CipherMode::kChaCha20Poly1305) ForgiveLostFrame();
    if (!frame.refused.empty()) {
      Reject(frame.refused);
    } else if (mode == CipherMode::kRc4) {
      OpenRc4(frame.body);
    } else {
      OpenAuthenticated(frame.body);
    }
  }
}

// An empty frame carries no message and is not delivered.
void ISerial::OpenRc4(Bytes& body) {
  std::unique_ptr<Encrypt> cipher = CurrentCipher();
  if (!cipher || body.empty() || !cipher->Apply(body)) return;
  if (client_) client_->Received(this, body.data(), body.size());
}

// Opens one authenticated frame. A hello may complete the session: the answer and the messages
// that waited for the key then go out, in that order, before anything else is sealed.
void ISerial::OpenAuthenticated(const Bytes& body) {
  AuthenticatedSession::Outcome outcome;
  {
    std::lock_guard order(send_order_mutex_);
    std::vector<Bytes> waiting;
    {
      std::lock_guard lock(cipher_mutex_);
      if (!session_) return;
      outcome = session_->Open(body.data(), body.size());
      if (outcome.established) waiting = SealPending();
    }
    if (outcome.established) session_changed_.notify_all();
    if (outcome.reply) SendRawWithin(outcome.reply->data(), outcome.reply->size(), 0ms);
    for (const Bytes& frame : waiting) SendRawWithin(frame.data(), frame.size(), send_wait());
  }
  if (!outcome.refused.empty()) Reject(outcome.refused);
  if (outcome.plaintext && !outcome.plaintext->empty() && client_) {
    client_->Received(this, outcome.plaintext->data(), outcome.plaintext->size());
  }
}

void ISerial::ForgiveLostFrame() {
  std::lock_guard lock(cipher_mutex_);
  if (session_) session_->ForgiveLostFrame();
}

void ISerial::Reject(const std::string& reason) {
  if (client_) client_->FrameRejected(this, reason);
}

void ISerial::NotifySent(const std::uint8_t* bytes, std::size_t length) {
  if (client_) client_->Sent(this, bytes, length);
}

void ISerial::NotifyLineEvent(int code) {
  if (client_) client_->LineEvent(this, code);
}

void ISerial::NotifyPeerDropped(const std::string& reason) {
  if (client_) client_->PeerDropped(this, reason);
}

}  // namespace ordalis
