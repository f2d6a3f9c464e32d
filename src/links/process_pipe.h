#pragma once
// ProcessPipe: a hidden interactive command interpreter (/bin/sh -i) whose standard input, output
// and error run over pipes. What is sent is typed into the interpreter; what it prints comes
// back as received data. Close types "exit" and ends the interpreter.

#include <sys/types.h>

#include <string>

#include "links/descriptor.h"
#include "links/link_threads.h"
#include "links/serial.h"

namespace ordalis {

class ProcessPipe : public ISerial {
 public:
  explicit ProcessPipe(ISerialClient* client) : ISerial(client) {}
  ~ProcessPipe() override;

  // Parameters are ignored; fails when already open or when the interpreter cannot start.
  bool Open(const LinkParameters& parameters) override;
  bool Close() override;
  bool IsOpen() override { return open_.load(); }
  bool SendRaw(const std::uint8_t* bytes, std::size_t length) override;
  void DiscardQueued() override { queue_.Clear(); }
  LinkFraming framing() const override { return LinkFraming::kStream; }
  // The send queue's limit in bytes (kSendQueueLimit unless changed).
  void SetSendQueueLimit(std::size_t bytes) { queue_.set_limit(bytes); }
  std::size_t QueuedBytes() const { return queue_.queued_bytes(); }

  // The interpreter, started with "-i".
  static const char* const kShell;


 protected:
  bool SendRawWithin(const std::uint8_t* bytes, std::size_t length, std::chrono::milliseconds wait) override;
  bool WaitForQueueRoom(std::size_t length, std::chrono::milliseconds wait) override {
    return queue_.WaitForRoom(length, wait);
  }

 private:
  void ReceiveThread();
  void SendThread();
  // Waits for the interpreter to end after its input closed, killing it if it lingers.
  void ReapChild();

  FileDescriptor child_input_;   // our end: what we write, the interpreter reads
  FileDescriptor child_output_;  // our end: what the interpreter writes, we read
  pid_t child_ = -1;
  std::atomic<bool> open_{false};

  StopSignal stop_;
  SendQueue queue_;
  LinkThread receive_thread_;
  LinkThread send_thread_;
};

}  // namespace ordalis
