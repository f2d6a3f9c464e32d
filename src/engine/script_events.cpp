#include "engine/script_events.h"

#include <utility>

#include "language/script_item.h"

namespace ordalis {

void ScriptEvents::SetClient(std::shared_ptr<IScriptEventsClient> client) {
  std::lock_guard lock(mutex_);
  client_.swap(client);
  client_version_.fetch_add(1, std::memory_order_release);
  // The previous client is released here, outside the lock.
}

IScriptEventsClient* ScriptEvents::RefreshRunThreadClient() {
  std::shared_ptr<IScriptEventsClient> previous;
  {
    std::lock_guard lock(mutex_);
    previous = std::exchange(run_client_, client_);
    run_client_version_ = client_version_.load(std::memory_order_relaxed);
  }
  return run_client_.get();
}

void ScriptEvents::ForgetRunThreadClient() {
  std::shared_ptr<IScriptEventsClient> previous = std::exchange(run_client_, nullptr);
  run_client_version_ = kNoVersion;
}

template <typename Call>
void ScriptEvents::TellClient(Call&& call) {
  std::shared_ptr<IScriptEventsClient> client;
  {
    std::lock_guard lock(mutex_);
    client = client_;
  }
  if (!client) return;
  try {
    call(*client);
  } catch (...) {
    // A client that throws must not keep the event from the sinks, nor stop the run.
  }
}

void ScriptEvents::Executed(ScriptItem* item) {
  if (item == nullptr) return;
  if (IScriptEventsClient* client = RunThreadClient()) {
    try {
      client->Executed(item);
    } catch (...) {
      // As in TellClient: a throwing client keeps the event from no one.
    }
  }
  std::uint32_t id = item->id();
  sinks_.Fire([id](IScriptEvents& sink) { sink.Executed(id); });
}

void ScriptEvents::ResultsReset() {
  TellClient([](IScriptEventsClient& client) { client.ResultsReset(); });
  sinks_.Fire([](IScriptEvents& sink) { sink.ResultsReset(); });
}

void ScriptEvents::Started() {
  TellClient([](IScriptEventsClient& client) { client.Started(); });
  sinks_.Fire([](IScriptEvents& sink) { sink.Started(); });
}

void ScriptEvents::Reset() {
  TellClient([](IScriptEventsClient& client) { client.Reset(); });
  sinks_.Fire([](IScriptEvents& sink) { sink.Reset(); });
}

void ScriptEvents::StateChanged(ScriptState state) {
  TellClient([state](IScriptEventsClient& client) { client.StateChanged(state); });
}

}  // namespace ordalis
