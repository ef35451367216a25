#pragma once
// The walk: oa-server with its sample data in a folder of its own, then one session after
// another (each a fresh host process, as a person reopens the page as another user), all
// choices drawn from one seed. It owns the server, so sessions ask it to stop and start
// the server. Any failure prints the seed, the actions up to it and how to replay it.
#include <cstdint>
#include <string>

namespace walk {

struct WalkOptions {
  uint64_t seed = 0;
  bool seedGiven = false;
  double minutes = 1;
  int sessions = 0;  // stop after this many sessions (0: as many as the minutes allow)
  int hangSeconds = 10;
  bool verbose = false;    // every action as it is taken
  bool keepGoing = false;  // a failed session is reported and the walk goes on
  std::string replay;      // a trace to follow: its seed and sessions, and where it parts from it
  std::string trace;       // where to write the trace (else into the walk's folder, kept on failure)
};

int RunWalk(int& argc, char** argv, const WalkOptions& options);

}  // namespace walk
