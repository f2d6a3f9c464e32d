#include "links/loop_back.h"

namespace ordalis {

LoopBack::~LoopBack() {
  if (IsOnline()) Close();
}

bool LoopBack::Open(const LinkParameters&) {
  if (IsOnline()) return false;
  SetOnline(true);
  return true;
}

bool LoopBack::Close() {
  if (!IsOnline()) return false;
  SetOnline(false);
  return true;
}

bool LoopBack::SendRaw(const std::uint8_t* bytes, std::size_t length) {
  if (!IsOnline()) return false;
  NotifySent(bytes, length);
  DeliverReceived(bytes, length);
  return true;
}

}  // namespace ordalis
