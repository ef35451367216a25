// Truevision Targa: an 18-byte header, an ID field, an optional colour map,
// then raw or run-length packets of pixels.
#include <vector>

#include "imaging/bfm.h"

namespace bfmfmt {
namespace {

constexpr int kHeaderSize = 18;

int MapBytes(const BfmPrivate& p) {
  if (!p.mapType) return 0;
  int bits = p.mapEntryBits == 15 ? 16 : p.mapEntryBits;
  return p.mapLength * ((bits + 7) / 8);
}

int64_t DataStart(const BfmPrivate& p) { return kHeaderSize + p.idLength + MapBytes(p); }

bool IsRle(const BfmPrivate& p) { return p.imageType >= 9; }

}  // namespace

int TgaHeader(TStream& s, BFM& h, const char* options) {
  uint8_t b[kHeaderSize];
  s.Seek(0, soBeginning);
  if (!ReadExact(s, b, sizeof b)) return BFM_ERR_READ;
  BfmPrivate& p = h.priv;
  p.idLength = b[0];
  p.mapType = b[1];
  p.imageType = b[2];
  p.mapFirst = LoadLE<uint16_t>(b + 3);
  p.mapLength = LoadLE<uint16_t>(b + 5);
  p.mapEntryBits = b[7];
  p.depth = b[16];
  p.descriptor = b[17];
  switch (p.imageType) {
    case 1:
    case 9:
      if (p.depth != 8) return BFM_ERR_TGA_BPP;
      if (p.mapEntryBits != 24) return BFM_ERR_TGA_MAP_ENTRY;
      break;
    case 2:
    case 10:
      if (p.depth != 16 && p.depth != 24 && p.depth != 32) return BFM_ERR_TGA_BPP;
      break;
    case 3:
    case 11:
      if (p.depth != 8) return BFM_ERR_TGA_BPP;
      break;
    default:
      return BFM_ERR_TGA_COMPRESSION;
  }
  h.w = LoadLE<uint16_t>(b + 12);
  h.h = LoadLE<uint16_t>(b + 14);
  if (h.w == 0 || h.h == 0) return BFM_ERR_SIZE;
  h.bpp = p.depth == 8 ? 8 : 24;
  // Raw pixels need their bytes; a run packet of 1 + pixel bytes gives at most
  // 128 pixels. A header asking for more than that is refused before allocation.
  const int64_t avail = BytesFrom(s, DataStart(p));
  const int64_t pixelBytes = (p.depth + 7) / 8;
  const int64_t pixels = int64_t(h.w) * h.h;
  const int64_t most = IsRle(p) ? (avail + pixelBytes) / (1 + pixelBytes) * 128 : avail / pixelBytes;
  if (pixels > most) return BFM_ERR_TGA_SHORT;
  return BFM_OK;
}

int TgaPalette(TStream& s, BFM& h, BfmRgb* palette) {
  const BfmPrivate& p = h.priv;
  if (p.imageType == 3 || p.imageType == 11) {
    for (int i = 0; i < 256; ++i) palette[i] = {uint8_t(i), uint8_t(i), uint8_t(i)};
    return BFM_OK;
  }
  if (p.imageType != 1 && p.imageType != 9) return BFM_OK;
  if (!p.mapType) return BFM_ERR_READ;
  std::vector<uint8_t> map(size_t(p.mapLength) * 3);
  s.Seek(kHeaderSize + p.idLength, soBeginning);
  if (!ReadExact(s, map.data(), int64_t(map.size()))) return BFM_ERR_READ;
  // Entries past the 256 a palette holds are dropped.
  for (int i = 0; i < p.mapLength && p.mapFirst + i < 256; ++i)
    palette[p.mapFirst + i] = {map[3 * i + 2], map[3 * i + 1], map[3 * i]};
  return BFM_OK;
}

int TgaData(TStream& s, BFM& h, uint8_t* data, size_t) {
  const BfmPrivate& p = h.priv;
  const int w = h.w, rows = h.h;
  const int pixelBytes = (p.depth + 7) / 8;
  const int outBytes = h.bpp / 8;
  const int64_t rowBytes = BfmRowBytes(w, h.bpp);
  const bool topDown = p.descriptor & 0x20;
  const bool rightToLeft = p.descriptor & 0x10;
  s.Seek(DataStart(p), soBeginning);
  ReadAhead in(s);

  uint8_t px[4] = {};
  int repeat = 0, literal = 0;
  auto nextPixel = [&]() -> bool {
    if (IsRle(p) && repeat == 0 && literal == 0) {
      int c = in.Next();
      if (c < 0) return false;
      if (c & 0x80) {
        repeat = (c & 0x7F) + 1;
        for (int i = 0; i < pixelBytes; ++i) {
          int v = in.Next();
          if (v < 0) return false;
          px[i] = uint8_t(v);
        }
      } else {
        literal = (c & 0x7F) + 1;
      }
    }
    if (repeat > 0) {
      --repeat;
      return true;
    }
    if (literal > 0) --literal;
    for (int i = 0; i < pixelBytes; ++i) {
      int v = in.Next();
      if (v < 0) return false;
      px[i] = uint8_t(v);
    }
    return true;
  };

  for (int y = 0; y < rows; ++y) {
    const int bottomIndex = topDown ? rows - 1 - y : y;
    uint8_t* row = data + bottomIndex * rowBytes;
    for (int x = 0; x < w; ++x) {
      if (!nextPixel()) return BFM_ERR_READ;
      uint8_t* d = row + (rightToLeft ? w - 1 - x : x) * outBytes;
      if (pixelBytes == 1) {
        d[0] = px[0];
      } else if (pixelBytes == 2) {
        const unsigned v = LoadLE<uint16_t>(px);
        d[0] = uint8_t((v & 0x1F) << 3);
        d[1] = uint8_t(((v >> 5) & 0x1F) << 3);
        d[2] = uint8_t(((v >> 10) & 0x1F) << 3);
      } else {
        d[0] = px[0];
        d[1] = px[1];
        d[2] = px[2];
      }
    }
  }
  return BFM_OK;
}

int TgaWrite(TStream& s, const BFM& h, const BfmRgb* palette, const uint8_t* data,
             const char* options) {
  const bool o16 = BfmHasOption(options, "16"), o24 = BfmHasOption(options, "24"),
             o32 = BfmHasOption(options, "32");
  const bool yup = BfmHasOption(options, "yup"), ydown = BfmHasOption(options, "ydown");
  if (int(o16) + int(o24) + int(o32) > 1 || (yup && ydown)) return BFM_ERR_BAD_OPT;
  if (h.bpp == 8 && (o16 || o24 || o32)) return BFM_ERR_BAD_OPT;
  if (h.w > 65535 || h.h > 65535) return BFM_ERR_SIZE;
  const int depth = h.bpp == 8 ? 8 : o16 ? 16 : o32 ? 32 : 24;

  uint8_t hdr[kHeaderSize] = {};
  hdr[1] = h.bpp == 8 ? 1 : 0;
  hdr[2] = h.bpp == 8 ? 1 : 2;
  if (h.bpp == 8) {
    StoreLE<uint16_t>(hdr + 5, 256);
    hdr[7] = 24;
  }
  StoreLE<uint16_t>(hdr + 12, uint32_t(h.w));
  StoreLE<uint16_t>(hdr + 14, uint32_t(h.h));
  hdr[16] = uint8_t(depth);
  hdr[17] = ydown ? 0x20 : 0;
  if (!WriteExact(s, hdr, sizeof hdr)) return BFM_ERR_WRITE;
  if (h.bpp == 8) {
    uint8_t map[768];
    for (int i = 0; i < 256; ++i) {
      map[3 * i] = palette[i].b;
      map[3 * i + 1] = palette[i].g;
      map[3 * i + 2] = palette[i].r;
    }
    if (!WriteExact(s, map, sizeof map)) return BFM_ERR_WRITE;
  }
  const int64_t rowBytes = BfmRowBytes(h.w, h.bpp);
  const int outBytes = depth / 8;
  std::vector<uint8_t> line(size_t(h.w) * outBytes);
  for (int i = 0; i < h.h; ++i) {
    const uint8_t* row = data + (ydown ? h.h - 1 - i : i) * rowBytes;
    for (int x = 0; x < h.w; ++x) {
      uint8_t* d = line.data() + x * outBytes;
      if (depth == 8) {
        d[0] = row[x];
      } else if (depth == 16) {
        const uint8_t* q = row + 3 * x;
        unsigned v = (q[0] >> 3) | (q[1] >> 3) << 5 | (q[2] >> 3) << 10;
        d[0] = uint8_t(v);
        d[1] = uint8_t(v >> 8);
      } else {
        d[0] = row[3 * x];
        d[1] = row[3 * x + 1];
        d[2] = row[3 * x + 2];
        if (depth == 32) d[3] = 255;
      }
    }
    if (!WriteExact(s, line.data(), int64_t(line.size()))) return BFM_ERR_WRITE;
  }
  return BFM_OK;
}

}  // namespace bfmfmt
