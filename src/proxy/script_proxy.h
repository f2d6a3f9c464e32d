#pragma once
// CScriptProxy: lets a remote peer drive a script over a communication link. It owns one
// script object and at most one link; each message the peer sends is one command ("connect",
// "script:STATEMENTS", "variable:NAME", "abort", "disconnect"), executed one at a time on the
// proxy's command thread. On a stream link a command may come framed (CommandReader) and is
// put together however the stream cuts it. When the peer leaves, the commands it left waiting
// are dropped and no reply of its goes to the next peer. Replies, the script's log lines and the script's result word go back
// over the same link (proxy_messages.h). The link, its parameters and its key can be kept in a
// proxy settings file (proxy_settings.h).
//
// Threads: automation calls on any client thread; the link's threads deliver commands and
// status; the command thread runs commands; the script's run thread reports log lines and
// state. One mutex guards the link for sending, another the command queue; commands are
// strictly sequential. Every operation is safe to call from any thread.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/script.h"
#include "links/serial.h"
#include "ordalis/interfaces.h"
#include "platform/event.h"
#include "proxy/proxy_messages.h"
#include "trace/trace_events_client.h"

namespace ordalis {

class ProxyOutbox;
class ProxyScriptObserver;

// True for a link that any host on the network may reach: a TCP server (one parameter, the
// port; "tcp" or "tcppkt") or UDP. [parameters] is the parameter text.
bool IsNetworkServer(const std::string& type, const std::string& parameters);

class CScriptProxy : public IScriptProxy, public ISerialClient {
 public:
  // Most commands the queue holds (and 32 MiB of them) before further ones are dropped.
  static constexpr std::size_t kMaxQueuedCommands = 256;
  static constexpr std::size_t kMaxQueuedBytes = std::size_t{32} << 20;
  // How long a peer of a keyed server link has to show that it holds the key (the handshake
  // deadline) before the link drops it, so that it cannot hold the one connection.
  static constexpr std::int64_t kHandshakeDeadlineMs = 10000;
  // How long destruction waits for the command thread.
  static constexpr std::uint32_t kCommandThreadWaitMs = 10000;

  // A proxy with its script object and command thread running and no link. [manager] may be
  // null.
  static std::shared_ptr<CScriptProxy> Create(std::shared_ptr<IApplicationManager> manager,
                                              Pacing pacing = Pacing());
  ~CScriptProxy() override;
  CScriptProxy(const CScriptProxy&) = delete;
  CScriptProxy& operator=(const CScriptProxy&) = delete;

  // IScriptProxy
  Status get_Script(std::shared_ptr<IScript>* script) override;
  Status Load(const std::string& file_name) override;
  Status SaveAs(const std::string& file_name) override;
  Status Save() override;
  Status GetSerialParameters(std::string* type, std::string* parameters) override;
  Status SetSerialParameters(const std::string& type, const std::string& parameters) override;
  Status put_EncryptionKey(const std::string& key) override;
  Status get_EncryptionKey(std::string* key) override;

  // The cipher the encryption key is used with: RC4 unless changed, since existing peers
  // speak it; the command line chooses the authenticated cipher. Applied to the link at once.
  void SetCipher(CipherMode mode);
  CipherMode cipher() const;
  // An observer that gets every log line of the script as well as the peer (the command line
  // prints them). Null clears it.
  void SetLocalLog(std::shared_ptr<ITraceEventsClient> observer);
  // The local address TCP server and UDP links bind to from the next link on (default: every
  // local address).
  void SetBindAddress(const std::string& address);
  // The port a TCP server link listens on (useful when opened on port 0), or 0.
  std::uint16_t ListeningPort();
  // Changes the handshake deadline, for the link there is and those to come.
  void SetHandshakeDeadline(std::chrono::milliseconds deadline);
  // The link's status text, or empty without a link.
  std::string LinkStatus();

  // ISerialClient: called on the link's threads.
  void Received(ISerial* link, const std::uint8_t* bytes, std::size_t length) override;
  void Sent(ISerial* link, const std::uint8_t* bytes, std::size_t length) override;
  void Connected(ISerial* link) override;
  void Disconnected(ISerial* link) override;
  void LineEvent(ISerial* link, int code) override;
  void StatusChanged(ISerial* link) override;
  void FrameRejected(ISerial* link, const std::string& reason) override;
  void PeerDropped(ISerial* link, const std::string& reason) override;

 private:
  CScriptProxy(std::shared_ptr<IApplicationManager> manager, Pacing pacing);

  // A command as queued: its text, or why it was refused, and the connection it came on.
  struct QueuedCommand {
    std::string text;
    std::string refused;
    std::uint64_t connection = 0;
  };

  void CommandThread();
  void RunCommand(const QueuedCommand& queued);
  void Enqueue(std::vector<CommandReader::Command>& commands);
  void ForgetPeer();
  std::string Connect();
  std::string Disconnect();
  std::string RunScript(const ProxyCommand& command);
  std::string ReadVariable(const ProxyCommand& command);
  std::string AbortScript();

  // Replaces the link with a new one of [type] opened with [parameters], keyed with the
  // stored key; with settings_mutex_ held. False (and no link) when it cannot be made.
  bool ReplaceLink(const std::string& type, const std::string& parameters);
  void DropLink();
  void ApplyKey();
  void UpdateExposure();
  void LoadSettings(const std::string& file_name, const std::string& bytes);
  Status WriteSettings(const std::string& file_name);
  void Log(LoggingLevel level, const std::string& variable_name, const std::string& message);
  std::shared_ptr<CScript> script() const;

  // Guards the settings below and every change of the link (replace, key), so automation
  // calls that change the link are sequential.
  mutable std::mutex settings_mutex_;
  std::string serial_type_;
  std::string serial_parameters_;
  std::string key_;
  CipherMode cipher_ = CipherMode::kRc4;
  std::string settings_file_;
  std::string bind_address_;
  std::chrono::milliseconds handshake_deadline_{kHandshakeDeadlineMs};
  std::atomic<bool> exposed_{false};  // a network server without the authenticated cipher

  std::shared_ptr<ProxyOutbox> outbox_;           // the link, for sending
  std::shared_ptr<ProxyScriptObserver> observer_;  // the script's event and trace client

  mutable std::mutex script_mutex_;  // guards the pointer, which teardown releases
  std::shared_ptr<CScript> script_;

  std::mutex queue_mutex_;  // guards the command queue, the reader, the connection and the stop flag
  std::condition_variable queue_changed_;
  std::deque<QueuedCommand> commands_;
  CommandReader reader_;
  // Counts the peers that left; a reply to a command of a peer that has gone is not sent.
  std::uint64_t connection_ = 0;
  std::size_t queued_bytes_ = 0;
  bool stopping_ = false;
  Event thread_exited_;
  std::thread command_thread_;
};

}  // namespace ordalis
