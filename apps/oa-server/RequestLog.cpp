#include "apps/oa-server/RequestLog.h"

#include <cerrno>
#include <cstring>

#include "core/Exception.h"

RequestLogFile::RequestLogFile(std::string path, uint64_t limitBytes) : path_(std::move(path)), limit_(limitBytes) {
  file_ = std::fopen(path_.c_str(), "a");
  if (!file_) throw Exception("cannot open log " + path_ + ": " + std::strerror(errno));
  if (std::fseek(file_, 0, SEEK_END) == 0) {
    const long at = std::ftell(file_);
    size_ = at > 0 ? uint64_t(at) : 0;
  }
}

RequestLogFile::~RequestLogFile() {
  if (file_) std::fclose(file_);
}

void RequestLogFile::Write(std::string_view line) {
  const uint64_t bytes = line.size() + 1;
  // A file that holds something moves aside first; a single line longer than the limit
  // still goes in whole, alone in its file.
  if (file_ && size_ > 0 && size_ + bytes > limit_) Rotate();
  if (!file_) return;
  std::fwrite(line.data(), 1, line.size(), file_);
  std::fputc('\n', file_);
  std::fflush(file_);
  size_ += bytes;
}

void RequestLogFile::Rotate() {
  std::fclose(file_);
  file_ = nullptr;
  // When the move fails the log starts again in place: it stays bounded either way.
  std::rename(path_.c_str(), OlderPath().c_str());
  file_ = std::fopen(path_.c_str(), "w");
  size_ = 0;
  if (!file_) failed_ = "cannot start log " + path_ + " again: " + std::strerror(errno);
}
