// Windows and OS/2 bitmaps. The pixels go through the image core's packed
// bitmap import, which already decodes RLE and flips top-down rows.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "core/ByteIO.h"
#include "imaging/EnDiGrph.h"
#include "imaging/bfm.h"

namespace bfmfmt {
namespace {

constexpr int kFileHeader = 14;

int Brightness(const BfmRgb& c) { return 30 * c.r + 60 * c.g + 10 * c.b; }

int64_t PaletteOffset(const BfmPrivate& p) { return p.base + kFileHeader + p.cbFix; }

}  // namespace

int BmpHeader(TStream& s, BFM& h, const char* options) {
  BfmPrivate& p = h.priv;
  uint8_t b[kFileHeader + 64] = {};
  s.Seek(0, soBeginning);
  if (!ReadExact(s, b, 2)) return BFM_ERR_READ;
  p.base = 0;
  if (b[0] == 'B' && b[1] == 'A') {  // a bitmap array: take its first bitmap
    p.base = 14;
    s.Seek(p.base, soBeginning);
    if (!ReadExact(s, b, 2)) return BFM_ERR_READ;
  }
  if (b[0] != 'B' || b[1] != 'M') return BFM_ERR_MAGIC;
  if (!ReadExact(s, b + 2, kFileHeader + 4 - 2)) return BFM_ERR_READ;
  p.offBits = LoadLE<uint32_t>(b + 10);
  const uint32_t cbFix = LoadLE<uint32_t>(b + 14);
  if (cbFix != 12 && !(cbFix >= 16 && cbFix <= 64 && (cbFix % 4 == 0 || cbFix == 42 || cbFix == 46)))
    return BFM_ERR_BMP_CBFIX;
  if (!ReadExact(s, b + 18, cbFix - 4)) return BFM_ERR_READ;
  p.cbFix = int32_t(cbFix);
  const uint8_t* f = b + 18;
  int64_t w, hh;
  int planes, bits;
  uint32_t compression = 0, used = 0;
  if (cbFix == 12) {
    w = LoadLE<uint16_t>(f);
    hh = LoadLE<uint16_t>(f + 2);
    planes = LoadLE<uint16_t>(f + 4);
    bits = LoadLE<uint16_t>(f + 6);
  } else {
    w = int32_t(LoadLE<uint32_t>(f));
    hh = int32_t(LoadLE<uint32_t>(f + 4));
    planes = LoadLE<uint16_t>(f + 8);
    bits = LoadLE<uint16_t>(f + 10);
    if (cbFix >= 20) compression = LoadLE<uint32_t>(f + 12);
    if (cbFix >= 36) used = LoadLE<uint32_t>(f + 28);
  }
  if (w <= 0 || hh == 0 || hh == INT32_MIN) return BFM_ERR_SIZE;
  if (planes != 1) return BFM_ERR_BMP_PLANES;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 24) return BFM_ERR_BMP_BITCOUNT;
  if (compression > 2 || (compression == 1 && bits != 8) || (compression == 2 && bits != 4))
    return BFM_ERR_BMP_COMPRESSION;
  h.w = int32_t(w);
  h.h = int32_t(hh < 0 ? -hh : hh);
  h.bpp = bits;
  p.compression = int32_t(compression);
  p.topDown = hh < 0;
  p.colorsUsed = bits == 24 ? 0 : (used == 0 || used > (1u << bits)) ? 1 << bits : int32_t(used);
  p.inv = BfmHasOption(options, "inv");
  p.invb = BfmHasOption(options, "invb");
  // Raw rows need all their bytes; RLE packets give at most 255 pixels per two
  // bytes, with end-of-line and delta codes allowing some slack.
  // Compared by division: rows times height can pass 2^63 for a hostile header.
  const int64_t avail = BytesFrom(s, p.base + p.offBits);
  const int64_t limit = compression == 0 ? avail : avail * 256;
  if (BfmRowBytes(h.w, bits) > limit / h.h) return BFM_ERR_SIZE;
  return BFM_OK;
}

int BmpPalette(TStream& s, BFM& h, BfmRgb* palette) {
  const BfmPrivate& p = h.priv;
  if (h.bpp == 24) return BFM_OK;
  const int entry = p.cbFix == 12 ? 3 : 4;
  std::vector<uint8_t> b(size_t(p.colorsUsed) * entry);
  s.Seek(PaletteOffset(p), soBeginning);
  if (!ReadExact(s, b.data(), int64_t(b.size()))) return BFM_ERR_READ;
  for (int i = 0; i < p.colorsUsed; ++i)
    palette[i] = {b[i * entry + 2], b[i * entry + 1], b[i * entry]};
  if (h.bpp == 1 && !p.inv) std::swap(palette[0], palette[1]);
  return BFM_OK;
}

int BmpData(TStream& s, BFM& h, uint8_t* data, size_t dataSize) {
  const BfmPrivate& p = h.priv;
  // Rebuilt as a packed bitmap with a 40-byte header and a full colour table.
  const int colors = h.bpp == 24 ? 0 : 1 << h.bpp;
  ByteWriter dib;
  dib.U32(40);
  dib.I32(h.w);
  dib.I32(p.topDown ? -h.h : h.h);
  dib.U16(1);
  dib.U16(uint16_t(h.bpp));
  dib.U32(uint32_t(p.compression));
  dib.U32(0);
  dib.U32(0);
  dib.U32(0);
  dib.U32(uint32_t(colors));
  dib.U32(0);
  dib.Zeros(size_t(colors) * 4);
  s.Seek(p.base + p.offBits, soBeginning);
  const int64_t avail = BytesFrom(s, p.base + p.offBits);
  const int64_t rowBytes = BfmRowBytes(h.w, h.bpp);
  const int64_t want = p.compression == 0 ? rowBytes * h.h : avail;
  std::string pixels(size_t(want), '\0');
  if (!ReadExact(s, pixels.data(), want)) return BFM_ERR_READ;
  dib.Bytes(pixels);
  TDibGraphic img;
  try {
    img.AssignFromHDIB(dib.Str().data(), dib.Size());
  } catch (const EImagingError&) {
    return BFM_ERR_READ;
  }
  if (img.RowBytes() != rowBytes || img.ImageSize() > dataSize) return BFM_ERR_SIZE;
  std::memcpy(data, img.Bits(), img.ImageSize());
  if (h.bpp == 1 && p.invb)
    for (size_t i = 0; i < img.ImageSize(); ++i) data[i] = uint8_t(~data[i]);
  return BFM_OK;
}

int BmpWrite(TStream& s, const BFM& h, const BfmRgb* palette, const uint8_t* data,
             const char* options) {
  const bool os2 = BfmHasOption(options, "1.1");
  if (os2 && (BfmHasOption(options, "win") || BfmHasOption(options, "2.0"))) return BFM_ERR_BAD_OPT;
  if (os2 && (h.w > 65535 || h.h > 65535)) return BFM_ERR_SIZE;
  bool invb = BfmHasOption(options, "invb");
  if (h.bpp == 1) {
    const bool darker = Brightness(palette[0]) < Brightness(palette[1]);
    if (BfmHasOption(options, "darkfg") && darker) invb = !invb;
    if (BfmHasOption(options, "lightfg") && !darker) invb = !invb;
  }
  const int cbFix = os2 ? 12 : 40;
  const int entry = os2 ? 3 : 4;
  const int colors = h.bpp == 24 ? 0 : 1 << h.bpp;
  const int64_t rowBytes = BfmRowBytes(h.w, h.bpp);
  const int64_t offBits = kFileHeader + cbFix + int64_t(colors) * entry;
  const int64_t fileSize = offBits + rowBytes * h.h;

  ByteWriter w;
  w.Bytes("BM", 2);
  w.U32(uint32_t(fileSize));
  w.U32(0);
  w.U32(uint32_t(offBits));
  w.U32(uint32_t(cbFix));
  if (os2) {
    w.U16(uint16_t(h.w));
    w.U16(uint16_t(h.h));
    w.U16(1);
    w.U16(uint16_t(h.bpp));
  } else {
    w.I32(h.w);
    w.I32(h.h);
    w.U16(1);
    w.U16(uint16_t(h.bpp));
    w.U32(0);
    w.U32(uint32_t(rowBytes * h.h));
    w.U32(0);
    w.U32(0);
    w.U32(uint32_t(colors));
    w.U32(0);
  }
  for (int i = 0; i < colors; ++i) {
    BfmRgb c = palette[i];
    if (h.bpp == 1) {  // the 1-bit table is fixed; the image's own is not written
      const bool white = (i == 0) == BfmHasOption(options, "inv");
      c = white ? BfmRgb{255, 255, 255} : BfmRgb{0, 0, 0};
    }
    w.U8(c.b);
    w.U8(c.g);
    w.U8(c.r);
    if (entry == 4) w.U8(0);
  }
  if (!WriteExact(s, w.Str().data(), int64_t(w.Size()))) return BFM_ERR_WRITE;
  const int64_t total = rowBytes * h.h;
  uint8_t piece[1024];
  for (int64_t at = 0; at < total; at += sizeof piece) {
    const int64_t n = std::min<int64_t>(sizeof piece, total - at);
    std::memcpy(piece, data + at, size_t(n));
    if (h.bpp == 1 && invb)
      for (int64_t i = 0; i < n; ++i) piece[i] = uint8_t(~piece[i]);
    if (!WriteExact(s, piece, n)) return BFM_ERR_WRITE;
  }
  return BFM_OK;
}

}  // namespace bfmfmt
