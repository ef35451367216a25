#include "grid/XLStream.h"

#include <cstring>

#include "grid/XLManager.h"

TXLReader::TXLReader(TStream& stream) : stream_(stream) { limits_.push_back(stream.Size()); }

void TXLReader::Fail() { throw EXLGridError(SXLStreamCorrupt); }

void TXLReader::Need(int64_t n) {
  if (n < 0 || n > Remaining()) throw EXLGridError(SXLStreamTruncated);
}

uint8_t TXLReader::ReadU8() {
  Need(1);
  uint8_t b;
  stream_.ReadBuffer(&b, 1);
  return b;
}

uint16_t TXLReader::ReadU16() {
  Need(2);
  uint8_t b[2];
  stream_.ReadBuffer(b, 2);
  return uint16_t(b[0] | (b[1] << 8));
}

int32_t TXLReader::ReadInt() {
  Need(4);
  uint8_t b[4];
  stream_.ReadBuffer(b, 4);
  return int32_t(uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24);
}

int64_t TXLReader::ReadI64() {
  Need(8);
  uint8_t b[8];
  stream_.ReadBuffer(b, 8);
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | b[i];
  return int64_t(v);
}

double TXLReader::ReadDouble() {
  const uint64_t bits = uint64_t(ReadI64());
  double d;
  std::memcpy(&d, &bits, 8);
  return d;
}

std::string TXLReader::ReadBytes(int64_t n) {
  Need(n);
  std::string s(size_t(n), '\0');
  if (n > 0) stream_.ReadBuffer(s.data(), n);
  return s;
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
  bool ok = true;
  limits_.push_back(end);
  try {
    body();
  } catch (const Exception&) {
    ok = false;
  }
  limits_.pop_back();
  stream_.SetPosition(end);
  return ok;
}

void TXLWriter::WriteU8(uint8_t v) { stream_.WriteBuffer(&v, 1); }

void TXLWriter::WriteU16(uint16_t v) {
  const uint8_t b[2] = {uint8_t(v), uint8_t(v >> 8)};
  stream_.WriteBuffer(b, 2);
}

void TXLWriter::WriteInt(int32_t v) {
  const uint32_t u = uint32_t(v);
  const uint8_t b[4] = {uint8_t(u), uint8_t(u >> 8), uint8_t(u >> 16), uint8_t(u >> 24)};
  stream_.WriteBuffer(b, 4);
}

void TXLWriter::WriteI64(int64_t v) {
  uint8_t b[8];
  for (int i = 0; i < 8; ++i) b[i] = uint8_t(uint64_t(v) >> (8 * i));
  stream_.WriteBuffer(b, 8);
}

void TXLWriter::WriteDouble(double v) {
  uint64_t bits;
  std::memcpy(&bits, &v, 8);
  WriteI64(int64_t(bits));
}

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
