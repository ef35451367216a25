#include "core/PrivateTemp.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>

#include "core/Exception.h"
#include "core/ScopeGuard.h"

namespace {

[[noreturn]] void Refuse(const std::string& what) { throw EFCreateError(what); }

std::string SystemError() { return std::strerror(errno); }

// $XDG_RUNTIME_DIR counts only when it is the user's own folder that no one else can enter.
bool IsPrivateFolder(const char* dir) {
  struct stat st {};
  return dir && dir[0] == '/' && ::lstat(dir, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
         (st.st_mode & 077) == 0;
}

std::string BaseFolder() {
  if (const char* run = std::getenv("XDG_RUNTIME_DIR"); IsPrivateFolder(run)) return run;
  const char* tmp = std::getenv("TMPDIR");
  std::string base = tmp && tmp[0] == '/' ? tmp : "/tmp";
  // In a folder others may write to without the sticky bit, they could rename ours away
  // and put their own in its place after it was checked.
  struct stat st {};
  if (::stat(base.c_str(), &st) != 0) Refuse("Cannot use the temporary folder \"" + base + "\". " + SystemError());
  if ((st.st_mode & 022) && !(st.st_mode & S_ISVTX))
    Refuse("The temporary folder \"" + base + "\" is open to other users");
  return base;
}

// Creates the folder (mode 0700) unless it is there, and checks it through a handle that
// does not follow links: a real folder of the user's own, made private when it was not.
void MakeOwnFolder(const std::string& dir) {
  if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
    Refuse("Cannot create folder \"" + dir + "\". " + SystemError());
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) Refuse("The temporary folder \"" + dir + "\" is not a folder of its own. " + SystemError());
  const auto closeFd = ScopeExit([fd] { ::close(fd); });
  struct stat st {};
  if (::fstat(fd, &st) != 0) Refuse("Cannot check folder \"" + dir + "\". " + SystemError());
  if (st.st_uid != ::geteuid()) Refuse("The temporary folder \"" + dir + "\" belongs to another user");
  // Also mends a folder made under a narrow umask.
  if ((st.st_mode & 0777) != 0700 && ::fchmod(fd, 0700) != 0)
    Refuse("Cannot make folder \"" + dir + "\" private. " + SystemError());
}

// When the process started, in clock ticks since boot (field 22 of its stat line); 0
// when it is not running or cannot be looked at. With the number, a process id that was
// given again to a later program is not taken for the one that made a folder.
unsigned long long StartTicks(long pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(in, line)) return 0;
  // The program's name, in parentheses, may hold spaces and parentheses of its own.
  const size_t close = line.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(line.substr(close + 1));
  std::string field;
  // Fields 3 to 21, then the start time.
  for (int i = 3; i <= 21; ++i)
    if (!(fields >> field)) return 0;
  unsigned long long ticks = 0;
  return fields >> ticks ? ticks : 0;
}

// What this process knows of its own folder. A child forked without a new program is a
// program of its own: it starts afresh.
struct OwnState {
  pid_t pid = 0;
  std::string name;              // "p<pid>-<start ticks>"
  std::set<std::string> swept;   // user folders already cleared of stale folders
};

std::mutex g_lock;

OwnState& Own() {
  static OwnState state;
  if (state.pid != ::getpid()) {
    state.pid = ::getpid();
    state.name = "p" + std::to_string(state.pid) + "-" + std::to_string(StartTicks(state.pid));
    state.swept.clear();
  }
  return state;
}

std::string OwnFolderName() {
  const std::lock_guard<std::mutex> hold(g_lock);
  return Own().name;
}

// The process a folder name stands for, or false when it is not such a name.
bool ParseFolderName(const std::string& name, long* pid, unsigned long long* ticks) {
  if (name.size() < 4 || name[0] != 'p') return false;
  const char* first = name.data() + 1;
  const char* end = name.data() + name.size();
  auto [dash, e1] = std::from_chars(first, end, *pid);
  if (e1 != std::errc() || dash == first || dash == end || *dash != '-') return false;
  auto [last, e2] = std::from_chars(dash + 1, end, *ticks);
  return e2 == std::errc() && last == end && last != dash + 1;
}

// Folders of programs that no longer run: what they left is nobody's now. Looked at once
// per user folder in each program.
void RemoveStaleFolders(const std::string& userFolder) {
  {
    const std::lock_guard<std::mutex> hold(g_lock);
    if (!Own().swept.insert(userFolder).second) return;
  }
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(userFolder, ec)) {
    long pid = 0;
    unsigned long long ticks = 0;
    const std::string name = entry.path().filename().string();
    if (!ParseFolderName(name, &pid, &ticks) || name == OwnFolderName()) continue;
    if (!entry.is_directory(ec) || entry.is_symlink(ec)) continue;
    if (pid <= 0) continue;
    // Still running; without the start time, a live process of that id counts.
    if (ticks != 0 ? StartTicks(pid) == ticks : (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM))
      continue;
    // Links inside are removed, never followed.
    std::filesystem::remove_all(entry.path(), ec);
  }
}

}  // namespace

std::string UserTempFolder() {
  std::string dir = BaseFolder();
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  dir += "/tarvo-" + std::to_string(::geteuid());
  MakeOwnFolder(dir);
  return dir + "/";
}

std::string PrivateTempFolder() {
  const std::string user = UserTempFolder();
  RemoveStaleFolders(user);
  const std::string dir = user + OwnFolderName();
  MakeOwnFolder(dir);
  return dir + "/";
}

bool IsPlainFileName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos;
}

std::string PrivateTempPath(std::string_view name) {
  if (!IsPlainFileName(name))
    Refuse("Not a temporary file name: \"" + std::string(name) + "\"");
  std::string path = PrivateTempFolder();
  path += name;
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) Refuse("Cannot replace file \"" + path + "\". " + SystemError());
  return path;
}

std::string MakePrivateTempDir(std::string_view prefix) {
  if (!IsPlainFileName(prefix)) Refuse("Not a temporary folder name: \"" + std::string(prefix) + "\"");
  // In the user's folder: the name is unique by itself, and a socket's whole path inside
  // it must stay short enough for an address.
  std::string path = UserTempFolder();
  path += prefix;
  path += "XXXXXX";
  if (!::mkdtemp(path.data())) Refuse("Cannot create folder \"" + path + "\". " + SystemError());
  return path;
}

void WritePrivateFile(const std::string& path, std::string_view bytes) {
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) Refuse("Cannot replace file \"" + path + "\". " + SystemError());
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) Refuse("Cannot create file \"" + path + "\". " + SystemError());
  const auto closeFd = ScopeExit([fd] { ::close(fd); });
  const char* p = bytes.data();
  size_t left = bytes.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) Refuse("Cannot write file \"" + path + "\".");
    p += n;
    left -= size_t(n);
  }
}
