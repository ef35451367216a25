#pragma once
// The server's request log on disk: one line per request, appended and flushed at once,
// since tests and people read it while the server runs. A line that would take the file
// past its limit first moves the file to FILE.1 (replacing the one there) and starts a new
// one, so the log never holds more than about twice the limit however long the server
// runs, and every line stays whole in one file or the other.
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

class RequestLogFile {
 public:
  static constexpr uint64_t kDefaultLimitBytes = 16 * 1024 * 1024;

  // Opens path for appending, counting what it already holds; throws Exception when it
  // cannot be opened.
  RequestLogFile(std::string path, uint64_t limitBytes = kDefaultLimitBytes);
  ~RequestLogFile();
  RequestLogFile(const RequestLogFile&) = delete;
  RequestLogFile& operator=(const RequestLogFile&) = delete;

  // Appends line and a line break. When the log cannot be started again after a move,
  // writing stops and Failed() says why.
  void Write(std::string_view line);
  const std::string& Failed() const { return failed_; }
  const std::string& Path() const { return path_; }
  std::string OlderPath() const { return path_ + ".1"; }

 private:
  void Rotate();

  std::string path_;
  uint64_t limit_;
  uint64_t size_ = 0;
  FILE* file_ = nullptr;
  std::string failed_;
};
