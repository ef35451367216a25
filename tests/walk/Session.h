#pragma once
// One visit of one person: the page holding the control, logged in as one user with one
// document asked for, and a run of random actions through the windows until the budget
// or the time is spent. It speaks to the walk that started it on stdout ("act ...",
// "fail ...", "ask server-stop") and reads the answers to its asks on stdin.
#include <cstdint>
#include <string>
#include <vector>

namespace walk {

struct SessionOptions {
  uint64_t seed = 0;
  uint16_t port = 0;
  std::string db;                 // the server's SQLite file, read for the oracles
  std::string user;               // login name
  std::vector<std::string> open;  // the page's seven GetStream arguments
  int actions = 50;
  int64_t untilMs = 0;  // wall clock (ms since the epoch) at which to stop at the latest
  std::string files;    // a folder of files the person may pick in a file dialog
  int hangSeconds = 10;
};

int RunSession(int& argc, char** argv, const SessionOptions& options);

}  // namespace walk
