#pragma once
// Loopback TCP server: one request and one reply per connection. A request is a 5-byte
// code, an i32 LE length L and L bytes of frame; a reply is an i32 LE length and the
// payload. One thread polls every connection. A client gets a few seconds to send its
// whole request, so a slow or silent one holds its socket only briefly; when every slot is
// taken the longest-idle connection makes room for a new one; and the bytes held for
// requests and replies across all connections stay under one budget.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "apps/oa-server/OaService.h"

struct ServerOptions {
  uint16_t port = 0;                              // 0: the system picks a free port
  int requestTimeoutMs = 5000;                    // a whole request must arrive within this
  int idleTimeoutMs = 10000;                      // a reply no byte of which moves for this long is dropped
  int connectionTimeoutMs = 120000;               // no connection lives longer, however it trickles
  size_t maxConnections = 4096;                   // also bounded by the open-file limit
  size_t maxBufferedBytes = 128 * 1024 * 1024;    // request and reply bytes held across all connections
};

class OaServer {
 public:
  using LogSink = std::function<void(const std::string& line)>;

  // Frames longer than this are logged by their length and first kLoggedFrameBytes only.
  static constexpr size_t kFullyLoggedFrameBytes = 4096;
  static constexpr size_t kLoggedFrameBytes = 64;

  OaServer(const oa::OaService& service, ServerOptions options);
  ~OaServer();
  OaServer(const OaServer&) = delete;
  OaServer& operator=(const OaServer&) = delete;

  // Raises this process's open-file limit to its hard limit; returns the limit now in force.
  static size_t RaiseFileLimit();

  // Receives one line per complete request (before it is answered).
  void SetRequestLog(LogSink sink) { requestLog_ = std::move(sink); }
  // Receives one line per refused or dropped connection.
  void SetDiagnostics(LogSink sink) { diagnostics_ = std::move(sink); }

  // Binds 127.0.0.1; throws Exception when that fails.
  void Listen();
  uint16_t Port() const { return port_; }
  // Serves until Stop(); returns after closing every connection.
  void Run();
  // Safe from another thread and from a signal handler.
  void Stop();

  // Readable from any thread while Run() serves.
  size_t OpenConnections() const { return open_; }
  size_t BufferedBytes() const { return buffered_; }
  size_t PeakBufferedBytes() const { return peakBuffered_; }
  // maxConnections as the open-file limit allows it (known after Listen).
  size_t ConnectionLimit() const { return connectionLimit_; }

 private:
  struct Connection;
  using Clock = std::chrono::steady_clock;

  void AcceptAll();
  // False when the connection is finished and must be closed.
  bool OnReadable(Connection& c);
  bool OnWritable(Connection& c);
  bool OnFrameComplete(Connection& c);
  // Grows the request buffer to hold `more` further bytes; false when the budget cannot.
  bool GrowFrame(Connection& c, size_t more);
  // Brings the budget's count up to date with what c holds now.
  void Recharge(Connection& c);
  // Drops the least recently active requests still arriving (never `keep`) until `bytes`
  // more fit in the budget; false when they cannot be made to fit.
  bool MakeRoom(size_t bytes, const Connection* keep);
  // The connection idle longest that may be dropped to make room; null when none.
  Connection* OldestIdle(const Connection* keep) const;
  // Closes at once and frees what it holds; it leaves connections_ at the next sweep.
  void Drop(Connection& c, const std::string& why);
  Clock::time_point Deadline(const Connection& c) const;
  int NextTimeoutMs() const;
  void ExpireConnections();
  std::string LogLine(const Connection& c) const;

  const oa::OaService& service_;
  ServerOptions options_;
  LogSink requestLog_;
  LogSink diagnostics_;
  int listenFd_ = -1;
  int wakeRead_ = -1;
  int wakeWrite_ = -1;
  uint16_t port_ = 0;
  size_t connectionLimit_ = 0;
  Clock::time_point acceptPausedUntil_{};
  std::vector<std::unique_ptr<Connection>> connections_;
  std::atomic<size_t> open_{0};
  std::atomic<size_t> buffered_{0};
  std::atomic<size_t> peakBuffered_{0};
};
