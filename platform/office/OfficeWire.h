#pragma once
// The messages between the control and its office worker (apps/tarvo-office), shared by
// both sides and free of any library: a frame is a 32-bit little-endian payload length
// and the payload; a request payload is u32 id, u8 op and the op's arguments; a reply is
// u32 id, u8 status (0 ok, 1 failed, 2 the office suite cannot start), then the results or,
// when not ok, the error text.
// While the worker works on a request it sends a sign of life every second: a reply
// with id 0 (no request has it) and nothing after its status.
// Integers are little-endian, texts and byte blocks a u32 length and the bytes (UTF-8).
#include <cstdint>
#include <string>
#include <string_view>

#include "core/ByteIO.h"
#include "core/Exception.h"

namespace office_wire {

// Far above any page image we ask for; a larger announced length is a broken peer.
constexpr uint32_t kMaxFrame = 256u * 1024 * 1024;

// The id of the worker's sign of life, and how often it comes while a request runs.
constexpr uint32_t kAliveId = 0;
constexpr int kAliveIntervalMs = 1000;

enum class Op : uint8_t {
  // Every request but Open and Ping starts with the u32 document number Open returned.
  Open = 1,        // path, options -> u32 document, i32 doc type, i64 width, height (twips), i32 parts
  Close = 2,       // -
  Paint = 3,       // i32 px width, px height, twips x, y, width, height -> bytes (BGRA)
  Key = 4,         // i32 type, char code, key code -> -
  Text = 5,        // text -> -
  Mouse = 6,       // i32 type, x, y (twips), count, buttons, modifiers -> -
  Uno = 7,         // command, JSON arguments -> u8 success
  State = 8,       // command -> text ("" when never reported)
  SaveAs = 9,      // path, format, filter options -> -
  DocSize = 10,    // - -> i64 width, i64 height, text page rectangles
  Values = 11,     // command -> text
  Ping = 12,       // - -> -
};

class Writer {
 public:
  void U8(uint8_t v) { buf_.push_back(static_cast<char>(v)); }
  void U32(uint32_t v) {
    char b[4];
    StoreLE(b, v);
    buf_.append(b, 4);
  }
  void I32(int32_t v) { U32(static_cast<uint32_t>(v)); }
  void I64(int64_t v) {
    U32(static_cast<uint32_t>(static_cast<uint64_t>(v) & 0xFFFFFFFFu));
    U32(static_cast<uint32_t>(static_cast<uint64_t>(v) >> 32));
  }
  void Str(std::string_view s) {
    U32(static_cast<uint32_t>(s.size()));
    buf_.append(s.data(), s.size());
  }
  void Raw(std::string_view s) { buf_.append(s.data(), s.size()); }
  const std::string& Payload() const { return buf_; }
  // The payload with its length in front, ready to send.
  std::string Frame() const {
    Writer w;
    w.U32(static_cast<uint32_t>(buf_.size()));
    return w.buf_ + buf_;
  }

 private:
  std::string buf_;
};

// A message from the other side that does not hold what its layout says.
class WireError : public Exception {
 public:
  using Exception::Exception;
};

// Reads a payload where it lies, through the checked reader: a short payload is an error
// by construction, and a length is checked before anything is taken. The payload must
// outlive the reader, so a temporary one is refused.
class Reader {
 public:
  explicit Reader(std::string_view data) : in_(data, &Short) {}
  explicit Reader(const std::string& data) : Reader(std::string_view(data)) {}
  explicit Reader(std::string&&) = delete;
  uint8_t U8() { return in_.U8(); }
  uint32_t U32() { return in_.U32(); }
  int32_t I32() { return in_.I32(); }
  int64_t I64() { return in_.I64(); }
  // A text or byte block, in place.
  std::string_view View() { return in_.View(in_.U32()); }
  std::string Str() { return std::string(View()); }
  bool AtEnd() const { return in_.Remaining() == 0; }

 private:
  [[noreturn]] static void Short() { throw WireError("office message ends early"); }
  ByteReader in_;
};

inline uint32_t FrameLength(const char* four) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= uint32_t(static_cast<uint8_t>(four[i])) << (8 * i);
  return v;
}

}  // namespace office_wire
