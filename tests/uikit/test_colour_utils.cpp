#include <gtest/gtest.h>

#include <QPainter>

#include "TestApp.h"
#include "uikit/FlatUtilitys.h"
#include "uikit/HSLUtils.h"

TEST(HslConversion, KnownColoursAndGreys) {
  const THsl red = RgbToHsl(RGB(255, 0, 0));
  EXPECT_DOUBLE_EQ(red.H, 0);
  EXPECT_DOUBLE_EQ(red.S, 1);
  EXPECT_DOUBLE_EQ(red.L, 0.5);
  const THsl blue = RgbToHsl(RGB(0, 0, 255));
  EXPECT_NEAR(blue.H, 2.0 / 3, 1e-12);
  // Magenta has a negative raw hue that wraps to the upper end.
  EXPECT_NEAR(RgbToHsl(RGB(255, 0, 255)).H, 5.0 / 6, 1e-12);
  for (int v = 0; v < 256; ++v) {
    const THsl g = RgbToHsl(RGB(v, v, v));
    ASSERT_EQ(g.H, 0);
    ASSERT_EQ(g.S, 0);
    ASSERT_EQ(HslToRgb(g), RGB(v, v, v)) << v;
  }
}

TEST(HslConversion, RoundTripsThroughDoublesAndScale) {
  for (TColor c : {RGB(0x33, 0x66, 0x99), RGB(236, 233, 216), RGB(49, 106, 197), RGB(1, 2, 250)})
    EXPECT_EQ(HslToRgb(RgbToHsl(c)), c);
  const THslScaled s = RgbToHslScaled(RGB(255, 0, 0));
  EXPECT_EQ(s.H, 0);
  EXPECT_EQ(s.S, 240);
  EXPECT_EQ(s.L, 120);
  // Blue: hue 2/3 * 239 = 159.33 -> 159.
  EXPECT_EQ(RgbToHslScaled(RGB(0, 0, 255)).H, 159);
  EXPECT_EQ(HslScaledToRgb({0, 0, 240}), RGB(255, 255, 255));
  // 127.5 rounds to the even 128, not up-away 128 vs 127 confusion: 0.5 * 255.
  EXPECT_EQ(HslScaledToRgb({0, 0, 120}), RGB(128, 128, 128));
  EXPECT_EQ(RoundEven(2.5), 2);
  EXPECT_EQ(RoundEven(3.5), 4);
}

TEST(ShiftColorLightness, RulesOfTheAdvancedColours) {
  EXPECT_EQ(ShiftColorLightness(clWhite, RGB(1, 2, 3), 0, lsLighter), RGB(1, 2, 3));
  // White is L 240; +10 then the ceiling 100 gives a mid grey darker than white.
  const TColor lighterWhite = ShiftColorLightness(clWhite, 0, 10, lsLighter);
  EXPECT_EQ(RgbToHslScaled(lighterWhite).L, 100);
  EXPECT_EQ(lighterWhite, RGB(0x6A, 0x6A, 0x6A));
  EXPECT_EQ(ShiftColorLightness(clBlack, clRed, 50, lsDarker), RGB(0, 0, 0));
  // Black + 10 - 5 leaves lightness 5.
  EXPECT_EQ(RgbToHslScaled(ShiftColorLightness(clBlack, 0, 5, lsDarker)).L, 5);
  // System colours are resolved before conversion: btn face is 236,233,216.
  EXPECT_EQ(ShiftColorLightness(clBtnFace, 0, 30, lsDarker),
            ShiftColorLightness(RGB(236, 233, 216), 0, 30, lsDarker));
}

TEST(DrawFlatFrame, PixelOwnershipOfNestedRings) {
  QImage img(10, 8, QImage::Format_RGB32);
  img.fill(Qt::white);
  {
    QPainter p(&img);
    DrawFlatFrame(p, QRect(0, 0, 10, 8), clRed, clBlue, 2);
  }
  auto at = [&](int x, int y) { return TColorOf(QColor(img.pixel(x, y))); };
  for (int ring = 0; ring < 2; ++ring) {
    const int l = ring, t = ring, r = 9 - ring, b = 7 - ring;
    EXPECT_EQ(at(l, t), clRed);
    EXPECT_EQ(at(l, b - 1), clRed);
    EXPECT_EQ(at(r - 1, t), clRed);
    EXPECT_EQ(at(l, b), clBlue) << "bottom-left corner takes bottom-right colour";
    EXPECT_EQ(at(r, t), clBlue) << "top-right corner takes bottom-right colour";
    EXPECT_EQ(at(r, b), clBlue);
  }
  EXPECT_EQ(at(2, 2), clWhite);
  QImage untouched(4, 4, QImage::Format_RGB32);
  untouched.fill(Qt::white);
  {
    QPainter p(&untouched);
    DrawFlatFrame(p, QRect(0, 0, 4, 4), clRed, clBlue, 0);
  }
  EXPECT_EQ(untouched.pixel(0, 0), qRgb(255, 255, 255));
}

TEST(CalcGlyphLayout, MarginAndSpacingRules) {
  const QRect client(0, 0, 100, 40);
  // Neither given: free space in three equal parts.
  TGlyphLayout l = CalcGlyphLayoutSized(client, 0, {40, 10}, blGlyphLeft, -1, -1, {20, 16});
  EXPECT_EQ(l.GlyphPos, QPoint(13, 12));
  EXPECT_EQ(l.TextBounds, QRect(46, 15, 40, 10));
  // No caption, margin -1: centred both ways (spacing becomes 0).
  l = CalcGlyphLayoutSized(client, 0, {0, 0}, blGlyphTop, -1, 4, {16, 16});
  EXPECT_EQ(l.GlyphPos, QPoint(42, 12));
  // Margin given, spacing -1; right layout; press offset moves both by (1, 1).
  l = CalcGlyphLayoutSized(QRect(5, 5, 100, 40), 1, {40, 10}, blGlyphRight, 4, -1, {20, 16});
  // spacing = (100 - 24 - 40) / 2 = 18; glyph x = 100 - 4 - 20 = 76; text = 76 - 18 - 40 = 18.
  EXPECT_EQ(l.GlyphPos, QPoint(76 + 6, 12 + 6));
  EXPECT_EQ(l.TextBounds.topLeft(), QPoint(18 + 6, 15 + 6));
  // Bottom layout with margin -1 and spacing 4: margin = (40 - (16 + 4 + 10) + 1) / 2 = 5.
  l = CalcGlyphLayoutSized(client, 0, {30, 10}, blGlyphBottom, -1, 4, {16, 16});
  EXPECT_EQ(l.GlyphPos.y(), 40 - 5 - 16);
  EXPECT_EQ(l.TextBounds.y(), 19 - 4 - 10);
  // Glyph strip of four images: one quarter of its width counts.
  TestApp();
  QImage strip(64, 16, QImage::Format_RGB32);
  l = CalcGlyphLayout(QFont(), client, 0, QString(), blGlyphLeft, -1, -1, strip, 4);
  EXPECT_EQ(l.GlyphPos, QPoint((100 - 16 + 1) / 2, 12));
}

TEST(CreateDisabledGlyph, EmbossesTheMaskColour) {
  QImage glyph(6, 6, QImage::Format_RGB32);
  glyph.fill(Qt::white);
  glyph.setPixel(2, 2, qRgb(0, 0, 0));
  const QImage out = CreateDisabledGlyph(glyph, clBlack, clBtnFace, clBtnHighlight, clBtnShadow, true);
  auto at = [&](int x, int y) { return TColorOf(QColor(out.pixel(x, y))); };
  EXPECT_EQ(at(2, 2), ColorToRGB(clBtnShadow));
  EXPECT_EQ(at(3, 3), ColorToRGB(clBtnHighlight));
  EXPECT_EQ(at(0, 0), ColorToRGB(clBtnFace));
  EXPECT_EQ(at(5, 5), ColorToRGB(clBtnFace));
}

TEST(SmallRoutines, FontHeightMinWordRects) {
  TestApp();
  QFont f;
  const int h = QFontMetrics(f).height();
  EXPECT_EQ(GetFontHeight(f), RoundEven(h + h / 8.0));
  EXPECT_EQ(MinWord(65535, 3), 3);
  EXPECT_TRUE(RectsIntersect(QRect(0, 0, 5, 5), QRect(4, 4, 5, 5)));
  EXPECT_FALSE(RectsIntersect(QRect(0, 0, 5, 5), QRect(5, 0, 5, 5)));
}
