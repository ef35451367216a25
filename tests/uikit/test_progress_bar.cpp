#include <gtest/gtest.h>

#include "TestApp.h"
#include "uikit/TFlatProgressBarUnit.h"

namespace {
int LitBlocks(const QImage& img, int elementSize = 8) {
  int lit = 0;
  for (int x = 2; x < img.width() - 2; x += elementSize + 1)
    if (PixelAt(img, x + 1, img.height() / 2) == 0x996633) ++lit;
  return lit;
}
}  // namespace

TEST(ProgressBar, BlockGeometry) {
  EXPECT_EQ(TProgressBlocks::SnapLength(147, 8), 147);
  EXPECT_EQ(TProgressBlocks::SnapLength(150, 8), 147);
  EXPECT_EQ(TProgressBlocks::SnapLength(5, 8), 12);
  EXPECT_EQ(TProgressBlocks::SnapLength(309, 8), 309);
  EXPECT_EQ(TProgressBlocks::Total(147, 8), 16);
  EXPECT_EQ(TProgressBlocks::Filled(50, 0, 100, 16), 8);
  EXPECT_EQ(TProgressBlocks::Filled(100, 0, 100, 16), 16);
  EXPECT_EQ(TProgressBlocks::Filled(0, 0, 100, 16), 0);
  // An empty or inverted range shows nothing instead of dividing by zero.
  EXPECT_EQ(TProgressBlocks::Filled(0, 0, 0, 16), 0);
  EXPECT_EQ(TProgressBlocks::Filled(5, 10, -3, 16), 0);
  EXPECT_EQ(TProgressBlocks::Filled(5, 0, 10, 0), 0);
}

TEST(ProgressBar, PositionClampingOrder) {
  TestApp();
  TFlatProgressBar bar;
  EXPECT_EQ(bar.Min(), 0);
  EXPECT_EQ(bar.Max(), 100);
  bar.SetPosition(150);
  EXPECT_EQ(bar.Position(), 100);
  bar.SetMax(40);
  EXPECT_EQ(bar.Position(), 40);
  bar.SetPosition(-5);
  EXPECT_EQ(bar.Position(), 0);
  // Min does not re-clamp the stored position.
  bar.SetPosition(20);
  bar.SetMin(30);
  EXPECT_EQ(bar.Position(), 20);
  // Below Min after clamping to Max: Min wins.
  bar.SetMax(35);
  bar.SetPosition(10);
  EXPECT_EQ(bar.Position(), 30);
}

TEST(ProgressBar, BlocksLightAndSnapWidth) {
  TestApp();
  TFlatProgressBar bar;
  bar.resize(150, 16);
  bar.SetPosition(50);
  QImage img = Grab(&bar);
  EXPECT_EQ(bar.width(), 147);
  EXPECT_EQ(LitBlocks(img), 8);
  EXPECT_EQ(PixelAt(img, 0, 0), 0x8396A0);  // border
  // Block k spans x = 2 + 9k .. 9 + 9k; the gap column keeps the face colour.
  EXPECT_EQ(PixelAt(img, 9, 8), 0x996633);
  EXPECT_EQ(PixelAt(img, 10, 8), bar.Color());
  EXPECT_EQ(PixelAt(img, 5, 1), bar.Color());
  EXPECT_EQ(PixelAt(img, 5, 13), 0x996633);
  EXPECT_EQ(PixelAt(img, 5, 14), bar.Color());
  bar.SetPosition(100);
  EXPECT_EQ(LitBlocks(Grab(&bar)), 16);
  bar.SetPosition(0);
  EXPECT_EQ(LitBlocks(Grab(&bar)), 0);
  bar.setLayoutDirection(Qt::RightToLeft);
  bar.SetPosition(12);  // 1 block, at the right end
  img = Grab(&bar);
  EXPECT_EQ(PixelAt(img, 147 - 3, 8), 0x996633);
  EXPECT_EQ(PixelAt(img, 3, 8), bar.Color());
}

TEST(ProgressBar, SmoothAndDegenerateRanges) {
  TestApp();
  TFlatProgressBar bar;
  bar.SetSmooth(true);
  bar.resize(104, 16);
  bar.SetPosition(50);
  QImage img = Grab(&bar);
  EXPECT_EQ(PixelAt(img, 51, 8), 0x996633);  // 2 + 100 * 50 / 100 = 52 exclusive
  EXPECT_EQ(PixelAt(img, 52, 8), bar.Color());
  // Max = Min paints frame and face only, no crash.
  bar.SetMax(0);
  img = Grab(&bar);
  EXPECT_EQ(PixelAt(img, 3, 8), bar.Color());
  bar.SetSmooth(false);
  img = Grab(&bar);
  EXPECT_EQ(PixelAt(img, 3, 8), bar.Color());
  // Large ranges stay exact (64-bit arithmetic).
  bar.SetSmooth(true);
  bar.resize(104, 16);
  bar.SetMax(2000000000);
  bar.SetPosition(1000000000);
  img = Grab(&bar);
  EXPECT_EQ(PixelAt(img, 51, 8), 0x996633);
  EXPECT_EQ(PixelAt(img, 52, 8), bar.Color());
}

TEST(ProgressBar, VerticalSmoothAtMinDrawsNothing) {
  TestApp();
  TFlatProgressBar bar;
  bar.SetOrientation(pbVertical);
  EXPECT_EQ(bar.width(), 16);
  bar.SetSmooth(true);
  const QImage img = Grab(&bar);
  for (int y = 2; y < img.height() - 2; ++y) ASSERT_EQ(PixelAt(img, 8, y), bar.Color());
  bar.SetPosition(100);
  EXPECT_EQ(PixelAt(Grab(&bar), 8, 3), 0x996633);
}

TEST(ProgressBar, AdvancedBorderFollowsParent) {
  TestApp();
  QWidget parent;
  QPalette pal;
  pal.setColor(QPalette::Window, QColor(200, 100, 50));
  parent.setPalette(pal);
  TFlatProgressBar bar(&parent);
  bar.SetUseAdvColors(true);
  EXPECT_EQ(bar.ColorBorder(), ShiftColorLightness(RGB(200, 100, 50), 0, 50, lsDarker));
  pal.setColor(QPalette::Window, QColor(10, 200, 30));
  parent.setPalette(pal);
  EXPECT_EQ(bar.ColorBorder(), ShiftColorLightness(RGB(10, 200, 30), 0, 50, lsDarker));
}
