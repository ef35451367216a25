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

#include "core/Exception.h"
#include "core/SaveFile.h"

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
  errno = 0;
  try {
    SaveWholeFile(path, text);
  } catch (const Exception&) {
    // The step that failed left its errno; a short write may leave none.
    return errno ? errno : EIO;
  }
  return 0;
}
