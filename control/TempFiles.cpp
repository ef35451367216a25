#include "control/TempFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <cerrno>
#include <cstring>

#include "core/Exception.h"

std::string GetTempDirectory() {
  std::string dir = QDir::tempPath().toStdString();
  if (dir.empty() || dir.back() != '/') dir.push_back('/');
  return dir;
}

void WritePrivateFile(const std::string& path, std::string_view bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) throw EFCreateError("Cannot create file \"" + path + "\". " + std::strerror(errno));
  // An existing file keeps its mode on open; make it private too.
  ::fchmod(fd, 0600);
  const char* p = bytes.data();
  size_t left = bytes.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ::close(fd);
      throw EFCreateError("Cannot write file \"" + path + "\".");
    }
    p += n;
    left -= size_t(n);
  }
  ::close(fd);
}
