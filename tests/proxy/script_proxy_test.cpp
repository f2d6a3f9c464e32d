#include "proxy/script_proxy.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "../links/socket_peer.h"
#include "log_record.h"
#include "temporary_folder.h"
#include "peer.h"
#include "proxy/proxy_settings.h"

namespace ordalis {
namespace {

using testing::LogRecord;
using testing::PeerCipher;
using testing::ProxyPeer;


// A proxy whose link connects out to a listener of the test, so nothing listens beyond the
// loop-back interface, and the peer at the other end of that connection.
class ProxyOverTcp : public ::testing::Test {
 protected:
  void SetUp() override {
    proxy = CScriptProxy::Create(nullptr, Pacing{0, 0, 0});
    proxy->SetLocalLog(log);
    // The script's results go below the directory of its settings file.
    ASSERT_EQ(proxy->SaveAs(directory + "/proxy.settings"), S_OK);
    listener = testing::ListenLocal(port);
  }

  void Connect(PeerCipher cipher, const std::string& key = "", const std::string& peer_key = "") {
    if (cipher == PeerCipher::kAuthenticated) proxy->SetCipher(CipherMode::kChaCha20Poly1305);
    if (!key.empty()) {
      ASSERT_EQ(proxy->put_EncryptionKey(key), S_OK);
    }
    ASSERT_EQ(proxy->SetSerialParameters("tcp", Parameters()), S_OK);
    Accept(cipher, peer_key.empty() ? key : peer_key);
  }
  void Accept(PeerCipher cipher, const std::string& key) {
    FileDescriptor socket = testing::AcceptOne(listener.get());
    ASSERT_TRUE(socket.valid());
    peer = std::make_unique<ProxyPeer>(std::move(socket), cipher, key);
  }
  std::string Parameters() const { return "\"127.0.0.1\", " + std::to_string(port); }

  std::string Ask(const std::string& command) {
    peer->Send(command);
    return peer->NextAnswer();
  }
  std::string Variable(const std::string& name) {
    std::shared_ptr<IScript> script;
    proxy->get_Script(&script);
    VariantArrayPtr values;
    if (Failed(script->get_VariableValue(name, &values)) || !values) return "(none)";
    return ValueText(*values);
  }

  testing::TemporaryFolder folder;
  std::string directory = folder.path();
  std::shared_ptr<LogRecord> log = std::make_shared<LogRecord>();
  std::shared_ptr<CScriptProxy> proxy;
  std::uint16_t port = 0;
  FileDescriptor listener;
  std::unique_ptr<ProxyPeer> peer;
};

struct Exchange {
  const char* command;
  const char* answer;
};

TEST_F(ProxyOverTcp, AnswersEachCommandAsThePeerExpects) {
  Connect(PeerCipher::kNone);
  const Exchange conversation[] = {
      {"connect", "OK"},
      {"script:x = 1", "passed"},
      {"variable:x", "1"},
      {"script:s = \"ab\"", "passed"},
      {"variable:s", "\"ab\""},
      {"script:v = 2.5, true, [3, \"c\"]", "passed"},
      {"variable:v", "2.5,true,[3,\"c\"]"},
      {"variable:nothing", "error"},
      {"variable", "error"},
      {"script", "error"},
      {"script:", "error"},
      {"script:assert(x == 2)", "failed"},
      {"CONNECT", "ERROR"},
      {"abort", "OK"},
      {"connect", "OK"},
      {"disconnect", "OK"},
  };
  for (const Exchange& exchange : conversation) {
    EXPECT_EQ(Ask(exchange.command), exchange.answer) << exchange.command;
  }
  const std::vector<std::string>& messages = peer->messages();
  EXPECT_NE(std::find(messages.begin(), messages.end(), "log:5Variable scriptproxy Unknown command 'CONNECT' ignored"),
            messages.end());
  EXPECT_NE(std::find(messages.begin(), messages.end(), "log:2Variable scriptproxy Connect command received"),
            messages.end());
  EXPECT_NE(std::find(messages.begin(), messages.end(), "log:4Variable Script Start"), messages.end());
}

TEST_F(ProxyOverTcp, Rc4RepliesAreCiphertextOnTheWire) {
  Connect(PeerCipher::kRc4, "phrase");
  EXPECT_EQ(Ask("connect"), "OK");
  EXPECT_EQ(Ask("script:greeting = \"hello\""), "passed");
  EXPECT_EQ(Ask("variable:greeting"), "\"hello\"");
  EXPECT_EQ(peer->wire().find("OK"), std::string::npos);
  EXPECT_EQ(peer->wire().find("hello"), std::string::npos);
  EXPECT_EQ(peer->wire().find("Connect command"), std::string::npos);
}

// Authenticated frames: a replayed command and an altered one are refused with a log line and
// never run; the session goes on after the replay.
TEST_F(ProxyOverTcp, ReplayedAndAlteredCommandsNeverRun) {
  Connect(PeerCipher::kAuthenticated, "phrase");
  EXPECT_EQ(Ask("connect"), "OK");
  EXPECT_EQ(Ask("script:n = 1"), "passed");
  std::vector<std::uint8_t> increment = peer->Frame("script:n = n + 1");
  peer->WriteRaw(increment);
  EXPECT_EQ(peer->NextAnswer(), "passed");
  peer->WriteRaw(increment);
  ASSERT_TRUE(log->WaitFor("Rejected a replayed or out-of-order data frame from the peer"));
  EXPECT_EQ(Ask("variable:n"), "2");

  std::vector<std::uint8_t> altered = peer->Frame("script:n = n + 100");
  altered[altered.size() - 20] ^= 0x01;
  peer->WriteRaw(altered);
  ASSERT_TRUE(log->WaitFor("Rejected a data frame that failed authentication from the peer"));
  EXPECT_EQ(log->Find("Rejected a data frame")->level, warning);
  EXPECT_EQ(Variable("n"), "2");
}

TEST_F(ProxyOverTcp, APeerWithTheWrongKeyRunsNothing) {
  Connect(PeerCipher::kAuthenticated, "right phrase", "wrong phrase");
  peer->Send("connect");
  peer->Send("script:x = 1");
  ASSERT_TRUE(log->WaitFor("failed authentication"));
  EXPECT_FALSE(log->Find("Connect command received"));
  EXPECT_FALSE(log->Find("Script command received"));
  EXPECT_EQ(Variable("x"), "(none)");
}

// An eavesdropper plays a whole recorded session to the proxy again on a new connection.
TEST_F(ProxyOverTcp, ARecordedSessionReplayedOnANewConnectionRunsNothing) {
  Connect(PeerCipher::kAuthenticated, "phrase");
  EXPECT_EQ(Ask("connect"), "OK");
  EXPECT_EQ(Ask("script:n = 5"), "passed");
  std::vector<std::uint8_t> recorded = peer->written();
  peer.reset();  // the connection drops; the proxy's link connects again
  std::shared_ptr<IScript> script;
  proxy->get_Script(&script);
  ASSERT_EQ(script->put_VariableValue("n", std::make_shared<VariantArray>(VariantArray{Variant::Int(0)})), S_OK);

  FileDescriptor socket = testing::AcceptOne(listener.get());
  ASSERT_TRUE(socket.valid());
  ASSERT_TRUE(testing::SendText(socket.get(), std::string(recorded.begin(), recorded.end())));
  ASSERT_TRUE(log->WaitFor("Rejected a"));
  EXPECT_EQ(Variable("n"), "0");
}

// A peer that connects, sends commands and never reads: the proxy's messages fill the link's
// queue and are given up, the script still runs to its hold, and the proxy goes away promptly.
TEST_F(ProxyOverTcp, APeerThatNeverReadsDoesNotHoldTheProxy) {
  int small = 4096;
  ::setsockopt(listener.get(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  ISerial::SetDefaultSendWait(std::chrono::milliseconds(50));
  Connect(PeerCipher::kRc4, "phrase");
  ISerial::SetDefaultSendWait(std::chrono::milliseconds(10000));
  peer->Send("connect");
  peer->Send(
      "script:line = sprintf(\"%3000d\", 7)\n"
      "i = 0\n"
      "while i < 3000 do\n"
      "  printf(\"%s\", line)\n"
      "  i++\n"
      "endwhile\n");
  ASSERT_TRUE(log->WaitFor("State changed to ScriptPaused"));
  EXPECT_NE(proxy->LinkStatus().find("send queue full"), std::string::npos) << proxy->LinkStatus();
  EXPECT_EQ(Variable("i"), "3000");
  proxy.reset();
  EXPECT_TRUE(testing::WaitForClose(peer->fd()));
}

// A peer that reads only after the script has held: the log lines the full link could not
// take are given up, and the peer is told how many; the result word waits for room and comes.
TEST_F(ProxyOverTcp, APeerThatReadsLateStillGetsTheVerdict) {
  int small = 4096;
  ::setsockopt(listener.get(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  ISerial::SetDefaultSendWait(std::chrono::milliseconds(500));
  Connect(PeerCipher::kNone);
  ISerial::SetDefaultSendWait(std::chrono::milliseconds(10000));
  peer->Send("connect");
  ASSERT_TRUE(log->WaitFor("Connect command received"));
  peer->Send(
      "script:line = sprintf(\"%3000d\", 7)\n"
      "i = 0\n"
      "while i < 3000 do\n"
      "  printf(\"%s\", line)\n"
      "  i++\n"
      "endwhile\n");
  ASSERT_TRUE(log->WaitFor("State changed to ScriptPaused"));
  EXPECT_EQ(peer->NextAnswer(), "OK");
  EXPECT_EQ(peer->NextAnswer(), "passed");
  const std::vector<std::string>& messages = peer->messages();
  EXPECT_TRUE(std::any_of(messages.begin(), messages.end(), [](const std::string& message) {
    return message.find(" log lines were not sent to the peer: the link's send queue was full") != std::string::npos;
  }));
}

TEST_F(ProxyOverTcp, DestroyedWhileAScriptRuns) {
  Connect(PeerCipher::kNone);
  EXPECT_EQ(Ask("connect"), "OK");
  peer->Send("script:sleep(600)");
  ASSERT_TRUE(log->WaitFor("executing command \"sleep\""));
  proxy.reset();
  EXPECT_TRUE(testing::WaitForClose(peer->fd()));
}

// ---- commands that the stream cuts, and peers that leave -----------------------------------------

struct Split {
  const char* name;
  std::size_t at;  // bytes of the framed command sent before the pause
};

void PrintTo(const Split& c, std::ostream* out) { *out << c.name; }

class FramedCommandInParts : public ProxyOverTcp, public ::testing::WithParamInterface<Split> {};

// A long script that a plain stream delivers in parts runs whole: its verdict is that of its
// last statement, not of whatever part happened to arrive first.
TEST_P(FramedCommandInParts, RunsWholeWithItsOwnVerdict) {
  Connect(PeerCipher::kNone);
  EXPECT_EQ(Ask("connect"), "OK");
  std::string script = "script:";
  int last = 0;
  for (; script.size() < 3000; ++last) script += "filler = " + std::to_string(last) + "\n";
  script += "assert(filler == -1)\n";
  std::string framed = FramedMessage(script);
  std::size_t at = std::min(GetParam().at, framed.size() - 1);
  ASSERT_TRUE(testing::SendText(peer->fd(), framed.substr(0, at)));
  ASSERT_TRUE(peer->WaitForMessageContaining("A command is arriving in parts"));
  ASSERT_TRUE(testing::SendText(peer->fd(), framed.substr(at)));
  EXPECT_EQ(peer->NextAnswer(), "failed");
  EXPECT_EQ(Variable("filler"), std::to_string(last - 1));
}

INSTANTIATE_TEST_SUITE_P(Splits, FramedCommandInParts,
                         ::testing::Values(Split{"InsideTheLength", 2}, Split{"AfterTheLength", 4},
                                           Split{"InsideTheText", 1500}, Split{"BeforeTheLastByte", 100000}),
                         [](const auto& info) { return std::string(info.param.name); });

// A log observer that holds the command thread at the first line containing [trigger] until the
// test opens it (or a safety time-out passes).
class GatedLog : public LogRecord {
 public:
  explicit GatedLog(std::string trigger) : trigger_(std::move(trigger)) {}
  void Log(std::int64_t time, double seconds, LoggingLevel level, const std::string& variable_name,
           const std::string& message) override {
    LogRecord::Log(time, seconds, level, variable_name, message);
    if (message.find(trigger_) == std::string::npos) return;
    std::unique_lock lock(mutex_);
    reached_ = true;
    changed_.notify_all();
    changed_.wait_for(lock, std::chrono::seconds(20), [&] { return open_; });
  }
  bool WaitReached() {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(20), [&] { return reached_; });
  }
  void Open() {
    {
      std::lock_guard lock(mutex_);
      open_ = true;
    }
    changed_.notify_all();
  }

 private:
  const std::string trigger_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool reached_ = false;
  bool open_ = false;
};

// A peer leaves while its connect runs and a further command waits: that command never runs,
// and the next peer hears nothing meant for the one that left.
TEST_F(ProxyOverTcp, ThePeerAfterOneThatLeftStartsClean) {
  auto gate = std::make_shared<GatedLog>("Connect command received");
  proxy->SetLocalLog(gate);
  struct OpenOnExit {
    GatedLog& gate;
    ~OpenOnExit() { gate.Open(); }
  } open_on_exit{*gate};
  Connect(PeerCipher::kNone);
  peer->Send("connect");
  ASSERT_TRUE(gate->WaitReached());
  peer->Send("script:left = 1");
  peer.reset();
  ASSERT_TRUE(gate->WaitFor("Disconnected"));
  gate->Open();
  Accept(PeerCipher::kNone, "");
  EXPECT_EQ(Ask("variable:left"), "error");
  EXPECT_EQ(Ask("connect"), "OK");
  EXPECT_EQ(Variable("left"), "(none)");
}

// ---- the one connection of a keyed server ------------------------------------------------------

enum class Holder { kSilent, kWrongKey };

struct SlotCase {
  const char* name;
  Holder holder;
  int deadline_ms;     // the handshake deadline
  bool keyed_arrives;  // a keyed peer connects while the holder is still there
  const char* dropped;
};

void PrintTo(const SlotCase& c, std::ostream* out) { *out << c.name; }

// A proxy serving TCP on 127.0.0.1 with the authenticated cipher. A first peer that never shows
// the key holds the connection; it must give way to a keyed peer, and must not outlast the
// handshake deadline.
class KeyedServerSlot : public ::testing::TestWithParam<SlotCase> {
 protected:
  void SetUp() override {
    proxy = CScriptProxy::Create(nullptr, Pacing{0, 0, 0});
    proxy->SetHandshakeDeadline(std::chrono::milliseconds(GetParam().deadline_ms));
    proxy->SetLocalLog(log);
    ASSERT_EQ(proxy->SaveAs(directory + "/proxy.settings"), S_OK);
    proxy->SetBindAddress("127.0.0.1");
    proxy->SetCipher(CipherMode::kChaCha20Poly1305);
    ASSERT_EQ(proxy->put_EncryptionKey("phrase"), S_OK);
    ASSERT_EQ(proxy->SetSerialParameters("tcp", "0"), S_OK);
    ASSERT_TRUE(log->WaitFor("accepting connection"));
    port = proxy->ListeningPort();
  }
  void TearDown() override {
    proxy.reset();
  }

  testing::TemporaryFolder folder;
  std::string directory = folder.path();
  std::shared_ptr<LogRecord> log = std::make_shared<LogRecord>();
  std::shared_ptr<CScriptProxy> proxy;
  std::uint16_t port = 0;
};

TEST_P(KeyedServerSlot, APeerWithoutTheKeyCannotHoldTheConnection) {
  FileDescriptor first = testing::ConnectLocal(port);
  ASSERT_TRUE(first.valid());
  std::unique_ptr<ProxyPeer> holder;
  if (GetParam().holder == Holder::kWrongKey) {
    holder = std::make_unique<ProxyPeer>(std::move(first), PeerCipher::kAuthenticated, "wrong phrase");
    holder->WaitForSession();  // the hellos went both ways: it echoed the proxy's random
    holder->Send("connect");
  } else {
    holder = std::make_unique<ProxyPeer>(std::move(first), PeerCipher::kNone);
  }
  ASSERT_TRUE(log->WaitFor("Connected"));
  if (!GetParam().keyed_arrives) {
    EXPECT_TRUE(testing::WaitForClose(holder->fd()));
    // The keyed peer that follows gets the usual time, whatever its key derivation takes.
    proxy->SetHandshakeDeadline(std::chrono::milliseconds(CScriptProxy::kHandshakeDeadlineMs));
  }

  ProxyPeer keyed(testing::ConnectLocal(port), PeerCipher::kAuthenticated, "phrase");
  keyed.Send("connect");
  EXPECT_EQ(keyed.NextAnswer(), "OK");
  EXPECT_TRUE(testing::WaitForClose(holder->fd()));
  ASSERT_TRUE(log->WaitFor(GetParam().dropped));
  EXPECT_EQ(log->Find(GetParam().dropped)->level, warning);
}

INSTANTIATE_TEST_SUITE_P(
    Holders, KeyedServerSlot,
    ::testing::Values(
        SlotCase{"SilentGivesWayToAKeyedPeer", Holder::kSilent, 10000, true,
                 "Dropped a peer that had not shown the key, for a new connection"},
        SlotCase{"WrongKeyGivesWayToAKeyedPeer", Holder::kWrongKey, 10000, true,
                 "Dropped a peer that had not shown the key, for a new connection"},
        SlotCase{"SilentIsDroppedAtTheDeadline", Holder::kSilent, 100, false,
                 "Dropped a peer that did not show the key within 100 ms"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- settings files --------------------------------------------------------------------------

TEST_F(ProxyOverTcp, SettingsSaveAndLoadKeepLinkKeyAndCipher) {
  proxy->SetCipher(CipherMode::kChaCha20Poly1305);
  ASSERT_EQ(proxy->put_EncryptionKey("phrase"), S_OK);
  ASSERT_EQ(proxy->SetSerialParameters("tcp", Parameters()), S_OK);
  ASSERT_EQ(proxy->Save(), S_OK);

  auto loaded = CScriptProxy::Create(nullptr, Pacing{0, 0, 0});
  ASSERT_EQ(loaded->Load(directory + "/proxy.settings"), S_OK);
  std::string type, parameters, key;
  ASSERT_EQ(loaded->GetSerialParameters(&type, &parameters), S_OK);
  loaded->get_EncryptionKey(&key);
  EXPECT_EQ(type, "tcp");
  EXPECT_EQ(parameters, Parameters());
  EXPECT_EQ(key, "phrase");
  EXPECT_EQ(loaded->cipher(), CipherMode::kChaCha20Poly1305);
  EXPECT_NE(loaded->LinkStatus().find("tcp client of 127.0.0.1"), std::string::npos);
  EXPECT_EQ(loaded->Load(directory + "/missing.settings"), E_FAIL);
  EXPECT_EQ(CScriptProxy::Create(nullptr, Pacing{0, 0, 0})->Save(), E_FAIL);  // no file yet
}

struct BadFile {
  const char* name;
  std::string bytes;
  const char* logged;
  bool keeps_link;
};

void PrintTo(const BadFile& c, std::ostream* out) { *out << c.name; }

class BadSettingsFile : public ProxyOverTcp, public ::testing::WithParamInterface<BadFile> {};

// A version 0 file shows the version message and loads nothing else; a damaged file is
// reported and leaves no link.
TEST_P(BadSettingsFile, IsReportedAsASevereLogLine) {
  ASSERT_EQ(proxy->SetSerialParameters("tcp", Parameters()), S_OK);
  std::string path = directory + "/bad.settings";
  std::ofstream(path, std::ios::binary) << GetParam().bytes;
  EXPECT_EQ(proxy->Load(path), S_OK);
  ASSERT_TRUE(log->WaitFor(GetParam().logged));
  EXPECT_EQ(log->Find(GetParam().logged)->level, severe);
  EXPECT_EQ(proxy->LinkStatus().empty(), !GetParam().keeps_link);
}

INSTANTIATE_TEST_SUITE_P(
    Files, BadSettingsFile,
    ::testing::Values(BadFile{"VersionZero", std::string("\0\0\0\0", 4) + ArchiveString("udp"),
                              "File version 0 expecting version 1", true},
                      BadFile{"CutShort", std::string("\2\0\0\0", 4) + ArchiveString("tcp").substr(0, 4),
                              "cannot be read: the link type or parameters are cut short", false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ScriptProxy, AnUnknownLinkTypeLeavesNoLink) {
  auto proxy = CScriptProxy::Create(nullptr, Pacing{0, 0, 0});
  EXPECT_EQ(proxy->SetSerialParameters("modem", "1"), E_FAIL);
  EXPECT_EQ(proxy->SetSerialParameters("tcp", "\"no port\""), E_FAIL);
  EXPECT_TRUE(proxy->LinkStatus().empty());
  std::string type, parameters;
  proxy->GetSerialParameters(&type, &parameters);
  EXPECT_EQ(type, "tcp");
  EXPECT_EQ(proxy->get_Script(nullptr), E_POINTER);
}

}  // namespace
}  // namespace ordalis
