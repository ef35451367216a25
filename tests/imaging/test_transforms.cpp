#include <gtest/gtest.h>

#include <cstring>

#include "ImagingTestUtil.h"
#include "imaging/EnTransf.h"

namespace {
TDibGraphic& Make(TDibGraphic& img, int w, int h, int format, const std::vector<RgbValue>& px) {
  img.NewImage(w, h, format, nullptr, 120, 240);
  FillRGB(img, px);
  return img;
}

RgbValue Grey(int v) { return MakeRgbTriple(uint8_t(v), uint8_t(v), uint8_t(v)); }
}  // namespace

TEST(Transform, BaseClassRefusesApplyOnDest) {
  TImageTransform t;
  TDibGraphic a, b;
  EXPECT_IMAGING_ERROR(t.ApplyOnDest(a, b),
                       "Method \"ApplyOnDest\" not implemented for TImageTransform class");
}

TEST(Convolution, SmallImagesAreCopiedUnchanged) {
  TDibGraphic src, dest;
  Make(src, 2, 2, ifGray256, {Grey(1), Grey(2), Grey(3), Grey(4)});
  TSharpenTransform sharpen;
  TSmoothTransform smooth;
  TEdgeTransform edge;
  TEmbossTransform emboss;
  for (TImageTransform* t : std::initializer_list<TImageTransform*>{&sharpen, &smooth, &edge, &emboss}) {
    t->ApplyOnDest(src, dest);
    EXPECT_EQ(dest.ImageFormat(), ifGray256) << t->ClassName();
    EXPECT_EQ(PixelsIndex(dest), PixelsIndex(src)) << t->ClassName();
  }
}

TEST(Convolution, KernelsOnAThreeByThreeImage) {
  TDibGraphic src, dest;
  std::vector<RgbValue> px(9, MakeRgbTriple(10, 20, 30));
  px[4] = MakeRgbTriple(100, 20, 0);
  Make(src, 3, 3, ifTrueColor, px);

  TSharpenTransform sharpen;  // centre 37, divisor 25
  ProgressLog log;
  sharpen.OnProgress = log.Handler();
  sharpen.ApplyOnDest(src, dest);
  EXPECT_EQ(sharpen.Kernel[4], 37);
  EXPECT_EQ(sharpen.Divisor, 25);
  EXPECT_EQ(dest.ImageFormat(), ifTrueColor);
  EXPECT_EQ(dest.XDotsPerInch(), 120);
  // red (37*100 - 12*10) / 25 = 143; green unchanged 20; blue (-12*30) < 0 gives 0
  EXPECT_EQ(dest.GetPixelRGB(1, 1), MakeRgbTriple(143, 20, 0));
  for (int i : {0, 1, 2, 3, 5, 6, 7, 8}) EXPECT_EQ(dest.GetPixelRGB(i % 3, i / 3), px[size_t(i)]);
  log.ExpectWholeRun();

  TSmoothTransform smooth;  // centre 35, divisor 47
  smooth.ApplyOnDest(src, dest);
  EXPECT_EQ(smooth.Kernel[4], 35);
  EXPECT_EQ(smooth.Divisor, 47);
  // red (35*100 + 12*10) / 47 = 77
  EXPECT_EQ(RgbRed(dest.GetPixelRGB(1, 1)), 77);

  TEdgeTransform edge;
  edge.ApplyOnDest(src, dest);
  EXPECT_EQ(dest.GetPixelRGB(1, 1), MakeRgbTriple(0, 0, 240));  // 8 * 30 - 8 * 0

  TEmbossTransform emboss;
  emboss.ApplyOnDest(src, dest);
  EXPECT_EQ(dest.GetPixelRGB(1, 1), MakeRgbTriple(100, 20, 0));  // (-3+3)*10 + centre

  // A zero divisor counts as 1; strength is held to 0..100.
  TConvolutionTransform plain;
  plain.Divisor = 0;
  plain.ApplyOnDest(src, dest);
  EXPECT_EQ(plain.Divisor, 1);
  EXPECT_EQ(dest.GetPixelRGB(1, 1), px[4]);
  sharpen.Strength = 1000;
  sharpen.ApplyOnDest(src, dest);
  EXPECT_EQ(sharpen.Kernel[4], 15);
  EXPECT_EQ(sharpen.Divisor, 3);
}

TEST(AntiAlias, BlackAndWhiteBecomesSixteenGreys) {
  TDibGraphic src, dest;
  src.NewImage(9, 2, ifBlackWhite, nullptr, 0, 0);
  // Top row 1000 0000 1, bottom row 1100 0000 0.
  src.SetPixelIndex(0, 0, 1);
  src.SetPixelIndex(8, 0, 1);
  src.SetPixelIndex(0, 1, 1);
  src.SetPixelIndex(1, 1, 1);
  TAntiAliasTransform aa;
  ProgressLog log;
  aa.OnProgress = log.Handler();
  aa.ApplyOnDest(src, dest);
  EXPECT_EQ(dest.ImageFormat(), ifGray16);
  // Pixel 0 sees 3 set bits of its 2x2 block, pixel 1 sees 1; the last row
  // pairs with itself.
  EXPECT_EQ(PixelsIndex(dest), (std::vector<int>{11, 4, 0, 0, 0, 0, 0, 0, 4,
                                                 15, 8, 0, 0, 0, 0, 0, 0, 0}));
  log.ExpectWholeRun();

  TDibGraphic white;
  white.NewImage(5, 3, ifBlackWhite, nullptr, 0, 0);
  std::memset(white.Bits(), 0xFF, white.ImageSize());
  aa.Apply(white);
  EXPECT_EQ(PixelsIndex(white), std::vector<int>(15, 15));

  TDibGraphic grey;
  Make(grey, 2, 1, ifGray16, {Grey(17), Grey(34)});
  aa.ApplyOnDest(grey, dest);
  EXPECT_EQ(dest.ImageFormat(), ifGray16);
  EXPECT_EQ(PixelsIndex(dest), (std::vector<int>{1, 2}));
  aa.Apply(grey);
  EXPECT_EQ(grey.ImageFormat(), ifGray16);
}

TEST(Flip, HorizontalAndVertical) {
  TDibGraphic rgb, pal, dest;
  Make(rgb, 3, 2, ifTrueColor, {1, 2, 3, 4, 5, 6});
  Make(pal, 3, 2, ifGray256, {Grey(1), Grey(2), Grey(3), Grey(4), Grey(5), Grey(6)});
  TFlipHorizontalTransform h;
  h.ApplyOnDest(rgb, dest);
  EXPECT_EQ(PixelsRGB(dest), (std::vector<RgbValue>{3, 2, 1, 6, 5, 4}));
  h.ApplyOnDest(pal, dest);
  EXPECT_EQ(PixelsIndex(dest), (std::vector<int>{3, 2, 1, 6, 5, 4}));
  TFlipVerticalTransform v;
  v.ApplyOnDest(rgb, dest);
  EXPECT_EQ(PixelsRGB(dest), (std::vector<RgbValue>{4, 5, 6, 1, 2, 3}));
  ProgressLog log;
  v.OnProgress = log.Handler();
  v.ApplyOnDest(pal, dest);
  EXPECT_EQ(PixelsIndex(dest), (std::vector<int>{4, 5, 6, 1, 2, 3}));
  EXPECT_EQ(log.values, (std::vector<int>{0, 50, 100}));  // per column
}

TEST(Rotate, QuarterAndHalfTurns) {
  TDibGraphic src, dest;
  Make(src, 3, 2, ifTrueColor, {1, 2, 3, 4, 5, 6});
  TRotateTransform r;
  r.ApplyOnDest(src, dest);  // 90 clockwise
  EXPECT_EQ(dest.Width(), 2);
  EXPECT_EQ(dest.Height(), 3);
  EXPECT_EQ(PixelsRGB(dest), (std::vector<RgbValue>{4, 1, 5, 2, 6, 3}));
  for (double a : {450.0, 90.001, -270.0, 360.0 * 1e9 + 90, -360.0 * 1e9 - 270}) {
    r.Angle = a;
    r.ApplyOnDest(src, dest);
    EXPECT_EQ(PixelsRGB(dest), (std::vector<RgbValue>{4, 1, 5, 2, 6, 3})) << a;
  }
  r.Angle = -90;
  r.ApplyOnDest(src, dest);
  EXPECT_EQ(PixelsRGB(dest), (std::vector<RgbValue>{3, 6, 2, 5, 1, 4}));
  r.Angle = 180;
  r.ApplyOnDest(src, dest);
  EXPECT_EQ(PixelsRGB(dest), (std::vector<RgbValue>{6, 5, 4, 3, 2, 1}));

  TDibGraphic pal;
  Make(pal, 2, 1, ifColor256, {0xFF0000, 0x0000FF});
  r.Angle = 270;
  r.ApplyOnDest(pal, dest);
  EXPECT_EQ(dest.ImageFormat(), ifColor256);
  EXPECT_EQ(PixelsIndex(dest), (std::vector<int>{PixelsIndex(pal)[1], PixelsIndex(pal)[0]}));

  ProgressLog log;
  r.OnProgress = log.Handler();
  for (double a : {360.0, 1e300}) {  // 1e300 is a whole number of turns
    log.values.clear();
    r.Angle = a;
    r.ApplyOnDest(src, dest);
    EXPECT_EQ(dest.Width(), 3) << a;
    EXPECT_EQ(PixelsRGB(dest), PixelsRGB(src)) << a;
    EXPECT_EQ(log.values, (std::vector<int>{0, 100})) << a;
  }
}

TEST(Rotate, FreeRotationFillsTheCorners) {
  TDibGraphic src, dest;
  src.NewImage(100, 50, ifTrueColor, nullptr, 0, 0);
  std::memset(src.Bits(), 0x40, src.ImageSize());
  TRotateTransform r;
  r.Angle = 45;
  r.FillColor = 0x00FF00;
  ProgressLog log;
  r.OnProgress = log.Handler();
  r.ApplyOnDest(src, dest);
  EXPECT_EQ(dest.Width(), 105);
  EXPECT_EQ(dest.Height(), 106);
  EXPECT_EQ(dest.GetPixelRGB(0, 0), 0x00FF00u);
  EXPECT_EQ(dest.GetPixelRGB(104, 105), 0x00FF00u);
  EXPECT_EQ(dest.GetPixelRGB(52, 53), 0x404040u);
  log.ExpectWholeRun();

  // 90.3 degrees is not whole: a free rotation with its own box.
  TDibGraphic small;
  Make(small, 4, 2, ifTrueColor, {1, 2, 3, 4, 5, 6, 7, 8});
  r.Angle = 90.3;
  r.ApplyOnDest(small, dest);
  EXPECT_EQ(dest.Width(), 2);
  EXPECT_EQ(dest.Height(), 4);
}

TEST(Negative, TwiceRestoresEveryFormat) {
  for (int f = 0; f <= 5; ++f) {
    TDibGraphic img;
    Make(img, 5, 2, f, {0x000000, 0xFFFFFF, 0x808080, 0xAA0000, 0x123456,
                        0x00FF00, 0x0000AA, 0x555555, 0xFFFF55, 0x202020});
    std::vector<RgbValue> before = PixelsRGB(img);
    std::vector<uint8_t> bits(img.Bits(), img.Bits() + img.ImageSize());
    TNegativeTransform neg;
    neg.Apply(img);
    EXPECT_EQ(img.XDotsPerInch(), 120) << f;
    if (f != ifColor16 && f != ifColor256) {
      RgbValue first = img.GetPixelRGB(0, 0);
      EXPECT_EQ(first, 0xFFFFFFu) << f;  // black became white
    } else {
      // Palette images keep their pixels and invert their palette.
      EXPECT_EQ(0, std::memcmp(bits.data(), img.Bits(), bits.size())) << f;
      EXPECT_EQ(img.PaletteColor(4), 0x55FFFFu);
    }
    neg.Apply(img);
    EXPECT_EQ(PixelsRGB(img), before) << f;
  }
  TDibGraphic g16, dest;
  Make(g16, 2, 1, ifGray16, {Grey(0x33), Grey(0xFF)});
  TNegativeTransform neg;
  neg.ApplyOnDest(g16, dest);
  EXPECT_EQ(PixelsIndex(dest), (std::vector<int>{12, 0}));
  EXPECT_EQ(PixelsIndex(g16), (std::vector<int>{3, 15}));
}

TEST(Hsl, ContrastAndBrightness) {
  double h, s, l;
  RgbToHsl(128, 128, 128, h, s, l);
  EXPECT_EQ(h, -1);
  for (RgbValue c : {0x0AC81Eu, 0x3C3CFAu, 0xFF0000u, 0xC86432u}) {
    uint8_t r, g, b;
    RgbToHsl(RgbRed(c), RgbGreen(c), RgbBlue(c), h, s, l);
    HslToRgb(h, s, l, r, g, b);
    EXPECT_EQ(MakeRgbTriple(r, g, b), c);
  }

  TDibGraphic img;
  Make(img, 4, 1, ifTrueColor, {Grey(64), Grey(128), Grey(200), MakeRgbTriple(200, 100, 50)});
  TContrastTransform contrast;
  TDibGraphic more, less;
  contrast.ApplyOnDest(img, more);
  EXPECT_EQ(PixelsRGB(more)[0], Grey(51));
  EXPECT_EQ(PixelsRGB(more)[1], Grey(128));  // L = 0.5 stays
  EXPECT_EQ(PixelsRGB(more)[2], Grey(213));
  contrast.Increase = false;
  contrast.ApplyOnDest(img, less);
  EXPECT_EQ(PixelsRGB(less)[0], Grey(77));
  EXPECT_EQ(PixelsRGB(less)[2], Grey(187));

  TBrightnessTransform bright;
  EXPECT_EQ(bright.Brightness(), 5.0);
  bright.SetBrightness(250);
  EXPECT_EQ(bright.Brightness(), 100.0);
  bright.SetBrightness(10);
  ProgressLog log;
  bright.OnProgress = log.Handler();
  bright.Apply(img);
  EXPECT_EQ(PixelsRGB(img)[3], MakeRgbTriple(213, 130, 88));
  log.ExpectWholeRun();
  bright.SetBrightness(-100);
  bright.Apply(img);
  EXPECT_EQ(PixelsRGB(img), std::vector<RgbValue>(4, 0));
}

TEST(Gamma, TableAndClamp) {
  TGammaTransform g;
  g.SetGamma(0.01);
  EXPECT_EQ(g.Gamma(), 0.1);
  g.SetGamma(1.0);
  TDibGraphic src, dest;
  src.NewImage(256, 1, ifGray256, nullptr, 0, 0);
  for (int i = 0; i < 256; ++i) src.SetPixelIndex(i, 0, i);
  g.ApplyOnDest(src, dest);
  EXPECT_EQ(dest.ImageFormat(), ifTrueColor);
  for (int i = 0; i < 256; ++i) ASSERT_EQ(dest.GetPixelRGB(i, 0), Grey(i)) << i;
  g.SetGamma(2.0);
  ProgressLog log;
  g.OnProgress = log.Handler();
  g.ApplyOnDest(src, dest);  // one row: no division by zero
  EXPECT_EQ(dest.GetPixelRGB(128, 0), Grey(181));
  EXPECT_EQ(dest.GetPixelRGB(0, 0), Grey(0));
  EXPECT_EQ(log.values, (std::vector<int>{0, 100}));
}

TEST(Gray, WeightsAndDestinationFormat) {
  TDibGraphic src, dest;
  Make(src, 3, 1, ifTrueColor, {0xFF0000, 0x00FF00, 0xFFFFFF});
  TConvertToGrayTransform gray;
  gray.ApplyOnDest(src, dest);
  EXPECT_EQ(dest.ImageFormat(), ifGray256);
  EXPECT_EQ(PixelsIndex(dest), (std::vector<int>{76, 149, 255}));
  gray.DestImageFormat = ifBlackWhite;
  gray.RedWeight = 2.0;  // sums above 255 are held at 255
  gray.ApplyOnDest(src, dest);
  EXPECT_EQ(PixelsIndex(dest), (std::vector<int>{1, 1, 1}));
  gray.DestImageFormat = ifTrueColor;
  gray.RedWeight = 0.299;
  gray.ApplyOnDest(src, dest);
  EXPECT_EQ(PixelsRGB(dest)[1], Grey(149));
}

TEST(Crop, MarginsAndRefusals) {
  TDibGraphic src, dest;
  Make(src, 4, 3, ifGray16, {Grey(0), Grey(17), Grey(34), Grey(51), Grey(68), Grey(85),
                             Grey(102), Grey(119), Grey(136), Grey(153), Grey(170), Grey(187)});
  TCropTransform crop;
  crop.ApplyOnDest(src, dest);
  EXPECT_EQ(PixelsIndex(dest), PixelsIndex(src));
  crop.LeftMargin = 1;
  crop.TopMargin = 1;
  crop.RightMargin = 1;
  ProgressLog log;
  crop.OnProgress = log.Handler();
  crop.ApplyOnDest(src, dest);
  EXPECT_EQ(dest.ImageFormat(), ifGray16);
  EXPECT_EQ(PixelsIndex(dest), (std::vector<int>{5, 6, 9, 10}));
  log.ExpectWholeRun();

  auto refused = [&](int top, int left, int bottom, int right) {
    TCropTransform c;
    c.TopMargin = top;
    c.LeftMargin = left;
    c.BottomMargin = bottom;
    c.RightMargin = right;
    EXPECT_IMAGING_ERROR(c.ApplyOnDest(src, dest), "Invalid crop parameters");
  };
  refused(3, 0, 0, 0);
  refused(1, 0, 2, 0);
  refused(0, 2, 0, 2);
  refused(-1, 0, 0, 0);
  refused(0, 0, 0, -5);
}

TEST(Transform, ApplyReplacesTheImageInPlace) {
  TDibGraphic img;
  Make(img, 2, 1, ifTrueColor, {1, 2});
  TFlipHorizontalTransform h;
  h.Apply(img);
  EXPECT_EQ(PixelsRGB(img), (std::vector<RgbValue>{2, 1}));
  TCropTransform crop;
  crop.LeftMargin = 5;
  EXPECT_THROW(crop.Apply(img), EImagingError);
  EXPECT_EQ(PixelsRGB(img), (std::vector<RgbValue>{2, 1}));  // left as it was
}

TEST(Transform, OneRowAndOneColumnImagesWithProgress) {
  TSharpenTransform sharpen;
  TAntiAliasTransform aa;
  TFlipHorizontalTransform fh;
  TFlipVerticalTransform fv;
  TRotateTransform quarter, free;
  free.Angle = 33;
  TNegativeTransform neg;
  TContrastTransform contrast;
  TBrightnessTransform bright;
  TGammaTransform gamma;
  TConvertToGrayTransform gray;
  TCropTransform crop;
  crop.LeftMargin = 0;
  crop.TopMargin = 0;
  crop.RightMargin = 0;
  crop.BottomMargin = 0;
  TImageTransform* all[] = {&sharpen, &aa, &fh, &fv, &quarter, &free, &neg,
                            &contrast, &bright, &gamma, &gray, &crop};
  for (int format : {int(ifBlackWhite), int(ifTrueColor)}) {
    for (auto [w, h] : {std::pair{1, 3}, std::pair{3, 1}, std::pair{1, 1}}) {
      TDibGraphic src;
      Make(src, w, h, format, std::vector<RgbValue>(size_t(w * h), 0xFFFFFF));
      for (TImageTransform* t : all) {
        SCOPED_TRACE(t->ClassName() + " " + std::to_string(w) + "x" + std::to_string(h));
        ProgressLog log;
        t->OnProgress = log.Handler();
        TDibGraphic dest;
        t->ApplyOnDest(src, dest);
        if (t == &free)
          EXPECT_GE(dest.Width() * dest.Height(), w * h);  // the turned box can only grow
        else
          EXPECT_EQ(dest.Width() * dest.Height(), w * h);
        if (!log.values.empty()) log.ExpectWholeRun();
      }
    }
  }
}
