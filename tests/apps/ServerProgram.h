#pragma once
// The oa-server program as its users start it, and a private folder for its files.
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

// A fresh folder under the test's temporary directory, removed afterwards.
class TempDir {
 public:
  TempDir() : path_(std::filesystem::temp_directory_path() / ("oa-log-" + std::to_string(getpid()))) {
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~TempDir() { std::filesystem::remove_all(path_); }
  std::filesystem::path operator/(const char* name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// What a run of the program to its end printed, and how it ended.
struct ProgramRun {
  int exitCode = -1;  // -1: it did not end by itself
  std::string out;
};

// Runs oa-server with args and waits for it to end; its standard output and error are
// read as one.
inline ProgramRun RunServerProgram(std::vector<std::string> args) {
  ProgramRun run;
  int out[2];
  if (pipe(out) != 0) return run;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, out[1], 2);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  args.insert(args.begin(), OA_SERVER_PATH);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  const bool spawned = posix_spawn(&pid, OA_SERVER_PATH, &actions, nullptr, argv.data(), environ) == 0;
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  char buf[4096];
  pollfd p{out[0], POLLIN, 0};
  while (spawned && poll(&p, 1, 20000) > 0) {
    const ssize_t n = read(out[0], buf, sizeof buf);
    if (n <= 0) break;
    run.out.append(buf, size_t(n));
  }
  close(out[0]);
  if (!spawned) return run;
  // Its output closed as it ended: it is reaped at once, unless it hangs.
  int status = 0;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > end) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return run;
    }
    usleep(2000);
  }
  if (WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
  return run;
}

// The oa-server program on a free port; stopped when the test ends.
class ServerProgram {
 public:
  explicit ServerProgram(std::vector<std::string> args) {
    int out[2];
    if (pipe(out) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    args.insert(args.begin(), OA_SERVER_PATH);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const bool spawned = posix_spawn(&pid_, OA_SERVER_PATH, &actions, nullptr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    std::string said;
    pollfd p{out[0], POLLIN, 0};
    char buf[64];
    while (spawned && said.find('\n') == std::string::npos && poll(&p, 1, 20000) > 0) {
      const ssize_t n = read(out[0], buf, sizeof buf);
      if (n <= 0) break;
      said.append(buf, size_t(n));
    }
    close(out[0]);
    if (!spawned) pid_ = -1;
    if (said.rfind("listening ", 0) == 0) port_ = uint16_t(std::stoi(said.substr(10)));
  }
  ~ServerProgram() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  uint16_t Port() const { return port_; }
  pid_t Pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  uint16_t port_ = 0;
};
