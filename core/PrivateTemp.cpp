#include "core/PrivateTemp.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

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

}  // namespace

std::string PrivateTempFolder() {
  std::string dir = BaseFolder();
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  dir += "/tarvo-" + std::to_string(::geteuid());
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
  std::string path = PrivateTempFolder();
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
