// Remote runs over TCP on the loop-back interface: a peer sends "connect", the statement x = 1
// and "disconnect" to a script proxy and waits for each answer (OK, the result word, OK), as
// `ordalis remote --run` does with a trivial script; and a single command's round trip. In the
// clear and with the authenticated cipher (the session key is agreed once, before the measured
// runs).
//
// Small messages that wait for delayed acknowledgements show here as some 40 ms a round trip.
// The whole-process comparison with a local `ordalis run` is bench/remote_vs_local.sh; this
// program follows the link's share of it.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "links/frame_reader.h"
#include "links/serial_creator.h"
#include "proxy/proxy_messages.h"
#include "proxy/script_proxy.h"

namespace ordalis {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr char kKey[] = "bench phrase";

// The peer: reads the proxy's messages and hands out its answers (replies and result words).
class Peer : public ISerialClient {
 public:
  void Received(ISerial*, const std::uint8_t* bytes, std::size_t length) override {
    std::vector<FrameReader::Frame> frames;
    std::lock_guard lock(mutex_);
    reader_.Feed(bytes, length, frames);
    for (const FrameReader::Frame& frame : frames) {
      std::string message(frame.body.begin(), frame.body.end());
      if (KindOf(message) != ProxyMessageKind::kLogLine) answers_.push_back(std::move(message));
    }
    changed_.notify_all();
  }
  void Sent(ISerial*, const std::uint8_t*, std::size_t) override {}
  void Connected(ISerial*) override {}
  void Disconnected(ISerial*) override {}
  void LineEvent(ISerial*, int) override {}
  void StatusChanged(ISerial*) override {}

  // The next answer, or empty after the safety time-out.
  std::string Next() {
    std::unique_lock lock(mutex_);
    if (!changed_.wait_for(lock, 20s, [&] { return !answers_.empty(); })) return "";
    std::string answer = std::move(answers_.front());
    answers_.pop_front();
    return answer;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  FrameReader reader_;
  std::deque<std::string> answers_;
};

// A script proxy serving TCP on the loop-back interface and a peer connected to it, in the
// clear or with the authenticated cipher (the session key agreed before anything is measured).
// The results of the runs go to a temporary folder, removed at the end.
class RemoteSession {
 public:
  explicit RemoteSession(bool keyed)
      : keyed_(keyed),
        folder_(fs::temp_directory_path() / ("ordalis-bench-remote-" + std::to_string(::getpid()))),
        proxy_(CScriptProxy::Create(nullptr, Pacing{0, 0, 0})) {
    fs::create_directories(folder_);
    std::shared_ptr<IScript> script;
    proxy_->get_Script(&script);
    if (auto item = std::dynamic_pointer_cast<IBatchQueueItem2>(script)) {
      item->put_ResultsDirectory((folder_ / "Results").string());
    }
    proxy_->SetBindAddress("127.0.0.1");
    if (keyed) {
      proxy_->SetCipher(CipherMode::kChaCha20Poly1305);
      proxy_->put_EncryptionKey(kKey);
    }
    if (Failed(proxy_->SetSerialParameters("tcp", "0"))) return;
    // The server's socket is made on the link's own thread; the port is known once it listens.
    auto give_up = std::chrono::steady_clock::now() + 20s;
    while (proxy_->ListeningPort() == 0 && std::chrono::steady_clock::now() < give_up) std::this_thread::yield();
    link_ = SerialCreator::Instance().Create(&peer_, "tcp");
    link_->SetKeyChangeWait(0);
    if (keyed) link_->SetEncryption(CipherMode::kChaCha20Poly1305, kKey);
    link_->Open({Variant::String("127.0.0.1"), Variant::Int(proxy_->ListeningPort())});
    ready_ = !keyed || link_->WaitForSession(20s);
  }
  ~RemoteSession() {
    if (link_) link_->Close();
    link_.reset();
    proxy_.reset();
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }

  bool ready() const { return ready_; }

  // Sends [command] as `ordalis remote` does and returns its answer.
  std::string Ask(const std::string& command) {
    link_->Send(keyed_ ? command : FramedMessage(command));
    return peer_.Next();
  }

 private:
  const bool keyed_;
  const fs::path folder_;
  std::shared_ptr<CScriptProxy> proxy_;
  Peer peer_;
  std::unique_ptr<ISerial> link_;
  bool ready_ = false;
};

// connect, x = 1, disconnect: what `ordalis remote --run` of a trivial script asks. A connect
// waits for the end of the run before (its results files), as a new remote run does.
void RemoteRunRoundTrip(benchmark::State& state) {
  RemoteSession session(state.range(0) != 0);
  if (!session.ready()) return state.SkipWithError("no link to the proxy");
  for (auto _ : state) {
    if (session.Ask("connect") != "OK" || session.Ask("script:x = 1") != "passed" ||
        session.Ask("disconnect") != "OK") {
      return state.SkipWithError("the remote run did not pass");
    }
  }
}
BENCHMARK(RemoteRunRoundTrip)->ArgName("keyed")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// One command and its answer, with the log line the proxy sends before it: the link's own
// share of a round trip.
void CommandRoundTrip(benchmark::State& state) {
  RemoteSession session(state.range(0) != 0);
  if (!session.ready()) return state.SkipWithError("no link to the proxy");
  if (session.Ask("connect") != "OK" || session.Ask("script:x = 1") != "passed") {
    return state.SkipWithError("the remote script did not run");
  }
  for (auto _ : state) {
    if (session.Ask("variable:x") != "1") return state.SkipWithError("the variable was not read");
  }
  session.Ask("disconnect");
}
BENCHMARK(CommandRoundTrip)->ArgName("keyed")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
}  // namespace ordalis

BENCHMARK_MAIN();
