#pragma once
// Little-endian readers and writers. Every read goes through one bounds check, so a short
// input is an error by construction.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "core/Exception.h"
#include "core/Streams.h"

// The one place bytes become integers and back.
template <typename T>
T LoadLE(const void* p) {
  const auto* b = static_cast<const uint8_t*>(p);
  std::make_unsigned_t<T> v = 0;
  for (size_t i = 0; i < sizeof(T); ++i) v |= static_cast<std::make_unsigned_t<T>>(std::make_unsigned_t<T>(b[i]) << (8 * i));
  return static_cast<T>(v);
}
template <typename T>
void StoreLE(void* p, T v) {
  auto* b = static_cast<uint8_t*>(p);
  const auto u = static_cast<std::make_unsigned_t<T>>(v);
  for (size_t i = 0; i < sizeof(T); ++i) b[i] = static_cast<uint8_t>((u >> (8 * i)) & 0xFF);
}

// The checked reader, over bytes in memory or a stream from its current position. Every
// read is tested against the limit first: the source's end, or the end of the block being
// read (PushLimit). A read that would pass it calls onShort, which raises the caller's own
// error (EReadError when none is given), and moves nothing.
class ByteReader {
 public:
  using ShortInput = void (*)();

  ByteReader(const void* data, size_t size, ShortInput onShort = nullptr)
      : p_(static_cast<const uint8_t*>(data)), size_(size), limit_(size), onShort_(onShort) {}
  explicit ByteReader(std::string_view s, ShortInput onShort = nullptr) : ByteReader(s.data(), s.size(), onShort) {}
  // Positions are the stream's own; others may move the stream between reads.
  explicit ByteReader(TStream& stream, ShortInput onShort = nullptr);

  size_t Pos() const;
  size_t Size() const { return size_; }
  // End of what may be read now.
  size_t Limit() const { return limit_; }
  size_t Remaining() const {
    const size_t pos = Pos();
    return pos < limit_ ? limit_ - pos : 0;
  }
  bool Has(size_t n) const { return n <= Remaining(); }

  void Seek(size_t pos);
  void Skip(size_t n) {
    Need(n);
    Advance(n);
  }
  void Read(void* dst, size_t n) {
    Need(n);
    Fetch(dst, n);
  }
  std::string Bytes(size_t n) {
    Need(n);  // before allocating: a hostile length costs nothing
    std::string s(n, '\0');
    Fetch(s.data(), n);
    return s;
  }
  // Memory sources only.
  std::string_view View(size_t n);

  // Bounds reads to end (at most the present limit) until the matching PopLimit.
  void PushLimit(size_t end);
  void PopLimit();

  uint8_t U8() { return Get<uint8_t>(); }
  int8_t I8() { return Get<int8_t>(); }
  uint16_t U16() { return Get<uint16_t>(); }
  int16_t I16() { return Get<int16_t>(); }
  uint32_t U32() { return Get<uint32_t>(); }
  int32_t I32() { return Get<int32_t>(); }
  uint64_t U64() { return Get<uint64_t>(); }
  int64_t I64() { return Get<int64_t>(); }
  double F64() {
    uint64_t bits = U64();
    double d;
    std::memcpy(&d, &bits, 8);
    return d;
  }
  float F32() {
    uint32_t bits = U32();
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
  }
  // 80-bit extended, as the framework streams it, narrowed to double.
  double F80();

  [[noreturn]] void Short() const;

 private:
  void Need(size_t n) const {
    if (n > Remaining()) Short();
  }
  void Fetch(void* dst, size_t n);
  void Advance(size_t n);
  template <typename T>
  T Get() {
    Need(sizeof(T));
    if (!stream_) {
      const T v = LoadLE<T>(p_ + pos_);
      pos_ += sizeof(T);
      return v;
    }
    uint8_t b[sizeof(T)];
    Fetch(b, sizeof(T));
    return LoadLE<T>(b);
  }

  const uint8_t* p_ = nullptr;
  TStream* stream_ = nullptr;
  size_t size_ = 0;
  size_t pos_ = 0;
  size_t limit_ = 0;
  std::vector<size_t> outerLimits_;
  ShortInput onShort_ = nullptr;
};

class ByteWriter {
 public:
  size_t Size() const { return buf_.size(); }
  const std::string& Str() const { return buf_; }
  std::string Take() { return std::move(buf_); }
  void Reserve(size_t n) { buf_.reserve(n); }

  void U8(uint8_t v) { buf_.push_back(static_cast<char>(v)); }
  void I8(int8_t v) { U8(static_cast<uint8_t>(v)); }
  void U16(uint16_t v) { Put(v); }
  void I16(int16_t v) { Put(static_cast<uint16_t>(v)); }
  void U32(uint32_t v) { Put(v); }
  void I32(int32_t v) { Put(static_cast<uint32_t>(v)); }
  void U64(uint64_t v) { Put(v); }
  void I64(int64_t v) { Put(static_cast<uint64_t>(v)); }
  void F64(double d) {
    uint64_t bits;
    std::memcpy(&bits, &d, 8);
    U64(bits);
  }
  void F32(float f) {
    uint32_t bits;
    std::memcpy(&bits, &f, 4);
    U32(bits);
  }
  void F80(double d);
  void Bytes(std::string_view s) { buf_.append(s); }
  void Bytes(const void* p, size_t n) { buf_.append(static_cast<const char*>(p), n); }
  void Zeros(size_t n) { buf_.append(n, '\0'); }
  // Overwrites four bytes already written (a size filled in once known).
  void PatchI32(size_t pos, int32_t v) {
    if (pos + 4 > buf_.size()) throw EWriteError();
    StoreLE(buf_.data() + pos, v);
  }

 private:
  template <typename T>
  void Put(T v) {
    char b[sizeof(T)];
    StoreLE(b, v);
    buf_.append(b, sizeof(T));
  }
  std::string buf_;
};

// Helpers for code that works on raw buffers.
inline int32_t GetI32LE(const void* p) { return LoadLE<int32_t>(p); }
inline void PutI32LE(void* p, int32_t v) { StoreLE(p, v); }
