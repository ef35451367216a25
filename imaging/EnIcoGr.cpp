#include "imaging/EnIcoGr.h"

#include <cstring>
#include <string>

#include "core/ByteIO.h"
#include "imaging/EnPngGr.h"

namespace {

[[noreturn]] void InvalidIcon() { throw EInvalidGraphic("Invalid icon"); }

struct IconEntry {
  int width, height;
  uint32_t size, offset;
};

IconEntry ReadFirstEntry(ByteReader& r) {
  if (r.U16() != 0 || r.U16() != 1 || r.U16() == 0) InvalidIcon();
  IconEntry e{};
  e.width = r.U8();
  e.height = r.U8();
  r.Skip(6);  // colours, reserved, planes, bit count
  e.size = r.U32();
  e.offset = r.U32();
  if (e.offset > r.Size() || e.size > r.Size() - e.offset || e.size < 8) InvalidIcon();
  return e;
}

// A bitmap entry: an info header with twice the height, the colour rows, then
// a 1-bit mask whose set bits are transparent.
void LoadBitmapEntry(TDibGraphic& out, const uint8_t* p, size_t n) {
  ByteReader r(p, n);
  const uint32_t headerSize = r.U32();
  const int32_t width = r.I32();
  const int32_t doubled = r.I32();
  r.Skip(2);
  const int bits = r.U16();
  const uint32_t compression = r.U32();
  if (headerSize < 40 || headerSize > n || width <= 0 || width > 1024 || doubled <= 1 ||
      doubled > 2048 || compression != 0)
    InvalidIcon();
  const int height = doubled / 2;
  const int64_t maskRow = BytesPerRow(width, 1);
  const int64_t colorRow = BytesPerRow(width, bits);
  const size_t colors = bits <= 8 ? size_t(1) << bits : 0;
  const size_t colorBytes = size_t(colorRow * height);
  // A 32-bit image carries its transparency as alpha, so its mask may be cut.
  const size_t needed =
      headerSize + colors * 4 + colorBytes + (bits == 32 ? 0 : size_t(maskRow * height));
  if (needed > n) InvalidIcon();

  out.NewImage(width, height, ifTrueColor, nullptr, 0, 0);
  if (bits == 32) {
    // Alpha blends the colour onto black.
    const uint8_t* rows = p + headerSize;
    for (int y = 0; y < height; ++y) {
      const uint8_t* src = rows + (height - 1 - y) * colorRow;
      uint8_t* dst = out.ScanLine(y);
      for (int x = 0; x < width; ++x)
        for (int c = 0; c < 3; ++c) dst[3 * x + c] = uint8_t(src[4 * x + c] * src[4 * x + 3] / 255);
    }
    return;
  }
  // Other depths go through the packed bitmap import with the real height.
  std::string dib(reinterpret_cast<const char*>(p), headerSize + colors * 4 + colorBytes);
  PutI32LE(dib.data() + 8, height);
  TDibGraphic colour;
  try {
    colour.AssignFromHDIB(dib.data(), dib.size());
  } catch (const EImagingError&) {
    InvalidIcon();
  }
  const uint8_t* mask = p + headerSize + colors * 4 + colorBytes;
  for (int y = 0; y < height; ++y) {
    const uint8_t* m = mask + (height - 1 - y) * maskRow;
    for (int x = 0; x < width; ++x)
      if (!((m[x / 8] >> (7 - x % 8)) & 1)) out.SetPixelRGB(x, y, colour.GetPixelRGB(x, y));
  }
}

}  // namespace

void TIconGraphic::LoadImageFromStream(TStream& stream, int) {
  const std::string data = stream.ReadRest();
  try {
    ByteReader r(data);
    const IconEntry e = ReadFirstEntry(r);
    const uint8_t* p = reinterpret_cast<const uint8_t*>(data.data()) + e.offset;
    static const uint8_t kPng[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (std::memcmp(p, kPng, 8) == 0) {
      TPngGraphic png;  // composites onto black by default
      TMemoryStream s(data.substr(e.offset, e.size));
      png.LoadFromStream(s);
      NewImage(png.Width(), png.Height(), ifTrueColor, nullptr, 0, 0);
      std::vector<uint8_t> row(size_t(png.Width()) * 3);
      for (int y = 0; y < png.Height(); ++y) {
        png.ReadRowRGB(y, row.data());
        WriteRowRGB(y, row.data());
      }
      return;
    }
    LoadBitmapEntry(*this, p, e.size);
  } catch (const EReadError&) {
    InvalidIcon();
  }
}

void TIconGraphic::SaveToStream(TStream& stream) {
  constexpr int n = kIconSize;
  constexpr int colorRow = n * 3;
  constexpr int maskRow = 4;
  constexpr uint32_t imageSize = 40 + n * colorRow + n * maskRow;
  ByteWriter w;
  w.U16(0);
  w.U16(1);
  w.U16(1);
  w.U8(n);
  w.U8(n);
  w.U8(0);
  w.U8(0);
  w.U16(1);
  w.U16(24);
  w.U32(imageSize);
  w.U32(22);
  w.U32(40);
  w.I32(n);
  w.I32(2 * n);
  w.U16(1);
  w.U16(24);
  w.U32(0);
  w.U32(imageSize - 40);
  w.Zeros(16);
  // Drawn unscaled at the top left: larger images are cut, the rest stays black.
  std::vector<uint8_t> rgb(IsEmpty() ? 0 : size_t(Width()) * 3);
  for (int row = n - 1; row >= 0; --row) {
    uint8_t line[colorRow] = {};
    if (!IsEmpty() && row < Height()) {
      ReadRowRGB(row, rgb.data());
      std::memcpy(line, rgb.data(), size_t(std::min(Width(), n)) * 3);
    }
    w.Bytes(line, colorRow);
  }
  w.Zeros(size_t(n) * maskRow);  // all opaque
  stream.WriteBuffer(w.Str().data(), int64_t(w.Size()));
}
