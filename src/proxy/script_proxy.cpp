#include "proxy/script_proxy.h"

#include <chrono>
#include <fstream>
#include <iterator>
#include <sstream>

#include "interp/variable_value.h"
#include "links/packet_serial.h"
#include "links/serial_creator.h"
#include "links/tcp.h"
#include "links/udp.h"
#include "platform/text.h"
#include "proxy/proxy_settings.h"
#include "report/run_end_reports.h"

namespace ordalis {

namespace {

using namespace std::chrono_literals;

constexpr char kProxyName[] = "scriptproxy";
constexpr char kStatusName[] = "proxy";

// Set while this thread is inside a callback of the link: a message sent from there does not
// wait for room in the link's queue (the link's own thread would be waiting for itself).
thread_local bool t_on_link_thread = false;
// Set while this thread sends a message: a log line that the sending itself produces goes to
// the script's other observers, not to the peer (it would re-enter the send).
thread_local bool t_sending = false;

struct ThreadFlag {
  explicit ThreadFlag(bool& flag) : flag_(flag), was_(flag) { flag_ = true; }
  ~ThreadFlag() { flag_ = was_; }
  bool& flag_;
  bool was_;
};

// Link parameters written as script literals ("\"localhost\", 5025"); empty for none.
LinkParameters ParseLinkParameters(const std::string& text) {
  VariableValue value;
  if (!VariableValue::ParseValueText(text, &value)) return {};
  VariantArrayPtr values = value.ToVariantArray();
  return values ? *values : LinkParameters();
}

}  // namespace

bool IsNetworkServer(const std::string& type, const std::string& parameters) {
  if (EqualsIgnoringCase(type, "udp")) return true;
  bool tcp = EqualsIgnoringCase(type, "tcp") || EqualsIgnoringCase(type, "tcppkt");
  return tcp && ParseLinkParameters(parameters).size() == 1;
}

// How much a message to the peer matters: log lines give way when the link's queue is full,
// replies and the result wait the link's whole send wait for room.
enum class Urgency { kLogLine, kAnswer };

// The link of a proxy and the mutex every send and every change of the link pointer takes.
class ProxyOutbox {
 public:
  // Sends [text] as one message (length and text); nothing for an empty text or without a link.
  // Log lines the link could not take are counted, and the peer is told how many before the
  // next message that gets through.
  void Send(const std::string& text, Urgency urgency) {
    if (text.empty() || t_sending) return;
    ThreadFlag sending(t_sending);
    std::lock_guard lock(mutex_);
    if (!link_) return;
    auto wait = t_on_link_thread ? 0ms : link_->send_wait();
    auto patience = urgency == Urgency::kAnswer ? ISerial::Patience::kFullWait : ISerial::Patience::kUsual;
    if (dropped_ > 0 && SendFramed(DroppedNote(), wait, patience)) dropped_ = 0;
    if (!SendFramed(text, wait, patience) && urgency == Urgency::kLogLine) ++dropped_;
  }

  std::unique_ptr<ISerial> Take() {
    std::lock_guard lock(mutex_);
    return std::move(link_);
  }

  void Put(std::unique_ptr<ISerial> link) {
    std::lock_guard lock(mutex_);
    link_ = std::move(link);
    dropped_ = 0;
  }

  // Runs [use] on the link (or null) with the mutex held; [use] must not send.
  template <typename F>
  auto With(F use) {
    std::lock_guard lock(mutex_);
    return use(link_.get());
  }

 private:
  // With mutex_ held and a link.
  bool SendFramed(const std::string& text, std::chrono::milliseconds wait, ISerial::Patience patience) {
    std::string framed = FramedMessage(text);
    return link_->Send(reinterpret_cast<const std::uint8_t*>(framed.data()), framed.size(), wait, patience);
  }
  std::string DroppedNote() const {
    return LogMessage(warning, kProxyName,
                      std::to_string(dropped_) + " log lines were not sent to the peer: the link's send queue was full");
  }

  std::mutex mutex_;
  std::unique_ptr<ISerial> link_;
  std::size_t dropped_ = 0;  // log lines the link could not take since the peer last heard
};

// The script's in-process event and trace client: log lines and the result word go to the
// peer. It holds the script by a plain pointer, used only inside the script's own callbacks,
// so it never keeps the script alive nor outlives its use.
class ProxyScriptObserver : public IScriptEventsClient, public ITraceEventsClient {
 public:
  ProxyScriptObserver(CScript* script, std::shared_ptr<ProxyOutbox> outbox)
      : script_(script), outbox_(std::move(outbox)) {}

  void SetLocalLog(std::shared_ptr<ITraceEventsClient> observer) {
    std::lock_guard lock(mutex_);
    local_log_ = std::move(observer);
  }

  // IScriptEventsClient: each time the script holds after a chunk of statements, the peer gets
  // its overall result.
  void Executed(ScriptItem*) override {}
  void ResultsReset() override {}
  void Started() override {}
  void Reset() override {}
  void StateChanged(ScriptState state) override {
    if (state == ScriptPaused) outbox_->Send(ResultWord(script_->overall_result()), Urgency::kAnswer);
  }

  // ITraceEventsClient
  void Log(std::int64_t time, double seconds, LoggingLevel level, const std::string& variable_name,
           const std::string& message) override {
    outbox_->Send(LogMessage(level, variable_name, message), Urgency::kLogLine);
    if (auto local = local_log()) local->Log(time, seconds, level, variable_name, message);
  }
  void LogClear() override {
    if (auto local = local_log()) local->LogClear();
  }

 private:
  std::shared_ptr<ITraceEventsClient> local_log() {
    std::lock_guard lock(mutex_);
    return local_log_;
  }

  CScript* const script_;
  const std::shared_ptr<ProxyOutbox> outbox_;
  std::mutex mutex_;
  std::shared_ptr<ITraceEventsClient> local_log_;
};

// ---- life cycle -------------------------------------------------------------------------------------

std::shared_ptr<CScriptProxy> CScriptProxy::Create(std::shared_ptr<IApplicationManager> manager, Pacing pacing) {
  return std::shared_ptr<CScriptProxy>(new CScriptProxy(std::move(manager), pacing));
}

CScriptProxy::CScriptProxy(std::shared_ptr<IApplicationManager> manager, Pacing pacing)
    : outbox_(std::make_shared<ProxyOutbox>()), script_(CScript::Create(std::move(manager), pacing)) {
  observer_ = std::make_shared<ProxyScriptObserver>(script_.get(), outbox_);
  script_->SetScriptEventsClient(observer_);
  script_->SetTraceEventsClient(observer_);
  // Each run the peer drives leaves its HTML report beside its results document.
  script_->SetRunEndObserver(report::MakeRunEndReports());
  command_thread_ = std::thread([this] { CommandThread(); });
}

// Unhooks the script's clients, ends the command thread, releases the script, then closes the
// link and frees the commands still queued.
CScriptProxy::~CScriptProxy() {
  std::shared_ptr<CScript> script = this->script();
  script->SetScriptEventsClient(nullptr);
  script->SetTraceEventsClient(nullptr);
  {
    std::lock_guard lock(queue_mutex_);
    stopping_ = true;
  }
  queue_changed_.notify_all();
  thread_exited_.Wait(kCommandThreadWaitMs);
  // A command still running past the wait (a reset waiting for a stuck tester) is waited for
  // rather than left running over a destroyed proxy.
  if (command_thread_.joinable()) command_thread_.join();
  script.reset();
  {
    std::lock_guard lock(script_mutex_);
    script_.reset();
  }
  std::lock_guard settings(settings_mutex_);
  DropLink();
  std::lock_guard lock(queue_mutex_);
  commands_.clear();
}

std::shared_ptr<CScript> CScriptProxy::script() const {
  std::lock_guard lock(script_mutex_);
  return script_;
}

void CScriptProxy::Log(LoggingLevel level, const std::string& variable_name, const std::string& message) {
  if (auto script = this->script()) script->Log(level, variable_name, message);
}

// ---- commands ---------------------------------------------------------------------------------------

void CScriptProxy::CommandThread() {
  for (;;) {
    QueuedCommand command;
    {
      std::unique_lock lock(queue_mutex_);
      queue_changed_.wait(lock, [&] { return stopping_ || !commands_.empty(); });
      if (stopping_) break;
      command = std::move(commands_.front());
      commands_.pop_front();
      queued_bytes_ -= command.text.size();
    }
    RunCommand(command);
  }
  thread_exited_.Set();
}

// Runs one command and sends its reply; a command that throws is answered "ERROR". The reply
// to a peer that left while its command ran is dropped, so the next peer never reads it.
void CScriptProxy::RunCommand(const QueuedCommand& queued) {
  const std::string& text = queued.text;
  std::string reply;
  try {
    ProxyCommand command = SplitCommand(text);
    if (!queued.refused.empty()) {
      Log(warning, kProxyName, "Refused a command from the peer: " + queued.refused);
      reply = "error";
    } else if (command.name == "connect") {
      reply = Connect();
    } else if (command.name == "disconnect") {
      reply = Disconnect();
    } else if (command.name == "script") {
      reply = RunScript(command);
    } else if (command.name == "variable") {
      reply = ReadVariable(command);
    } else if (command.name == "abort") {
      reply = AbortScript();
    } else {
      Log(warning, kProxyName, "Unknown command '" + text + "' ignored");
      reply = "ERROR";
    }
  } catch (...) {
    reply = "ERROR";
  }
  {
    std::lock_guard lock(queue_mutex_);
    if (queued.connection != connection_) return;
  }
  outbox_->Send(reply, Urgency::kAnswer);
}

// connect: a fresh remote-control root for the statements that follow.
std::string CScriptProxy::Connect() {
  Log(fine, kProxyName, "Connect command received");
  std::shared_ptr<CScript> script = this->script();
  script->Reset();
  return script->MakeRemoteRoot() ? "OK" : "ERROR";
}

// disconnect: stops the script, which then finishes its run (results, log files).
std::string CScriptProxy::Disconnect() {
  Log(fine, kProxyName, "Disconnect command received");
  script()->Stop();
  return "OK";
}

// script:STATEMENTS: appends the statements and runs them; the peer follows the run through
// the log lines and the result word, so success has no reply.
std::string CScriptProxy::RunScript(const ProxyCommand& command) {
  Log(fine, kProxyName, "Script command received '" + command.argument + "'");
  if (!command.has_argument || command.argument.empty()) return "error";
  return script()->RemoteRun(command.argument) ? "" : "error";
}

// variable:NAME: the variable's value text.
std::string CScriptProxy::ReadVariable(const ProxyCommand& command) {
  Log(fine, kProxyName, "VariableValue command received");
  if (!command.has_argument || command.argument.empty()) return "error";
  VariantArrayPtr values;
  if (Failed(script()->get_VariableValue(command.argument, &values)) || !values) return "error";
  return ValueText(*values);
}

std::string CScriptProxy::AbortScript() {
  Log(fine, kProxyName, "Abort command received");
  script()->Abort();
  return "OK";
}

// ---- the link's callbacks -----------------------------------------------------------------------------

// On a stream link the commands are cut out of the stream (framed, or a chunk each); on any
// other link each received message is one command, read as text up to its first zero byte.
// A peer that floods the queue loses the commands beyond its bound, with a warning.
void CScriptProxy::Received(ISerial* link, const std::uint8_t* bytes, std::size_t length) {
  ThreadFlag on_link(t_on_link_thread);
  std::vector<CommandReader::Command> commands;
  bool cut = false;
  if (link->framing() == LinkFraming::kStream) {
    std::lock_guard lock(queue_mutex_);
    bool was_partial = reader_.partial();
    reader_.Feed(bytes, length, commands);
    cut = !was_partial && reader_.partial();
  } else {
    std::string text(reinterpret_cast<const char*>(bytes), length);
    text.resize(std::min(text.size(), text.find('\0')));
    commands.push_back({std::move(text), {}});
  }
  Enqueue(commands);
  if (cut) Log(finest, kProxyName, "A command is arriving in parts");
}

void CScriptProxy::Enqueue(std::vector<CommandReader::Command>& commands) {
  std::size_t dropped = 0;
  std::vector<std::string> unfinished;  // commands the stream paused inside, given up unanswered
  bool queued = false;
  {
    std::lock_guard lock(queue_mutex_);
    for (CommandReader::Command& command : commands) {
      if (command.dropped) {
        unfinished.push_back(std::move(command.refused));
        continue;
      }
      // An empty command asks nothing. (A loop-back link hands the proxy's own messages back,
      // and each of them begins with a zero byte; answering them would feed itself for ever.)
      if (command.text.empty() && command.refused.empty()) continue;
      if (stopping_ || commands_.size() >= kMaxQueuedCommands || queued_bytes_ + command.text.size() > kMaxQueuedBytes) {
        ++dropped;
        continue;
      }
      queued_bytes_ += command.text.size();
      commands_.push_back({std::move(command.text), std::move(command.refused), connection_});
      queued = true;
    }
  }
  if (queued) queue_changed_.notify_one();
  for (const std::string& reason : unfinished) Log(warning, kProxyName, "Dropped " + reason + " from the peer");
  for (std::size_t i = 0; i < dropped; ++i) {
    Log(warning, kProxyName, "Command queue full: a command from the peer was dropped");
  }
}

// The peer has gone: the commands it left waiting are not run, a command of it still running
// gets no reply, what was waiting to be sent to it is not sent, and the next peer's stream
// starts afresh.
void CScriptProxy::ForgetPeer() {
  std::lock_guard lock(queue_mutex_);
  ++connection_;
  commands_.clear();
  queued_bytes_ = 0;
  reader_.Reset();
}

void CScriptProxy::Sent(ISerial*, const std::uint8_t*, std::size_t) {}

void CScriptProxy::Connected(ISerial*) {
  ThreadFlag on_link(t_on_link_thread);
  ForgetPeer();
  Log(fine, kProxyName, "Connected");
  if (exposed_.load()) {
    Log(warning, kProxyName,
        "Connected without an authenticated key: any peer that reaches this link may run scripts");
  }
}

void CScriptProxy::Disconnected(ISerial* link) {
  ThreadFlag on_link(t_on_link_thread);
  ForgetPeer();
  link->DiscardQueued();
  Log(fine, kProxyName, "Disconnected");
}

void CScriptProxy::LineEvent(ISerial*, int) {}

void CScriptProxy::StatusChanged(ISerial* link) {
  ThreadFlag on_link(t_on_link_thread);
  Log(information, kStatusName, link->Status());
}

void CScriptProxy::FrameRejected(ISerial*, const std::string& reason) {
  ThreadFlag on_link(t_on_link_thread);
  Log(warning, kProxyName, "Rejected " + reason + " from the peer");
}

void CScriptProxy::PeerDropped(ISerial*, const std::string& reason) {
  ThreadFlag on_link(t_on_link_thread);
  Log(warning, kProxyName, "Dropped " + reason);
}

// ---- settings and the link ----------------------------------------------------------------------------

Status CScriptProxy::get_Script(std::shared_ptr<IScript>* script) {
  if (script == nullptr) return E_POINTER;
  *script = this->script();
  return S_OK;
}

Status CScriptProxy::GetSerialParameters(std::string* type, std::string* parameters) {
  if (type == nullptr || parameters == nullptr) return E_POINTER;
  std::lock_guard lock(settings_mutex_);
  *type = serial_type_;
  *parameters = serial_parameters_;
  return S_OK;
}

Status CScriptProxy::SetSerialParameters(const std::string& type, const std::string& parameters) {
  std::lock_guard lock(settings_mutex_);
  serial_type_ = type;
  serial_parameters_ = parameters;
  return ReplaceLink(type, parameters) ? S_OK : E_FAIL;
}

Status CScriptProxy::put_EncryptionKey(const std::string& key) {
  std::lock_guard lock(settings_mutex_);
  key_ = key;
  ApplyKey();
  return S_OK;
}

Status CScriptProxy::get_EncryptionKey(std::string* key) {
  if (key == nullptr) return E_POINTER;
  std::lock_guard lock(settings_mutex_);
  *key = key_;
  return S_OK;
}

void CScriptProxy::SetCipher(CipherMode mode) {
  std::lock_guard lock(settings_mutex_);
  cipher_ = mode == CipherMode::kNone ? CipherMode::kRc4 : mode;
  ApplyKey();
}

CipherMode CScriptProxy::cipher() const {
  std::lock_guard lock(settings_mutex_);
  return cipher_;
}

void CScriptProxy::SetLocalLog(std::shared_ptr<ITraceEventsClient> observer) {
  observer_->SetLocalLog(std::move(observer));
}

void CScriptProxy::SetBindAddress(const std::string& address) {
  std::lock_guard lock(settings_mutex_);
  bind_address_ = address;
}

std::uint16_t CScriptProxy::ListeningPort() {
  return outbox_->With([](ISerial* link) -> std::uint16_t {
    if (auto* packet = dynamic_cast<PacketSerial*>(link)) link = packet->inner();
    auto* tcp = dynamic_cast<TCP*>(link);
    return tcp ? tcp->ListeningPort() : 0;
  });
}

void CScriptProxy::SetHandshakeDeadline(std::chrono::milliseconds deadline) {
  std::lock_guard lock(settings_mutex_);
  handshake_deadline_ = deadline;
  outbox_->With([&](ISerial* link) {
    if (link) link->SetHandshakeDeadline(deadline);
  });
}

std::string CScriptProxy::LinkStatus() {
  return outbox_->With([](ISerial* link) { return link ? link->Status() : std::string(); });
}

// Applies the stored key with the chosen cipher to the link there is; with settings_mutex_
// held, which keeps the link in place meanwhile.
void CScriptProxy::ApplyKey() {
  ISerial* link = outbox_->With([](ISerial* current) { return current; });
  if (link) link->SetEncryption(cipher_, key_);
  UpdateExposure();
}

// A server on the network without the authenticated cipher lets anyone who reaches it run
// scripts; each connection then says so.
void CScriptProxy::UpdateExposure() {
  bool authenticated = cipher_ == CipherMode::kChaCha20Poly1305 && !key_.empty();
  exposed_.store(!authenticated && IsNetworkServer(serial_type_, serial_parameters_));
}

// The stored key is applied before the link opens, so no peer ever meets it unkeyed.
bool CScriptProxy::ReplaceLink(const std::string& type, const std::string& parameters) {
  DropLink();
  UpdateExposure();
  std::unique_ptr<ISerial> link = SerialCreator::Instance().Create(this, type);
  if (!link) return false;
  if (!bind_address_.empty()) {
    ISerial* kind = link.get();
    if (auto* packet = dynamic_cast<PacketSerial*>(kind)) kind = packet->inner();
    if (auto* tcp = dynamic_cast<TCP*>(kind)) tcp->SetBindAddress(bind_address_);
    if (auto* udp = dynamic_cast<UDP*>(kind)) udp->SetBindAddress(bind_address_);
  }
  link->SetHandshakeDeadline(handshake_deadline_);
  link->SetKeyChangeWait(0);
  link->SetEncryption(cipher_, key_);
  link->SetKeyChangeWait(ISerial::DefaultKeyChangeWait());
  if (!link->Open(ParseLinkParameters(parameters))) {
    link->Close();
    return false;
  }
  outbox_->Put(std::move(link));
  return true;
}

// Takes the link out (so nothing more is sent on it), then closes and destroys it.
void CScriptProxy::DropLink() {
  std::unique_ptr<ISerial> link = outbox_->Take();
  if (!link) return;
  link->Close();
  link.reset();
}

Status CScriptProxy::Load(const std::string& file_name) {
  std::ifstream in(file_name, std::ios::binary);
  if (!in) return E_FAIL;
  std::string bytes;
  bytes.resize(kMaxProxySettingsSize + 1);
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  {
    std::lock_guard lock(settings_mutex_);
    LoadSettings(file_name, bytes);
  }
  script()->SetFileNames(file_name);
  return S_OK;
}

// Reads the settings and opens their link; an old version loads nothing, a damaged file leaves
// no link. Both are reported as severe log lines.
void CScriptProxy::LoadSettings(const std::string& file_name, const std::string& bytes) {
  ProxySettings settings;
  std::string error;
  if (bytes.size() > kMaxProxySettingsSize) error = "it is larger than 1 MiB";
  SettingsRead read = error.empty() ? ReadProxySettings(bytes, &settings, &error) : SettingsRead::kDamaged;
  if (read == SettingsRead::kOldVersion) {
    Log(severe, kProxyName, "File version " + std::to_string(settings.version) + " expecting version 1");
    return;
  }
  if (read == SettingsRead::kDamaged) {
    Log(severe, kProxyName, "The proxy settings file '" + file_name + "' cannot be read: " + error);
    DropLink();
    return;
  }
  serial_type_ = settings.type;
  serial_parameters_ = settings.parameters;
  key_ = settings.key;
  cipher_ = settings.cipher;
  ReplaceLink(serial_type_, serial_parameters_);
}

Status CScriptProxy::SaveAs(const std::string& file_name) {
  {
    std::lock_guard lock(settings_mutex_);
    if (Failed(WriteSettings(file_name))) return E_FAIL;
    settings_file_ = file_name;
  }
  script()->SetFileNames(file_name);
  return S_OK;
}

Status CScriptProxy::Save() {
  std::lock_guard lock(settings_mutex_);
  if (settings_file_.empty()) return E_FAIL;
  return WriteSettings(settings_file_);
}

Status CScriptProxy::WriteSettings(const std::string& file_name) {
  ProxySettings settings;
  settings.type = serial_type_;
  settings.parameters = serial_parameters_;
  settings.key = key_;
  settings.cipher = cipher_;
  return ReplaceFile(file_name, WriteProxySettings(settings)) ? S_OK : E_FAIL;
}

}  // namespace ordalis
