// The one random-access reader over received frames and fixed-layout records, read
// through the checked ByteReader. The record's size is required up front, so a short
// record is refused before any field is read; every refusal, a field past the end
// included, is a frames::EFrameError: the dispatcher drops the reply and tells the
// person, in a box, that the operation did not complete.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "control/wire/Frames.h"
#include "core/ByteIO.h"

namespace wire {

[[noreturn]] inline void Refuse(const AnsiString& what) { throw frames::EFrameError(what); }

class RecordReader {
 public:
  // size: the bytes the record's fixed fields need; what: names it in the refusal.
  RecordReader(std::string_view bytes, size_t size, const char* what)
      : r_(bytes, [] { Refuse("Field beyond the end of its record"); }) {
    if (bytes.size() < size) Refuse(AnsiString(what) + " too short");
  }

  size_t Size() const { return r_.Size(); }
  int32_t I32(size_t at) { return r_.Seek(at), r_.I32(); }
  uint32_t U32(size_t at) { return r_.Seek(at), r_.U32(); }
  uint8_t U8(size_t at) { return r_.Seek(at), r_.U8(); }
  double F64(size_t at) { return r_.Seek(at), r_.F64(); }
  std::string_view View(size_t at, size_t n) { return r_.Seek(at), r_.View(n); }

  // s[N]; a length byte above N is refused.
  AnsiString Text(size_t at, size_t n) {
    r_.Seek(at);
    const size_t len = r_.U8();
    if (len > n) Refuse("Text length beyond its field");
    return AnsiString(r_.View(n).substr(0, len));
  }
  // s[N] with a length byte above N read as N.
  AnsiString ClampedText(size_t at, size_t n) {
    r_.Seek(at);
    const size_t len = r_.U8();
    return AnsiString(r_.View(n).substr(0, len < n ? len : n));
  }

 private:
  ByteReader r_;
};

}  // namespace wire
