// oa-server round trips: a stored document opened ("QUEY" answered with "EXCE") by
// concurrent clients over loopback, one connection per request as the control makes them.
// The server has a CPU of its own and the clients share the others (of those this
// process may use: taskset -c picks them), so neither side's work is timed as the
// other's. Besides throughput, each run's round-trip latencies give its median and
// 99th percentile.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "apps/oa-server/OaServer.h"
#include "control/wire/Class_StoExcel.h"
#include "core/ByteIO.h"
#include "core/Rounding.h"

namespace {

const char* kRecord = "{B0000000-1111-4222-8333-444444444444}";

// The CPUs this process may use: the first for the server, the rest for the clients
// (all of them when there is only one).
std::vector<int> AllowedCpus() {
  cpu_set_t set;
  CPU_ZERO(&set);
  std::vector<int> cpus;
  if (sched_getaffinity(0, sizeof set, &set) == 0)
    for (int c = 0; c < CPU_SETSIZE; ++c)
      if (CPU_ISSET(c, &set)) cpus.push_back(c);
  return cpus;
}

void PinThisThread(int cpu) {
  if (cpu < 0) return;
  cpu_set_t set;
  CPU_ZERO(&set);
  CPU_SET(cpu, &set);
  pthread_setaffinity_np(pthread_self(), sizeof set, &set);
}

// Taken once, before any thread is pinned.
const std::vector<int>& Cpus() {
  static const std::vector<int> cpus = AllowedCpus();
  return cpus;
}

int ServerCpu() { return Cpus().empty() ? -1 : Cpus().front(); }

int ClientCpu(int thread) {
  const std::vector<int>& cpus = Cpus();
  if (cpus.size() < 2) return ServerCpu();
  return cpus[1 + size_t(thread) % (cpus.size() - 1)];
}

// Round-trip times in microseconds by number of client threads.
std::mutex latencyLock;
std::map<int, std::vector<double>> latencies;

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
    thread = std::thread([this] {
      PinThisThread(ServerCpu());
      server->Run();
    });
    frames::QueryRecord q;
    q.userId = "{6F1C2A10-5B3D-4E8F-9A7B-0C1D2E3F4A50}";
    q.recordId = kRecord;
    q.templateName = Cp936("请假单");
    query = frames::BuildQueryRequest(q);
    // Stored once, so every round trip opens a stored document with values.
    TStream2Array d;
    d.LoadFromBytes(*service->Reply(query));
    for (int i = 0; i < 20; ++i) d.Fields.push_back({0, 0, "field" + std::to_string(i), "", std::string(80, 'v')});
    service->Reply(d.BuildUpdateFrame("oa_leave", kRecord, 0, SessionValues()).Data());
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
  PinThisThread(ClientCpu(state.thread_index()));
  std::vector<double> mine;
  mine.reserve(4096);
  for (auto _ : state) {
    const auto t = std::chrono::steady_clock::now();
    if (RoundTrip(s.server->Port(), s.query) < 1000) state.SkipWithError("no document reply");
    mine.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t).count());
  }
  state.SetItemsProcessed(state.iterations());
  std::lock_guard lock(latencyLock);
  auto& all = latencies[state.threads()];
  all.insert(all.end(), mine.begin(), mine.end());
}
BENCHMARK(BM_QueryRoundTrips)->Threads(1)->Threads(8)->UseRealTime();

// t sorted.
double Percentile(const std::vector<double>& t, double q) {
  return t[size_t(RoundHalfAway(q * double(t.size() - 1)))];
}

}  // namespace

int main(int argc, char** argv) {
  Cpus();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::printf("\nround trips, server on CPU %d, clients on", ServerCpu());
  for (size_t i = Cpus().size() > 1 ? 1 : 0; i < Cpus().size(); ++i) std::printf(" %d", Cpus()[i]);
  std::printf("\n%8s %10s %10s %10s %10s\n", "clients", "requests", "p50 us", "p99 us", "max us");
  for (auto& [threads, t] : latencies) {
    if (t.empty()) continue;
    std::sort(t.begin(), t.end());
    std::printf("%8d %10zu %10.1f %10.1f %10.1f\n", threads, t.size(), Percentile(t, 0.5),
                Percentile(t, 0.99), t.back());
  }
  return 0;
}
