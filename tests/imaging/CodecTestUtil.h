#pragma once
// Test images of every format and the checks the codec tests share.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <unistd.h>

#include "ImagingTestUtil.h"
#include "core/ByteIO.h"
#include "imaging/EnDiGrph.h"

// A picture with structure in every row, at 300 x 150 dpi: palette formats
// use every index, true colour a gradient.
inline void FillPattern(TDibGraphic& img, int format, int w = 37, int h = 23) {
  img.NewImage(w, h, format, nullptr, 300, 150);
  const int colors = format == ifTrueColor ? 0 : 1 << ImageFormatBits(format);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      if (colors) img.SetPixelIndex(x, y, (x * 7 + y * 3 + (x * y) % 5) % colors);
      else img.SetPixelRGB(x, y, MakeRgbTriple(uint8_t(x * 6), uint8_t(y * 11), uint8_t((x ^ y) * 5)));
    }
}

// Same size, resolution, colours and (for palette images) indices.
inline void ExpectSamePicture(const TDibGraphic& a, const TDibGraphic& b, bool sameIndices = true) {
  ASSERT_EQ(a.Width(), b.Width());
  ASSERT_EQ(a.Height(), b.Height());
  EXPECT_EQ(a.XDotsPerInch(), b.XDotsPerInch());
  EXPECT_EQ(a.YDotsPerInch(), b.YDotsPerInch());
  EXPECT_EQ(PixelsRGB(a), PixelsRGB(b));
  if (sameIndices && a.ImageFormat() != ifTrueColor && b.ImageFormat() != ifTrueColor) {
    EXPECT_EQ(PixelsIndex(a), PixelsIndex(b));
  }
}

inline std::string Saved(TDibGraphic& img) {
  TMemoryStream s;
  img.SaveToStream(s);
  return s.Data();
}

// Every strict prefix of a file raises the class's own error (IsOwnError), or
// loads the whole picture when only trailing metadata was cut; corrupted
// copies either load or raise an Exception (the sanitizers catch anything
// worse).
template <typename Graphic>
void ExpectHostileInputsRaise(const std::string& good,
                              const std::function<bool(const Exception&)>& isOwnError,
                              int corruptions = 300) {
  Graphic whole;
  TMemoryStream all(good);
  whole.LoadFromStream(all);
  const size_t step = std::max<size_t>(1, good.size() / 97);
  for (size_t n = 0; n < good.size(); n += step) {
    Graphic g;
    TMemoryStream s(good.substr(0, n));
    try {
      g.LoadFromStream(s);
      EXPECT_EQ(PixelsRGB(g), PixelsRGB(whole))
          << "a " << n << "-byte prefix of " << good.size() << " loaded a part";
    } catch (const Exception& e) {
      EXPECT_TRUE(isOwnError(e)) << n << ": " << e.Message();
    }
  }
  std::mt19937 rng(7);
  for (int i = 0; i < corruptions; ++i) {
    std::string bad = good;
    const int flips = 1 + int(rng() % 4);
    for (int k = 0; k < flips; ++k) bad[rng() % bad.size()] = char(rng());
    Graphic g;
    TMemoryStream s(bad);
    try {
      g.LoadFromStream(s);
    } catch (const Exception&) {
    }
  }
}

// A 16 x 16 icon of the given depth (8, 24 or 32 bits) whose bitmap header is
// headerSize bytes (40, or 124 for the fifth version), with the first maskRows
// rows of its mask. Pixels for which clear(x, y) holds are transparent; the
// others have the colour IconPixel gives.
inline std::string IconFile(int bits, uint32_t headerSize, int maskRows, const std::function<bool(int, int)>& clear) {
  constexpr int n = 16;
  const int colorRow = ((n * bits + 31) / 32) * 4;
  const int colors = bits == 8 ? 256 : 0;
  ByteWriter img;
  img.U32(headerSize);
  img.I32(n);
  img.I32(2 * n);
  img.U16(1);
  img.U16(uint16_t(bits));
  img.U32(0);
  img.U32(uint32_t(colorRow * n + 4 * n));
  img.Zeros(16);
  if (headerSize > 40) {
    img.U32(0x00FF0000), img.U32(0x0000FF00), img.U32(0x000000FF), img.U32(0xFF000000);
    img.Bytes("BGRs", 4);
    img.Zeros(headerSize - 60);
  }
  for (int i = 0; i < colors; ++i) img.U8(uint8_t(i)), img.U8(uint8_t(i)), img.U8(uint8_t(i)), img.U8(0);
  for (int y = n - 1; y >= 0; --y) {  // bottom row first
    for (int x = 0; x < n; ++x) {
      if (bits == 8) img.U8(uint8_t(x * 16 + y));
      else img.U8(uint8_t(x * 16)), img.U8(uint8_t(y * 16)), img.U8(0x80);
      if (bits == 32) img.U8(clear(x, y) ? 0 : 255);
    }
    img.Zeros(size_t(colorRow - n * bits / 8));
  }
  for (int y = n - 1; y >= n - maskRows; --y) {
    uint16_t m = 0;
    for (int x = 0; x < n; ++x)
      if (clear(x, y)) m |= uint16_t(0x8000 >> x);
    img.U8(uint8_t(m >> 8)), img.U8(uint8_t(m)), img.U16(0);
  }
  ByteWriter w;
  w.U16(0), w.U16(1), w.U16(1);
  w.U8(n), w.U8(n), w.U8(0), w.U8(0), w.U16(1), w.U16(uint16_t(bits));
  w.U32(uint32_t(img.Size())), w.U32(22);
  w.Bytes(img.Str());
  return w.Take();
}

inline uint32_t IconPixel(int bits, int x, int y) {
  if (bits == 8) return uint32_t(x * 16 + y) * 0x010101u;
  return MakeRgbTriple(0x80, uint8_t(y * 16), uint8_t(x * 16));
}

// A scratch directory for files the system's tools read and write.
struct ToolDir {
  std::filesystem::path dir;
  ToolDir() {
    dir = std::filesystem::temp_directory_path() /
          ("tarvo-codecs-" + std::to_string(::getpid()) + "-" + std::to_string(counter()++));
    std::filesystem::create_directories(dir);
  }
  ~ToolDir() { std::filesystem::remove_all(dir); }
  static int& counter() {
    static int n = 0;
    return n;
  }
  std::string Path(const std::string& name) const { return (dir / name).string(); }
  void Write(const std::string& name, const std::string& data) const {
    std::ofstream(Path(name), std::ios::binary) << data;
  }
  std::string Read(const std::string& name) const {
    std::ifstream f(Path(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
  }
  // Runs a shell command with its output in "out.txt"; returns the exit status.
  int Run(const std::string& cmd) const {
    return std::system(("cd '" + dir.string() + "' && (" + cmd + ") > out.txt 2>&1").c_str());
  }
};
