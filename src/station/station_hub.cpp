#include "station/station_hub.h"

#include <algorithm>
#include <utility>

#include <nlohmann/json.hpp>

namespace ordalis::station {
namespace {

using Json = nlohmann::json;

constexpr std::size_t kMaxStatementText = 200;

// Items whose children are statements: the script, a block, a function, an include.
bool HoldsStatements(ItemType type) {
  switch (type) {
    case rootItem:
    case thenItem:
    case elseItem:
    case doItem:
    case functionItem:
    case includeItem:
      return true;
    default:
      return false;
  }
}

// The statement's first source line, short enough for one row of the page.
std::string RowText(const ScriptItem& item) {
  std::string text = item.type() == functionItem ? "function " + item.text() : item.SourceText();
  text = text.substr(0, text.find('\n'));
  if (text.size() > kMaxStatementText) text = text.substr(0, kMaxStatementText) + "…";
  return text;
}

const char* StateWord(ScriptState state) {
  switch (state) {
    case ScriptRunning: return "running";
    case ScriptPausing: return "pausing";
    case ScriptPaused: return "paused";
    case ScriptStopping: return "stopping";
    default: return "idle";
  }
}

}  // namespace

void StationHub::BuildRows(ScriptItem* container, std::int32_t parent) {
  for (const ScriptItemPtr& child : container->children()) {
    if (child->type() == thenItem || child->type() == elseItem || child->type() == doItem) {
      BuildRows(child.get(), parent);
      continue;
    }
    if (!HoldsStatements(container->type())) continue;
    StatementRow row{parent, child->line(), ItemTypeName(child->type()), RowText(*child),
                     child->type() == resultItem ? child->text() : std::string(), child.get()};
    row_of_[child.get()] = rows_.size();
    rows_.push_back(std::move(row));
    BuildRows(child.get(), static_cast<std::int32_t>(rows_.size() - 1));
  }
}

void StationHub::Loaded(const ScriptItemPtr& root, const std::string& path) {
  {
    std::lock_guard lock(mutex_);
    root_ = root;
    path_ = path;
    rows_.clear();
    row_of_.clear();
    if (root_) BuildRows(root_.get(), -1);
    states_.assign(rows_.size(), RowState{});
    current_row_ = -1;
    ran_ = ended_ = false;
    verdict_ = TestNotRun;
    report_.clear();
    loaded_seq_ = ++seq_;
  }
  changed_.notify_all();
}

void StationHub::Executed(ScriptItem* item) {
  Result result = item->current_result();
  std::lock_guard lock(mutex_);
  auto found = row_of_.find(item);
  if (found == row_of_.end()) return;
  RowState& state = states_[found->second];
  state.seq = ++seq_;
  state.result = result;
  ++state.runs;
  current_row_ = static_cast<std::int64_t>(found->second);
  current_seq_ = seq_;
}

void StationHub::StateChanged(ScriptState state) {
  {
    std::lock_guard lock(mutex_);
    state_ = state;
    ++state_changes_;
    state_seq_ = ++seq_;
  }
  changed_.notify_all();
}

void StationHub::SetCurrent(ScriptItem* item) {
  std::lock_guard lock(mutex_);
  auto found = row_of_.find(item);
  if (found == row_of_.end()) return;
  current_row_ = static_cast<std::int64_t>(found->second);
  state_seq_ = ++seq_;
}

void StationHub::NewRun() {
  {
    std::lock_guard lock(mutex_);
    for (RowState& row : states_) row = RowState{++seq_, TestNotRun, 0};
    started_ = std::chrono::steady_clock::now();
    ran_ = true;
    ended_ = false;
    report_.clear();
    state_seq_ = ++seq_;
  }
  changed_.notify_all();
}

void StationHub::RunEnded(Result verdict, const std::string& report) {
  {
    std::lock_guard lock(mutex_);
    ended_ = true;
    ended_at_ = std::chrono::steady_clock::now();
    verdict_ = verdict;
    report_ = report;
    current_row_ = -1;
    state_seq_ = ++seq_;
  }
  changed_.notify_all();
}

void StationHub::Log(LoggingLevel level, const std::string& source, const std::string& message) {
  double at = 0;
  std::lock_guard lock(mutex_);
  if (ran_) at = std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
  log_.push_back(LogLine{++seq_, at, static_cast<int>(level), source, message});
  if (log_.size() > kLogLinesKept) {
    dropped_seq_ = log_.front().seq;
    log_.pop_front();
  }
}

void StationHub::SetBreakpoint(std::size_t row, bool on) {
  std::lock_guard lock(mutex_);
  if (row >= rows_.size()) return;
  rows_[row].item->set_breakpoint(on);
  states_[row].seq = ++seq_;
}

ScriptItem* StationHub::ItemOfRow(std::size_t row) {
  std::lock_guard lock(mutex_);
  return row < rows_.size() ? rows_[row].item : nullptr;
}

ScriptState StationHub::state() {
  std::lock_guard lock(mutex_);
  return state_;
}

double StationHub::ElapsedLocked() const {
  if (!ran_) return 0;
  auto end = ended_ ? ended_at_ : std::chrono::steady_clock::now();
  return std::chrono::duration<double>(end - started_).count();
}

namespace {

Json RowUpdate(std::size_t index, Result result, std::uint64_t runs, bool breakpoint) {
  return Json::array({index, static_cast<int>(result), runs, breakpoint});
}

// The state, the clock and the verdict, common to snapshots and batches.
void AddStatus(Json& out, const char* state, std::uint64_t changes, double elapsed, bool ended,
                      Result verdict, const std::string& report, std::int64_t current) {
  out["state"] = state;
  out["changes"] = changes;
  out["elapsed"] = elapsed;
  out["ended"] = ended;
  out["verdict"] = static_cast<int>(verdict);
  out["report"] = report;
  out["current"] = current;
}

}  // namespace

std::string StationHub::SnapshotLocked() const {
  Json out{{"kind", "snapshot"}, {"seq", seq_}, {"path", path_}};
  Json rows = Json::array();
  for (const StatementRow& row : rows_) {
    rows.push_back({{"p", row.parent}, {"l", row.line}, {"k", row.type}, {"t", row.text}, {"n", row.named}});
  }
  out["rows"] = std::move(rows);
  Json states = Json::array();
  for (std::size_t i = 0; i < states_.size(); ++i) {
    states.push_back(RowUpdate(i, states_[i].result, states_[i].runs, rows_[i].item->breakpoint()));
  }
  out["items"] = std::move(states);
  Json log = Json::array();
  std::size_t first = log_.size() > kLogLinesInSnapshot ? log_.size() - kLogLinesInSnapshot : 0;
  for (std::size_t i = first; i < log_.size(); ++i) {
    log.push_back({log_[i].at, log_[i].level, log_[i].source, log_[i].message});
  }
  out["log"] = std::move(log);
  AddStatus(out, StateWord(state_), state_changes_, ElapsedLocked(), ended_, verdict_, report_, current_row_);
  return out.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string StationHub::BatchLocked(const StreamCursor& cursor) const {
  Json out{{"kind", "batch"}, {"seq", seq_}};
  Json states = Json::array();
  for (std::size_t i = 0; i < states_.size(); ++i) {
    if (states_[i].seq <= cursor.seq) continue;
    states.push_back(RowUpdate(i, states_[i].result, states_[i].runs, rows_[i].item->breakpoint()));
  }
  out["items"] = std::move(states);
  Json log = Json::array();
  auto first = std::upper_bound(log_.begin(), log_.end(), cursor.seq,
                                [](std::uint64_t seq, const LogLine& line) { return seq < line.seq; });
  for (auto line = first; line != log_.end(); ++line) {
    log.push_back({line->at, line->level, line->source, line->message});
  }
  out["log"] = std::move(log);
  AddStatus(out, StateWord(state_), state_changes_, ElapsedLocked(), ended_, verdict_, report_, current_row_);
  return out.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string StationHub::Snapshot() {
  std::lock_guard lock(mutex_);
  return SnapshotLocked();
}

std::string StationHub::NextUpdate(StreamCursor* cursor) {
  std::unique_lock lock(mutex_);
  // A stream the ring has moved past, or one that has not seen the loaded script, starts over.
  if (!cursor->synced || loaded_seq_ > cursor->seq || dropped_seq_ > cursor->seq) {
    cursor->synced = true;
    cursor->seq = seq_;
    return SnapshotLocked();
  }
  changed_.wait_for(lock, kBatchInterval, [&] { return closed_ || state_seq_ > cursor->seq || loaded_seq_ > cursor->seq; });
  if (closed_) return std::string();
  if (loaded_seq_ > cursor->seq) {
    cursor->seq = seq_;
    return SnapshotLocked();
  }
  if (seq_ == cursor->seq) return std::string();
  std::string batch = BatchLocked(*cursor);
  cursor->seq = seq_;
  return batch;
}

void StationHub::Close() {
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
  }
  changed_.notify_all();
}

bool StationHub::closed() const {
  std::lock_guard lock(mutex_);
  return closed_;
}

}  // namespace ordalis::station
