#include "core/ByteIO.h"

#include <cmath>
#include <limits>

ByteReader::ByteReader(TStream& stream, ShortInput onShort) : stream_(&stream), onShort_(onShort) {
  const int64_t size = stream.Size();
  size_ = limit_ = size > 0 ? static_cast<size_t>(size) : 0;
}

size_t ByteReader::Pos() const {
  if (!stream_) return pos_;
  const int64_t pos = stream_->Position();
  return pos > 0 ? static_cast<size_t>(pos) : 0;
}

void ByteReader::Short() const {
  if (onShort_) onShort_();
  throw EReadError();
}

void ByteReader::Seek(size_t pos) {
  if (pos > limit_) Short();
  if (stream_)
    stream_->SetPosition(static_cast<int64_t>(pos));
  else
    pos_ = pos;
}

void ByteReader::Fetch(void* dst, size_t n) {
  if (n == 0) return;
  if (stream_) {
    stream_->ReadBuffer(dst, static_cast<int64_t>(n));
    return;
  }
  std::memcpy(dst, p_ + pos_, n);
  pos_ += n;
}

void ByteReader::Advance(size_t n) {
  if (stream_)
    stream_->Seek(static_cast<int64_t>(n), soCurrent);
  else
    pos_ += n;
}

std::string_view ByteReader::View(size_t n) {
  if (stream_) throw EReadError();
  Need(n);
  std::string_view s(reinterpret_cast<const char*>(p_ + pos_), n);
  pos_ += n;
  return s;
}

void ByteReader::PushLimit(size_t end) {
  if (end < Pos() || end > limit_) Short();
  outerLimits_.push_back(limit_);
  limit_ = end;
}

void ByteReader::PopLimit() {
  if (outerLimits_.empty()) return;
  limit_ = outerLimits_.back();
  outerLimits_.pop_back();
}

double ByteReader::F80() {
  uint64_t mant = U64();
  uint16_t se = U16();
  bool negative = (se & 0x8000) != 0;
  int exp = se & 0x7FFF;
  double v;
  if (exp == 0 && mant == 0) {
    v = 0.0;
  } else if (exp == 0x7FFF) {
    v = (mant << 1) == 0 ? std::numeric_limits<double>::infinity()
                         : std::numeric_limits<double>::quiet_NaN();
  } else {
    v = std::ldexp(static_cast<double>(mant), exp - 16383 - 63);
  }
  return negative ? -v : v;
}

void ByteWriter::F80(double d) {
  uint16_t sign = std::signbit(d) ? 0x8000 : 0;
  uint64_t mant = 0;
  uint16_t exp = 0;
  if (std::isnan(d)) {
    exp = 0x7FFF;
    mant = 0xC000000000000000ull;
  } else if (std::isinf(d)) {
    exp = 0x7FFF;
    mant = 0x8000000000000000ull;
  } else if (d != 0.0) {
    int e = 0;
    double m = std::frexp(std::fabs(d), &e);  // m in [0.5, 1)
    mant = static_cast<uint64_t>(std::ldexp(m, 64));
    exp = static_cast<uint16_t>(e - 1 + 16383);
  }
  U64(mant);
  U16(static_cast<uint16_t>(sign | exp));
}
