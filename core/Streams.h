#pragma once
// Byte streams in the shape the rest of the system expects: positioned reads and writes,
// whole-buffer reads that fail loudly, and copying between streams.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "core/Exception.h"

enum TSeekOrigin { soBeginning = 0, soCurrent = 1, soEnd = 2 };

class TStream {
 public:
  virtual ~TStream() = default;
  // Read and Write return the number of bytes moved, which may be short.
  virtual int64_t Read(void* buffer, int64_t count) = 0;
  virtual int64_t Write(const void* buffer, int64_t count) = 0;
  virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;
  virtual void SetSize(int64_t size) = 0;

  int64_t Position() { return Seek(0, soCurrent); }
  void SetPosition(int64_t pos) { Seek(pos, soBeginning); }
  virtual int64_t Size();

  // Whole-buffer forms: a short transfer raises EReadError / EWriteError.
  void ReadBuffer(void* buffer, int64_t count);
  void WriteBuffer(const void* buffer, int64_t count);
  void WriteString(const std::string& s) { WriteBuffer(s.data(), static_cast<int64_t>(s.size())); }
  // Copies count bytes from src's position; count 0 copies all of src from its start.
  int64_t CopyFrom(TStream& src, int64_t count);
  // Everything from the current position to the end.
  std::string ReadRest();
};

class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::string data) : data_(std::move(data)) {}

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  void SetSize(int64_t size) override;
  int64_t Size() override { return static_cast<int64_t>(data_.size()); }

  char* Memory() { return data_.data(); }
  const char* Memory() const { return data_.data(); }
  const std::string& Data() const { return data_; }
  std::string TakeData() {
    pos_ = 0;
    return std::move(data_);
  }
  void Clear() {
    data_.clear();
    data_.shrink_to_fit();
    pos_ = 0;
  }
  void Reserve(size_t n) { data_.reserve(n); }
  void LoadFromStream(TStream& src);
  void SaveToStream(TStream& dst);
  void LoadFromFile(const std::string& path);
  void SaveToFile(const std::string& path);

 private:
  std::string data_;
  int64_t pos_ = 0;
};

enum TFileMode : uint32_t {
  fmOpenRead = 0x0000,
  fmOpenWrite = 0x0001,
  fmOpenReadWrite = 0x0002,
  fmCreate = 0xFFFF,
};

class TFileStream : public TStream {
 public:
  // Path is UTF-8 (a native file name). Raises EFOpenError / EFCreateError.
  TFileStream(const std::string& path, uint32_t mode);
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  void SetSize(int64_t size) override;
  const std::string& FileName() const { return path_; }

 private:
  std::string path_;
  int fd_ = -1;
};
