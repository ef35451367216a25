#include "control/wire/Un_CopyFiles.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <limits>

#include "control/wire/Frames.h"
#include "control/wire/RecordReader.h"
#include "control/wire/ReplyText.h"
#include "core/SaveFile.h"

namespace {

constexpr size_t kNameSize = 255;

TCopyFileEntry ReadEntry(std::string_view bytes) {
  wire::RecordReader r(bytes, kContainerEntrySize, "Attachment entry");
  TCopyFileEntry e;
  e.index = r.I32(0);
  e.name = r.Text(4, kNameSize);
  e.offset = r.I32(260);
  e.size = r.I32(264);
  e.state = r.I32(268);
  return e;
}

std::string WriteEntryBytes(const TCopyFileEntry& e) {
  return frames::FrameWriter(kContainerEntrySize)
      .I32(0, e.index)
      .Text(4, kNameSize, e.name)
      .I32(260, e.offset)
      .I32(264, e.size)
      .I32(268, e.state)
      .Take();
}

int32_t CheckedSize(size_t n) {
  if (n > size_t(std::numeric_limits<int32_t>::max())) throw frames::EFrameError("Attachment too large");
  return int32_t(n);
}

}  // namespace

void TCopy2Files::Init(int n) {
  header_.assign(kContainerHeaderSize, '\0');
  count_ = 0;
  data_.clear();
  slots_.assign(size_t(std::max(n, 0)), TCopyFileEntry{});
}

void TCopy2Files::Grow(int n) { slots_.resize(slots_.size() + size_t(std::max(n, 0))); }

void TCopy2Files::EnsureSlots(size_t n) {
  if (slots_.size() < n) slots_.resize(n);
}

void TCopy2Files::LoadFromStream(TStream& stream) { LoadFromBytes(stream.ReadRest()); }

void TCopy2Files::LoadFromBytes(std::string_view bytes) {
  // What an empty container saves as.
  if (bytes.empty()) {
    header_.assign(kContainerHeaderSize, '\0');
    count_ = 0;
    data_.clear();
    std::fill(slots_.begin(), slots_.end(), TCopyFileEntry{});
    return;
  }
  wire::RecordReader r(bytes, kContainerHeaderSize, "Attachment container");
  const int32_t count = r.I32(0);
  if (count < 0) wire::Refuse("Attachment container: negative count");
  const uint64_t entriesEnd = kContainerHeaderSize + uint64_t(count) * kContainerEntrySize;
  if (entriesEnd > bytes.size()) wire::Refuse("Attachment container: entries beyond its end");
  const std::string_view data = bytes.substr(size_t(entriesEnd));
  std::vector<TCopyFileEntry> entries;
  entries.reserve(size_t(count));
  int64_t end = 0;
  for (int32_t i = 0; i < count; ++i) {
    TCopyFileEntry e = ReadEntry(bytes.substr(kContainerHeaderSize + size_t(i) * kContainerEntrySize));
    // Every later operation relies on files lying end to end inside the data.
    if (e.offset != end || e.size < 0 || uint64_t(end) + uint64_t(e.size) > data.size())
      wire::Refuse("Attachment container: file outside its data");
    end += e.size;
    entries.push_back(std::move(e));
  }
  header_.assign(bytes.substr(0, kContainerHeaderSize));
  count_ = count;
  EnsureSlots(entries.size());
  // Slots beyond the loaded files are empty: none of an earlier container may linger.
  std::fill(slots_.begin(), slots_.end(), TCopyFileEntry{});
  std::move(entries.begin(), entries.end(), slots_.begin());
  data_.assign(data);
}

void TCopy2Files::SaveToStream(TStream& stream) const {
  stream.SetSize(0);
  stream.SetPosition(0);
  if (count_ == 0) return;
  stream.WriteString(SaveToBytes());
}

std::string TCopy2Files::SaveToBytes() const {
  if (count_ == 0) return {};
  std::string out = header_;
  PutI32LE(out.data(), count_);
  PutI32LE(out.data() + 4, CheckedSize(kContainerHeaderSize + size_t(count_) * kContainerEntrySize));
  out.reserve(out.size() + size_t(count_) * kContainerEntrySize + data_.size());
  for (int i = 0; i < count_; ++i) out += WriteEntryBytes(slots_[size_t(i)]);
  out += data_;
  return out;
}

std::string TCopy2Files::SaveToBytesWithHeader() const {
  if (count_ > 0) return SaveToBytes();
  std::string out = frames::FrameWriter(header_).Text(8, 4, "V1.0").Text(29, 4, "zelt").Take();
  PutI32LE(out.data(), 0);
  PutI32LE(out.data() + 4, int32_t(kContainerHeaderSize));
  return out;
}

int32_t TCopy2Files::CopyNumber() const {
  int32_t v = 0;
  for (size_t i = 0; i < 4; ++i) v |= int32_t(uint8_t(header_[kContainerCopyAt + i])) << (8 * i);
  return v;
}

void TCopy2Files::SetCopyNumber(int32_t copy) { PutI32LE(header_.data() + kContainerCopyAt, copy); }

void TCopy2Files::WriteEntry(size_t i, std::string_view name, int32_t offset, int32_t size, int32_t state) {
  TCopyFileEntry e;
  const int32_t top = MaxIndex();
  e.index = top < std::numeric_limits<int32_t>::max() ? top + 1 : top;
  const std::string_view bare = name.substr(LastComponentStart(name));
  e.name = AnsiString(bare.substr(0, std::min(bare.size(), kNameSize)));
  e.offset = offset;
  e.size = size;
  e.state = state;
  slots_[i] = std::move(e);
}

void TCopy2Files::AddStream(std::string_view name, std::string_view data, int32_t state) {
  const int32_t size = CheckedSize(data.size());
  const size_t i = size_t(count_);
  int32_t offset = 0;
  if (i > 0) offset = CheckedSize(size_t(slots_[i - 1].offset) + size_t(slots_[i - 1].size));
  CheckedSize(size_t(offset) + data.size());
  header_ = frames::FrameWriter(std::move(header_)).Text(8, 4, "V1.0").Text(29, 4, "zelt").Take();
  EnsureSlots(i + 1);
  ++count_;
  WriteEntry(i, name, offset, size, state);
  // Bytes beyond the last file (none in a well-formed container) are dropped.
  data_.resize(size_t(offset));
  data_.append(data);
}

bool TCopy2Files::AddFile(const std::string& path, std::string_view name, int32_t state) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return false;
  AddStream(name.empty() ? std::string_view(path) : name, data, state);
  return true;
}

void TCopy2Files::ReplaceFile(std::string_view name, std::string_view data) { ReplaceFileAt(IndexOf(name), data); }

void TCopy2Files::ReplaceFileAt(int i, std::string_view data) {
  if (i < 0 || i >= count_ || slots_[size_t(i)].state == fsRemoved) return;
  const TCopyFileEntry old = slots_[size_t(i)];
  const int32_t size = CheckedSize(data.size());
  CheckedSize(data_.size() - size_t(old.size) + data.size());
  data_.replace(size_t(old.offset), size_t(old.size), data);
  WriteEntry(size_t(i), old.name, old.offset, size, fsReplaced);
  for (size_t j = size_t(i) + 1; j < size_t(count_); ++j) {
    const TCopyFileEntry prev = slots_[j - 1];
    const TCopyFileEntry cur = slots_[j];
    WriteEntry(j, cur.name, prev.offset + prev.size, cur.size, cur.state);
  }
}

void TCopy2Files::RemoveFile(std::string_view name) { RemoveFileAt(IndexOf(name)); }

void TCopy2Files::RemoveFileAt(int i) {
  if (i >= 0 && i < count_) slots_[size_t(i)].state = fsRemoved;
}

std::string_view TCopy2Files::FileData(int i) const {
  if (i < 0 || i >= count_) return {};
  const TCopyFileEntry& e = slots_[size_t(i)];
  return std::string_view(data_).substr(size_t(e.offset), size_t(e.size));
}

void TCopy2Files::ExtractToStream(int i, TStream& stream) const {
  if (i < 0 || i >= count_) return;
  const std::string_view d = FileData(i);
  stream.WriteBuffer(d.data(), int64_t(d.size()));
}

void TCopy2Files::SaveFileAs(int i, const std::string& path) const {
  if (i < 0 || i >= count_) return;
  // A copy the person keeps: a failed save leaves the old file as it was.
  SaveWholeFile(path, FileData(i));
}

AnsiString TCopy2Files::GetFileName(int i) const {
  return i >= 0 && i < int(slots_.size()) ? slots_[size_t(i)].name : AnsiString();
}

int32_t TCopy2Files::GetState(int i) const {
  return i >= 0 && i < int(slots_.size()) ? slots_[size_t(i)].state : fsEmpty;
}

int TCopy2Files::IndexOf(std::string_view name) const {
  for (size_t i = 0; i < slots_.size(); ++i)
    if (slots_[i].name == name && slots_[i].state != fsRemoved) return int(i);
  return -1;
}

int32_t TCopy2Files::MaxIndex() const {
  int32_t m = 0;
  for (const TCopyFileEntry& e : slots_) m = std::max(m, e.index);
  return m;
}

bool TCopy2Files::HasChanges() const {
  return std::any_of(slots_.begin(), slots_.end(),
                     [](const TCopyFileEntry& e) { return e.state != fsEmpty && e.state != fsFromServer; });
}

void TCopy2Files::SetAllStates(int32_t state) {
  for (TCopyFileEntry& e : slots_)
    if (e.state != fsRemoved) e.state = state;
}
