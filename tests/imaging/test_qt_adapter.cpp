#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>

#include "ImagingTestUtil.h"
#include "imaging/ui/EnDibQt.h"

namespace {
int argc = 1;
char name[] = "imaging_qt";
char* argv[] = {name, nullptr};
QApplication& App() {
  static QApplication app(argc, argv);
  return app;
}
}  // namespace

TEST(DibQt, ImagesMatchPixelForPixel) {
  App();
  TDibGraphic bw;
  bw.NewImage(10, 3, ifBlackWhite, nullptr, 0, 0);
  bw.SetPixelIndex(9, 2, 1);
  bw.SetPixelIndex(0, 0, 1);
  QImage q = DibToQImage(bw);
  EXPECT_EQ(q.format(), QImage::Format_Mono);
  EXPECT_EQ(q.pixel(0, 0), qRgb(255, 255, 255));
  EXPECT_EQ(q.pixel(9, 2), qRgb(255, 255, 255));
  EXPECT_EQ(q.pixel(1, 0), qRgb(0, 0, 0));

  TDibGraphic g16;
  g16.NewImage(3, 1, ifGray16, nullptr, 0, 0);
  g16.SetPixelIndex(2, 0, 5);
  EXPECT_EQ(DibToQImage(g16).pixel(2, 0), qRgb(85, 85, 85));

  TDibGraphic rgb;
  rgb.NewImage(2, 2, ifTrueColor, nullptr, 0, 0);
  FillRGB(rgb, {0x102030, 0x405060, 0x708090, 0xA0B0C0});
  QImage qr = DibToQImage(rgb);
  EXPECT_EQ(qr.pixel(1, 0), qRgb(0x40, 0x50, 0x60));
  EXPECT_EQ(qr.pixel(0, 1), qRgb(0x70, 0x80, 0x90));

  TDibGraphic back;
  AssignFromQImage(back, qr);
  EXPECT_EQ(back.ImageFormat(), ifTrueColor);
  EXPECT_EQ(PixelsRGB(back), PixelsRGB(rgb));
  AssignFromQImage(back, q);
  EXPECT_EQ(back.ImageFormat(), ifBlackWhite);
  EXPECT_EQ(PixelsIndex(back), PixelsIndex(bw));
  AssignFromQImage(back, DibToQImage(g16));
  EXPECT_EQ(back.ImageFormat(), ifColor256);  // indexed pictures never come back grey
  EXPECT_EQ(back.GetPixelRGB(2, 0), 0x555555u);
  QImage argb(1, 1, QImage::Format_ARGB32);
  argb.fill(qRgba(255, 255, 255, 0));
  AssignFromQImage(back, argb);
  EXPECT_EQ(back.GetPixelRGB(0, 0), 0u);  // transparent over black
}

TEST(DibQt, CanvasWritesBackAndDrawFiresAfterDraw) {
  App();
  TDibGraphic img;
  img.NewImage(4, 4, ifColor16, nullptr, 0, 0);
  {
    TDibCanvas canvas(img);
    canvas.Painter().fillRect(0, 0, 2, 4, QColor(250, 10, 10));
  }
  EXPECT_EQ(img.GetPixelIndex(1, 3), 4);  // nearest: AA0000
  EXPECT_EQ(img.GetPixelIndex(2, 0), 0);

  int drawn = 0;
  img.OnAfterDraw = [&](TDibGraphic*) { ++drawn; };
  QImage target(8, 8, QImage::Format_RGB32);
  target.fill(Qt::white);
  QPainter p(&target);
  DrawDib(p, QRect(0, 0, 4, 4), img);
  DrawDib(p, QRect(0, 0, 8, 8), img);
  p.end();
  EXPECT_EQ(drawn, 2);
  EXPECT_EQ(target.pixel(7, 7), qRgb(0, 0, 0));
  EXPECT_EQ(target.pixel(0, 0), qRgb(0xAA, 0x00, 0x00));
}

TEST(DibQt, ClipboardRoundTrip) {
  App();
  TDibGraphic bw;
  bw.NewImage(9, 2, ifBlackWhite, nullptr, 0, 0);
  bw.SetPixelIndex(8, 1, 1);
  CopyDibToClipboard(bw);
  TDibGraphic back;
  LoadDibFromClipboard(back);
  EXPECT_EQ(back.ImageFormat(), ifBlackWhite);
  EXPECT_EQ(PixelsIndex(back), PixelsIndex(bw));
  QGuiApplication::clipboard()->clear();
  EXPECT_THROW(
      {
        try {
          LoadDibFromClipboard(back);
        } catch (const EInvalidGraphic& e) {
          EXPECT_EQ(std::string(e.Message()), "Unknown clipboard format, 2");
          throw;
        }
      },
      EInvalidGraphic);
}

TEST(DibQt, HooksShowTheWaitCursor) {
  App();
  InstallImagingQtHooks();
  BeginWaitCursor();
  EXPECT_NE(QGuiApplication::overrideCursor(), nullptr);
  EndWaitCursor();
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}
