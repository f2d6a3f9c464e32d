#pragma once
// StationServer: `ordalis serve` — the station's page, its JSON API, the live stream of the run
// (server-sent events, one stream per browser) and the results folder's files, read-only.
//
// Safe by default: it listens on 127.0.0.1 unless told otherwise. Every request that changes
// anything (a POST) must carry the station's token in the X-Ordalis-Token header — a header a
// page of another origin cannot send without the browser asking first, which this server never
// allows, since it sends no cross-origin headers. On a loopback address the Host header must
// name the loopback too, so a page whose name merely resolves to 127.0.0.1 is refused. Request
// bodies, header sizes and read times are limited; a refused request never reaches the run.

#include <mutex>
#include <cstddef>
#include <memory>
#include <string>

namespace httplib {
class Server;
}

namespace ordalis::station {

class StationHub;
class StationRunner;

struct StationOptions {
  std::string host = "127.0.0.1";
  int port = 8080;              // 0 for any free port
  std::string token;            // required in X-Ordalis-Token on every POST
  std::string results_folder;   // an existing folder: the runs' results and the files served
  std::string store;            // the results store, empty for results.db in the folder
  std::string certificate;      // PEM files for TLS; both or neither
  std::string private_key;
  std::size_t max_body_bytes = 64 * 1024;
  int read_timeout_seconds = 5;
  std::size_t max_connection_threads = 256;
};

inline constexpr const char* kTokenHeader = "X-Ordalis-Token";

// 32 hexadecimal digits from the system's random source.
std::string NewToken();
// Whether [host] is a loopback address (127.x.x.x, ::1, localhost).
bool IsLoopback(const std::string& host);

class StationServer {
 public:
  explicit StationServer(StationOptions options);
  // Stops the server and ends every live stream.
  ~StationServer();
  StationServer(const StationServer&) = delete;
  StationServer& operator=(const StationServer&) = delete;

  // Binds the listening socket; false with [problem] when the address cannot be used or the
  // certificate cannot be loaded.
  bool Bind(std::string* problem);
  // The port bound, once Bind succeeded.
  int port() const { return port_; }
  // Answers requests until Stop; call after Bind.
  void Serve();
  // Ends Serve and the live streams. Safe to call from any thread, also before Serve.
  void Stop();

  StationHub& hub() { return *hub_; }
  StationRunner& runner() { return *runner_; }

 private:
  void Route();
  void RouteControl();
  void RouteReading();

  const StationOptions options_;
  const std::string store_text_;
  std::shared_ptr<StationHub> hub_;
  std::unique_ptr<StationRunner> runner_;
  std::unique_ptr<httplib::Server> server_;
  int port_ = 0;
  int listening_socket_ = -1;  // the library's once it serves
  std::mutex serve_mutex_;      // guards the three flags below
  bool bound_ = false;
  bool served_ = false;
  bool stopping_ = false;
};

}  // namespace ordalis::station
