#include "core/SaveFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <random>

#include "core/Exception.h"

namespace {

std::string SystemError() { return std::strerror(errno); }

// The file a link names, so that saving through a link replaces the file, not the link.
std::string ResolveTarget(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
  char* real = ::realpath(path.c_str(), nullptr);
  if (!real) return path;  // a dangling link: replace the link itself
  std::string resolved(real);
  std::free(real);
  return resolved;
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

void SyncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);  // best effort: the rename itself already happened
  ::close(fd);
}

}  // namespace

TSaveFileStream::TSaveFileStream(const std::string& path) : target_(ResolveTarget(path)) {
  struct stat st {};
  if (::stat(target_.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) throw EFCreateError("Cannot create file " + path + ". It is a folder");
    keepMode_ = true;
    targetMode_ = st.st_mode & 07777;
  }
  const size_t slash = target_.rfind('/');
  const std::string base = slash == std::string::npos ? target_ : target_.substr(slash + 1);
  // A name near the 255-byte limit must still leave room for the temporary's affixes.
  const std::string stem =
      target_.substr(0, target_.size() - base.size()) + "." + base.substr(0, 200) + ".";
  std::random_device seed;
  std::mt19937_64 rng(seed());
  static constexpr char kDigits[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = stem;
    for (int i = 0; i < 6; ++i) name += kDigits[rng() % (sizeof(kDigits) - 1)];
    name += ".part";
    // 0666 here lets the umask decide, as for any file a person creates.
    fd_ = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd_ >= 0) {
      temp_ = std::move(name);
      return;
    }
    if (errno != EEXIST) break;
  }
  throw EFCreateError("Cannot create file " + path + ". " + SystemError());
}

TSaveFileStream::~TSaveFileStream() { Discard(); }

int64_t TSaveFileStream::Read(void* buffer, int64_t count) {
  if (fd_ < 0) return 0;
  int64_t done = 0;
  while (done < count) {
    const ssize_t r = ::read(fd_, static_cast<char*>(buffer) + done, static_cast<size_t>(count - done));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    done += r;
  }
  return done;
}

int64_t TSaveFileStream::Write(const void* buffer, int64_t count) {
  if (fd_ < 0) {
    failed_ = true;
    return 0;
  }
  int64_t done = 0;
  while (done < count) {
    const ssize_t r = ::write(fd_, static_cast<const char*>(buffer) + done, static_cast<size_t>(count - done));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    done += r;
  }
  // A writer that ignores a short count must still not get a cut file committed.
  if (done < count) failed_ = true;
  return done;
}

int64_t TSaveFileStream::Seek(int64_t offset, TSeekOrigin origin) {
  if (fd_ < 0) return -1;
  const int whence = origin == soBeginning ? SEEK_SET : origin == soCurrent ? SEEK_CUR : SEEK_END;
  const off_t r = ::lseek(fd_, static_cast<off_t>(offset), whence);
  return r < 0 ? -1 : static_cast<int64_t>(r);
}

void TSaveFileStream::SetSize(int64_t size) {
  if (fd_ < 0 || ::ftruncate(fd_, static_cast<off_t>(size)) != 0) {
    failed_ = true;
    throw EWriteError();
  }
  if (Position() > size) SetPosition(size);
}

void TSaveFileStream::Commit() {
  if (fd_ < 0) throw EWriteError("Cannot write file " + target_ + ". The save was already ended");
  std::string why;
  if (failed_) why = "Not all of it could be written";
  else if (::fsync(fd_) != 0) why = SystemError();
  else if (keepMode_ && ::fchmod(fd_, targetMode_) != 0) why = SystemError();
  if (why.empty()) {
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) why = SystemError();
  }
  if (why.empty() && ::rename(temp_.c_str(), target_.c_str()) != 0) why = SystemError();
  if (!why.empty()) {
    Discard();
    throw EWriteError("Cannot write file " + target_ + ". " + why);
  }
  temp_.clear();
  SyncFolder(FolderOf(target_));
}

void TSaveFileStream::Discard() noexcept {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!temp_.empty()) ::unlink(temp_.c_str());
  temp_.clear();
}

void SaveWholeFile(const std::string& path, std::string_view bytes) {
  TSaveFileStream out(path);
  out.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  out.Commit();
}

void SaveWholeFile(const std::string& path, const std::function<void(TStream&)>& write) {
  TSaveFileStream out(path);
  write(out);
  out.Commit();
}
