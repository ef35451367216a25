#pragma once
// One visit of one person: inside tarvo-host, which logs in and opens its document from
// its own command line, a run of random actions through the windows until the budget or
// the time is spent. It speaks to the walk that started the host on a pipe ("act ...",
// "fail ...", "note ...", "ask server-stop") and reads the answers to its asks on another.
// The options come in the environment (see SessionEnvironment).
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

class QObject;

namespace walk {

struct SessionOptions {
  uint64_t seed = 0;
  std::string db;  // the server's SQLite file, read for the oracles
  int actions = 50;
  int64_t untilMs = 0;  // wall clock (ms since the epoch) at which to stop at the latest
  std::string files;    // a folder of files the person may pick in a file dialog
  int hangSeconds = 10;
  bool opensNew = false;  // the host opens a new document
  bool shared = false;    // another host works on the same document meanwhile
  // What the person came for: "" anything, "route" to send the document on, "file" to
  // number, distribute and file it at the step that offers that.
  std::string mind;
  int sayFd = -1;     // lines to the walk
  int answerFd = -1;  // its answers
};

// The environment variables that carry the options to the host.
inline std::vector<std::pair<std::string, std::string>> SessionEnvironment(const SessionOptions& o) {
  return {{"TARVO_WALK_SEED", std::to_string(o.seed)},
          {"TARVO_WALK_DB", o.db},
          {"TARVO_WALK_ACTIONS", std::to_string(o.actions)},
          {"TARVO_WALK_UNTIL", std::to_string(o.untilMs)},
          {"TARVO_WALK_FILES", o.files},
          {"TARVO_WALK_HANG", std::to_string(o.hangSeconds)},
          {"TARVO_WALK_NEW", o.opensNew ? "1" : "0"},
          {"TARVO_WALK_SHARED", o.shared ? "1" : "0"},
          {"TARVO_WALK_MIND", o.mind},
          {"TARVO_WALK_FDS", std::to_string(o.sayFd) + "," + std::to_string(o.answerFd)}};
}

// Reads the options from the environment, takes them out of it (the host's own children
// must not walk too) and starts the walker once the event loop runs. The object is the
// plugin's; null when the options are missing.
QObject* StartSession();

}  // namespace walk
