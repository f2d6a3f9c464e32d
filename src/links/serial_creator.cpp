#include "links/serial_creator.h"



#include "links/loop_back.h"
#include "links/packet_serial.h"
#include "links/process_pipe.h"
#include "links/rs232.h"
#include "links/tcp.h"
#include "links/udp.h"
#include "links/visa_coms.h"
#include "platform/text.h"

namespace ordalis {

namespace {

enum class Kind { kRs232, kRs232Packet, kTcp, kTcpPacket, kUdp, kVisa, kLoopBack, kProcess };

struct TypeName {
  const char* name;
  Kind kind;
};

constexpr TypeName kTypeNames[] = {
    {"rs232", Kind::kRs232},          {"rs-232", Kind::kRs232},   {"rs232pkt", Kind::kRs232Packet},
    {"rs-232pkt", Kind::kRs232Packet}, {"tcp", Kind::kTcp},        {"tcppkt", Kind::kTcpPacket},
    {"udp", Kind::kUdp},              {"visa", Kind::kVisa},      {"loopback", Kind::kLoopBack},
    {"process", Kind::kProcess},
};

}  // namespace

SerialCreator::SerialCreator() = default;

SerialCreator& SerialCreator::Instance() {
  static SerialCreator instance;
  return instance;
}

std::vector<std::string> SerialCreator::TypeNames() {
  std::vector<std::string> names;
  for (const TypeName& entry : kTypeNames) names.emplace_back(entry.name);
  return names;
}

std::unique_ptr<ISerial> SerialCreator::Create(ISerialClient* client, const std::string& type_name) const {
  for (const TypeName& entry : kTypeNames) {
    if (!EqualsIgnoringCase(entry.name, type_name)) continue;
    switch (entry.kind) {
      case Kind::kRs232: return std::make_unique<RS232>(client);
      case Kind::kRs232Packet: return std::make_unique<PacketSerial>(client, "rs232");
      case Kind::kTcp: return std::make_unique<TCP>(client);
      case Kind::kTcpPacket: return std::make_unique<PacketSerial>(client, "tcp");
      case Kind::kUdp: return std::make_unique<UDP>(client);
      case Kind::kVisa: return std::make_unique<VISAComs>(client);
      case Kind::kLoopBack: return std::make_unique<LoopBack>(client);
      case Kind::kProcess: return std::make_unique<ProcessPipe>(client);
    }
  }
  return nullptr;
}

}  // namespace ordalis
