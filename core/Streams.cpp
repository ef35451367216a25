#include "core/Streams.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/SysUtils.h"

int64_t TStream::Size() {
  int64_t pos = Seek(0, soCurrent);
  int64_t end = Seek(0, soEnd);
  Seek(pos, soBeginning);
  return end;
}

void TStream::ReadBuffer(void* buffer, int64_t count) {
  if (count < 0 || Read(buffer, count) != count) throw EReadError();
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
  if (count < 0 || Write(buffer, count) != count) throw EWriteError();
}

int64_t TStream::CopyFrom(TStream& src, int64_t count) {
  if (count == 0) {
    src.SetPosition(0);
    count = src.Size();
  }
  if (count < 0) throw EReadError();
  const int64_t result = count;
  std::vector<char> buf(static_cast<size_t>(std::min<int64_t>(count, 61440)) + 1);
  while (count > 0) {
    int64_t n = std::min<int64_t>(count, static_cast<int64_t>(buf.size()));
    src.ReadBuffer(buf.data(), n);
    WriteBuffer(buf.data(), n);
    count -= n;
  }
  return result;
}

std::string TStream::ReadRest() {
  int64_t pos = Position();
  int64_t size = Size();
  std::string s;
  if (size > pos) {
    s.resize(static_cast<size_t>(size - pos));
    ReadBuffer(s.data(), size - pos);
  }
  return s;
}

int64_t TMemoryStream::Read(void* buffer, int64_t count) {
  if (count <= 0 || pos_ >= Size()) return 0;
  int64_t n = std::min<int64_t>(count, Size() - pos_);
  std::memcpy(buffer, data_.data() + pos_, static_cast<size_t>(n));
  pos_ += n;
  return n;
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  size_t end = static_cast<size_t>(pos_ + count);
  if (end > data_.size()) {
    if (end > data_.capacity()) data_.reserve(std::max(end, data_.capacity() + data_.capacity() / 2));
    data_.resize(end);
  }
  std::memcpy(data_.data() + pos_, buffer, static_cast<size_t>(count));
  pos_ += count;
  return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
  int64_t base = origin == soBeginning ? 0 : origin == soCurrent ? pos_ : Size();
  int64_t p = base + offset;
  if (p < 0) p = 0;  // the framework clamps nothing here, but a negative position is never useful
  pos_ = p;
  return pos_;
}

void TMemoryStream::SetSize(int64_t size) {
  if (size < 0) throw EWriteError();
  data_.resize(static_cast<size_t>(size));
  if (pos_ > size) pos_ = size;
}

void TMemoryStream::LoadFromStream(TStream& src) {
  src.SetPosition(0);
  int64_t n = src.Size();
  data_.assign(static_cast<size_t>(n), '\0');
  src.ReadBuffer(data_.data(), n);
  pos_ = 0;
}

void TMemoryStream::SaveToStream(TStream& dst) { dst.WriteBuffer(data_.data(), Size()); }

void TMemoryStream::LoadFromFile(const std::string& path) {
  TFileStream f(path, fmOpenRead);
  LoadFromStream(f);
}

void TMemoryStream::SaveToFile(const std::string& path) {
  TFileStream f(path, fmCreate);
  SaveToStream(f);
}

TFileStream::TFileStream(const std::string& path, uint32_t mode) : path_(path) {
  if (mode == fmCreate) {
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd_ < 0) throw EFCreateError(Format("Cannot create file %s", path.c_str()));
    return;
  }
  int flags = O_CLOEXEC;
  switch (mode & 3) {
    case fmOpenWrite: flags |= O_WRONLY; break;
    case fmOpenReadWrite: flags |= O_RDWR; break;
    default: flags |= O_RDONLY; break;
  }
  fd_ = ::open(path.c_str(), flags);
  if (fd_ < 0) throw EFOpenError(Format("Cannot open file %s", path.c_str()));
}

TFileStream::~TFileStream() {
  if (fd_ >= 0) ::close(fd_);
}

int64_t TFileStream::Read(void* buffer, int64_t count) {
  int64_t done = 0;
  while (done < count) {
    ssize_t r = ::read(fd_, static_cast<char*>(buffer) + done, static_cast<size_t>(count - done));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    done += r;
  }
  return done;
}

int64_t TFileStream::Write(const void* buffer, int64_t count) {
  int64_t done = 0;
  while (done < count) {
    ssize_t r = ::write(fd_, static_cast<const char*>(buffer) + done, static_cast<size_t>(count - done));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    done += r;
  }
  return done;
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
  int whence = origin == soBeginning ? SEEK_SET : origin == soCurrent ? SEEK_CUR : SEEK_END;
  off_t r = ::lseek(fd_, static_cast<off_t>(offset), whence);
  return r < 0 ? -1 : static_cast<int64_t>(r);
}

void TFileStream::SetSize(int64_t size) {
  if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) throw EWriteError();
  if (Position() > size) SetPosition(size);
}
