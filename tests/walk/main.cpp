// tarvo_walk: a careless person at the windows of tarvo-host, from a seed.
//   tarvo_walk [--seed N] [--minutes M] [--sessions K] [--hang-seconds S] [--replay TRACE] [--trace FILE] [--verbose] [--keep-going]
// Needs an X display (run under xvfb-run). Prints its seed first; a failure prints the
// seed, the actions up to it and the command that replays it.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "Supervisor.h"

namespace {

int Usage() {
  std::fputs("usage: tarvo_walk [--seed N] [--minutes M] [--sessions K] [--hang-seconds S] [--replay TRACE] [--trace FILE] [--verbose] [--keep-going]\n", stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  walk::WalkOptions w;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--verbose") {
      w.verbose = true;
      continue;
    }
    if (a == "--keep-going") {
      w.keepGoing = true;
      continue;
    }
    if (i + 1 >= argc) return Usage();
    const std::string v = argv[++i];
    char* end = nullptr;
    if (a == "--seed") {
      w.seed = std::strtoull(v.c_str(), &end, 10);
      w.seedGiven = true;
    } else if (a == "--minutes") {
      w.minutes = std::strtod(v.c_str(), &end);
    } else if (a == "--trace") {
      w.trace = v;
    } else if (a == "--replay") {
      w.replay = v;
    } else if (a == "--sessions") {
      w.sessions = std::atoi(v.c_str());
    } else if (a == "--hang-seconds") {
      w.hangSeconds = std::max(1, std::atoi(v.c_str()));
    } else {
      return Usage();
    }
  }
  // Qt takes its own options out of argv; none are passed on.
  int qtArgc = 1;
  return walk::RunWalk(qtArgc, argv, w);
}
