// The attachment container: any number of files packed into one stream, each
// with a state, so that a document's attachments travel as one block ("STRM"
// from the server, "SABB" back to it).
//
// Layout: 48-byte header (count, data start = 48 + 272 x count, s[4] "V1.0" at
// +8, s[4] "zelt" at +29), count entries of 272 bytes (index, s[255] name,
// offset and size within the data area, state), then the data area with the
// files end to end in entry order.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/AnsiString.h"
#include "core/Streams.h"

inline constexpr size_t kContainerHeaderSize = 48;
inline constexpr size_t kContainerEntrySize = 272;
// Header bytes no entry or field uses carry the number of the server's copy the list was
// handed out as; the container keeps its header, so the list sent back names it.
inline constexpr size_t kContainerCopyAt = 16;

// Entry states.
enum : int32_t {
  fsRemoved = 0,
  fsAdded = 1,
  fsReplaced = 2,
  fsFromServer = 3,
  fsUploaded = 4,
  fsEmpty = 99,
};

struct TCopyFileEntry {
  int32_t index = 0;  // one above the container's highest when last written
  AnsiString name;
  int32_t offset = 0;
  int32_t size = 0;
  int32_t state = fsEmpty;
};

class TCopy2Files {
 public:
  // Empties the data, count 0, and n empty slots. n is the caller's own count: a count
  // read from a stream never sizes the slots (LoadFromStream sizes its own).
  void Init(int n);
  // Appends n empty slots.
  void Grow(int n);

  // Reads a container from the stream's position to its end (nothing there: no
  // files). The slots grow to
  // the container's count. A container whose count, offsets or sizes reach
  // beyond its bytes, or whose files are not laid end to end, is refused with
  // frames::EFrameError and leaves this one unchanged.
  void LoadFromStream(TStream& stream);
  void LoadFromBytes(std::string_view bytes);
  // Writes the container at the start of the stream (replacing what was
  // there); a container with no files empties the stream.
  void SaveToStream(TStream& stream) const;
  std::string SaveToBytes() const;
  // The same, but a container without files is still its header, so that a copy number
  // it carries travels.
  std::string SaveToBytesWithHeader() const;
  int32_t CopyNumber() const;
  void SetCopyNumber(int32_t copy);

  // Appends a file; its name loses any folder part and is cut to 255 bytes.
  void AddStream(std::string_view name, std::string_view data, int32_t state);
  // Appends a file read from disk (an empty name takes the path); false, and
  // nothing added, when the file cannot be read.
  bool AddFile(const std::string& path, std::string_view name, int32_t state);
  // Replaces the data of the first live file of that name: it gets state
  // "replaced", the files after it move and every rewritten entry gets a new
  // index. Nothing when no live file has the name.
  void ReplaceFile(std::string_view name, std::string_view data);
  // The same for file i, which two files of one name need; nothing when i is not a live
  // file of the container.
  void ReplaceFileAt(int i, std::string_view data);
  // Marks the first live file of that name removed; its bytes stay.
  void RemoveFile(std::string_view name);
  void RemoveFileAt(int i);

  // File i's bytes, written at the stream's position; nothing when i is not
  // a file of the container.
  void ExtractToStream(int i, TStream& stream) const;
  std::string_view FileData(int i) const;
  // Writes file i to a disk file, created or replaced whole: raises EFCreateError or
  // EWriteError when it cannot be written, and then the old file is as it was.
  void SaveFileAs(int i, const std::string& path) const;

  AnsiString GetFileName(int i) const;
  int32_t GetState(int i) const;  // fsEmpty outside the files
  int Count() const { return count_; }
  int SlotCount() const { return int(slots_.size()); }
  const TCopyFileEntry& Slot(int i) const { return slots_.at(size_t(i)); }

  // First slot with exactly this name whose state is not "removed"; -1 if none.
  int IndexOf(std::string_view name) const;
  int32_t MaxIndex() const;
  // Some slot is neither empty nor as the server sent it.
  bool HasChanges() const;
  // Every slot not removed (empty slots included) takes the state.
  void SetAllStates(int32_t state);

 private:
  void EnsureSlots(size_t n);
  void WriteEntry(size_t i, std::string_view name, int32_t offset, int32_t size, int32_t state);

  std::string header_ = std::string(kContainerHeaderSize, '\0');
  int count_ = 0;
  std::vector<TCopyFileEntry> slots_;
  std::string data_;
};
