#include "station/station_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <utility>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include "platform/resources.h"
#include "station/connection_threads.h"
#include "station/station_history.h"
#include "station/station_hub.h"
#include "station/station_runner.h"

namespace ordalis::station {
namespace {

using Json = nlohmann::json;

constexpr const char* kJson = "application/json";
constexpr int kHistoryRuns = 50;
constexpr int kFleetRunsCounted = 2000;
constexpr std::size_t kMaxServedFileBytes = std::size_t{64} << 20;
constexpr time_t kKeepAliveSeconds = 2;
constexpr int kQuietBatchesBeforePing = 20;

// One browser's live stream.
struct Stream {
  StreamCursor cursor;
  int quiet_batches = 0;
};

void Refuse(httplib::Response& response, int status, const std::string& problem) {
  response.status = status;
  response.set_content(Json{{"problem", problem}}.dump(), kJson);
}

// The same length and bytes, compared in a time that does not depend on where they differ.
bool SameToken(const std::string& given, const std::string& expected) {
  if (given.size() != expected.size()) return false;
  unsigned char difference = 0;
  for (std::size_t i = 0; i < given.size(); ++i) difference |= static_cast<unsigned char>(given[i] ^ expected[i]);
  return difference == 0;
}

// The host part of a Host header: "127.0.0.1:8080" → "127.0.0.1", "[::1]:80" → "::1".
std::string HostOfHeader(const std::string& header) {
  if (!header.empty() && header[0] == '[') return header.substr(1, header.find(']') - 1);
  return header.substr(0, header.find(':'));
}

// The body of a POST as a JSON object; false after refusing it.
bool ReadBody(const httplib::Request& request, httplib::Response& response, Json* body) {
  *body = Json::parse(request.body.empty() ? std::string("{}") : request.body, nullptr, false);
  if (body->is_discarded() || !body->is_object()) {
    Refuse(response, 400, "the request body is not a JSON object");
    return false;
  }
  return true;
}

// The file under [folder] that [relative] names, or empty when it is none or lies outside.
std::string ServedFile(const std::string& folder, const std::string& relative) {
  std::string joined = folder + "/" + relative;
  char* real = ::realpath(joined.c_str(), nullptr);
  if (real == nullptr) return std::string();
  std::string path(real);
  std::free(real);
  struct stat info {};
  if (path.compare(0, folder.size() + 1, folder + "/") != 0) return std::string();
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::string();
  if (static_cast<std::size_t>(info.st_size) > kMaxServedFileBytes) return std::string();
  return path;
}

const char* ContentTypeOf(const std::string& path) {
  static constexpr std::array<std::pair<const char*, const char*>, 7> kTypes{{
      {".html", "text/html; charset=utf-8"}, {".xml", "application/xml"}, {".xsl", "application/xml"},
      {".css", "text/css"}, {".js", "text/javascript"}, {".json", kJson}, {".xsd", "application/xml"}}};
  for (const auto& [ending, type] : kTypes) {
    std::string suffix(ending);
    if (path.size() >= suffix.size() && path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0) {
      return type;
    }
  }
  return "text/plain; charset=utf-8";
}

std::unique_ptr<httplib::Server> MakeServer(const StationOptions& options) {
  if (options.certificate.empty()) return std::make_unique<httplib::Server>();
  return std::make_unique<httplib::SSLServer>(options.certificate.c_str(), options.private_key.c_str());
}

}  // namespace

std::string NewToken() {
  std::random_device random;
  std::string token;
  for (int i = 0; i < 4; ++i) {
    char part[9];
    std::snprintf(part, sizeof part, "%08x", static_cast<unsigned>(random()));
    token += part;
  }
  return token;
}

bool IsLoopback(const std::string& host) {
  // An address, never a name that merely starts like one ("127.0.0.1.example.com").
  in_addr address{};
  if (::inet_pton(AF_INET, host.c_str(), &address) == 1) return (ntohl(address.s_addr) >> 24) == 127;
  return host == "localhost" || host == "::1";
}

StationServer::StationServer(StationOptions options)
    : options_(std::move(options)),
      hub_(std::make_shared<StationHub>()),
      runner_(std::make_unique<StationRunner>(hub_, options_.results_folder)),
      server_(MakeServer(options_)) {
  const std::size_t threads = options_.max_connection_threads;
  server_->new_task_queue = [threads] { return new ConnectionThreads(threads); };
  server_->set_payload_max_length(options_.max_body_bytes);
  server_->set_read_timeout(options_.read_timeout_seconds, 0);
  server_->set_write_timeout(options_.read_timeout_seconds, 0);
  server_->set_keep_alive_timeout(kKeepAliveSeconds);
  // The library's own options would let a second server bind the same port (SO_REUSEPORT) and
  // take a share of the station's connections; restarting on a port in TIME_WAIT is all it needs.
  server_->set_socket_options([this](int socket) {
    int yes = 1;
    ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (listening_socket_ < 0) listening_socket_ = socket;
  });
  server_->set_default_headers({{"X-Content-Type-Options", "nosniff"},
                                {"X-Frame-Options", "DENY"},
                                {"Referrer-Policy", "no-referrer"},
                                {"Cache-Control", "no-store"}});
  Route();
}

StationServer::~StationServer() {
  Stop();
  // A socket bound but never served is the library's no longer, and nobody else closes it.
  if (bound_ && !served_) ::close(listening_socket_);
  runner_.reset();
}

bool StationServer::Bind(std::string* problem) {
  if (!server_->is_valid()) {
    *problem = "cannot load the certificate " + options_.certificate + " or its key " + options_.private_key;
    return false;
  }
  if (options_.port == 0) {
    port_ = server_->bind_to_any_port(options_.host);
  } else if (server_->bind_to_port(options_.host, options_.port)) {
    port_ = options_.port;
  }
  if (port_ > 0) {
    bound_ = true;
    // The library listens with a backlog of 5: a burst of browsers connecting at once would
    // see their connections dropped and retried a second later. Listening again widens it.
    ::listen(listening_socket_, SOMAXCONN);
    return true;
  }
  port_ = 0;
  *problem = "cannot listen on " + options_.host + ":" + std::to_string(options_.port) +
             " (in use, or not an address of this station)";
  return false;
}

void StationServer::Serve() {
  {
    std::lock_guard lock(serve_mutex_);
    if (stopping_ || !bound_) return;
    served_ = true;
  }
  server_->listen_after_bind();
}

void StationServer::Stop() {
  hub_->Close();
  std::lock_guard lock(serve_mutex_);
  if (stopping_) return;
  stopping_ = true;
  // Shutting the listening socket down ends the accept loop whether it waits already or is
  // about to begin; the library closes the socket as it leaves. (Its own stop does nothing
  // before the loop has begun, which would leave Serve running.)
  if (served_) ::shutdown(listening_socket_, SHUT_RDWR);
}

void StationServer::Route() {
  const bool loopback = IsLoopback(options_.host);
  server_->set_pre_routing_handler([this, loopback](const httplib::Request& request, httplib::Response& response) {
    if (request.method != "GET" && request.method != "HEAD" && request.method != "POST") {
      Refuse(response, 405, "only GET and POST are answered");
      return httplib::Server::HandlerResponse::Handled;
    }
    if (loopback && !IsLoopback(HostOfHeader(request.get_header_value("Host")))) {
      Refuse(response, 403, "this station answers only requests addressed to its loopback address");
      return httplib::Server::HandlerResponse::Handled;
    }
    if (request.method == "POST" &&
        (options_.token.empty() || !SameToken(request.get_header_value(kTokenHeader), options_.token))) {
      Refuse(response, 403, std::string("a request that changes anything needs the station's token in ") +
                                kTokenHeader);
      return httplib::Server::HandlerResponse::Handled;
    }
    return httplib::Server::HandlerResponse::Unhandled;
  });
  server_->set_error_handler([](const httplib::Request&, httplib::Response& response) {
    if (!response.body.empty()) return;
    static const char* const kWhat[] = {"malformed request", "not found", "request too large"};
    const char* what = response.status == 404 ? kWhat[1] : response.status == 413 ? kWhat[2] : kWhat[0];
    response.set_content(Json{{"problem", what}}.dump(), kJson);
  });
  RouteReading();
  RouteControl();
}

void StationServer::RouteReading() {
  server_->Get("/", [](const httplib::Request&, httplib::Response& response) {
    response.set_header("Content-Security-Policy",
                        "default-src 'self'; script-src 'unsafe-inline'; style-src 'unsafe-inline'");
    response.set_content(std::string(EmbeddedResource("station.html")), "text/html; charset=utf-8");
  });
  server_->Get("/api/state", [this](const httplib::Request&, httplib::Response& response) {
    response.set_content(hub_->Snapshot(), kJson);
  });
  server_->Get("/api/history", [this](const httplib::Request&, httplib::Response& response) {
    response.set_content(HistoryJson(options_.results_folder, options_.store, kHistoryRuns), kJson);
  });
  server_->Get("/api/fleet", [this](const httplib::Request&, httplib::Response& response) {
    response.set_content(FleetJson(options_.results_folder, options_.store, kFleetRunsCounted), kJson);
  });
  server_->Get("/api/scripts", [this](const httplib::Request&, httplib::Response& response) {
    response.set_content(ScriptsJson(options_.results_folder, options_.store, runner_->StartedScripts()), kJson);
  });
  server_->Get("/api/events", [this](const httplib::Request&, httplib::Response& response) {
    auto stream = std::make_shared<Stream>();
    std::shared_ptr<StationHub> hub = hub_;
    response.set_chunked_content_provider("text/event-stream", [hub, stream](std::size_t, httplib::DataSink& sink) {
      std::string update = hub->NextUpdate(&stream->cursor);
      if (hub->closed()) return false;
      if (update.empty() && ++stream->quiet_batches < kQuietBatchesBeforePing) return true;
      stream->quiet_batches = 0;
      // A comment line now and then keeps a quiet stream open and finds a browser that left.
      std::string event = update.empty() ? std::string(":\n\n") : "data: " + update + "\n\n";
      return sink.write(event.data(), event.size());
    });
  });
  server_->Get(R"(/results/(.+))", [this](const httplib::Request& request, httplib::Response& response) {
    std::string path = ServedFile(options_.results_folder, request.matches[1]);
    std::string content;
    if (!path.empty()) {
      std::FILE* file = std::fopen(path.c_str(), "rb");
      if (file != nullptr) {
        char buffer[65536];
        std::size_t got;
        while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) content.append(buffer, got);
        std::fclose(file);
      }
    }
    if (path.empty()) return Refuse(response, 404, "no such file in the results folder");
    response.set_content(std::move(content), ContentTypeOf(path));
  });
}

void StationServer::RouteControl() {
  server_->Post("/api/start", [this](const httplib::Request& request, httplib::Response& response) {
    Json body;
    if (!ReadBody(request, response, &body)) return;
    if (!body.contains("path") || !body["path"].is_string() || body["path"].get<std::string>().empty()) {
      return Refuse(response, 400, "start needs {\"path\": SCRIPT}");
    }
    std::string problem;
    if (!runner_->Start(body["path"].get<std::string>(), &problem)) return Refuse(response, 409, problem);
    response.set_content("{}", kJson);
  });
  static const std::pair<const char*, StationRunner::Control> kControls[] = {
      {"/api/pause", StationRunner::Control::kPause},
      {"/api/resume", StationRunner::Control::kResume},
      {"/api/step", StationRunner::Control::kStep},
      {"/api/stop", StationRunner::Control::kStop}};
  for (const auto& [path, control] : kControls) {
    server_->Post(path, [this, control = control](const httplib::Request&, httplib::Response& response) {
      std::string problem;
      if (!runner_->Apply(control, &problem)) return Refuse(response, 409, problem);
      response.set_content("{}", kJson);
    });
  }
  server_->Post("/api/breakpoint", [this](const httplib::Request& request, httplib::Response& response) {
    Json body;
    if (!ReadBody(request, response, &body)) return;
    if (!body.contains("row") || !body["row"].is_number_unsigned() || !body.contains("on") || !body["on"].is_boolean()) {
      return Refuse(response, 400, "breakpoint needs {\"row\": N, \"on\": true|false}");
    }
    std::string problem;
    if (!runner_->SetBreakpoint(body["row"].get<std::size_t>(), body["on"].get<bool>(), &problem)) {
      return Refuse(response, 404, problem);
    }
    response.set_content("{}", kJson);
  });
}

}  // namespace ordalis::station
