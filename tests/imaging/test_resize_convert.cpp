#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "ImagingTestUtil.h"
#include "imaging/EnTransf.h"

namespace {
RgbValue Grey(int v) { return MakeRgbTriple(uint8_t(v), uint8_t(v), uint8_t(v)); }
}  // namespace

TEST(ResizeFilter, ValuesSupportsAndNames) {
  // Values at the piece boundaries, where a wrong branch shows.
  EXPECT_FLOAT_EQ(ResizeFilterValue(rfBell, 0.5f), 0.5f);
  EXPECT_FLOAT_EQ(ResizeFilterValue(rfBell, 1.5f), 0.0f);
  EXPECT_FLOAT_EQ(ResizeFilterValue(rfBSpline, -1.0f), 1.0f / 6.0f);
  EXPECT_NEAR(ResizeFilterValue(rfLanczos3, 0.5f), 0.607927, 1e-6);
  EXPECT_FLOAT_EQ(ResizeFilterValue(rfLanczos3, 3.0f), 0.0f);
  EXPECT_NEAR(ResizeFilterValue(rfMitchell, 1.0f), 1.0 / 18.0, 1e-6);
  EXPECT_FLOAT_EQ(ResizeFilterValue(rfMitchell, 2.0f), 0.0f);
  const float support[] = {1, 1, 1.5f, 2, 3, 2};
  const char* names[] = {"Triangle", "Hermite", "Bell", "B-Spline", "Lanczos3", "Mitchell"};
  for (int f = 0; f < 6; ++f) {
    EXPECT_EQ(ResizeFilterSupport(TResizeFilter(f)), support[f]);
    EXPECT_STREQ(ResizeFilterName(TResizeFilter(f)), names[f]);
  }
}

TEST(Resize, EachFilterEnlargingTwoColumnsToThree) {
  TDibGraphic src;
  src.NewImage(2, 2, ifTrueColor, nullptr, 0, 0);
  FillRGB(src, {Grey(0), Grey(240), Grey(0), Grey(240)});
  // Mirrored edges make the wider filters lean towards the right-hand column.
  const int middle[] = {120, 120, 120, 125, 81, 112};
  for (int f = 0; f < 6; ++f) {
    TResizeTransform r;
    r.Interpolate = true;
    r.Filter = TResizeFilter(f);
    r.Width = 3;
    r.Height = 2;
    TDibGraphic dest;
    r.ApplyOnDest(src, dest);
    EXPECT_EQ(dest.GetPixelRGB(1, 0), Grey(middle[f])) << ResizeFilterName(r.Filter);
    EXPECT_EQ(dest.GetPixelRGB(1, 1), Grey(middle[f])) << ResizeFilterName(r.Filter);
    if (f == rfTriangle) {
      EXPECT_EQ(PixelsRGB(dest), (std::vector<RgbValue>{Grey(0), Grey(120), Grey(240), Grey(0),
                                                        Grey(120), Grey(240)}));
    }
  }
}

TEST(Resize, ShrinkingKeepsFlatColour) {
  TDibGraphic src;
  src.NewImage(37, 23, ifTrueColor, nullptr, 0, 0);
  std::memset(src.Bits(), 200, src.ImageSize());
  for (int f = 0; f < 6; ++f) {
    TResizeTransform r;
    r.Interpolate = true;
    r.Filter = TResizeFilter(f);
    r.Width = 5;
    r.Height = 4;
    TDibGraphic dest;
    ProgressLog log;
    r.OnProgress = log.Handler();
    r.ApplyOnDest(src, dest);
    log.ExpectWholeRun();
    for (RgbValue c : PixelsRGB(dest)) {
      // The weights are not normalised; Lanczos3's integrate to a little under 1.
      EXPECT_LE(std::abs(int(RgbRed(c)) - 200), f == rfLanczos3 ? 2 : 1) << ResizeFilterName(r.Filter);
      EXPECT_EQ(RgbRed(c), RgbBlue(c));
    }
  }
}

TEST(Resize, EdgeCases) {
  TDibGraphic column;
  column.NewImage(1, 2, ifTrueColor, nullptr, 0, 0);
  FillRGB(column, {0x336699, 0x336699});
  TResizeTransform r;
  r.Interpolate = true;
  r.Width = 3;
  r.Height = 2;
  TDibGraphic dest;
  r.ApplyOnDest(column, dest);  // a one-pixel source scales by DestW / SrcW
  EXPECT_EQ(PixelsRGB(dest), std::vector<RgbValue>(6, 0x336699));

  r.Width = 1;
  EXPECT_IMAGING_ERROR(r.ApplyOnDest(column, dest), "Destination graphic too small");
  EXPECT_EQ(dest.Width(), 1);  // already reallocated
  r.Width = 2;
  r.Height = 2;
  r.ApplyOnDest(column, dest);
  EXPECT_EQ(dest.Width(), 2);

  // Palette sources are read by colour; a palette destination keeps the source palette.
  TDibGraphic pal;
  pal.NewImage(4, 4, ifColor16, nullptr, 300, 300);
  FillRGB(pal, std::vector<RgbValue>(16, 0xAA0000));
  r.Width = 3;
  r.Height = 3;
  r.ApplyOnDest(pal, dest);
  EXPECT_EQ(dest.ImageFormat(), ifColor16);
  EXPECT_EQ(dest.XDotsPerInch(), 300);
  EXPECT_EQ(PixelsIndex(dest), std::vector<int>(9, 4));
  r.ChangeFormat = true;
  r.DestImageFormat = ifGray256;
  r.ApplyOnDest(pal, dest);
  EXPECT_EQ(dest.ImageFormat(), ifGray256);
  EXPECT_EQ(dest.LogPalette().palPalEntry[77].peRed, 77);  // default grey palette

  // Squeezing 40000 rows into 2 while widening to 30000 columns needs every
  // intermediate row at once (3.6 GB): refused like any oversized image.
  TDibGraphic tall;
  tall.NewImage(1, 40000, ifTrueColor, nullptr, 0, 0);
  TResizeTransform wide;
  wide.Interpolate = true;
  wide.Width = 30000;
  wide.Height = 2;
  EXPECT_IMAGING_ERROR(wide.ApplyOnDest(tall, dest), "CreateDibSection failed");
}

// Output bytes of today's resampling, pinned so that faster code gives the same
// pixels: shrinking, enlarging, mixed, thin and palette cases for every filter.
TEST(Resize, KeepsItsOutputBytes) {
  struct Case {
    int sw, sh, dw, dh, format;
  };
  const Case cases[] = {{97, 61, 23, 17, ifTrueColor}, {40, 30, 131, 77, ifTrueColor},
                        {120, 9, 33, 40, ifTrueColor}, {1, 5, 6, 3, ifTrueColor},
                        {64, 48, 29, 50, ifColor256}};
  const uint64_t expected[5][6] = {
      {0x5e5ffad3e47ddcceull, 0x54bb24ea874a3008ull, 0xda9b3ed84ecce888ull,
       0xff94cbac0ff1ab6cull, 0xe7f3eab29583e894ull, 0x13b9a8b677d04968ull},
      {0x52466881ddf550a4ull, 0x474ff9df2ab6522dull, 0x5d7f9562d06e4168ull,
       0xb967084b391578a0ull, 0xdf560899bd6a620eull, 0x2fccad3538a07945ull},
      {0x9688aa66e2c3b937ull, 0xf7f2da12c92654f4ull, 0xfad6c6cd34c73a82ull,
       0x06ae04057213408eull, 0xf35f7259197a032aull, 0x7233c491e76dc6ccull},
      {0xac027517b2a9c809ull, 0xac027517b2a9c809ull, 0x63f1f9fbaa1ef9f7ull,
       0xd62a36ae9363da6dull, 0x73efbae7e487a3e8ull, 0x118dafd7e26db6afull},
      {0xb2487d56c6419096ull, 0x526701e7bcb969c3ull, 0xd157e089bdafea3cull,
       0xa5683be10ab71e44ull, 0xf0481f6538e30731ull, 0xf7a7a65c34322ca5ull}};
  for (int k = 0; k < 5; ++k) {
    const Case& c = cases[k];
    TDibGraphic src;
    src.NewImage(c.sw, c.sh, c.format, nullptr, 0, 0);
    uint32_t seed = 99u + uint32_t(k);
    for (int y = 0; y < c.sh; ++y)
      for (int x = 0; x < c.sw; ++x) {
        seed = seed * 1664525u + 1013904223u;
        // Smooth gradients with noise, so wide filters over- and undershoot.
        const int v = (x * 255 / c.sw + y * 37) & 255;
        src.SetPixelRGB(x, y, MakeRgbTriple(uint8_t(v), uint8_t(seed >> 24), uint8_t(255 - v)));
      }
    for (int f = 0; f < 6; ++f) {
      TResizeTransform r;
      r.Interpolate = true;
      r.Filter = TResizeFilter(f);
      r.Width = c.dw;
      r.Height = c.dh;
      TDibGraphic dest;
      r.ApplyOnDest(src, dest);
      uint64_t h = 14695981039346656037ull;  // FNV-1a over the stored rows
      for (size_t i = 0; i < dest.ImageSize(); ++i) h = (h ^ dest.Bits()[i]) * 1099511628211ull;
      EXPECT_EQ(h, expected[k][f]) << k << " " << ResizeFilterName(r.Filter);
    }
  }
}

TEST(Resize, StretchWithoutInterpolation) {
  TDibGraphic src;
  src.NewImage(2, 2, ifTrueColor, nullptr, 0, 0);
  FillRGB(src, {1, 2, 3, 4});
  TResizeTransform r;
  r.Width = 4;
  r.Height = 2;
  TDibGraphic dest;
  ProgressLog log;
  r.OnProgress = log.Handler();
  r.ApplyOnDest(src, dest);
  EXPECT_EQ(PixelsRGB(dest), (std::vector<RgbValue>{1, 1, 2, 2, 3, 3, 4, 4}));
  EXPECT_EQ(log.values, (std::vector<int>{0, 50, 100}));
  r.Apply(src);
  EXPECT_EQ(src.Width(), 4);
}

// --- format conversion ---------------------------------------------------------

TEST(FormatConversion, EveryPairKeepsBlackAndWhite) {
  std::vector<RgbValue> checker;
  for (int i = 0; i < 20; ++i) checker.push_back(((i + i / 5) & 1) ? 0xFFFFFF : 0x000000);
  for (int from = 0; from <= 5; ++from) {
    TDibGraphic src;
    src.NewImage(5, 4, from, nullptr, 150, 75);
    FillRGB(src, checker);
    for (int to = 0; to <= 5; ++to) {
      for (int mode = 0; mode < 4; ++mode) {
        TImageFormatTransform t;
        t.DestImageFormat = TImageFormat(to);
        t.Dither = mode & 1;
        t.Quantize = mode & 2;
        TDibGraphic dest;
        t.ApplyOnDest(src, dest);
        SCOPED_TRACE(testing::Message() << from << " -> " << to << " mode " << mode);
        ASSERT_EQ(dest.ImageFormat(), to);
        EXPECT_EQ(dest.Width(), 5);
        EXPECT_EQ(dest.YDotsPerInch(), 75);
        std::vector<RgbValue> got = PixelsRGB(dest);
        if (t.Quantize && (to == ifColor16 || to == ifColor256)) {
          // The quantised palette holds 5-bit colours: white is F8F8F8.
          for (size_t i = 0; i < got.size(); ++i)
            EXPECT_EQ(got[i], checker[i] ? 0xF8F8F8u : 0u) << i;
        } else {
          EXPECT_EQ(got, checker);
        }
      }
    }
  }
}

TEST(FormatConversion, FloydSteinbergSpreadsTheError) {
  TDibGraphic row;
  row.NewImage(8, 1, ifGray256, nullptr, 0, 0);
  FillRGB(row, std::vector<RgbValue>(8, Grey(128)));
  TImageFormatTransform t;
  t.DestImageFormat = ifBlackWhite;
  TDibGraphic dest;
  t.ApplyOnDest(row, dest);
  // The first pixel keeps its error to itself, so the second is white as well.
  EXPECT_EQ(PixelsIndex(dest), (std::vector<int>{1, 1, 0, 1, 0, 1, 0, 1}));
  t.Dither = false;
  t.ApplyOnDest(row, dest);
  EXPECT_EQ(PixelsIndex(dest), std::vector<int>(8, 1));

  // Error carried to the next rows, negative error as well: the white pixel of
  // the second row darkens the third.
  TDibGraphic three;
  three.NewImage(3, 3, ifTrueColor, nullptr, 0, 0);
  FillRGB(three, std::vector<RgbValue>(9, Grey(100)));
  t.Dither = true;
  t.ApplyOnDest(three, dest);
  EXPECT_EQ(PixelsIndex(dest), (std::vector<int>{0, 0, 1, 0, 1, 0, 0, 0, 0}));
}

TEST(FormatConversion, FloydSteinbergKeepsTheTone) {
  // A wedge of grey bands, each level's mean kept within 2 % of full scale.
  constexpr int kW = 256, kBand = 40;
  std::vector<int> levels;
  for (int v = 0; v < 256; v += 8) levels.push_back(v);
  levels.push_back(255);
  TDibGraphic wedge;
  wedge.NewImage(kW, kBand * int(levels.size()), ifGray256, nullptr, 0, 0);
  for (int y = 0; y < wedge.Height(); ++y)
    std::memset(wedge.ScanLine(y), levels[size_t(y / kBand)], kW);
  for (TImageFormat format : {ifBlackWhite, ifGray16}) {
    TImageFormatTransform t;
    t.DestImageFormat = format;
    TDibGraphic dest;
    t.ApplyOnDest(wedge, dest);
    for (size_t i = 0; i < levels.size(); ++i) {
      double sum = 0;
      for (int y = int(i) * kBand + 2; y < int(i + 1) * kBand; ++y)  // past the band's first rows
        for (int x = 0; x < kW; ++x) sum += RgbRed(dest.GetPixelRGB(x, y));
      const double mean = sum / (kW * (kBand - 2));
      EXPECT_NEAR(mean, levels[i], 0.02 * 255) << ImageFormatName(format) << " level " << levels[i];
    }
  }
}

TEST(FormatConversion, PalettesAndProgress) {
  TDibGraphic src;
  src.NewImage(4, 4, ifTrueColor, nullptr, 0, 0);
  for (int i = 0; i < 16; ++i) src.SetPixelRGB(i % 4, i / 4, MakeRgbTriple(uint8_t(i * 16), 0, 0));

  TImageFormatTransform t;
  t.DestImageFormat = ifColor16;
  t.Quantize = false;
  TDibGraphic dest;
  t.ApplyOnDest(src, dest);
  EXPECT_EQ(t.Palette.palNumEntries, 16);  // the default palette is stored and reused
  EXPECT_EQ(t.Palette.palPalEntry[6].peGreen, 0x55);
  t.Palette.palPalEntry[1] = TPaletteEntry{0x70, 0, 0, 0};
  t.ApplyOnDest(src, dest);
  EXPECT_EQ(dest.PaletteColor(1), 0x700000u);
  EXPECT_EQ(dest.GetPixelIndex(3, 1), 1);  // red 112 maps to the new entry

  // A 256-entry palette left from an earlier conversion offers the 16-colour
  // image only the entries its pixels can index.
  t.Palette = *DefaultPalette(ifColor256);
  TDibGraphic violet;
  violet.NewImage(4, 1, ifTrueColor, nullptr, 0, 0);
  for (int x = 0; x < 4; ++x) violet.SetPixelRGB(x, 0, 0x7D7DFF);  // entry 56 of the 256
  for (bool dither : {false, true}) {
    t.Dither = dither;
    t.ApplyOnDest(violet, dest);
    EXPECT_EQ(dest.LogPalette().palNumEntries, 16) << dither;
    EXPECT_EQ(dest.BitmapInfo().bmiHeader.biClrUsed, 16u) << dither;
    EXPECT_EQ(dest.GetPixelRGB(1, 0), 0x5555FFu) << dither;
    if (!dither) {
      for (int x = 0; x < 4; ++x) EXPECT_EQ(dest.GetPixelRGB(x, 0), 0x5555FFu) << x;
    }
  }
  t.Dither = true;

  // True colour to true colour is a copy; Apply on the same format does nothing.
  TImageFormatTransform copy;
  ProgressLog log;
  copy.OnProgress = log.Handler();
  copy.ApplyOnDest(src, dest);
  EXPECT_EQ(PixelsRGB(dest), PixelsRGB(src));
  log.values.clear();
  copy.Apply(src);
  EXPECT_TRUE(log.values.empty());

  TImageFormatTransform q;
  q.DestImageFormat = ifColor256;
  ProgressLog qlog;
  q.OnProgress = qlog.Handler();
  q.ApplyOnDest(src, dest);
  qlog.ExpectWholeRun();
  EXPECT_EQ(dest.LogPalette().palNumEntries, 256);
  EXPECT_EQ(dest.GetPixelRGB(0, 0), 0u);
  EXPECT_EQ(dest.GetPixelRGB(3, 3), 0xF00000u);
  q.Apply(src);
  EXPECT_EQ(src.ImageFormat(), ifColor256);
}
