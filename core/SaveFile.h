// Files a person keeps (a saved picture, a chart, a document) are written whole or not at
// all: the bytes go into a new file beside the target, which replaces the target by a
// rename only once everything is written and flushed. Until then, and whenever the save
// fails or is abandoned, the old file stays as it was and no partial file is left behind.
//
//   TSaveFileStream out(path);          // raises EFCreateError
//   codec.SaveToStream(out);            // any exception: the destructor discards
//   out.Commit();                       // raises EWriteError; the target is untouched then
//
// or, for bytes already in hand, SaveWholeFile(path, bytes). A new file gets the usual
// mode (0666 less the umask); a replaced file keeps its permission bits. A link at the
// path is followed, so the file it names is replaced and the link stays. Paths are UTF-8.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "core/Streams.h"

class TSaveFileStream : public TStream {
 public:
  explicit TSaveFileStream(const std::string& path);
  ~TSaveFileStream() override;  // discards unless committed
  TSaveFileStream(const TSaveFileStream&) = delete;
  TSaveFileStream& operator=(const TSaveFileStream&) = delete;

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  void SetSize(int64_t size) override;

  // Flushes the new file to disk and renames it over the target. Refused (EWriteError,
  // nothing replaced) when any write fell short or the flush or rename fails.
  void Commit();
  // Drops what was written; the target is left as it was. Safe to call twice.
  void Discard() noexcept;

  const std::string& FileName() const { return target_; }
  // The new file's name while the save is open (empty after Commit or Discard).
  const std::string& TempName() const { return temp_; }

 private:
  std::string target_;
  std::string temp_;
  int fd_ = -1;
  bool failed_ = false;
  bool keepMode_ = false;
  unsigned targetMode_ = 0;
};

void SaveWholeFile(const std::string& path, std::string_view bytes);
// Lets write fill the stream, then commits; any exception from write discards.
void SaveWholeFile(const std::string& path, const std::function<void(TStream&)>& write);
