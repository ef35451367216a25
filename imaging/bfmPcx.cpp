// PCX: a 128-byte header, run-length coded lines top first, an optional
// 256-colour trailer.
#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

#include "imaging/bfm.h"

namespace bfmfmt {
namespace {

constexpr int kHeaderSize = 128;
constexpr int kTrailerSize = 769;  // the byte 12 and 768 palette bytes

int Brightness(const BfmRgb& c) { return 30 * c.r + 60 * c.g + 10 * c.b; }

// Every run pair yields at most 63 bytes, so a header whose lines need more
// than the file can expand to is refused before anything is allocated.
bool DataFits(TStream& s, const BFM& h) {
  int64_t avail = BytesFrom(s, kHeaderSize);
  if (h.bpp == 8) avail -= kTrailerSize;
  if (avail <= 0) return false;
  const int64_t needed = int64_t(h.priv.bytesPerLine) * h.priv.planes * h.h;
  return needed <= (avail / 2) * 63 + (avail & 1);
}

// A run is at most 63 bytes: the decoder's line has room for 64 more, so
// every run is stored whole in a few wide stores, and what lies past its end
// is overwritten by the bytes that follow.
constexpr size_t kRunSlack = 64;
inline void FillRun(uint8_t* d, uint8_t v) { std::memset(d, v, kRunSlack); }

}  // namespace

int PcxHeader(TStream& s, BFM& h, const char* options) {
  uint8_t b[70];
  s.Seek(0, soBeginning);
  if (!ReadExact(s, b, sizeof b)) return BFM_ERR_READ;
  if (b[0] != 10) return BFM_ERR_MAGIC;
  // Versions 0 to 5 are all written by the format's owner; later ones are not known.
  if (b[1] > 5) return BFM_ERR_PCX_VERSION;
  if (b[2] != 1) return BFM_ERR_PCX_ENCODING;
  const int bits = b[3];
  const int planes = b[65];
  const int w = int(LoadLE<uint16_t>(b + 8)) - int(LoadLE<uint16_t>(b + 4)) + 1;
  const int hh = int(LoadLE<uint16_t>(b + 10)) - int(LoadLE<uint16_t>(b + 6)) + 1;
  if (w < 1 || hh < 1) return BFM_ERR_SIZE;
  int depth = 0;
  if (bits == 1 && planes == 1) depth = 1;
  else if (bits == 1 && planes == 4) depth = 4;
  else if (bits == 4 && planes == 1) depth = 4;
  else if (bits == 8 && planes == 1) depth = 8;
  else if (bits == 8 && planes == 3) depth = 24;
  else return BFM_ERR_PCX_PLANES;
  const int bytesPerLine = LoadLE<uint16_t>(b + 66);
  // A line shorter than the width would leave pixels without data.
  if (int64_t(bytesPerLine) * 8 < int64_t(w) * bits) return BFM_ERR_SIZE;
  h.w = w;
  h.h = hh;
  h.bpp = depth;
  h.priv.version = b[1];
  h.priv.planes = planes;
  h.priv.bitsPerPlane = bits;
  h.priv.bytesPerLine = bytesPerLine;
  h.priv.trunc = BfmHasOption(options, "trunc") ? 1 : 0;
  if (!DataFits(s, h)) return BFM_ERR_SIZE;
  return BFM_OK;
}

int PcxPalette(TStream& s, BFM& h, BfmRgb* palette) {
  if (h.bpp == 1) {
    palette[0] = {0, 0, 0};
    palette[1] = {255, 255, 255};
    return BFM_OK;
  }
  if (h.bpp == 4) {
    uint8_t b[48];
    s.Seek(16, soBeginning);
    if (!ReadExact(s, b, sizeof b)) return BFM_ERR_READ;
    for (int i = 0; i < 16; ++i) palette[i] = {b[3 * i], b[3 * i + 1], b[3 * i + 2]};
    return BFM_OK;
  }
  if (h.bpp == 8) {
    uint8_t b[kTrailerSize];
    if (s.Size() < kHeaderSize + kTrailerSize) return BFM_ERR_PCX_TRAILER;
    s.Seek(-kTrailerSize, soEnd);
    if (!ReadExact(s, b, sizeof b) || b[0] != 12) return BFM_ERR_PCX_TRAILER;
    for (int i = 0; i < 256; ++i) palette[i] = {b[1 + 3 * i], b[2 + 3 * i], b[3 + 3 * i]};
    return BFM_OK;
  }
  return BFM_OK;
}

int PcxData(TStream& s, BFM& h, uint8_t* data, size_t) {
  const int bpl = h.priv.bytesPerLine, planes = h.priv.planes, w = h.w;
  const int64_t rowBytes = BfmRowBytes(w, h.bpp);
  const size_t n = size_t(bpl) * planes;
  std::vector<uint8_t> line(n + kRunSlack);
  s.Seek(kHeaderSize, soBeginning);
  ReadAhead in(s);
  int runLeft = 0, runValue = 0;
  for (int y = 0; y < h.h; ++y) {
    if (h.priv.trunc) runLeft = 0;
    uint8_t* const out = line.data();
    for (size_t i = 0; i < n;) {
      if (runLeft > 0) {
        // A run may go on into the next line.
        const size_t k = std::min(size_t(runLeft), n - i);
        FillRun(out + i, uint8_t(runValue));
        i += k;
        runLeft -= int(k);
        continue;
      }
      // Whole codes straight from the buffer while both bytes of a pair are there.
      const uint8_t* const from = in.Buffered();
      const uint8_t* const end = from + in.BufferedCount();
      const uint8_t* p = from;
      while (i < n && end - p >= 2) {
        const uint8_t c = *p;
        if ((c & 0xC0) != 0xC0) {
          out[i++] = c;
          ++p;
          continue;
        }
        runLeft = c & 63;
        runValue = p[1];
        p += 2;
        const size_t k = std::min(size_t(runLeft), n - i);
        FillRun(out + i, uint8_t(runValue));
        i += k;
        runLeft -= int(k);
      }
      in.Take(p - from);
      if (i == n) break;
      int c = in.Next();
      if (c < 0) return BFM_ERR_READ;
      if ((c & 0xC0) == 0xC0) {
        runLeft = c & 63;
        runValue = in.Next();
        if (runValue < 0) return BFM_ERR_READ;
      } else {
        line[i++] = uint8_t(c);
      }
    }
    uint8_t* row = data + (h.h - 1 - y) * rowBytes;
    const uint8_t* l = line.data();
    if (h.bpp == 1) {
      std::memcpy(row, l, size_t((w + 7) / 8));
    } else if (h.bpp == 4 && planes == 1) {
      std::memcpy(row, l, size_t((w + 1) / 2));
    } else if (h.bpp == 4) {
      for (int x = 0; x < w; ++x) {
        int v = 0, bit = 7 - (x & 7);
        for (int p = 0; p < 4; ++p) v |= ((l[p * bpl + x / 8] >> bit) & 1) << p;
        row[x / 2] = uint8_t((x & 1) ? (row[x / 2] & 0xF0) | v : (row[x / 2] & 0x0F) | (v << 4));
      }
    } else if (h.bpp == 8) {
      std::memcpy(row, l, size_t(w));
    } else {  // 8 x 3
      for (int x = 0; x < w; ++x) {
        row[3 * x + 2] = l[x];
        row[3 * x + 1] = l[bpl + x];
        row[3 * x] = l[2 * bpl + x];
      }
    }
  }
  // The 256-colour trailer follows the data; a file cut inside the data would
  // otherwise take a palette from the middle of its pixels.
  if (h.bpp == 8 && kHeaderSize + in.Consumed() > s.Size() - kTrailerSize) return BFM_ERR_PCX_TRAILER;
  return BFM_OK;
}

namespace {
constexpr size_t kLineSlack = 64;

// Bit j set where byte j differs from byte j + 1, for the eight bytes from p
// (nine are read): each byte of the difference is tested for zero without a
// carry into the next, and the eight top bits are gathered into one byte.
inline uint64_t GroupEnds8(const uint8_t* p) {
  constexpr uint64_t kLow = 0x7F7F7F7F7F7F7F7Full, kTops = 0x8080808080808080ull;
  const uint64_t d = LoadLE<uint64_t>(p) ^ LoadLE<uint64_t>(p + 1);
  const uint64_t differs = (((d & kLow) + kLow) | d) & kTops;
  return (differs * 0x0002040810204081ull) >> 56;
}

// len equal bytes v: runs of 63 while more are left, then the rest as a run,
// or as the byte alone unless its top two bits would read as a code.
inline uint8_t* CodeGroup(uint8_t v, size_t len, uint8_t* out) {
  for (; len > 63; len -= 63) {
    out[0] = 0xFF;
    out[1] = v;
    out += 2;
  }
  // Without a branch: whether the code stays is as likely one way as the other.
  out[0] = uint8_t(0xC0 | len);
  out += (len > 1) | (v >= 0xC0);
  *out = v;
  return out + 1;
}

// Codes a line of n bytes into out, which holds twice its length; returns the
// end. The line is read up to kLineSlack bytes past its end. Where each group
// of equal bytes ends is found for 64 bytes at once, then each group is coded.
uint8_t* EncodeLine(const uint8_t* p, size_t n, uint8_t* out) {
  size_t start = 0;
  for (size_t base = 0; base < n; base += 64) {
    uint64_t ends = 0;
    for (int k = 0; k < 8; ++k) ends |= GroupEnds8(p + base + 8 * k) << (8 * k);
    if (n - base <= 64) {  // the line's last byte ends a group; what follows is not the line's
      const size_t last = n - 1 - base;
      ends = (ends | uint64_t(1) << last) & (~uint64_t(0) >> (63 - last));
    }
    for (; ends; ends &= ends - 1) {
      const size_t end = base + size_t(std::countr_zero(ends));
      out = CodeGroup(p[end], end + 1 - start, out);
      start = end + 1;
    }
  }
  return out;
}
}  // namespace

int PcxWrite(TStream& s, const BFM& h, const BfmRgb* palette, const uint8_t* data, const char*) {
  const int w = h.w, depth = h.bpp;
  const int bits = depth == 24 ? 8 : depth;
  const int planes = depth == 24 ? 3 : 1;
  if (w > 65535 || h.h > 65535) return BFM_ERR_SIZE;
  int bpl = (w * bits + 7) / 8;
  bpl += bpl & 1;
  uint8_t hdr[kHeaderSize] = {};
  hdr[0] = 10;
  hdr[1] = 5;
  hdr[2] = 1;
  hdr[3] = uint8_t(bits);
  StoreLE<uint16_t>(hdr + 8, uint32_t(w - 1));
  StoreLE<uint16_t>(hdr + 10, uint32_t(h.h - 1));
  if (depth == 4)
    for (int i = 0; i < 16; ++i) {
      hdr[16 + 3 * i] = palette[i].r;
      hdr[17 + 3 * i] = palette[i].g;
      hdr[18 + 3 * i] = palette[i].b;
    }
  hdr[65] = uint8_t(planes);
  StoreLE<uint16_t>(hdr + 66, uint32_t(bpl));
  hdr[68] = 1;
  if (!WriteExact(s, hdr, sizeof hdr)) return BFM_ERR_WRITE;

  const bool invert = depth == 1 && Brightness(palette[0]) > Brightness(palette[1]);
  const int64_t rowBytes = BfmRowBytes(w, depth);
  // Only the pixels are copied into each line: the padding after them keeps
  // the zero it starts with, or the one bits of an inverted line.
  const size_t used = size_t((w * bits + 7) / 8);
  // Coded lines gather in out and go to the stream a batch at a time.
  const size_t lineBytes = size_t(bpl) * planes;
  std::vector<uint8_t> line(lineBytes + kLineSlack, invert ? 0xFF : 0),
      out(std::max<size_t>(size_t(1) << 16, 2 * lineBytes));
  uint8_t* at = out.data();
  // A page coded in memory gets its room at once rather than copied on as it grows; the
  // room not written to costs no memory.
  if (auto* m = dynamic_cast<TMemoryStream*>(&s))
    m->Reserve(size_t(m->Position()) + 2 * lineBytes * size_t(h.h) + kTrailerSize);
  for (int y = 0; y < h.h; ++y) {
    const uint8_t* row = data + (h.h - 1 - y) * rowBytes;
    if (depth == 24) {
      for (int x = 0; x < w; ++x) {
        line[x] = row[3 * x + 2];
        line[bpl + x] = row[3 * x + 1];
        line[2 * bpl + x] = row[3 * x];
      }
    } else if (invert) {
      for (size_t i = 0; i < used; ++i) line[i] = uint8_t(~row[i]);
    } else {
      std::memcpy(line.data(), row, used);
    }
    if (size_t(out.data() + out.size() - at) < 2 * lineBytes) {
      if (!WriteExact(s, out.data(), at - out.data())) return BFM_ERR_WRITE;
      at = out.data();
    }
    at = EncodeLine(line.data(), lineBytes, at);
  }
  if (!WriteExact(s, out.data(), at - out.data())) return BFM_ERR_WRITE;
  if (depth == 8) {
    uint8_t t[kTrailerSize];
    t[0] = 12;
    for (int i = 0; i < 256; ++i) {
      t[1 + 3 * i] = palette[i].r;
      t[2 + 3 * i] = palette[i].g;
      t[3 + 3 * i] = palette[i].b;
    }
    if (!WriteExact(s, t, sizeof t)) return BFM_ERR_WRITE;
  }
  return BFM_OK;
}

}  // namespace bfmfmt
