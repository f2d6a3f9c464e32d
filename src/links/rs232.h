#pragma once
// RS232: a serial port. An integer port number n names /dev/ttyS<n-1>; a text first parameter is
// taken as the device path (a USB adapter, or a pseudo-terminal). The line runs 8 data bits, no
// parity, 1 stop bit at the given baud rate, with the flow control named by "None", "CTS",
// "DSR", "Software" or "CTS+DTR". While open, a receive thread reports line events and delivers
// what arrives, and reopens the device every 100 ms while it is gone; a send thread writes the
// queued buffers. Description: "rs232 com3,9600,None" (or "rs232 /dev/ttyUSB0,9600,None").

#include <linux/serial.h>

#include <mutex>
#include <string>

#include "links/descriptor.h"
#include "links/link_threads.h"
#include "links/serial.h"

namespace ordalis {

class RS232 : public ISerial {
 public:
  explicit RS232(ISerialClient* client) : ISerial(client) {}
  ~RS232() override;

  // (port or device path, baud rate [, flow control name]).
  bool Open(const LinkParameters& parameters) override;
  bool Close() override;
  // True while the device is open (false while it is gone and being reopened).
  bool IsOpen() override;
  bool SendRaw(const std::uint8_t* bytes, std::size_t length) override;
  void DiscardQueued() override { queue_.Clear(); }
  LinkFraming framing() const override { return LinkFraming::kStream; }
  // The send queue's limit in bytes (kSendQueueLimit unless changed).
  void SetSendQueueLimit(std::size_t bytes) { queue_.set_limit(bytes); }
  std::size_t QueuedBytes() const { return queue_.queued_bytes(); }

  // Why the last Open could not open the device ("open: No such file or directory"), or empty.
  // Call from the thread that calls Open.
  const std::string& OpenError() const { return open_error_; }

  // The device path an integer port number stands for.
  static std::string DevicePath(int port);


 protected:
  bool SendRawWithin(const std::uint8_t* bytes, std::size_t length, std::chrono::milliseconds wait) override;
  bool WaitForQueueRoom(std::size_t length, std::chrono::milliseconds wait) override {
    return queue_.WaitForRoom(length, wait);
  }

 private:
  using SharedPort = std::shared_ptr<FileDescriptor>;

  // Opens the device and applies the line settings; sets [error] on failure.
  SharedPort OpenPort(std::string& error);
  bool ApplyLineSettings(int fd, std::string& error);
  void ReceiveThread();
  void SendThread();
  // Serves the open [port] until it fails or stop is set.
  void ServePort(const SharedPort& port);
  void ReportLineEvents(int fd, serial_icounter_struct& last, bool& counters_known);
  void SetPort(SharedPort port);
  SharedPort CurrentPort();

  std::string device_;
  int baud_ = 0;
  std::string flow_;
  std::string open_error_;
  std::atomic<bool> started_{false};

  std::mutex port_mutex_;
  SharedPort port_;
  std::atomic<bool> transmit_pending_{false};

  StopSignal stop_;
  SendQueue queue_;
  LinkThread receive_thread_;
  LinkThread send_thread_;
};

}  // namespace ordalis
