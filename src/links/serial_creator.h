#pragma once
// SerialCreator: the link factory. Makes a new, closed link of a kind named by a type text
// ("rs232", "rs-232", "rs232pkt", "rs-232pkt", "tcp", "tcppkt", "udp", "visa", "loopback",
// "process"; compared without regard to case) with its client attached.

#include <memory>
#include <string>
#include <vector>

#include "links/serial.h"

namespace ordalis {

class SerialCreator {
 public:
  // The one factory of the process, made on first use. Safe to call from any thread.
  static SerialCreator& Instance();

  // A new closed link of the named kind with [client] attached, or null for an unknown name.
  // Safe to call from any thread.
  std::unique_ptr<ISerial> Create(ISerialClient* client, const std::string& type_name) const;

  // The type names Create accepts.
  static std::vector<std::string> TypeNames();

 private:
  SerialCreator();
};

}  // namespace ordalis
