#pragma once
// VISAComs: a session with an instrument through the VISA library, which is loaded on first use
// (libvisa.so, or the file named by ORDALIS_VISA_LIBRARY). A message containing "?" is a query:
// after writing it, the reader thread reads the instrument's answer (up to 10 attempts) and
// delivers it with a line feed appended. Description: "visa RESOURCE".

#include <cstdint>
#include <mutex>
#include <string>

#include "links/link_threads.h"
#include "links/serial.h"

namespace ordalis {

struct VisaLibrary;

class VISAComs : public ISerial {
 public:
  explicit VISAComs(ISerialClient* client) : ISerial(client) {}
  ~VISAComs() override;

  // (resource name); fails when already open, when the library cannot be loaded or when the
  // resource cannot be opened.
  bool Open(const LinkParameters& parameters) override;
  bool Close() override;
  bool IsOpen() override { return open_.load(); }
  // Writes under the session mutex and reports what was written through Sent, on the caller's
  // thread.
  bool SendRaw(const std::uint8_t* bytes, std::size_t length) override;

 private:
  void ReaderThread();

  const VisaLibrary* visa_ = nullptr;  // set by Open, kept while the session is open
  std::mutex session_mutex_;
  std::uint32_t resource_manager_ = 0;
  std::uint32_t instrument_ = 0;
  std::atomic<bool> open_{false};

  StopSignal stop_;
  Event read_request_;
  LinkThread reader_thread_;
};

}  // namespace ordalis
