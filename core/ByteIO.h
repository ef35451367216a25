#pragma once
// Little-endian readers and writers. Every read goes through one bounds check, so a short
// input is an error by construction.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "core/Exception.h"

class ByteReader {
 public:
  ByteReader(const void* data, size_t size) : p_(static_cast<const uint8_t*>(data)), size_(size) {}
  explicit ByteReader(std::string_view s) : ByteReader(s.data(), s.size()) {}

  size_t Pos() const { return pos_; }
  size_t Size() const { return size_; }
  size_t Remaining() const { return size_ - pos_; }
  bool Has(size_t n) const { return n <= Remaining(); }
  const uint8_t* Data() const { return p_; }

  void Seek(size_t pos) {
    if (pos > size_) throw EReadError();
    pos_ = pos;
  }
  void Skip(size_t n) {
    Need(n);
    pos_ += n;
  }
  void Read(void* dst, size_t n) {
    Need(n);
    if (n) std::memcpy(dst, p_ + pos_, n);
    pos_ += n;
  }
  std::string Bytes(size_t n) {
    Need(n);
    std::string s(reinterpret_cast<const char*>(p_ + pos_), n);
    pos_ += n;
    return s;
  }
  std::string_view View(size_t n) {
    Need(n);
    std::string_view s(reinterpret_cast<const char*>(p_ + pos_), n);
    pos_ += n;
    return s;
  }

  uint8_t U8() { return Get<uint8_t>(); }
  int8_t I8() { return static_cast<int8_t>(Get<uint8_t>()); }
  uint16_t U16() { return Get<uint16_t>(); }
  int16_t I16() { return static_cast<int16_t>(Get<uint16_t>()); }
  uint32_t U32() { return Get<uint32_t>(); }
  int32_t I32() { return static_cast<int32_t>(Get<uint32_t>()); }
  uint64_t U64() { return Get<uint64_t>(); }
  int64_t I64() { return static_cast<int64_t>(Get<uint64_t>()); }
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

 private:
  void Need(size_t n) const {
    if (n > Remaining()) throw EReadError();
  }
  template <typename T>
  T Get() {
    Need(sizeof(T));
    T v = 0;
    for (size_t i = 0; i < sizeof(T); ++i) v |= static_cast<T>(static_cast<T>(p_[pos_ + i]) << (8 * i));
    pos_ += sizeof(T);
    return v;
  }

  const uint8_t* p_;
  size_t size_;
  size_t pos_ = 0;
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
    for (int i = 0; i < 4; ++i) buf_[pos + i] = static_cast<char>((static_cast<uint32_t>(v) >> (8 * i)) & 0xFF);
  }

 private:
  template <typename T>
  void Put(T v) {
    for (size_t i = 0; i < sizeof(T); ++i) buf_.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  }
  std::string buf_;
};

// Helpers for code that works on raw buffers.
inline int32_t GetI32LE(const void* p) {
  const auto* b = static_cast<const uint8_t*>(p);
  return static_cast<int32_t>(uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24);
}
inline void PutI32LE(void* p, int32_t v) {
  auto* b = static_cast<uint8_t*>(p);
  for (int i = 0; i < 4; ++i) b[i] = static_cast<uint8_t>((static_cast<uint32_t>(v) >> (8 * i)) & 0xFF);
}
