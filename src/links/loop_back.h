#pragma once
// LoopBack: a link that hands every sent message straight back as received, on the caller's
// thread. Online while open; no threads of its own.

#include "links/serial.h"

namespace ordalis {

class LoopBack : public ISerial {
 public:
  explicit LoopBack(ISerialClient* client) : ISerial(client) {}
  ~LoopBack() override;

  // Parameters are ignored; fails when already open.
  bool Open(const LinkParameters& parameters) override;
  bool Close() override;
  bool IsOpen() override { return IsOnline(); }
  bool SendRaw(const std::uint8_t* bytes, std::size_t length) override;
  bool HearsItself() const override { return true; }
};

}  // namespace ordalis
