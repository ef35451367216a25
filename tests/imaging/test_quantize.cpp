#include <gtest/gtest.h>

#include "ImagingTestUtil.h"
#include "imaging/EnQuantz.h"

namespace {
RgbValue Entry(const TLogPalette& p, int i) {
  return MakeRgbTriple(p.palPalEntry[i].peRed, p.palPalEntry[i].peGreen, p.palPalEntry[i].peBlue);
}

void Quantize(const TDibGraphic& img, TLogPalette& pal, int count, std::vector<int>* progress = nullptr) {
  uint8_t last = 255;
  TProgressEvent h;
  if (progress) h = [progress](void*, uint8_t p) { progress->push_back(p); };
  QuantizePalette(img, pal, count, last, h);
}
}  // namespace

TEST(Quantizer, KeysAndTriples) {
  EXPECT_EQ(RgbTo15Bit(MakeRgbTriple(0xFF, 0, 0)), 0x001F);
  EXPECT_EQ(RgbTo15Bit(MakeRgbTriple(0, 0xFF, 0)), 0x03E0);
  EXPECT_EQ(RgbTo15Bit(MakeRgbTriple(0, 0, 0x0F)), 0x0400);
  uint8_t t[3];
  Rgb15ToTriple(0x7FFF, t);
  EXPECT_EQ(t[0], 0xF8);
  Rgb15ToTriple(0x0401, t);  // blue 1, red 1
  EXPECT_EQ(t[0], 8);
  EXPECT_EQ(t[1], 0);
  EXPECT_EQ(t[2], 8);
}

TEST(Quantizer, FewColours) {
  TDibGraphic white;
  white.NewImage(4, 4, ifTrueColor, nullptr, 0, 0);
  FillRGB(white, std::vector<RgbValue>(16, 0xFFFFFF));
  TLogPalette pal;
  Quantize(white, pal, 16);
  EXPECT_EQ(pal.palVersion, 0x300);
  EXPECT_EQ(pal.palNumEntries, 16);
  EXPECT_EQ(Entry(pal, 0), 0xF8F8F8u);
  for (int i = 1; i < 16; ++i) EXPECT_EQ(Entry(pal, i), 0u);
  Quantize(white, pal, 300);
  EXPECT_EQ(pal.palNumEntries, 256);

  // Every colour seen once: they are kept rather than giving an all-black palette.
  TDibGraphic rare;
  rare.NewImage(3, 1, ifTrueColor, nullptr, 0, 0);
  FillRGB(rare, {0xFF0000, 0x00FF00, 0x0000FF});
  Quantize(rare, pal, 16);
  EXPECT_EQ(Entry(pal, 0), 0xF80000u);
  EXPECT_EQ(Entry(pal, 1), 0x00F800u);
  EXPECT_EQ(Entry(pal, 2), 0x0000F8u);
}

TEST(Quantizer, RareColoursAreDropped) {
  // 1000 distinct keys, so colours seen twice or less are dropped.
  TDibGraphic img;
  img.NewImage(1003, 1, ifTrueColor, nullptr, 0, 0);
  for (int i = 0; i < 1000; ++i)
    img.SetPixelRGB(i, 0, MakeRgbTriple(uint8_t((i % 32) << 3), uint8_t(((i / 32) % 32) << 3), 0));
  img.SetPixelRGB(1000, 0, img.GetPixelRGB(5, 0));
  img.SetPixelRGB(1001, 0, img.GetPixelRGB(5, 0));  // seen 3 times
  img.SetPixelRGB(1002, 0, img.GetPixelRGB(7, 0));  // seen twice
  TLogPalette pal;
  Quantize(img, pal, 256);
  EXPECT_EQ(pal.palNumEntries, 256);
  EXPECT_EQ(Entry(pal, 0), MakeRgbTriple(5 << 3, 0, 0));
  for (int i = 1; i < 256; ++i) EXPECT_EQ(Entry(pal, i), 0u) << i;
}

TEST(Quantizer, ManyColoursAreSpreadFromWhite) {
  TDibGraphic img;
  img.NewImage(5, 5, ifTrueColor, nullptr, 0, 0);
  const RgbValue colours[5] = {0x000000, 0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF};
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 5; ++x) img.SetPixelRGB(x, y, colours[x]);
  TLogPalette pal;
  std::vector<int> progress;
  Quantize(img, pal, 3, &progress);
  EXPECT_EQ(pal.palNumEntries, 3);
  // Nearest white first, then the farthest from it, then the farthest from both
  // (the first of three equals in key order).
  EXPECT_EQ(Entry(pal, 0), 0xF8F8F8u);
  EXPECT_EQ(Entry(pal, 1), 0x000000u);
  EXPECT_EQ(Entry(pal, 2), 0x00F800u);
  EXPECT_EQ(progress, (std::vector<int>{0, 33, 66}));

  // A smooth gradient with thousands of keys still gives distinct entries.
  TDibGraphic grad;
  grad.NewImage(256, 64, ifTrueColor, nullptr, 0, 0);
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 256; ++x) grad.SetPixelRGB(x, y, MakeRgbTriple(uint8_t(x), uint8_t(y * 4), 128));
  Quantize(grad, pal, 16);
  for (int i = 0; i < 16; ++i)
    for (int j = i + 1; j < 16; ++j) EXPECT_NE(Entry(pal, i), Entry(pal, j));
}

TEST(NearestColour, AgreesWithTheFullSearch) {
  // Random palettes with repeated entries (ties go to the first), the default
  // palettes and an empty one, against the image's own converter.
  std::vector<TLogPalette> palettes = {*DefaultPalette(ifColor256), *DefaultPalette(ifColor16),
                                       *DefaultPalette(ifBlackWhite), TLogPalette{}};
  uint32_t seed = 5;
  auto next = [&seed] { return uint8_t((seed = seed * 1664525u + 1013904223u) >> 24); };
  for (int count : {256, 40, 3}) {
    TLogPalette p{};
    p.palNumEntries = uint16_t(count);
    for (int i = 0; i < count; ++i)
      p.palPalEntry[i] = i % 7 == 6 ? p.palPalEntry[i / 2]
                                    : TPaletteEntry{next(), uint8_t(next() & 0xF0), next(), 0};
    palettes.push_back(p);
  }
  for (const TLogPalette& p : palettes) {
    TNearestColour nearest(p);
    TRgbToPaletteConverter full(&p);
    for (int r = 0; r < 256; r += 5)
      for (int g = 0; g < 256; g += 3)
        for (int b = 0; b < 256; b += 7)
          ASSERT_EQ(nearest.Index(uint8_t(r), uint8_t(g), uint8_t(b)),
                    full.NearestIndex(MakeRgbTriple(uint8_t(r), uint8_t(g), uint8_t(b))))
              << p.palNumEntries << " entries, colour " << r << "," << g << "," << b;
  }
}
