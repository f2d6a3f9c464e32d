#include "history/results_store.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>
#include <tuple>
#include <variant>

#include "history/store_schema.h"

namespace ordalis::history {

namespace {

using Parameter = std::variant<std::int64_t, std::string>;

// The columns List and Show read, in the order RunFromRow expects them.
constexpr const char* kRunColumns =
    "id, script, script_path, stamp, started, ended, duration, verdict, n_passed, n_failed,"
    " n_not_implemented, n_warning, n_error, n_not_run, n_aborted, host, user_name,"
    " version_under_test, ordalis_version, folder, results_path, log_path, record_path,"
    " report_path, batch, attempt";

RunRecord RunFromRow(const IStoreStatement& row) {
  RunRecord run;
  run.id = row.Integer(0);
  run.script = row.Text(1);
  run.script_path = row.Text(2);
  run.stamp = row.Text(3);
  run.started = row.Text(4);
  run.ended = row.Text(5);
  run.duration = row.Real(6);
  run.verdict = static_cast<Result>(row.Integer(7));
  for (int r = 0; r < 7; ++r) run.counts[static_cast<std::size_t>(r)] = row.Integer(8 + r);
  std::string* texts[] = {&run.host, &run.user, &run.version_under_test, &run.ordalis_version,
                          &run.folder, &run.results_path, &run.log_path, &run.record_path,
                          &run.report_path, &run.batch};
  for (int i = 0; i < 10; ++i) *texts[i] = row.Text(15 + i);
  run.attempt = row.Integer(25);
  return run;
}

void BindAll(IStoreStatement& statement, const std::vector<Parameter>& parameters) {
  int index = 1;
  for (const Parameter& parameter : parameters) {
    std::visit([&](const auto& value) { statement.Bind(index, value); }, parameter);
    ++index;
  }
}

std::string CountList() {
  std::string list;
  for (const char* name : kCountColumns) list += std::string(", ") + name;
  return list;
}

void BindCounts(IStoreStatement& statement, int first, const ResultCounts& counts) {
  for (int r = 0; r < 7; ++r) statement.Bind(first + r, counts[static_cast<std::size_t>(r)]);
}

// The Monday on or before the day [day] ("YYYY-MM-DD").
std::string WeekOf(const std::string& day) {
  int y = 0, m = 0, d = 0;
  if (std::sscanf(day.c_str(), "%d-%d-%d", &y, &m, &d) != 3) return day;
  using namespace std::chrono;
  sys_days date = year_month_day{year{y}, month{static_cast<unsigned>(m)}, std::chrono::day{static_cast<unsigned>(d)}};
  date -= days{(weekday{date}.iso_encoding() - 1)};
  year_month_day monday{date};
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(monday.year()),
                static_cast<unsigned>(monday.month()), static_cast<unsigned>(monday.day()));
  return text;
}

// The local date [days] days before now, "YYYY-MM-DD".
std::string DaysAgo(std::int64_t days) {
  std::time_t now = std::time(nullptr) - static_cast<std::time_t>(days) * 86400;
  std::tm local{};
  localtime_r(&now, &local);
  char text[16];
  std::strftime(text, sizeof text, "%Y-%m-%d", &local);
  return text;
}

bool IsFailing(Result result) { return result == TestFailed || result == TestError; }

constexpr const char* kNumberKind = "number";

const char* KindWord(MeasuredKind kind) {
  switch (kind) {
    case MeasuredKind::kText: return "text";
    case MeasuredKind::kBoolean: return "boolean";
    case MeasuredKind::kNumber: break;
  }
  return kNumberKind;
}

MeasuredKind KindFromWord(const std::string& word) {
  if (word == "text") return MeasuredKind::kText;
  if (word == "boolean") return MeasuredKind::kBoolean;
  return MeasuredKind::kNumber;
}

// A limit that is no finite number (a tester's NaN or infinity) is kept as none: SQLite cannot
// hold a NaN in a column, and no statistic can use one.
void BindLimit(IStoreStatement& statement, int index, const std::optional<double>& limit) {
  if (limit && std::isfinite(*limit)) {
    statement.Bind(index, *limit);
  } else {
    statement.BindNull(index);
  }
}

std::optional<double> LimitAt(const IStoreStatement& row, int index) {
  if (row.IsNull(index)) return std::nullopt;
  return row.Real(index);
}

// The value of a row whose columns from [first] are run_id, number, low, high, unit, result.
MeasuredValue ValueFromRow(const IStoreStatement& row, int first) {
  return {row.Integer(first), row.Real(first + 1), LimitAt(row, first + 2), LimitAt(row, first + 3),
          row.Text(first + 4), static_cast<Result>(row.Integer(first + 5))};
}

}  // namespace

std::string ThisHost() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "Unknown";
  return name;
}

ResultsStore::ResultsStore(const StoreLocation& location) : ResultsStore(Connect(location)) {}

ResultsStore::ResultsStore(std::unique_ptr<IStoreConnection> connection) : connection_(std::move(connection)) {
  PrepareSchema(*connection_);
}

AppendOutcome ResultsStore::Append(const RunRecord& run, std::int64_t* id) {
  Transaction transaction(*connection_);
  // A station's document: stations of a fleet sharing one store may write the same path.
  auto stored = connection_->Prepare("SELECT id FROM runs WHERE results_path = ? AND host = ?");
  stored->Bind(1, run.results_path);
  stored->Bind(2, run.host);
  if (stored->Step()) {
    if (id) *id = stored->Integer(0);
    return AppendOutcome::kAlreadyStored;
  }
  std::int64_t new_id = InsertRun(run);
  InsertDetails(new_id, run);
  CountRun(run, 1);
  transaction.Commit();
  if (id) *id = new_id;
  return AppendOutcome::kAdded;
}

std::int64_t ResultsStore::InsertRun(const RunRecord& run) {
  auto insert = connection_->Prepare(
      "INSERT INTO runs (script, script_path, stamp, started, ended, day, duration, verdict" + CountList() +
      ", host, user_name, version_under_test, ordalis_version, folder, results_path, log_path,"
      " record_path, report_path, batch, attempt) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?,"
      " ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) RETURNING id");
  insert->Bind(1, run.script);
  insert->Bind(2, run.script_path);
  insert->Bind(3, run.stamp);
  insert->Bind(4, run.started);
  insert->Bind(5, run.ended);
  insert->Bind(6, run.ended.substr(0, 10));
  insert->Bind(7, run.duration);
  insert->Bind(8, static_cast<std::int64_t>(run.verdict));
  BindCounts(*insert, 9, run.counts);
  const std::string* texts[] = {&run.host, &run.user, &run.version_under_test, &run.ordalis_version,
                                &run.folder, &run.results_path, &run.log_path, &run.record_path,
                                &run.report_path, &run.batch};
  for (int i = 0; i < 10; ++i) insert->Bind(16 + i, *texts[i]);
  insert->Bind(26, run.attempt);
  if (!insert->Step()) throw StoreError(connection_->Describe() + ": the new run was given no id");
  return insert->Integer(0);
}

void ResultsStore::InsertDetails(std::int64_t id, const RunRecord& run) {
  auto label = connection_->Prepare("INSERT INTO run_labels (run_id, name, value) VALUES (?, ?, ?)");
  for (const auto& [name, value] : run.labels) {
    label->Bind(1, id), label->Bind(2, name), label->Bind(3, value);
    label->Step();
    label->Reset();
  }
  auto named = connection_->Prepare("INSERT INTO named_results (run_id, label, result" + CountList() +
                                    ", file, line, time_taken) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
  for (const NamedResultRecord& row : run.named_results) {
    named->Bind(1, id), named->Bind(2, row.label), named->Bind(3, static_cast<std::int64_t>(row.result));
    BindCounts(*named, 4, row.counts);
    named->Bind(11, row.file), named->Bind(12, row.line), named->Bind(13, row.time_taken);
    named->Step();
    named->Reset();
  }
  auto failure = connection_->Prepare(
      "INSERT INTO failures (run_id, file, line, result, text, run_values) VALUES (?, ?, ?, ?, ?, ?)");
  for (const FailureRecord& row : run.failures) {
    failure->Bind(1, id), failure->Bind(2, row.file), failure->Bind(3, row.line);
    failure->Bind(4, static_cast<std::int64_t>(row.result)), failure->Bind(5, row.text), failure->Bind(6, row.values);
    failure->Step();
    failure->Reset();
  }
  InsertMeasurements(id, run);
}

void ResultsStore::InsertMeasurements(std::int64_t id, const RunRecord& run) {
  if (run.measurements.empty()) return;
  auto insert = connection_->Prepare(
      "INSERT INTO measurements (run_id, script, name, kind, number, value_text, unit, low, high, comparison,"
      " result, file, line) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
  for (const MeasurementRecord& row : run.measurements) {
    const Measurement& m = row.measurement;
    // A value that is no finite number is kept as the text it was written as, so the run still
    // lands and no statistic of the measurement is spoilt by it.
    bool finite = std::isfinite(m.number);
    insert->Bind(1, id), insert->Bind(2, run.script), insert->Bind(3, m.name);
    insert->Bind(4, std::string(finite ? KindWord(m.kind) : "text")), insert->Bind(5, finite ? m.number : 0.0);
    insert->Bind(6, m.text);
    insert->Bind(7, m.unit), BindLimit(*insert, 8, m.low), BindLimit(*insert, 9, m.high);
    insert->Bind(10, std::string(ComparisonWord(m.comparison)));
    insert->Bind(11, static_cast<std::int64_t>(m.result)), insert->Bind(12, row.file), insert->Bind(13, row.line);
    insert->Step();
    insert->Reset();
  }
}

// Adds [sign] (1 or -1) times [run] to the running counts of its station's folder and of its
// script's day there.
void ResultsStore::CountRun(const RunRecord& run, std::int64_t sign) {
  auto folder = connection_->Prepare(
      "INSERT INTO folder_runs (host, folder, runs) VALUES (?, ?, ?) ON CONFLICT (host, folder) DO UPDATE SET"
      " runs = folder_runs.runs + excluded.runs");
  folder->Bind(1, run.host);
  folder->Bind(2, run.folder);
  folder->Bind(3, sign);
  folder->Step();
  auto day = connection_->Prepare(
      "INSERT INTO script_days (host, folder, script, day, passed, failed, runs) VALUES (?, ?, ?, ?, ?, ?, ?)"
      " ON CONFLICT (host, folder, script, day) DO UPDATE SET passed = script_days.passed + excluded.passed,"
      " failed = script_days.failed + excluded.failed, runs = script_days.runs + excluded.runs");
  day->Bind(1, run.host);
  day->Bind(2, run.folder);
  day->Bind(3, run.script);
  day->Bind(4, run.ended.substr(0, 10));
  day->Bind(5, run.verdict == TestPassed ? sign : 0);
  day->Bind(6, IsFailing(run.verdict) ? sign : 0);
  day->Bind(7, sign);
  day->Step();
}

std::vector<ScriptDay> ResultsStore::FolderDays(const StationFolder& where, const std::string& since) {
  auto statement = connection_->Prepare(
      "SELECT script, day, passed, failed, runs FROM script_days WHERE host = ? AND folder = ? AND day >= ?"
      " AND runs > 0 ORDER BY script, day");
  statement->Bind(1, where.host);
  statement->Bind(2, where.folder);
  statement->Bind(3, since);
  std::vector<ScriptDay> days;
  while (statement->Step()) {
    days.push_back({statement->Text(0), statement->Text(1), statement->Integer(2), statement->Integer(3),
                    statement->Integer(4)});
  }
  return days;
}

bool ResultsStore::HasDocument(const std::string& results_path, const std::string& host) {
  auto statement = connection_->Prepare("SELECT 1 FROM runs WHERE results_path = ? AND host = ?");
  statement->Bind(1, results_path);
  statement->Bind(2, host);
  return statement->Step();
}

void ResultsStore::SetBatch(const std::string& results_path, const std::string& host, const std::string& batch,
                            std::int64_t attempt) {
  auto statement = connection_->Prepare("UPDATE runs SET batch = ?, attempt = ? WHERE results_path = ? AND host = ?");
  statement->Bind(1, batch);
  statement->Bind(2, attempt);
  statement->Bind(3, results_path);
  statement->Bind(4, host);
  statement->Step();
}

std::vector<RunRecord> ResultsStore::List(const RunFilter& filter) {
  std::string sql = std::string("SELECT ") + kRunColumns + " FROM runs WHERE 1 = 1";
  std::vector<Parameter> parameters;
  auto where = [&](const char* clause, Parameter value) {
    sql += clause;
    parameters.push_back(std::move(value));
  };
  if (!filter.script.empty()) where(" AND script = ?", filter.script);
  if (filter.verdict) where(" AND verdict = ?", static_cast<std::int64_t>(*filter.verdict));
  if (!filter.since.empty()) where(" AND ended >= ?", filter.since);
  if (!filter.until.empty()) where(filter.until.size() <= 10 ? " AND day <= ?" : " AND ended <= ?", filter.until);
  if (!filter.host.empty()) where(" AND host = ?", filter.host);
  if (!filter.folder.empty()) where(" AND folder = ?", filter.folder);
  for (const auto& [name, value] : filter.labels) {
    where(" AND EXISTS (SELECT 1 FROM run_labels l WHERE l.run_id = runs.id AND l.name = ?", name);
    where(" AND l.value = ?)", value);
  }
  sql += " ORDER BY id DESC";
  if (filter.limit > 0) sql += " LIMIT " + std::to_string(filter.limit);
  auto statement = connection_->Prepare(sql);
  BindAll(*statement, parameters);
  std::vector<RunRecord> runs;
  while (statement->Step()) runs.push_back(RunFromRow(*statement));
  return runs;
}

void ResultsStore::AddLabels(std::vector<RunRecord>& runs) {
  if (runs.empty()) return;
  std::map<std::int64_t, RunRecord*> by_id;
  for (RunRecord& run : runs) by_id[run.id] = &run;
  auto labels = connection_->Prepare(
      "SELECT run_id, name, value FROM run_labels WHERE run_id >= ? AND run_id <= ? ORDER BY run_id, name");
  labels->Bind(1, by_id.begin()->first);
  labels->Bind(2, by_id.rbegin()->first);
  while (labels->Step()) {
    auto run = by_id.find(labels->Integer(0));
    if (run != by_id.end()) run->second->labels.emplace_back(labels->Text(1), labels->Text(2));
  }
}

std::optional<RunRecord> ResultsStore::Show(std::int64_t id) {
  auto statement = connection_->Prepare(std::string("SELECT ") + kRunColumns + " FROM runs WHERE id = ?");
  statement->Bind(1, id);
  if (!statement->Step()) return std::nullopt;
  RunRecord run = RunFromRow(*statement);
  auto labels = connection_->Prepare("SELECT name, value FROM run_labels WHERE run_id = ? ORDER BY name");
  labels->Bind(1, id);
  while (labels->Step()) run.labels.emplace_back(labels->Text(0), labels->Text(1));
  auto named = connection_->Prepare("SELECT label, result" + CountList() +
                                    ", file, line, time_taken FROM named_results WHERE run_id = ?");
  named->Bind(1, id);
  while (named->Step()) {
    NamedResultRecord row{named->Text(0), static_cast<Result>(named->Integer(1)), {}, named->Text(9),
                          named->Integer(10), named->Real(11)};
    for (int r = 0; r < 7; ++r) row.counts[static_cast<std::size_t>(r)] = named->Integer(2 + r);
    run.named_results.push_back(std::move(row));
  }
  auto failures = connection_->Prepare("SELECT file, line, result, text, run_values FROM failures WHERE run_id = ?");
  failures->Bind(1, id);
  while (failures->Step()) {
    run.failures.push_back({failures->Text(0), failures->Integer(1), static_cast<Result>(failures->Integer(2)),
                            failures->Text(3), failures->Text(4)});
  }
  auto measured = connection_->Prepare(
      "SELECT name, kind, number, value_text, unit, low, high, comparison, result, file, line FROM measurements"
      " WHERE run_id = ?");
  measured->Bind(1, id);
  while (measured->Step()) {
    MeasurementRecord row;
    Measurement& m = row.measurement;
    m.name = measured->Text(0), m.kind = KindFromWord(measured->Text(1)), m.number = measured->Real(2);
    m.text = measured->Text(3), m.unit = measured->Text(4), m.low = LimitAt(*measured, 5), m.high = LimitAt(*measured, 6);
    if (!ComparisonFromWord(measured->Text(7), &m.comparison)) m.comparison = Comparison::kLogOnly;
    m.result = static_cast<Result>(measured->Integer(8));
    row.file = measured->Text(9), row.line = measured->Integer(10);
    run.measurements.push_back(std::move(row));
  }
  return run;
}

bool ResultsStore::HasScript(const std::string& script) {
  auto statement = connection_->Prepare("SELECT 1 FROM runs WHERE script = ? LIMIT 1");
  statement->Bind(1, script);
  return statement->Step();
}

std::vector<MeasurementSummary> ResultsStore::ScriptMeasurements(const std::string& script) {
  auto counts = connection_->Prepare(
      "SELECT name, COUNT(*), SUM(CASE WHEN kind = ? THEN 1 ELSE 0 END), MAX(run_id) FROM measurements"
      " WHERE script = ? GROUP BY name ORDER BY name");
  counts->Bind(1, std::string(kNumberKind));
  counts->Bind(2, script);
  std::vector<MeasurementSummary> summaries;
  std::vector<std::int64_t> newest;
  while (counts->Step()) {
    MeasurementSummary summary;
    summary.name = counts->Text(0), summary.values = counts->Integer(1), summary.numbers = counts->Integer(2);
    summaries.push_back(std::move(summary));
    newest.push_back(counts->Integer(3));
  }
  // The unit, limits and comparison are those of the newest value.
  auto latest = connection_->Prepare(
      "SELECT unit, low, high, comparison FROM measurements WHERE script = ? AND name = ? AND run_id = ? LIMIT 1");
  for (std::size_t i = 0; i < summaries.size(); ++i) {
    latest->Reset();
    latest->Bind(1, script), latest->Bind(2, summaries[i].name), latest->Bind(3, newest[i]);
    if (!latest->Step()) continue;
    summaries[i].unit = latest->Text(0), summaries[i].low = LimitAt(*latest, 1), summaries[i].high = LimitAt(*latest, 2);
    summaries[i].comparison = latest->Text(3);
  }
  return summaries;
}

std::vector<MeasuredValue> ResultsStore::MeasurementValues(const std::string& script, const std::string& name,
                                                          std::int64_t up_to_id, std::int64_t count) {
  std::string sql =
      "SELECT run_id, number, low, high, unit, result FROM measurements WHERE script = ? AND name = ? AND kind = ?";
  if (up_to_id > 0) sql += " AND run_id <= ?";
  sql += count > 0 ? " ORDER BY run_id DESC LIMIT ?" : " ORDER BY run_id";
  auto statement = connection_->Prepare(sql);
  int index = 1;
  statement->Bind(index++, script), statement->Bind(index++, name), statement->Bind(index++, std::string(kNumberKind));
  if (up_to_id > 0) statement->Bind(index++, up_to_id);
  if (count > 0) statement->Bind(index++, count);
  std::vector<MeasuredValue> values;
  while (statement->Step()) values.push_back(ValueFromRow(*statement, 0));
  if (count > 0) std::reverse(values.begin(), values.end());
  return values;
}

std::vector<std::string> ResultsStore::RecentMeasurementNames(const std::string& script, std::int64_t up_to_id,
                                                              std::int64_t runs) {
  auto oldest = connection_->Prepare("SELECT id FROM runs WHERE script = ? AND id <= ? ORDER BY id DESC LIMIT 1 OFFSET ?");
  oldest->Bind(1, script), oldest->Bind(2, up_to_id), oldest->Bind(3, runs - 1);
  std::int64_t from = oldest->Step() ? oldest->Integer(0) : 0;
  auto statement = connection_->Prepare(
      "SELECT DISTINCT m.name FROM runs r JOIN measurements m ON m.run_id = r.id WHERE r.script = ? AND r.id >= ?"
      " AND r.id <= ? AND m.kind = ? ORDER BY m.name");
  statement->Bind(1, script), statement->Bind(2, from), statement->Bind(3, up_to_id);
  statement->Bind(4, std::string(kNumberKind));
  std::vector<std::string> names;
  while (statement->Step()) names.push_back(statement->Text(0));
  return names;
}

std::vector<FolderMeasurement> ResultsStore::FolderMeasurements(const StationFolder& where, std::int64_t from_id) {
  auto statement = connection_->Prepare(
      "SELECT m.script, m.name, m.run_id, m.number, m.low, m.high, m.unit, m.result FROM measurements m"
      " JOIN runs r ON r.id = m.run_id WHERE r.host = ? AND r.folder = ? AND r.id >= ? AND m.kind = ?"
      " ORDER BY m.run_id");
  statement->Bind(1, where.host);
  statement->Bind(2, where.folder);
  statement->Bind(3, from_id);
  statement->Bind(4, std::string(kNumberKind));
  std::vector<FolderMeasurement> values;
  while (statement->Step()) values.push_back({statement->Text(0), statement->Text(1), ValueFromRow(*statement, 2)});
  return values;
}

std::vector<TrendPoint> ResultsStore::Trend(const std::string& script, const std::string& named_result,
                                            Period period) {
  std::unique_ptr<IStoreStatement> statement;
  if (named_result.empty()) {
    statement = connection_->Prepare(
        "SELECT day, verdict, COUNT(*) FROM runs WHERE script = ? GROUP BY day, verdict");
    statement->Bind(1, script);
  } else {
    statement = connection_->Prepare(
        "SELECT r.day, n.result, COUNT(*) FROM named_results n JOIN runs r ON r.id = n.run_id"
        " WHERE r.script = ? AND n.label = ? GROUP BY r.day, n.result");
    statement->Bind(1, script);
    statement->Bind(2, named_result);
  }
  std::map<std::string, TrendPoint> points;
  while (statement->Step()) {
    std::string key = period == Period::kDay ? statement->Text(0) : WeekOf(statement->Text(0));
    TrendPoint& point = points[key];
    point.period = key;
    auto result = static_cast<Result>(statement->Integer(1));
    std::int64_t count = statement->Integer(2);
    point.total += count;
    if (result == TestPassed) point.passed += count;
    if (IsFailing(result)) point.failed += count;
  }
  std::vector<TrendPoint> ordered;
  for (auto& [key, point] : points) ordered.push_back(point);
  return ordered;
}

// Each script's last runs are read through the script's index, so the cost follows the number
// of scripts times [last_runs], not the runs the store holds.
std::vector<FlakyEntry> ResultsStore::Flaky(std::int64_t last_runs) {
  std::vector<std::string> scripts;
  auto names = connection_->Prepare("SELECT DISTINCT script FROM runs ORDER BY script");
  while (names->Step()) scripts.push_back(names->Text(0));
  std::map<std::tuple<std::string, std::string, std::string>, FlakyEntry> counted;
  auto count = [&](const std::string& script, const std::string& named, const std::string& version, Result result) {
    FlakyEntry& entry = counted[{script, named, version}];
    entry.script = script, entry.named_result = named, entry.version_under_test = version;
    ++entry.runs;
    if (result == TestPassed) ++entry.passed;
    if (IsFailing(result)) ++entry.failed;
  };
  auto runs = connection_->Prepare(
      "SELECT id, version_under_test, verdict FROM runs WHERE script = ? ORDER BY id DESC LIMIT ?");
  auto named = connection_->Prepare(
      "SELECT n.label, r.version_under_test, n.result FROM named_results n JOIN runs r ON r.id = n.run_id"
      " WHERE r.script = ? AND r.id >= ?");
  for (const std::string& script : scripts) {
    runs->Reset();
    runs->Bind(1, script);
    runs->Bind(2, last_runs);
    std::int64_t oldest = 0;
    while (runs->Step()) {
      oldest = runs->Integer(0);
      count(script, "", runs->Text(1), static_cast<Result>(runs->Integer(2)));
    }
    if (oldest == 0) continue;
    named->Reset();
    named->Bind(1, script);
    named->Bind(2, oldest);
    while (named->Step()) count(script, named->Text(0), named->Text(1), static_cast<Result>(named->Integer(2)));
  }
  std::vector<FlakyEntry> entries;
  for (const auto& [key, entry] : counted) {
    if (entry.passed > 0 && entry.failed > 0) entries.push_back(entry);
  }
  return entries;
}

std::vector<Result> ResultsStore::LastVerdicts(const std::string& script, const std::string& named_result,
                                               std::int64_t before_id, std::int64_t count) {
  std::unique_ptr<IStoreStatement> statement;
  if (named_result.empty()) {
    statement = connection_->Prepare("SELECT verdict FROM runs WHERE script = ? AND id <= ? ORDER BY id DESC LIMIT ?");
    statement->Bind(1, script);
    statement->Bind(2, before_id);
    statement->Bind(3, count);
  } else {
    statement = connection_->Prepare(
        "SELECT n.result FROM named_results n JOIN runs r ON r.id = n.run_id WHERE r.script = ?"
        " AND n.label = ? AND r.id <= ? ORDER BY r.id DESC LIMIT ?");
    statement->Bind(1, script);
    statement->Bind(2, named_result);
    statement->Bind(3, before_id);
    statement->Bind(4, count);
  }
  std::vector<Result> verdicts;
  while (statement->Step()) verdicts.push_back(static_cast<Result>(statement->Integer(0)));
  return verdicts;
}

std::vector<RunRecord> ResultsStore::FolderRuns(const StationFolder& where, std::int64_t from_id,
                                               std::int64_t count) {
  auto statement = connection_->Prepare(std::string("SELECT ") + kRunColumns +
                                        " FROM runs WHERE host = ? AND folder = ? AND id >= ? ORDER BY id DESC LIMIT ?");
  statement->Bind(1, where.host);
  statement->Bind(2, where.folder);
  statement->Bind(3, from_id);
  statement->Bind(4, count);
  std::vector<RunRecord> runs;
  while (statement->Step()) runs.push_back(RunFromRow(*statement));
  return runs;
}

std::int64_t ResultsStore::FolderWindowStart(const StationFolder& where, std::int64_t count) {
  auto statement = connection_->Prepare(
      "SELECT id FROM runs WHERE host = ? AND folder = ? ORDER BY id DESC LIMIT 1 OFFSET ?");
  statement->Bind(1, where.host);
  statement->Bind(2, where.folder);
  statement->Bind(3, count - 1);
  return statement->Step() ? statement->Integer(0) : 0;
}

std::int64_t ResultsStore::FolderRunCount(const StationFolder& where) {
  auto statement = connection_->Prepare("SELECT runs FROM folder_runs WHERE host = ? AND folder = ?");
  statement->Bind(1, where.host);
  statement->Bind(2, where.folder);
  return statement->Step() ? statement->Integer(0) : 0;
}

std::vector<ResultsStore::NamedOutcome> ResultsStore::FolderNamedResults(const StationFolder& where,
                                                                          std::int64_t from_id) {
  auto statement = connection_->Prepare(
      "SELECT n.run_id, n.label, n.result FROM named_results n JOIN runs r ON r.id = n.run_id"
      " WHERE r.host = ? AND r.folder = ? AND r.id >= ? ORDER BY n.run_id DESC");
  statement->Bind(1, where.host);
  statement->Bind(2, where.folder);
  statement->Bind(3, from_id);
  std::vector<NamedOutcome> outcomes;
  while (statement->Step()) {
    outcomes.push_back({statement->Integer(0), statement->Text(1), static_cast<Result>(statement->Integer(2))});
  }
  return outcomes;
}

PruneOutcome ResultsStore::PruneDays(std::int64_t keep_days) {
  auto statement =
      connection_->Prepare(std::string("SELECT ") + kRunColumns + " FROM runs WHERE host = ? AND day < ?");
  statement->Bind(1, ThisHost());
  statement->Bind(2, DaysAgo(keep_days));
  std::vector<RunRecord> runs;
  while (statement->Step()) runs.push_back(RunFromRow(*statement));
  return Prune(runs);
}

PruneOutcome ResultsStore::PruneRuns(std::int64_t keep_runs) {
  auto statement =
      connection_->Prepare(std::string("SELECT ") + kRunColumns + " FROM runs WHERE host = ? ORDER BY id DESC");
  statement->Bind(1, ThisHost());
  std::vector<RunRecord> runs;
  for (std::int64_t seen = 0; statement->Step(); ++seen) {
    if (seen >= keep_runs) runs.push_back(RunFromRow(*statement));
  }
  return Prune(runs);
}

PruneOutcome ResultsStore::Prune(const std::vector<RunRecord>& runs) {
  PruneOutcome outcome;
  for (const RunRecord& run : runs) {
    if (RemoveRun(run, &outcome)) ++outcome.runs_removed;
  }
  return outcome;
}

// The files are first set aside under a name of their own, then the rows are deleted; only
// when that is committed are the files removed, and when anything fails before, the files get
// their names back: a run loses its files and its rows together or not at all.
bool ResultsStore::RemoveRun(const RunRecord& run, PruneOutcome* outcome) {
  namespace fs = std::filesystem;
  std::vector<std::pair<fs::path, fs::path>> aside;
  auto restore = [&aside] {
    std::error_code ignored;
    for (const auto& [from, to] : aside) fs::rename(to, from, ignored);
  };
  for (const std::string* path : {&run.results_path, &run.report_path, &run.log_path, &run.record_path}) {
    std::error_code error;
    if (path->empty() || !fs::exists(*path, error)) continue;
    fs::path pruned = *path + ".pruned";
    fs::rename(*path, pruned, error);
    if (error) {
      restore();
      outcome->problems.push_back("kept run " + std::to_string(run.id) + ": cannot remove " + *path + ": " +
                                  error.message());
      return false;
    }
    aside.emplace_back(*path, pruned);
  }
  try {
    Transaction transaction(*connection_);
    for (const char* table : {"run_labels", "named_results", "failures", "measurements"}) {
      auto details = connection_->Prepare(std::string("DELETE FROM ") + table + " WHERE run_id = ?");
      details->Bind(1, run.id);
      details->Step();
    }
    auto rows = connection_->Prepare("DELETE FROM runs WHERE id = ?");
    rows->Bind(1, run.id);
    rows->Step();
    CountRun(run, -1);
    transaction.Commit();
  } catch (...) {
    restore();
    throw;
  }
  for (const auto& [from, to] : aside) {
    std::error_code ignored;
    if (fs::remove(to, ignored)) ++outcome->files_removed;
  }
  return true;
}

const char* ResultName(Result result) {
  static const char* const kNames[] = {"Passed", "Failed", "Not Implemented", "Warning", "Error", "Not Run", "Aborted"};
  auto index = static_cast<std::size_t>(result);
  return index < std::size(kNames) ? kNames[index] : "Unknown";
}

bool ResultFromName(const std::string& word, Result* result) {
  for (int r = 0; r < 7; ++r) {
    std::string name = ResultName(static_cast<Result>(r));
    if (name.size() != word.size()) continue;
    bool same = true;
    for (std::size_t i = 0; i < name.size(); ++i) {
      same = same && std::tolower(static_cast<unsigned char>(name[i])) == std::tolower(static_cast<unsigned char>(word[i]));
    }
    if (same) {
      *result = static_cast<Result>(r);
      return true;
    }
  }
  return false;
}

}  // namespace ordalis::history
