#include "grid/XLStream.h"

#include "core/ScopeGuard.h"
#include "grid/XLManager.h"

TXLReader::TXLReader(TStream& stream) : stream_(stream), in_(stream, RaiseXLStreamTruncated) {}

void TXLReader::Fail() { throw EXLGridError(SXLStreamCorrupt); }

uint8_t TXLReader::ReadU8() { return in_.U8(); }
uint16_t TXLReader::ReadU16() { return in_.U16(); }
int32_t TXLReader::ReadInt() { return in_.I32(); }
int64_t TXLReader::ReadI64() { return in_.I64(); }
double TXLReader::ReadDouble() { return in_.F64(); }

std::string TXLReader::ReadBytes(int64_t n) {
  if (n < 0) RaiseXLStreamTruncated();
  return in_.Bytes(size_t(n));
}

AnsiString TXLReader::ReadString() {
  const int32_t n = ReadInt();
  if (n <= 0) return {};
  return ReadBytes(n);
}

AnsiString TXLReader::ReadShortString() { return ReadBytes(ReadU8()); }

int32_t TXLReader::ReadCount(int64_t minRecordBytes) {
  const int32_t n = ReadInt();
  if (n < 0) Fail();
  if (minRecordBytes > 0 && int64_t(n) > Remaining() / minRecordBytes) Fail();
  return n;
}

int32_t TXLReader::ReadIndex(int32_t maxIndex) {
  const int32_t i = ReadInt();
  if (i < 0 || i > maxIndex) Fail();
  return i;
}

void TXLReader::ChargePageTable(int64_t entries) {
  pageTableUsed_ += entries;
  if (pageTableUsed_ > kPageTableBudget) Fail();
}

bool TXLReader::ReadBlock(const std::function<void()>& body) {
  const int64_t start = Pos();
  const int32_t size = ReadInt();
  if (size < 4) Fail();
  if (size > Limit() - start) throw EXLGridError(SXLStreamTruncated);
  const int64_t end = start + size;
  in_.PushLimit(size_t(end));
  const auto leave = ScopeExit([&] {
    in_.PopLimit();
    stream_.SetPosition(end);
  });
  try {
    body();
  } catch (const Exception&) {
    return false;
  }
  return true;
}

void TXLWriter::WriteU8(uint8_t v) { stream_.WriteBuffer(&v, 1); }

void TXLWriter::WriteU16(uint16_t v) { WriteWord(stream_, v); }
void TXLWriter::WriteInt(int32_t v) { ::WriteInt(stream_, v); }

void TXLWriter::WriteI64(int64_t v) {
  uint8_t b[8];
  StoreLE(b, v);
  stream_.WriteBuffer(b, 8);
}

void TXLWriter::WriteDouble(double v) { ::WriteDouble(stream_, v); }

void TXLWriter::WriteString(const AnsiString& s) {
  WriteInt(int32_t(s.size()));
  WriteBytes(s);
}

void TXLWriter::WriteShortString(const AnsiString& s) {
  const size_t n = s.size() > 255 ? 255 : s.size();
  WriteU8(uint8_t(n));
  WriteBytes(s.substr(0, n));
}

void TXLWriter::WriteBytes(const std::string& s) {
  if (!s.empty()) stream_.WriteBuffer(s.data(), int64_t(s.size()));
}

void TXLWriter::WriteBlock(const std::function<void()>& body) {
  const int64_t start = stream_.Position();
  WriteInt(0);
  body();
  const int64_t end = stream_.Position();
  stream_.SetPosition(start);
  WriteInt(int32_t(end - start));
  stream_.SetPosition(end);
}
