#pragma once
// Loopback TCP server: one request and one reply per connection. A request is a 5-byte
// code, an i32 LE length L and L bytes of frame; a reply is an i32 LE length and the
// payload. One thread polls every connection, so a slow or hostile client only ever holds
// its own socket, and only until its time-out.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "apps/oa-server/OaService.h"

struct ServerOptions {
  uint16_t port = 0;                 // 0: the system picks a free port
  int idleTimeoutMs = 10000;         // no byte moved for this long closes the connection
  int connectionTimeoutMs = 120000;  // no connection lives longer, however it trickles
  size_t maxConnections = 64;        // further clients are closed at once
};

class OaServer {
 public:
  using LogSink = std::function<void(const std::string& line)>;

  OaServer(const oa::OaService& service, ServerOptions options);
  ~OaServer();
  OaServer(const OaServer&) = delete;
  OaServer& operator=(const OaServer&) = delete;

  // Receives one line per complete request (before it is answered).
  void SetRequestLog(LogSink sink) { requestLog_ = std::move(sink); }
  // Receives one line per refused connection (bad length, malformed frame, time-out).
  void SetDiagnostics(LogSink sink) { diagnostics_ = std::move(sink); }

  // Binds 127.0.0.1; throws Exception when that fails.
  void Listen();
  uint16_t Port() const { return port_; }
  // Serves until Stop(); returns after closing every connection.
  void Run();
  // Safe from another thread and from a signal handler.
  void Stop();

  size_t OpenConnections() const { return connections_.size(); }

 private:
  struct Connection;
  using Clock = std::chrono::steady_clock;

  void AcceptAll();
  // False when the connection is finished and must be closed.
  bool OnReadable(Connection& c);
  bool OnWritable(Connection& c);
  bool OnFrameComplete(Connection& c);
  void Refuse(const Connection& c, const std::string& why);
  int NextTimeoutMs() const;
  void ExpireConnections();

  const oa::OaService& service_;
  ServerOptions options_;
  LogSink requestLog_;
  LogSink diagnostics_;
  int listenFd_ = -1;
  int wakeRead_ = -1;
  int wakeWrite_ = -1;
  uint16_t port_ = 0;
  std::vector<std::unique_ptr<Connection>> connections_;
};
