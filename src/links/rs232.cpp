#include "links/rs232.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <cerrno>
#include <cstring>

#include "links/link_parameters.h"
#include "platform/text.h"

namespace ordalis {

namespace {

constexpr std::size_t kReceiveChunk = 2048;
constexpr int kReopenPauseMs = 100;
// How often the receive thread samples the line counters while nothing arrives.
constexpr int kLineSampleMs = 25;

const char* const kFlowNames[] = {"None", "CTS", "DSR", "Software", "CTS+DTR"};

// The flow-control name as written in descriptions; anything unknown is "None".
std::string CanonicalFlow(const std::string& name) {
  for (const char* known : kFlowNames) {
    if (EqualsIgnoringCase(known, name)) return known;
  }
  return "None";
}

bool BaudConstant(int baud, speed_t& speed) {
  static const struct { int baud; speed_t speed; } kRates[] = {
      {50, B50}, {75, B75}, {110, B110}, {134, B134}, {150, B150}, {200, B200}, {300, B300},
      {600, B600}, {1200, B1200}, {1800, B1800}, {2400, B2400}, {4800, B4800}, {9600, B9600},
      {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200}, {230400, B230400},
      {460800, B460800}, {500000, B500000}, {576000, B576000}, {921600, B921600},
      {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000}, {2000000, B2000000},
      {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000}};
  for (const auto& rate : kRates) {
    if (rate.baud == baud) {
      speed = rate.speed;
      return true;
    }
  }
  return false;
}

std::string ErrorText(const char* step, int error) {
  return std::string(step) + ": " + std::strerror(error);
}

}  // namespace

RS232::~RS232() { Close(); }

std::string RS232::DevicePath(int port) { return "/dev/ttyS" + std::to_string(port - 1); }

bool RS232::Open(const LinkParameters& parameters) {
  using namespace link_parameters;
  if (started_.load()) return false;
  if (!stop_.wake().valid()) return false;
  if (parameters.size() < 2 || parameters.size() > 3) return false;
  const Variant& port = parameters[0];
  if (!(IsInteger(port) || (IsText(port) && !port.as_string().empty()))) return false;
  if (!IsInteger(parameters[1])) return false;
  if (parameters.size() == 3 && !IsText(parameters[2])) return false;

  baud_ = parameters[1].as_int();
  flow_ = CanonicalFlow(parameters.size() == 3 ? parameters[2].as_string() : "None");
  std::string name;
  if (IsInteger(port)) {
    device_ = DevicePath(port.as_int());
    name = "com" + std::to_string(port.as_int());
  } else {
    device_ = port.as_string();
    name = device_;
  }
  SetDescription("rs232 " + name + "," + std::to_string(baud_) + "," + flow_);

  open_error_.clear();
  SharedPort opened = OpenPort(open_error_);
  if (!opened) return false;
  SetPort(opened);
  stop_.Reset();
  queue_.Reopen();
  transmit_pending_.store(false);
  started_.store(true);
  receive_thread_.Start([this] { ReceiveThread(); });
  send_thread_.Start([this] { SendThread(); });
  SetOnline(true);
  return true;
}

bool RS232::Close() {
  if (!started_.load()) return true;
  stop_.Set();
  queue_.Shutdown();
  queue_.Wake();
  receive_thread_.Join();
  send_thread_.Join();
  SetPort(nullptr);
  queue_.Clear();
  started_.store(false);
  SetOnline(false);
  return true;
}

bool RS232::IsOpen() { return CurrentPort() != nullptr; }

bool RS232::SendRaw(const std::uint8_t* bytes, std::size_t length) {
  return SendRawWithin(bytes, length, SendWaitNow(send_wait()));
}

bool RS232::SendRawWithin(const std::uint8_t* bytes, std::size_t length, std::chrono::milliseconds wait) {
  if (!started_.load()) return false;
  return Queued(queue_.Push(bytes, length, wait));
}

void RS232::SetPort(SharedPort port) {
  std::lock_guard lock(port_mutex_);
  port_ = std::move(port);
}

RS232::SharedPort RS232::CurrentPort() {
  std::lock_guard lock(port_mutex_);
  return port_;
}

RS232::SharedPort RS232::OpenPort(std::string& error) {
  auto port = std::make_shared<FileDescriptor>(
      ::open(device_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!port->valid()) {
    error = ErrorText("open", errno);
    return nullptr;
  }
  // Exclusive use: later opens by others fail while this link holds the port. Terminals that
  // cannot do this are used as they are.
  ::ioctl(port->get(), TIOCEXCL);
  if (!ApplyLineSettings(port->get(), error)) return nullptr;
  return port;
}

bool RS232::ApplyLineSettings(int fd, std::string& error) {
  speed_t speed;
  if (!BaudConstant(baud_, speed)) {
    error = "unsupported baud rate " + std::to_string(baud_);
    return false;
  }
  termios line{};
  if (::tcgetattr(fd, &line) != 0) {
    error = ErrorText("tcgetattr", errno);
    return false;
  }
  ::cfmakeraw(&line);
  ::cfsetispeed(&line, speed);
  ::cfsetospeed(&line, speed);
  line.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
  line.c_cflag |= CS8 | CREAD | CLOCAL;
  line.c_iflag &= ~(IXON | IXOFF | IXANY);
  line.c_cc[VSTART] = 0x11;
  line.c_cc[VSTOP] = 0x13;
  line.c_cc[VMIN] = 0;
  line.c_cc[VTIME] = 0;
  // Output DSR flow control has no counterpart in the Linux serial drivers; "DSR" runs without.
  if (flow_ == "CTS" || flow_ == "CTS+DTR") line.c_cflag |= CRTSCTS;
  if (flow_ == "Software") line.c_iflag |= IXON | IXOFF;
  if (::tcsetattr(fd, TCSANOW, &line) != 0) {
    error = ErrorText("tcsetattr", errno);
    return false;
  }
  int dtr = TIOCM_DTR;
  if (flow_ == "CTS+DTR") ::ioctl(fd, TIOCMBIS, &dtr);  // a pseudo-terminal has no DTR line
  ::tcflush(fd, TCIOFLUSH);
  return true;
}

// Serves the port while it is there and reopens it every 100 ms while it is gone.
void RS232::ReceiveThread() {
  SharedPort port = CurrentPort();
  while (!stop_.IsSet()) {
    if (!port) {
      if (WaitWake(stop_.wake(), kReopenPauseMs)) break;
      std::string error;
      port = OpenPort(error);
      if (port) {
        SetPort(port);
        SetOnline(true);
      }
      continue;
    }
    ServePort(port);
    if (stop_.IsSet()) break;
    SetPort(nullptr);
    port.reset();
    SetOnline(false);
  }
}

void RS232::ServePort(const SharedPort& port) {
  serial_icounter_struct last{};
  bool counters_known = ::ioctl(port->get(), TIOCGICOUNT, &last) == 0;
  std::uint8_t buffer[kReceiveChunk];
  for (;;) {
    Readiness ready = WaitReady(port->get(), POLLIN, stop_.wake(), kLineSampleMs);
    if (ready == Readiness::kWoken || ready == Readiness::kError) return;
    ReportLineEvents(port->get(), last, counters_known);
    if (ready == Readiness::kTimeout) continue;
    long received = ReadRetry(port->get(), buffer, sizeof buffer);
    if (received > 0) {
      NotifyLineEvent(kLineReceivedCharacter);
      DeliverReceived(buffer, static_cast<std::size_t>(received));
      continue;
    }
    if (received < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) continue;
    return;  // hang-up or an I/O error: the device is gone
  }
}

// Reports what changed on the line since the last sample, in the order break, CTS, DSR, line
// error, ring, carrier detect, transmit empty. The counters come from TIOCGICOUNT, which also
// counts modem-status changes; it is sampled rather than waited on with TIOCMIWAIT because
// that wait cannot be interrupted when the link closes. Terminals without the counters
// (pseudo-terminals) report only transmit empty and received characters.
void RS232::ReportLineEvents(int fd, serial_icounter_struct& last, bool& counters_known) {
  serial_icounter_struct now{};
  if (counters_known && ::ioctl(fd, TIOCGICOUNT, &now) == 0) {
    if (now.brk != last.brk) NotifyLineEvent(kLineBreak);
    if (now.cts != last.cts) NotifyLineEvent(kLineCts);
    if (now.dsr != last.dsr) NotifyLineEvent(kLineDsr);
    if (now.frame != last.frame || now.overrun != last.overrun || now.parity != last.parity ||
        now.buf_overrun != last.buf_overrun) {
      NotifyLineEvent(kLineError);
    }
    if (now.rng != last.rng) NotifyLineEvent(kLineRing);
    if (now.dcd != last.dcd) NotifyLineEvent(kLineCarrierDetect);
    last = now;
  }
  if (transmit_pending_.load()) {
    int queued = 0;
    if (::ioctl(fd, TIOCOUTQ, &queued) != 0 || queued == 0) {
      if (transmit_pending_.exchange(false)) NotifyLineEvent(kLineTransmitEmpty);
    }
  }
}

// Writes each queued buffer to the port; while the port is gone, queued data is dropped.
void RS232::SendThread() {
  for (;;) {
    std::optional<ByteBuffer> buffer = queue_.Pop();
    if (stop_.IsSet()) break;
    if (!buffer) continue;
    SharedPort port = CurrentPort();
    if (!port) continue;
    std::size_t sent = WriteAll(port->get(), buffer->data(), buffer->size(), stop_.wake(), false);
    if (sent > 0) {
      transmit_pending_.store(true);
      NotifySent(buffer->data(), sent);
    }
  }
}

}  // namespace ordalis
