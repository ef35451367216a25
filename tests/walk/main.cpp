// tarvo_walk: a careless person at the windows, from a seed.
//   tarvo_walk [--seed N] [--minutes M] [--sessions K] [--hang-seconds S] [--verbose] [--keep-going]
// Needs an X display (run under xvfb-run). Prints its seed first; a failure prints the
// seed, the actions up to it and the command that replays it.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Session.h"
#include "Supervisor.h"

namespace {

int Usage() {
  std::fputs("usage: tarvo_walk [--seed N] [--minutes M] [--sessions K] [--hang-seconds S] [--verbose] [--keep-going]\n", stderr);
  return 2;
}

std::vector<std::string> SplitUnits(const std::string& s) {
  std::vector<std::string> out(1);
  for (char c : s) {
    if (c == '\x1f')
      out.emplace_back();
    else
      out.back() += c;
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  walk::WalkOptions w;
  walk::SessionOptions s;
  bool session = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--session") {
      session = true;
      continue;
    }
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
      w.seed = s.seed = std::strtoull(v.c_str(), &end, 10);
      w.seedGiven = true;
    } else if (a == "--minutes") {
      w.minutes = std::strtod(v.c_str(), &end);
    } else if (a == "--sessions") {
      w.sessions = std::atoi(v.c_str());
    } else if (a == "--hang-seconds") {
      w.hangSeconds = s.hangSeconds = std::max(1, std::atoi(v.c_str()));
    } else if (a == "--port") {
      s.port = static_cast<uint16_t>(std::atoi(v.c_str()));
    } else if (a == "--db") {
      s.db = v;
    } else if (a == "--user") {
      s.user = v;
    } else if (a == "--open") {
      s.open = SplitUnits(v);
    } else if (a == "--actions") {
      s.actions = std::atoi(v.c_str());
    } else if (a == "--until") {
      s.untilMs = std::strtoll(v.c_str(), &end, 10);
    } else if (a == "--files") {
      s.files = v;
    } else {
      return Usage();
    }
  }
  // Qt takes its own options out of argv; none are passed on.
  int qtArgc = 1;
  if (session) {
    if (s.open.size() != 7 || !s.port) return Usage();
    return walk::RunSession(qtArgc, argv, s);
  }
  return walk::RunWalk(qtArgc, argv, w);
}
