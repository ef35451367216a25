#include <gtest/gtest.h>

#include <QLineEdit>
#include <QtTest/QTest>

#include "TestApp.h"
#include "uikit/TFlatComboBoxUnit.h"
#include "uikit/wiaTile.h"

TEST(FlatComboBox, FrameButtonAndArrow) {
  TestApp();
  QWidget form;
  TFlatComboBox combo(&form);
  combo.resize(120, 21);
  combo.SetItems({"one", "two"});
  form.show();
  QImage img = Grab(&combo);
  const int w = 120, h = 21;
  EXPECT_EQ(PixelAt(img, 0, 10), 0x8396A0);
  EXPECT_EQ(PixelAt(img, 1, 10), 0xE1EAEB);
  EXPECT_EQ(PixelAt(img, w - 13, 10), 0x8396A0) << "button's left border";
  EXPECT_EQ(PixelAt(img, w - 1, 10), 0x8396A0) << "button's right border";
  EXPECT_EQ(PixelAt(img, w - 11, 2), 0xC5D6D9) << "button face";
  // Arrow: 5, 3 and 1 pixels wide around x = w - 7, pointing down.
  const int y = h / 2 - 1;
  EXPECT_EQ(PixelAt(img, w - 9, y), clBlack);
  EXPECT_EQ(PixelAt(img, w - 7, y + 2), clBlack);
  EXPECT_EQ(PixelAt(img, w - 9, y + 2), 0xC5D6D9);
  EXPECT_EQ(combo.lineEdit()->geometry(), QRect(3, 3, w - 19, h - 6));

  combo.showPopup();
  EXPECT_TRUE(combo.DroppedDown());
  img = Grab(&combo);
  EXPECT_EQ(PixelAt(img, w - 7, y), clBlack) << "tip on top while dropped down";
  EXPECT_EQ(PixelAt(img, w - 9, y), 0xC5D6D9);
  EXPECT_EQ(PixelAt(img, w - 9, y + 2), clBlack);
  combo.hidePopup();
  EXPECT_FALSE(combo.DroppedDown());

  combo.setEnabled(false);
  img = Grab(&combo);
  EXPECT_EQ(PixelAt(img, w - 9, y), 0x808080);
  EXPECT_EQ(PixelAt(img, w - 8, y + 1), 0x808080);
}

TEST(FlatComboBox, ListStyleFocusStripAndAdvColoursFromParent) {
  TestApp();
  QWidget form;
  QPalette pal;
  pal.setColor(QPalette::Window, QColor(90, 160, 60));
  form.setPalette(pal);
  TFlatComboBox combo(&form);
  combo.SetStyle(TFlatComboBox::csDropDownList);
  combo.resize(120, 21);
  combo.SetItems({"alpha", "beta"});
  combo.SetItemIndex(1);
  EXPECT_EQ(combo.Text(), "beta");
  form.show();
  QApplication::setActiveWindow(&form);
  combo.setFocus();
  QImage img = Grab(&combo);
  EXPECT_EQ(PixelAt(img, 120 - 2 - 11 - 6, 10), ColorToRGB(clHighlight)) << "face strip";
  combo.clearFocus();
  img = Grab(&combo);
  EXPECT_EQ(PixelAt(img, 120 - 2 - 11 - 6, 10), 0xE1EAEB);

  combo.SetUseAdvColors(true);
  EXPECT_EQ(combo.ColorBorder(), ShiftColorLightness(RGB(90, 160, 60), 0, 50, lsDarker));
  EXPECT_EQ(combo.ColorArrowBackground(), ShiftColorLightness(RGB(90, 160, 60), 0, 10, lsDarker));
  EXPECT_EQ(combo.Color(), 0xE1EAEB) << "its own colour is left alone";
  pal.setColor(QPalette::Window, QColor(20, 20, 200));
  form.setPalette(pal);
  EXPECT_EQ(combo.ColorBorder(), ShiftColorLightness(RGB(20, 20, 200), 0, 50, lsDarker));
  // Without a parent the own colour stands in.
  TFlatComboBox orphan;
  orphan.SetColor(RGB(200, 0, 0));
  orphan.SetUseAdvColors(true);
  EXPECT_EQ(orphan.ColorBorder(), ShiftColorLightness(RGB(200, 0, 0), 0, 50, lsDarker));
}

TEST(TiledBackground, TilesModesAndEmptyImage) {
  TestApp();
  QWidget form;
  form.resize(250, 60);
  QPalette pal;
  pal.setColor(QPalette::Window, QColor(0, 128, 0));
  form.setPalette(pal);
  form.setAutoFillBackground(true);
  TwiaTile tile(&form);
  EXPECT_EQ(tile.geometry(), form.rect()) << "fills the parent";
  QImage img(100, 30, QImage::Format_RGB32);
  img.fill(Qt::white);  // bottom-left white: the transparent colour
  for (int y = 0; y < 30; ++y) img.setPixel(10, y, qRgb(255, 0, 0));
  img.setPixel(99, 0, qRgb(0, 0, 255));
  tile.SetImage(img);
  EXPECT_EQ(tile.TranColor(), clWhite);

  // Faded with the default white fade colour: only the parent's colour shows.
  QImage shot = Grab(&form);
  EXPECT_EQ(PixelAt(shot, 10, 5), RGB(0, 128, 0));
  EXPECT_EQ(PixelAt(shot, 50, 5), RGB(0, 128, 0));
  tile.SetFadeColor(clNavy);
  shot = Grab(&form);
  EXPECT_EQ(PixelAt(shot, 110, 5), clNavy);
  EXPECT_EQ(PixelAt(shot, 50, 5), RGB(0, 128, 0));

  tile.SetTileMode(tmNormal);
  shot = Grab(&form);
  for (int x : {10, 110, 210}) EXPECT_EQ(PixelAt(shot, x, 35), clRed) << x;
  EXPECT_EQ(PixelAt(shot, 199, 30), clBlue) << "second row of tiles";
  EXPECT_EQ(PixelAt(shot, 249, 5), clWhite) << "third tile cut at the edge";

  tile.SetTransparent(true);
  EXPECT_EQ(tile.TileMode(), tmTransparent);
  shot = Grab(&form);
  EXPECT_EQ(PixelAt(shot, 50, 5), RGB(0, 128, 0));
  EXPECT_EQ(PixelAt(shot, 110, 5), clRed);
  tile.SetFaded(false);
  EXPECT_EQ(tile.TileMode(), tmTransparent);

  tile.SetImage(QImage());
  EXPECT_TRUE(tile.Working().isNull());
  EXPECT_FALSE(tile.Image().isNull());
  shot = Grab(&form);
  EXPECT_EQ(PixelAt(shot, 110, 5), RGB(0, 128, 0));
  form.resize(300, 80);
  Grab(&form);
  EXPECT_EQ(tile.size(), QSize(300, 80));
}
