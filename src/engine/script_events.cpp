#include "engine/script_events.h"

#include "language/script_item.h"

namespace ordalis {

void ScriptEvents::SetClient(std::shared_ptr<IScriptEventsClient> client) {
  std::lock_guard lock(mutex_);
  client_.swap(client);
  // The previous client is released here, outside the lock.
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
  TellClient([item](IScriptEventsClient& client) { client.Executed(item); });
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
