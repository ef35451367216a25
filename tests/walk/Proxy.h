#pragma once
// A proxy between one host and oa-server, on a thread of the walk's own: now and then it
// cuts a reply half-way (passes on part of what the server answered, then closes both
// ends), now and then it holds a reply back a few seconds, as a poor network does.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace walk {

class Proxy {
 public:
  // Of the connections, `cutPercent` have their reply cut and `holdPercent` held back.
  Proxy(uint16_t serverPort, uint64_t seed, int cutPercent, int holdPercent);
  ~Proxy();
  bool Start();  // listens on a free port of 127.0.0.1
  uint16_t Port() const { return port_; }

  // What it did since last asked, a line each, for the trace.
  std::vector<std::string> TakeNotes();
  // Whether the reply on the first connection taken at or after `startMs` (wall clock)
  // was cut, and how. A host sends one request at a time, so that is the request's.
  bool CutFrom(int64_t startMs, std::string* how) const;
  int Cuts() const { return cuts_; }
  int Holds() const { return holds_; }

 private:
  struct Conn;
  void Run();

  const uint16_t serverPort_;
  std::mt19937_64 rng_;
  const int cutPercent_, holdPercent_;
  int listen_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  mutable std::mutex mutex_;
  std::vector<std::string> notes_;
  struct Taken {
    int64_t at = 0;
    bool cut = false;
    std::string how;
  };
  std::vector<Taken> taken_;  // every connection, in the order taken
  std::atomic<int> cuts_{0}, holds_{0};
};

}  // namespace walk
