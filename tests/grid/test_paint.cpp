// Section painting checked by its pixels on an offscreen image.
#include <gtest/gtest.h>

#include <climits>

#include <QBuffer>
#include <QPainter>

#include "GridUiApp.h"
#include "grid/XLCells.h"
#include "grid/XLPaint.h"
#include "grid/XLSections.h"
#include "grid/XLSheet.h"
#include "grid/XLStyles.h"
#include "grid/ui/XLQtCanvas.h"

namespace {

constexpr TColor kUnpainted = RGB(255, 0, 255);

// Paints a whole sector at the image's top-left corner.
QImage PaintSector(TXLSheet& sheet, TXLSector sector, int zoom = 100, TXLPaintContext ctx = {}) {
  GridUiApp();
  QImage img(400, 200, QImage::Format_RGB32);
  img.fill(QColor(255, 0, 255));
  QPainter p(&img);
  TXLQtCanvas canvas(p, img.rect());
  TXLSection& s = *sheet.Section(sector);
  ctx.Canvas = &canvas;
  ctx.Zoom = zoom;
  ctx.Range = s.Bounds();
  s.Paint(ctx);
  return img;
}

// A 4 x 4 sheet of 60 x 20 cells.
void Shape(TXLSheet& sheet) {
  sheet.SetCount(sCols, 4);
  sheet.SetCount(sRows, 4);
  sheet.SetDefSize(sRows, 20);
}

const TColor kLines = RGB(236, 233, 216);  // the client's grid lines (button face)

// A stored bitmap: its byte count, then the file.
TXLPicture Bitmap(QColor color) {
  QImage img(10, 10, QImage::Format_RGB32);
  img.fill(color);
  QBuffer buf;
  buf.open(QIODevice::WriteOnly);
  img.save(&buf, "BMP");
  const uint32_t n = uint32_t(buf.data().size());
  std::string data{char(n & 0xFF), char(n >> 8 & 0xFF), char(n >> 16 & 0xFF), char(n >> 24)};
  data += buf.data().toStdString();
  return TXLPicture{"TBitmap", data};
}

}  // namespace

TEST(Paint, GridLinesMergedAreaTextClipAndCheckBox) {
  TXLSheet sheet;
  Shape(sheet);
  TXLSection& s = *sheet.Section(sClient);
  TXLCell* right = s.PutCell(TPoint{0, 0}, &XLCStringClass);
  right->SetAsString("WW");
  right->SetHorzAlign(haRight);
  TXLCell* clipped = s.PutCell(TPoint{0, 3}, &XLCStringClass);
  clipped->SetWrapMode(wmClip);
  clipped->SetAsString("WWWWWWWWWWWWWWWWWWWWWWWW");
  ASSERT_TRUE(s.Merge(TRect{1, 1, 3, 3}));
  TXLCell* head = s.GetCell(TPoint{1, 1});
  head->SetAsString("MM");
  head->SetHorzAlign(haCenter);
  head->SetVertAlign(vaCenter);
  s.PutCell(TPoint{3, 0}, &XLCBooleanClass)->SetAsBoolean(true);
  s.PutCell(TPoint{3, 1}, &XLCBooleanClass)->SetAsBoolean(false);
  TXLProRange(&s, TRect{0, 1, 1, 2}).SetColor(clRed);
  static_cast<TXLCPicture*>(s.PutCell(TPoint{2, 3}, &XLCPictureClass))->SetPicture(Bitmap(Qt::blue));
  auto* fixed = static_cast<TXLCPicture*>(s.PutCell(TPoint{3, 3}, &XLCPictureClass));
  fixed->SetPicture(Bitmap(Qt::green));
  fixed->SetWrapMode(wmClip);
  fixed->SetVertAlign(vaTop);

  const QImage img = PaintSector(sheet, sClient);
  // Grid lines at the right and bottom edge of every cell, in the lines colour.
  EXPECT_EQ(PixelAt(img, 59, 5), kLines);
  EXPECT_EQ(PixelAt(img, 239, 5), kLines);
  EXPECT_EQ(PixelAt(img, 30, 19), kLines);
  EXPECT_EQ(PixelAt(img, 30, 79), kLines);
  EXPECT_EQ(PixelAt(img, 240, 5), kUnpainted);  // nothing beyond the range
  // The merged 2 x 2 area: no inner grid lines, one text in its middle.
  EXPECT_EQ(PixelAt(img, 119, 30), clWhite);
  EXPECT_EQ(PixelAt(img, 90, 39), clWhite);
  EXPECT_EQ(PixelAt(img, 179, 30), kLines);  // its own right edge
  EXPECT_GT(DarkPixels(img, 105, 28, 30, 24), 10);
  EXPECT_EQ(DarkPixels(img, 62, 22, 30, 36), 0);
  // Right alignment: the text sits at the right of its cell.
  EXPECT_GT(DarkPixels(img, 30, 0, 29, 19), 10);
  EXPECT_EQ(DarkPixels(img, 0, 0, 20, 19), 0);
  // A clipped text stays in its cell.
  EXPECT_GT(DarkPixels(img, 0, 60, 59, 19), 10);
  EXPECT_EQ(DarkPixels(img, 60, 60, 60, 19), 0);
  // A coloured cell keeps its colour; grid lines do not cross it.
  EXPECT_EQ(PixelAt(img, 10, 25), clRed);
  EXPECT_EQ(PixelAt(img, 59, 25), clRed);
  // Pictures: stretched over the text area when wrapping, else at their own size.
  EXPECT_EQ(PixelAt(img, 121, 61), clBlue);
  EXPECT_EQ(PixelAt(img, 177, 77), clBlue);
  EXPECT_EQ(PixelAt(img, 189, 69), clLime);
  EXPECT_EQ(PixelAt(img, 190, 70), clWhite);
  // Check boxes: a tick only in the checked one.
  EXPECT_GT(DarkPixels(img, 180, 0, 59, 19), 5);
  EXPECT_EQ(DarkPixels(img, 180, 20, 59, 19), 0);
}

TEST(Paint, GridLinesNeedZoomAboveQuarterAndTheirOwnColour) {
  TXLSheet sheet;
  Shape(sheet);
  EXPECT_EQ(PixelAt(PaintSector(sheet, sClient, 26), 14, 2), kLines);  // 60 * 26 / 100 - 1
  EXPECT_EQ(PixelAt(PaintSector(sheet, sClient, 25), 14, 2), clWhite);
  sheet.BaseClientStyle()->SetLinesColor(clWindow);
  EXPECT_EQ(PixelAt(PaintSector(sheet, sClient), 59, 5), clWhite);
  // The view's options switch each direction off.
  sheet.BaseClientStyle()->SetLinesColor(clBlack);
  TXLPaintContext opts;
  opts.VertLines = false;
  const QImage img = PaintSector(sheet, sClient, 100, opts);
  EXPECT_EQ(PixelAt(img, 59, 5), clWhite);
  EXPECT_EQ(PixelAt(img, 30, 19), clBlack);
  // A stored size far beyond any screen paints without overflowing its positions.
  sheet.SetSize(1, sRows, INT32_MAX);
  sheet.SetSize(2, sRows, INT32_MAX);
  ASSERT_TRUE(sheet.Section(sClient)->Merge(TRect{0, 1, 2, 4}));
  EXPECT_EQ(PixelAt(PaintSector(sheet, sClient, 200), 30, 39), clBlack);
}

TEST(Paint, AStoredFontHeightOfAnyValuePaintsWithoutHarm) {
  TXLSheet sheet;
  Shape(sheet);
  TXLSection& s = *sheet.Section(sClient);
  s.PutCell(TPoint{1, 0}, &XLCStringClass)->SetAsString("Next");
  TXLCell* odd = s.PutCell(TPoint{0, 0}, &XLCStringClass);
  odd->SetAsString("Odd");
  for (const int32_t height : {INT32_MIN, INT32_MAX, 0}) {
    odd->Font().SetHeight(height);
    EXPECT_GT(DarkPixels(PaintSector(sheet, sClient), 60, 0, 59, 19), 5) << height;
  }
}

TEST(Paint, BorderLinesOnlyInClientAndWideDiagonalsClipped) {
  TXLSheet sheet;
  Shape(sheet);
  sheet.BaseClientStyle()->SetLinesColor(clWindow);
  TXLProRange(sheet.Section(sClient), TRect{1, 0, 2, 1}).SetLine(sLeft, TXLLine{1, clBlue});
  TXLProRange(sheet.Section(sCols), TRect{1, 0, 2, 1}).SetLine(sLeft, TXLLine{1, clBlue});
  TXLProRange(sheet.Section(sClient), TRect{2, 2, 3, 3}).SetLine(sBias1, TXLLine{3, clGreen});
  const QImage client = PaintSector(sheet, sClient);
  EXPECT_EQ(PixelAt(client, 60, 10), clBlue);
  EXPECT_EQ(PixelAt(client, 60, 30), clWhite);  // only the cell's own segment
  EXPECT_EQ(PixelAt(client, 150, 50), clGreen);
  EXPECT_NE(PixelAt(client, 119, 39), clGreen);  // the wide pen stops at the cell
  EXPECT_NE(PixelAt(client, 180, 60), clGreen);
  const QImage title = PaintSector(sheet, sCols);
  EXPECT_NE(PixelAt(title, 60, 10), clBlue);
}

TEST(Paint, TitleFramesHintsAndSelectionMarks) {
  TXLSheet sheet;
  Shape(sheet);
  // Title cells are raised: light top-left, shadow bottom-right.
  const QImage title = PaintSector(sheet, sCols);
  EXPECT_EQ(PixelAt(title, 10, 0), RGB(255, 255, 255));
  EXPECT_EQ(PixelAt(title, 10, 19), RGB(172, 168, 153));
  EXPECT_EQ(PixelAt(title, 10, 7), RGB(236, 233, 216));

  TXLSection& s = *sheet.Section(sClient);
  s.PutCell(TPoint{0, 0}, &XLCStringClass)->SetHint("field");
  TXLPaintContext ctx;
  ctx.ShowHints = true;
  ctx.Selection = TRect{1, 1, 2, 2};
  ctx.SelectionMarks = smCorner | smFocus;
  const QImage img = PaintSector(sheet, sClient, 100, ctx);
  EXPECT_EQ(PixelAt(img, 58, 1), clRed);   // hint triangle in the top-right corner
  EXPECT_EQ(PixelAt(img, 54, 3), clWhite);
  EXPECT_EQ(PixelAt(img, 61, 21), clBlack);  // corner mark: white inverted
  EXPECT_EQ(PixelAt(img, 64, 20), clBlack);  // focus dots
  EXPECT_EQ(PixelAt(img, 65, 20), clWhite);
  // The hatch inverts every other pixel, its pattern starting at the cell's corner.
  ctx.SelectionMarks = smHatch;
  const QImage hatched = PaintSector(sheet, sClient, 100, ctx);
  EXPECT_EQ(PixelAt(hatched, 70, 30), clWhite);
  EXPECT_EQ(PixelAt(hatched, 71, 30), clBlack);
  EXPECT_EQ(PixelAt(hatched, 71, 31), clWhite);
  EXPECT_EQ(PixelAt(hatched, 131, 30), clWhite);  // only the selected cell
}
