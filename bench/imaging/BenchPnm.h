#pragma once
// Binary PNM (P4, P5, P6 with 255 as the largest sample) for the benchmarks:
// the peers' tools read and write it, so ours can work on the same files, and
// two outputs can be compared sample by sample.
#include <sys/mman.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/Rounding.h"
#include "imaging/EnDiGrph.h"

namespace bench {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

#if defined(__x86_64__)
#include <immintrin.h>
#endif

// Red and blue exchanged from src into dst: writing a page out must not cost
// more than decoding it, so five pixels a step where the processor shuffles
// bytes, else two.
#if defined(__x86_64__)
__attribute__((target("ssse3"))) inline size_t SwapTriplesSsse3(const uint8_t* src, uint8_t* dst,
                                                                size_t pixels) {
  const __m128i order = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15);
  size_t i = 0;
  for (; i + 6 <= pixels; i += 5) {  // 16 bytes read and written, the last one again next step
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 3 * i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 3 * i), _mm_shuffle_epi8(v, order));
  }
  return i;
}
#endif

inline void SwapTriples(const uint8_t* src, uint8_t* dst, size_t pixels) {
  size_t i = 0;
#if defined(__x86_64__)
  static const bool ssse3 = __builtin_cpu_supports("ssse3");
  if (ssse3) i = SwapTriplesSsse3(src, dst, pixels);
#endif
  for (; i + 3 <= pixels; i += 2) {  // 8 bytes read, 6 written, all inside the row
    uint64_t v;
    std::memcpy(&v, src + 3 * i, 8);
    const uint64_t o = ((v & 0x0000FF0000FFull) << 16) | (v & 0x00FF0000FF00ull) |
                       ((v >> 16) & 0x0000FF0000FFull);
    std::memcpy(dst + 3 * i, &o, 6);
  }
  for (; i < pixels; ++i) {
    const uint8_t b = src[3 * i];
    dst[3 * i + 1] = src[3 * i + 1];
    dst[3 * i] = src[3 * i + 2];
    dst[3 * i + 2] = b;
  }
}

// Header of a binary PNM: kind 4, 5 or 6; false on anything else.
inline bool ReadPnmHeader(std::FILE* f, int& kind, int& width, int& height) {
  if (std::fgetc(f) != 'P') return false;
  kind = std::fgetc(f) - '0';
  if (kind != 4 && kind != 5 && kind != 6) return false;
  auto number = [&]() -> long {
    int c = std::fgetc(f);
    for (;;) {
      if (c == '#')
        while (c != '\n' && c != EOF) c = std::fgetc(f);
      else if (std::isspace(c))
        c = std::fgetc(f);
      else
        break;
    }
    long n = 0;
    if (!std::isdigit(c)) return -1;
    for (; std::isdigit(c) && n < 1000000; c = std::fgetc(f)) n = n * 10 + (c - '0');
    return std::isspace(c) ? n : -1;  // one white-space byte ends the header
  };
  width = int(number());
  height = int(number());
  if (width <= 0 || height <= 0) return false;
  return kind == 4 || number() == 255;
}

// P6 as true colour, P5 as 256 greys, P4 as black and white. The samples are
// taken from the file's pages where it can be mapped, not copied through a
// buffer first: a page is tens of megabytes.
inline bool ReadPnm(const std::string& path, TDibGraphic& img) {
  File f(std::fopen(path.c_str(), "rb"));
  int kind = 0, w = 0, h = 0;
  if (!f || !ReadPnmHeader(f.get(), kind, w, h)) return false;
  img.NewImage(w, h, kind == 6 ? ifTrueColor : kind == 5 ? ifGray256 : ifBlackWhite, nullptr, 300,
               300);
  const size_t bytes = kind == 6 ? size_t(w) * 3 : kind == 5 ? size_t(w) : (size_t(w) + 7) / 8;
  const long start = std::ftell(f.get());
  struct stat st{};
  const size_t end = start > 0 && fstat(fileno(f.get()), &st) == 0 ? size_t(st.st_size) : 0;
  const size_t need = size_t(start) + bytes * size_t(h);
  void* map = end >= need ? mmap(nullptr, end, PROT_READ, MAP_PRIVATE | MAP_POPULATE,
                                 fileno(f.get()), 0)
                          : MAP_FAILED;
  const uint8_t* mapped = map == MAP_FAILED ? nullptr : static_cast<const uint8_t*>(map) + start;
  std::vector<uint8_t> buffer(mapped ? 0 : bytes);
  bool ok = true;
  for (int y = 0; y < h && ok; ++y) {
    uint8_t* row = img.ScanLine(y);
    const uint8_t* in = mapped ? mapped + size_t(y) * bytes : buffer.data();
    if (!mapped) {
      if (kind == 5) in = row;
      ok = std::fread(const_cast<uint8_t*>(in), 1, bytes, f.get()) == bytes;
    }
    if (kind == 6)
      SwapTriples(in, row, size_t(w));
    else if (kind == 4)  // PBM's 1 is black, which is our index 0
      for (size_t i = 0; i < bytes; ++i) row[i] = uint8_t(~in[i]);
    else if (in != row)
      std::memcpy(row, in, bytes);
  }
  if (map != MAP_FAILED) munmap(map, end);
  return ok;
}

// Black and white as P4, 256 greys with the grey palette as P5, anything else
// as P6.
inline bool WritePnm(const TDibGraphic& img, const std::string& path) {
  File f(std::fopen(path.c_str(), "wb"));
  if (!f) return false;
  const int w = img.Width(), h = img.Height();
  const TLogPalette& pal = img.LogPalette();
  int kind = 6;
  bool invert = false;
  if (img.ImageFormat() == ifBlackWhite) {
    kind = 4;
    const TPaletteEntry& e0 = pal.palPalEntry[0];
    const TPaletteEntry& e1 = pal.palPalEntry[1];
    invert = e0.peRed + e0.peGreen + e0.peBlue < e1.peRed + e1.peGreen + e1.peBlue;
  } else if (img.ImageFormat() == ifGray256) {
    kind = 5;
    for (int i = 0; i < 256 && kind == 5; ++i) {
      const TPaletteEntry& e = pal.palPalEntry[i];
      if (e.peRed != i || e.peGreen != i || e.peBlue != i) kind = 6;
    }
  }
  std::fprintf(f.get(), "P%d\n%d %d\n%s", kind, w, h, kind == 4 ? "" : "255\n");
  const size_t bytes = kind == 6 ? size_t(w) * 3 : kind == 5 ? size_t(w) : (size_t(w) + 7) / 8;
  std::vector<uint8_t> row(bytes), bgr(kind == 6 && img.ImageFormat() != ifTrueColor ? bytes : 0);
  for (int y = 0; y < h; ++y) {
    const uint8_t* src = img.ScanLine(y);
    if (kind == 5) {
      if (std::fwrite(src, 1, bytes, f.get()) != bytes) return false;
      continue;
    }
    if (kind == 4) {
      for (size_t i = 0; i < bytes; ++i) row[i] = invert ? uint8_t(~src[i]) : src[i];
    } else if (img.ImageFormat() == ifTrueColor) {
      SwapTriples(src, row.data(), size_t(w));
    } else {
      img.ReadRowRGB(y, bgr.data());
      SwapTriples(bgr.data(), row.data(), size_t(w));
    }
    if (std::fwrite(row.data(), 1, bytes, f.get()) != bytes) return false;
  }
  return std::fflush(f.get()) == 0;
}

// An image as samples from 0 to 255: one grey per pixel for black and white
// and grey images, red, green and blue otherwise.
struct Samples {
  int width = 0, height = 0, channels = 0;
  std::vector<uint8_t> data;
};

inline Samples SamplesOf(const TDibGraphic& img) {
  Samples s;
  s.width = img.Width();
  s.height = img.Height();
  const int f = img.ImageFormat();
  s.channels = f == ifBlackWhite || f == ifGray16 || f == ifGray256 ? 1 : 3;
  s.data.resize(size_t(s.width) * s.height * s.channels);
  std::vector<uint8_t> bgr(size_t(s.width) * 3);
  for (int y = 0; y < s.height; ++y) {
    img.ReadRowRGB(y, bgr.data());
    uint8_t* out = s.data.data() + size_t(y) * s.width * s.channels;
    for (int x = 0; x < s.width; ++x)
      if (s.channels == 1) {
        out[x] = bgr[3 * x + 1];
      } else {
        out[3 * x] = bgr[3 * x + 2];
        out[3 * x + 1] = bgr[3 * x + 1];
        out[3 * x + 2] = bgr[3 * x];
      }
  }
  return s;
}

// Mean absolute difference per sample, -1 when the shapes differ.
// s reduced to width x height by area averaging, each output sample the mean of
// the input area it covers (parts of samples weighed by their share): what a
// resize to that size should come close to.
inline Samples AreaReduced(const Samples& s, int width, int height) {
  const int c = s.channels;
  auto weights = [](int from, int to) {  // per output index: (input index, weight) pairs
    std::vector<std::vector<std::pair<int, double>>> w(static_cast<size_t>(to));
    const double scale = double(from) / to;
    for (int o = 0; o < to; ++o)
      for (double x = o * scale, end = (o + 1) * scale; x < end - 1e-9;) {
        const double next = std::min(end, std::floor(x) + 1);
        w[size_t(o)].push_back({std::min(int(x), from - 1), (next - x) / scale});
        x = next;
      }
    return w;
  };
  const auto wx = weights(s.width, width), wy = weights(s.height, height);
  std::vector<double> rows(size_t(width) * s.height * c);
  for (int y = 0; y < s.height; ++y)
    for (int x = 0; x < width; ++x)
      for (const auto& [i, w] : wx[size_t(x)])
        for (int k = 0; k < c; ++k)
          rows[(size_t(y) * width + x) * c + k] += w * s.data[(size_t(y) * s.width + i) * c + k];
  Samples r{width, height, c, std::vector<uint8_t>(size_t(width) * height * c)};
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      for (int k = 0; k < c; ++k) {
        double v = 0;
        for (const auto& [j, w] : wy[size_t(y)]) v += w * rows[(size_t(j) * width + x) * c + k];
        r.data[(size_t(y) * width + x) * c + k] = uint8_t(RoundHalfAway(std::clamp(v, 0.0, 255.0)));
      }
  return r;
}

inline double MeanAbsDiff(const Samples& a, const Samples& b) {
  if (a.width != b.width || a.height != b.height || a.channels != b.channels || a.data.empty())
    return -1;
  uint64_t sum = 0;
  for (size_t i = 0; i < a.data.size(); ++i) sum += uint64_t(std::abs(a.data[i] - b.data[i]));
  return double(sum) / double(a.data.size());
}

}  // namespace bench
