#pragma once
// ScriptEvents: the outgoing execution events of one script object. Each event goes to the
// single in-process client first (the script proxy registers one), then to every connected
// _IScriptEvents sink in connection order. A client or sink that throws or fails does not stop
// the others. Events are raised with no engine lock held, so whoever receives one may call back
// into the script. All operations are safe to call from any thread.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "ordalis/interfaces.h"
#include "platform/connection_point.h"

namespace ordalis {

class ScriptItem;

// In-process observer of a script object's execution events; the script proxy registers one.
// Every call comes with no lock of the script held: the observer may drive the script from it.
class IScriptEventsClient {
 public:
  virtual ~IScriptEventsClient() = default;
  virtual void Executed(ScriptItem* item) = 0;
  virtual void ResultsReset() = 0;
  virtual void Started() = 0;
  virtual void Reset() = 0;
  virtual void StateChanged(ScriptState state) = 0;
};

class ScriptEvents {
 public:
  // The single in-process client; null clears it.
  void SetClient(std::shared_ptr<IScriptEventsClient> client);
  IConnectionPoint<IScriptEvents>& sinks() { return sinks_; }

  // [item] stays alive for the length of the call. Raised on the run thread only.
  void Executed(ScriptItem* item);
  // Drops the run thread's reference to the client; the run thread calls it when a run ends, so
  // a client replaced during the run is released then at the latest.
  void ForgetRunThreadClient();
  void ResultsReset();
  void Started();
  void Reset();
  // The client alone hears of state changes; the sinks' interface has no such event.
  void StateChanged(ScriptState state);

 private:
  template <typename Call>
  void TellClient(Call&& call);

  // The client as the run thread sees it. Executed comes for every statement, so the run thread
  // keeps its own reference and takes the lock only after SetClient has changed the client.
  IScriptEventsClient* RunThreadClient() {
    if (client_version_.load(std::memory_order_acquire) == run_client_version_) return run_client_.get();
    return RefreshRunThreadClient();
  }
  IScriptEventsClient* RefreshRunThreadClient();

  static constexpr std::uint64_t kNoVersion = ~std::uint64_t{0};

  std::mutex mutex_;  // guards client_
  std::shared_ptr<IScriptEventsClient> client_;
  std::atomic<std::uint64_t> client_version_{0};  // counts the changes of client_
  // Run thread only: its reference to the client, as of client version run_client_version_.
  std::shared_ptr<IScriptEventsClient> run_client_;
  std::uint64_t run_client_version_ = kNoVersion;
  ConnectionPoint<IScriptEvents> sinks_;
};

}  // namespace ordalis
