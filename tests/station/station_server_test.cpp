// The station server as browsers and other programs meet it: the live stream of a run, the
// history with its reports, and the fault table — requests that are malformed, too large, not
// addressed to the station, without the token or reaching outside the results folder are
// refused; idle connections and a browser that never reads cost neither the others nor the run.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdlib.h>

#include <cstdlib>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include "history/results_store.h"
#include "platform/file_descriptor.h"
#include "station/station_hub.h"
#include "station/station_server.h"

namespace ordalis::station {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

constexpr const char* kToken = "0123456789abcdef0123456789abcdef";

class StationServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "ordalis-station-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
    fs::create_directories(folder_ / "Results");
    StationOptions options;
    options.port = 0;
    options.token = kToken;
    options.results_folder = fs::canonical(folder_ / "Results").string();
    server_ = std::make_unique<StationServer>(options);
    std::string problem;
    ASSERT_TRUE(server_->Bind(&problem)) << problem;
    serving_ = std::thread([this] { server_->Serve(); });
  }

  void TearDown() override {
    if (server_) server_->Stop();
    if (serving_.joinable()) serving_.join();
    server_.reset();
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }

  httplib::Client Client() const { return httplib::Client("127.0.0.1", server_->port()); }

  std::string WriteScript(const std::string& name, const std::string& text) const {
    fs::path path = folder_ / name;
    std::ofstream(path) << text;
    return path.string();
  }

  httplib::Result Start(const std::string& script) {
    return Client().Post("/api/start", {{kTokenHeader, kToken}}, Json{{"path", script}}.dump(), "application/json");
  }

  // Reads the live stream until [done] holds for one of its updates; every update goes to [seen].
  bool WatchUntil(const std::function<bool(const Json&)>& done, std::vector<Json>* seen = nullptr) {
    std::string pending;
    bool held = false;
    httplib::Client client = Client();
    client.set_read_timeout(60, 0);
    client.Get("/api/events", [&](const char* data, std::size_t length) {
      pending.append(data, length);
      for (std::size_t end; (end = pending.find("\n\n")) != std::string::npos; pending.erase(0, end + 2)) {
        if (pending.rfind("data: ", 0) != 0) continue;
        Json update = Json::parse(pending.substr(6, end - 6));
        if (seen) seen->push_back(update);
        if (done(update)) held = true;
      }
      return !held;
    });
    return held;
  }

  static bool Ended(const Json& update) { return update["ended"].get<bool>() && update["state"] == "idle"; }

  // A socket connected to the server that has sent nothing.
  FileDescriptor Connect() const {
    FileDescriptor socket(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(server_->port()));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::connect(socket.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    return socket;
  }

  fs::path folder_;
  std::unique_ptr<StationServer> server_;
  std::thread serving_;
};

// ---- the fault table --------------------------------------------------------------------------

struct FaultRow {
  const char* name;
  const char* method;
  const char* path;
  enum class Token { kNone, kWrong, kRight } token;
  std::string body;
  httplib::Headers extra;
  int status;
};

void PrintTo(const FaultRow& row, std::ostream* out) { *out << row.name; }

std::string Oversized() { return "{\"path\": \"" + std::string(100 * 1024, 'a') + "\"}"; }

const FaultRow kFaults[] = {
    {"ChangeWithoutToken", "POST", "/api/start", FaultRow::Token::kNone, "{\"path\":\"x.odl\"}", {}, 403},
    {"ChangeWithWrongToken", "POST", "/api/stop", FaultRow::Token::kWrong, "{}", {}, 403},
    {"BodyNotJson", "POST", "/api/start", FaultRow::Token::kRight, "{path:", {}, 400},
    {"BodyNotAnObject", "POST", "/api/breakpoint", FaultRow::Token::kRight, "[1]", {}, 400},
    {"StartWithoutPath", "POST", "/api/start", FaultRow::Token::kRight, "{}", {}, 400},
    {"BreakpointRowNotANumber", "POST", "/api/breakpoint", FaultRow::Token::kRight, "{\"row\":\"1\",\"on\":true}", {}, 400},
    {"StartOfNoScript", "POST", "/api/start", FaultRow::Token::kRight, "{\"path\":\"/no/such.odl\"}", {}, 409},
    {"PauseWithNothingLoaded", "POST", "/api/pause", FaultRow::Token::kRight, "{}", {}, 409},
    {"BreakpointOfNoStatement", "POST", "/api/breakpoint", FaultRow::Token::kRight, "{\"row\":7,\"on\":true}", {}, 404},
    {"OversizedBody", "POST", "/api/start", FaultRow::Token::kRight, Oversized(), {}, 413},
    {"OtherMethod", "PUT", "/api/state", FaultRow::Token::kRight, "{}", {}, 405},
    {"UnknownPath", "GET", "/api/nothing", FaultRow::Token::kNone, "", {}, 404},
    {"FileOutsideTheResults", "GET", "/results/%2e%2e/secret.txt", FaultRow::Token::kNone, "", {}, 404},
    {"AbsoluteOutsideTheResults", "GET", "/results//etc/passwd", FaultRow::Token::kNone, "", {}, 404},
    {"HostNotTheLoopback", "GET", "/api/state", FaultRow::Token::kNone, "", {{"Host", "station.example:80"}}, 403},
    {"ChangeFromAnotherHostName", "POST", "/api/stop", FaultRow::Token::kRight, "{}", {{"Host", "rebound.example"}}, 403},
    {"HostNamedLikeTheLoopback", "GET", "/api/state", FaultRow::Token::kNone, "",
     {{"Host", "127.0.0.1.rebound.example:8080"}}, 403},
};

class StationFaultTest : public StationServerTest, public ::testing::WithParamInterface<FaultRow> {};

TEST_P(StationFaultTest, IsRefusedWithItsStatus) {
  const FaultRow& row = GetParam();
  std::ofstream(folder_ / "secret.txt") << "not for browsers";
  httplib::Request request;
  request.method = row.method;
  request.path = row.path;
  request.headers = row.extra;
  if (row.token != FaultRow::Token::kNone) {
    request.headers.emplace(kTokenHeader, row.token == FaultRow::Token::kRight ? kToken : "guess");
  }
  request.body = row.body;
  if (!row.body.empty()) request.headers.emplace("Content-Type", "application/json");
  httplib::Client client = Client();
  httplib::Result result = client.send(request);
  ASSERT_TRUE(result) << httplib::to_string(result.error());
  EXPECT_EQ(result->status, row.status) << result->body;
  EXPECT_FALSE(result->has_header("Access-Control-Allow-Origin"));
  EXPECT_EQ(result->body.find("not for browsers"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Requests, StationFaultTest, ::testing::ValuesIn(kFaults),
                         [](const ::testing::TestParamInfo<FaultRow>& info) { return info.param.name; });

TEST_F(StationServerTest, MalformedRequestLineIsRefused) {
  FileDescriptor socket = Connect();
  const std::string garbage = "NOT HTTP AT ALL\r\n\r\n";
  ASSERT_EQ(::write(socket.get(), garbage.data(), garbage.size()), static_cast<ssize_t>(garbage.size()));
  char reply[64] = {};
  ASSERT_GT(::read(socket.get(), reply, sizeof reply - 1), 0);
  EXPECT_EQ(std::string(reply).substr(0, 12), "HTTP/1.1 400");
}

TEST_F(StationServerTest, TwoHundredIdleConnectionsLeaveOthersAnswered) {
  std::vector<FileDescriptor> idle;
  for (int i = 0; i < 200; ++i) idle.push_back(Connect());
  httplib::Result state = Client().Get("/api/state");
  ASSERT_TRUE(state) << httplib::to_string(state.error());
  EXPECT_EQ(state->status, 200);
}

TEST_F(StationServerTest, SecondServerCannotTakeTheSamePort) {
  StationOptions options;
  options.port = server_->port();
  options.token = kToken;
  options.results_folder = (folder_ / "Results").string();
  StationServer second(options);
  std::string problem;
  EXPECT_FALSE(second.Bind(&problem));
  EXPECT_NE(problem.find("cannot listen"), std::string::npos) << problem;
}

// ---- the live run -----------------------------------------------------------------------------

TEST_F(StationServerTest, StreamShowsEachStatementsResultAndTheVerdict) {
  std::string script = WriteScript("two.odl", "x = 1\nassert(x == 2)\nprintf(\"done %d\", x)\n");
  std::vector<Json> seen;
  std::thread watcher([&] { EXPECT_TRUE(WatchUntil(Ended, &seen)); });
  // Whether the watcher connects before the start or after the end, its snapshots and batches
  // together give every statement's latest result.
  httplib::Result started = Start(script);
  watcher.join();
  ASSERT_TRUE(started && started->status == 200) << (started ? started->body : "no answer");
  std::map<int, int> results;
  std::string log;
  for (const Json& update : seen) {
    if (update["kind"] == "snapshot") results.clear();
    for (const Json& item : update["items"]) {
      if (item[2].get<int>() > 0) results[item[0].get<int>()] = item[1].get<int>();
    }
    for (const Json& line : update["log"]) log += line[3].get<std::string>() + "\n";
  }
  EXPECT_EQ(results, (std::map<int, int>{{0, TestPassed}, {1, TestFailed}, {2, TestPassed}}));
  EXPECT_EQ(seen.back()["verdict"].get<int>(), TestFailed);
  EXPECT_NE(log.find("done 1"), std::string::npos) << log;
}

TEST_F(StationServerTest, BreakpointSetDuringTheRunPausesBeforeItsStatement) {
  std::string script = WriteScript("loop.odl", "i = 0\nwhile i >= 0 do\n  i = i + 1\n  sleep(0.01)\nendwhile\n");
  ASSERT_TRUE(Start(script));
  auto post = [&](const std::string& what, const Json& body) {
    httplib::Result result = Client().Post("/api/" + what, {{kTokenHeader, kToken}}, body.dump(), "application/json");
    return result && result->status == 200;
  };
  ASSERT_TRUE(post("breakpoint", {{"row", 3}, {"on", true}}));
  EXPECT_TRUE(WatchUntil([](const Json& update) { return update["state"] == "paused" && update["current"] == 3; }));
  ASSERT_TRUE(post("breakpoint", {{"row", 3}, {"on", false}}));
  ASSERT_TRUE(post("stop", Json::object()));
  Json last;
  EXPECT_TRUE(WatchUntil([&](const Json& update) { last = update; return Ended(update); }));
  EXPECT_EQ(last["verdict"].get<int>(), TestAborted);
}

TEST_F(StationServerTest, HistoryListsTheRunAndServesItsReport) {
  std::string script = WriteScript("one.odl", "x = 1\n");
  ASSERT_TRUE(Start(script));
  Json last;
  ASSERT_TRUE(WatchUntil([&](const Json& update) {
    last = update;
    return Ended(update) && !update["report"].get<std::string>().empty();
  }));
  httplib::Result history = Client().Get("/api/history");
  ASSERT_TRUE(history);
  Json runs = Json::parse(history->body)["runs"];
  ASSERT_EQ(runs.size(), 1u) << history->body;
  EXPECT_EQ(runs[0]["verdict"], "Passed");
  EXPECT_EQ(runs[0]["report"], last["report"]);
  httplib::Result report = Client().Get("/results/" + runs[0]["report"].get<std::string>());
  ASSERT_TRUE(report);
  EXPECT_EQ(report->status, 200);
  EXPECT_EQ(report->get_header_value("Content-Type").rfind("text/html", 0), 0u);
  httplib::Result scripts = Client().Get("/api/scripts");
  ASSERT_TRUE(scripts);
  EXPECT_EQ(Json::parse(scripts->body), Json::array({script}));
}

TEST_F(StationServerTest, FleetListsEachStationsLastRunAndPassRate) {
  {
    history::StoreLocation location;
    std::string problem;
    ASSERT_TRUE(history::ParseStoreLocation("", (folder_ / "Results").string(), &location, &problem)) << problem;
    history::ResultsStore store(location);
    // [host, started, verdict], oldest first.
    const std::tuple<const char*, const char*, Result> kRuns[] = {
        {"bench-1", "2026-03-01 10:00:00", TestPassed}, {"bench-2", "2026-03-01 11:00:00", TestFailed},
        {"bench-1", "2026-03-02 10:00:00", TestFailed}, {"bench-2", "2026-03-02 11:00:00", TestPassed},
        {"bench-2", "2026-03-03 11:00:00", TestPassed}};
    int number = 0;
    for (const auto& [host, started, verdict] : kRuns) {
      history::RunRecord run;
      run.script = "rails.odl";
      run.host = host;
      run.started = run.ended = started;
      run.verdict = verdict;
      run.folder = "/lab/Results";
      run.stamp = "rails_" + std::to_string(++number);
      run.results_path = run.folder + "/" + run.stamp + ".xml";
      store.Append(run);
    }
  }
  httplib::Result fleet = Client().Get("/api/fleet");
  ASSERT_TRUE(fleet);
  Json stations = Json::parse(fleet->body)["stations"];
  std::map<std::string, std::tuple<std::string, std::string, int, int>> seen;
  for (const Json& station : stations) {
    seen[station["host"]] = {station["started"], station["verdict"], station["runs"], station["passed"]};
  }
  using Row = std::tuple<std::string, std::string, int, int>;
  EXPECT_EQ(seen, (std::map<std::string, Row>{{"bench-1", Row{"2026-03-02 10:00:00", "Failed", 2, 1}},
                                              {"bench-2", Row{"2026-03-03 11:00:00", "Passed", 3, 2}}}))
      << fleet->body;
}

TEST_F(StationServerTest, BrowserThatNeverReadsDoesNotHoldTheRun) {
  // Many log lines make the stream far larger than the socket buffers of a reader that stalls.
  std::string script = WriteScript("chatty.odl",
                                   "i = 0\nwhile i < 20000 do\n  printf(\"line %d of a chatty run\", i)\n"
                                   "  i = i + 1\nendwhile\n");
  FileDescriptor stalled = Connect();
  int small = 4096;
  ::setsockopt(stalled.get(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  const std::string request = "GET /api/events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
  ASSERT_EQ(::write(stalled.get(), request.data(), request.size()), static_cast<ssize_t>(request.size()));
  ASSERT_TRUE(Start(script));
  EXPECT_TRUE(WatchUntil(Ended));
  EXPECT_EQ(server_->hub().state(), ScriptNotRunning);
}

// ---- TLS --------------------------------------------------------------------------------------

TEST(StationTlsTest, ServesOverTlsWhenGivenACertificate) {
  std::string pattern = (fs::temp_directory_path() / "ordalis-station-tls-XXXXXX").string();
  ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
  const fs::path folder = pattern;
  struct RemovedAtEnd {
    fs::path path;
    ~RemovedAtEnd() {
      std::error_code ignored;
      fs::remove_all(path, ignored);
    }
  } removed{folder};
  StationOptions options;
  options.port = 0;
  options.token = kToken;
  options.results_folder = folder.string();
  options.certificate = (folder / "station.pem").string();
  options.private_key = (folder / "station.key").string();
  const std::string make = "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1 "
                           "-subj /CN=127.0.0.1 -keyout " + options.private_key + " -out " + options.certificate +
                           " >/dev/null 2>&1";
  ASSERT_EQ(std::system(make.c_str()), 0);
  {
    StationServer server(options);
    std::string problem;
    ASSERT_TRUE(server.Bind(&problem)) << problem;
    std::thread serving([&] { server.Serve(); });
    httplib::SSLClient secure("127.0.0.1", server.port());
    secure.enable_server_certificate_verification(false);
    httplib::Result state = secure.Get("/api/state");
    httplib::Result plain = httplib::Client("127.0.0.1", server.port()).Get("/api/state");
    server.Stop();
    serving.join();
    ASSERT_TRUE(state) << httplib::to_string(state.error());
    EXPECT_EQ(state->status, 200);
    EXPECT_FALSE(plain && plain->status == 200);
  }
}

// ---- the hub ----------------------------------------------------------------------------------

TEST(StationHubTest, StreamThatFallsBehindTheLogIsSentASnapshot) {
  StationHub hub;
  StreamCursor cursor;
  EXPECT_EQ(Json::parse(hub.NextUpdate(&cursor))["kind"], "snapshot");
  hub.Log(information, "Script", "first");
  Json batch = Json::parse(hub.NextUpdate(&cursor));
  EXPECT_EQ(batch["kind"], "batch");
  EXPECT_EQ(batch["log"].size(), 1u);
  for (std::size_t i = 0; i <= StationHub::kLogLinesKept; ++i) hub.Log(information, "Script", "more");
  Json resync = Json::parse(hub.NextUpdate(&cursor));
  EXPECT_EQ(resync["kind"], "snapshot");
  EXPECT_EQ(resync["log"].size(), StationHub::kLogLinesInSnapshot);
  hub.Log(information, "Script", "after");
  EXPECT_EQ(Json::parse(hub.NextUpdate(&cursor))["kind"], "batch");
}

}  // namespace
}  // namespace ordalis::station
