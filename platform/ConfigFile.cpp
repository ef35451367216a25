#include "platform/ConfigFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

ConfigFileText ReadConfigFile(const std::string& path, std::uintmax_t maxSize) {
  ConfigFileText out;
  std::error_code ec;
  const auto status = std::filesystem::status(path, ec);
  if (!std::filesystem::exists(status)) return out;
  if (!std::filesystem::is_regular_file(status)) {
    out.status = ConfigFileText::NotRegular;
    return out;
  }
  const auto size = std::filesystem::file_size(path, ec);
  if (ec) {
    out.status = ConfigFileText::Unreadable;
    out.error = ec.message();
    return out;
  }
  if (size > maxSize) {
    out.status = ConfigFileText::TooLarge;
    return out;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    out.status = ConfigFileText::Unreadable;
    out.error = std::strerror(errno);
    return out;
  }
  out.text.assign(static_cast<size_t>(size), '\0');
  in.read(out.text.data(), static_cast<std::streamsize>(out.text.size()));
  if (in.gcount() != static_cast<std::streamsize>(out.text.size())) {
    out.status = ConfigFileText::Unreadable;
    out.text.clear();
    return out;
  }
  out.status = ConfigFileText::Read;
  return out;
}

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t eol = text.find('\n', pos);
    if (eol == std::string_view::npos) {
      lines.emplace_back(text.substr(pos));
      break;
    }
    lines.emplace_back(text.substr(pos, eol - pos));
    pos = eol + 1;
  }
  return lines;
}

void CreateParentFolder(const std::string& path) {
  const std::filesystem::path target(path);
  std::error_code ec;
  if (target.has_parent_path()) std::filesystem::create_directories(target.parent_path(), ec);
}

int WriteConfigFileAtomically(const std::string& path, std::string_view text) {
  CreateParentFolder(path);
  std::string tmpl = path + ".tmp.XXXXXX";
  const int fd = mkstemp(tmpl.data());
  if (fd < 0) return errno;
  // A short write may leave errno untouched; it is still an I/O failure.
  auto failure = [] { return errno ? errno : EIO; };
  int err = 0;
  errno = 0;
  if (fchmod(fd, 0644) != 0) err = failure();
  size_t done = 0;
  while (!err && done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) err = failure();
    else done += static_cast<size_t>(n);
  }
  if (!err && fsync(fd) != 0) err = failure();
  ::close(fd);
  if (!err && std::rename(tmpl.c_str(), path.c_str()) != 0) err = failure();
  if (err) ::unlink(tmpl.c_str());
  return err;
}
