#pragma once
// Checked reading and plain writing of the grid's stream primitives: little-endian int32,
// 8-byte doubles, strings as an int32 length and bytes, and blocks that carry their own size.
// Every read is tested against the bytes present (and the end of the block being read), so
// a short or hostile stream is a format error, never an over-read or a huge allocation.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/AnsiString.h"
#include "core/ByteIO.h"
#include "core/Streams.h"
#include "grid/XLLists.h"

class TXLReader {
 public:
  explicit TXLReader(TStream& stream);

  TStream& Stream() { return stream_; }
  // The checked reader underneath, for parts (the sparse lists) that read core types.
  ByteReader& In() { return in_; }
  int64_t Pos() { return int64_t(in_.Pos()); }
  // End of what may be read now: the stream's end or the end of the block being read.
  int64_t Limit() const { return int64_t(in_.Limit()); }
  int64_t Remaining() { return int64_t(in_.Remaining()); }

  uint8_t ReadU8();
  uint16_t ReadU16();
  int32_t ReadInt();
  int64_t ReadI64();
  double ReadDouble();
  AnsiString ReadString();
  // u8 length, then the bytes.
  AnsiString ReadShortString();
  std::string ReadBytes(int64_t n);
  // A count of records that each take at least minRecordBytes; more than the bytes left
  // can hold is a format error.
  int32_t ReadCount(int64_t minRecordBytes);
  // An index in 0..maxIndex.
  int32_t ReadIndex(int32_t maxIndex);

  // Reads one sized block: the int32 size (counting itself) must be at least 4 and end
  // inside what may be read. body runs with reads limited to the block; a failure inside
  // it is swallowed (the object keeps what it read) and reading goes on at the block's end.
  // Returns false when the body failed.
  bool ReadBlock(const std::function<void()>& body);

  [[noreturn]] static void Fail();

  // Sparse lists size their page tables by the highest page they hold, so a few bytes can
  // ask for a large table; what one stream may make in all is bounded.
  static constexpr int64_t kPageTableBudget = XLStreamPageTableBudget;
  void ChargePageTable(int64_t entries);

 private:
  TStream& stream_;
  ByteReader in_;
  int64_t pageTableUsed_ = 0;
};

class TXLWriter {
 public:
  explicit TXLWriter(TStream& stream) : stream_(stream) {}
  TStream& Stream() { return stream_; }

  void WriteU8(uint8_t v);
  void WriteU16(uint16_t v);
  void WriteInt(int32_t v);
  void WriteI64(int64_t v);
  void WriteDouble(double v);
  void WriteString(const AnsiString& s);
  void WriteShortString(const AnsiString& s);
  void WriteBytes(const std::string& s);
  // Reserves the size field, runs body, then writes the block's size in place.
  void WriteBlock(const std::function<void()>& body);

 private:
  TStream& stream_;
};
