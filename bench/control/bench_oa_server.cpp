// oa-server round trips: a stored document opened ("QUEY" answered with "EXCE") by
// concurrent clients over loopback, one connection per request as the control makes them.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "apps/oa-server/OaServer.h"
#include "control/wire/Class_StoExcel.h"
#include "core/ByteIO.h"

namespace {

const char* kRecord = "{B0000000-1111-4222-8333-444444444444}";

struct Server {
  OaDatabase db;
  std::unique_ptr<oa::OaService> service;
  std::unique_ptr<OaServer> server;
  std::thread thread;
  std::string query;

  Server() {
    db.Open(":memory:");
    service = std::make_unique<oa::OaService>(db);
    ServerOptions o;
    o.maxConnections = 256;
    server = std::make_unique<OaServer>(*service, o);
    server->Listen();
    thread = std::thread([this] { server->Run(); });
    frames::QueryRecord q;
    q.userId = "{6F1C2A10-5B3D-4E8F-9A7B-0C1D2E3F4A50}";
    q.recordId = kRecord;
    q.templateName = Cp936("请假单");
    query = frames::BuildQueryRequest(q);
    // Stored once, so every round trip opens a stored document with values.
    TStream2Array d;
    d.LoadFromBytes(*service->Reply(query));
    for (int i = 0; i < 20; ++i) d.Fields.push_back({0, 0, "field" + std::to_string(i), "", std::string(80, 'v')});
    service->Reply(d.BuildUpdateFrame("oa_leave", kRecord, 0).Data());
  }
  ~Server() {
    server->Stop();
    thread.join();
  }
};

Server& TheServer() {
  static Server s;
  return s;
}

// One request on its own connection; the reply's length, or 0 on failure.
size_t RoundTrip(uint16_t port, const std::string& frame) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  size_t got = 0;
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
    ByteWriter w;
    w.Bytes(frame.substr(0, 5));
    w.I32(int32_t(frame.size()));
    w.Bytes(frame);
    if (send(fd, w.Str().data(), w.Size(), MSG_NOSIGNAL) == ssize_t(w.Size())) {
      char buf[65536];
      for (ssize_t n; (n = recv(fd, buf, sizeof buf, 0)) > 0;) got += size_t(n);
    }
  }
  close(fd);
  return got;
}

void BM_QueryRoundTrips(benchmark::State& state) {
  Server& s = TheServer();
  for (auto _ : state)
    if (RoundTrip(s.server->Port(), s.query) < 1000) state.SkipWithError("no document reply");
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_QueryRoundTrips)->Threads(1)->Threads(8)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
