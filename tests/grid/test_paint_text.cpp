// Screen text of the Qt canvas checked pixel for pixel against the toolkit drawing the same
// glyphs: placed from the font's character map, wrapped at blanks, and Chinese text in a
// Latin font drawn from the font the toolkit falls back to.
#include <gtest/gtest.h>

#include <QPainter>
#include <QRawFont>
#include <functional>

#include "GridUiApp.h"
#include "platform/QtText.h"
#include "grid/XLGrids.h"
#include "grid/ui/XLQtCanvas.h"

namespace {

constexpr int kW = 240, kH = 60;

QImage Blank() {
  QImage img(kW, kH, QImage::Format_RGB32);
  img.fill(Qt::white);
  return img;
}

TFont CellFont(int32_t style = 0) {
  TFont f;
  f.SetName("Arial");
  f.SetHeight(-13);
  f.SetStyle(style);
  f.SetColor(clBlack);
  return f;
}

// What the canvas draws for text in rect with flags.
QImage CanvasText(const TFont& font, const AnsiString& text, TRect rect, uint32_t flags) {
  GridUiApp();
  QImage img = Blank();
  QPainter p(&img);
  TXLQtCanvas canvas(p, img.rect());
  canvas.SetFont(font);
  canvas.DrawText(text, rect, flags);
  return img;
}

QImage Toolkit(const TFont& font, const std::function<void(QPainter&)>& draw) {
  GridUiApp();
  QImage img = Blank();
  QPainter p(&img);
  p.setFont(XLQFont(font));
  p.setPen(Qt::black);
  draw(p);
  return img;
}

// text's glyphs from the font's map at their own advances, no shaping; returns its width.
int DrawUnshaped(QPainter* p, const QFont& font, const QString& text, QPointF at) {
  const QRawFont raw = QRawFont::fromFont(font);
  const QList<quint32> glyphs = raw.glyphIndexesForString(text);
  QList<QPointF> positions;
  qreal x = 0;
  for (const QPointF& a : raw.advancesForGlyphIndexes(glyphs)) {
    positions.append(QPointF(x, 0));
    x += a.x();
  }
  if (p) {
    QGlyphRun run;
    run.setRawFont(raw);
    run.setGlyphIndexes(glyphs);
    run.setPositions(positions);
    run.setUnderline(font.underline());
    p->drawGlyphRun(at, run);
  }
  return qCeil(x);
}

const uint32_t kCellFlags = DT_NOCLIP | DT_NOPREFIX | DT_EXPANDTABS;

}  // namespace

TEST(PaintText, OneLineIsTheFontsGlyphsAtTheirAdvancesWhereverAligned) {
  GridUiApp();
  const TFont font = CellFont(fsUnderline);
  const QFont qf = XLQFont(font);
  const int ascent = QFontMetrics(qf).ascent();
  const QString text = "Item 1234567 Wave";
  const int w = DrawUnshaped(nullptr, qf, text, {});
  // In a 200-pixel cell at (10, 5): left, right, centred.
  const std::pair<uint32_t, int> cases[] = {{DT_TOP, 10}, {DT_RIGHT, 210 - w}, {DT_CENTER, 10 + (200 - w) / 2}};
  for (const auto& [align, x] : cases) {
    const QImage got = CanvasText(font, text.toStdString(), TRect{10, 5, 210, 40}, align | kCellFlags);
    const QImage want = Toolkit(font, [&](QPainter& p) { DrawUnshaped(&p, qf, text, QPointF(x, 5 + ascent)); });
    EXPECT_EQ(got, want) << "alignment " << align;
  }
  EXPECT_GT(DarkPixels(CanvasText(font, "Item", TRect{10, 5, 210, 40}, kCellFlags), 10, 5, 40, 20), 20);
}

TEST(PaintText, WrappedWordsAreLinesOfTheirOwnWithTheirUnderline) {
  const TFont font = CellFont(fsUnderline);
  GridUiApp();
  const int h = XLLinePitch(XLQFont(font));
  QImage probe = Blank();
  {
    QPainter p(&probe);
    TXLQtCanvas canvas(p, probe.rect());
    canvas.SetFont(font);
    TRect measure{10, 5, 50, 5};
    EXPECT_EQ(canvas.DrawText("Hello world", measure, kCellFlags | DT_WORDBREAK | DT_CALCRECT), 2 * h);
    EXPECT_EQ(measure.Bottom, 5 + 2 * h);
  }
  EXPECT_EQ(probe, Blank());  // measuring draws nothing
  // Each line as if it were a text of its own, one line below the other.
  const QImage wrapped = CanvasText(font, "Hello world", TRect{10, 5, 50, 55}, kCellFlags | DT_WORDBREAK | DT_RIGHT);
  QImage lines = Blank();
  {
    QPainter p(&lines);
    TXLQtCanvas canvas(p, lines.rect());
    canvas.SetFont(font);
    TRect first{10, 5, 50, 55}, second{10, 5 + h, 50, 55};
    canvas.DrawText("Hello", first, kCellFlags | DT_RIGHT);
    canvas.DrawText("world", second, kCellFlags | DT_RIGHT);
  }
  EXPECT_EQ(wrapped, lines);
  EXPECT_GT(DarkPixels(wrapped, 10, 5 + h, 40, h), 20);
}

TEST(PaintText, ChineseInALatinFontDrawsAsTheToolkitDrawsIt) {
  const TFont font = CellFont();
  const QString text = QString::fromUtf8("x\u4e2d\u6587\uff0c y\u3002");
  const QImage got = CanvasText(font, "x\xd6\xd0\xce\xc4\xa3\xac y\xa1\xa3", TRect{10, 5, 210, 40}, kCellFlags);
  const QImage want = Toolkit(font, [&](QPainter& p) {
    p.drawText(QPoint(10, 5 + QFontMetrics(XLQFont(font)).ascent()), text);
  });
  EXPECT_EQ(got, want);
  EXPECT_GT(DarkPixels(got, 18, 5, 30, 20), 20);  // the two characters are there
}

TEST(PaintText, WrappedChineseBreaksWhereTheToolkitBreaks) {
  const TFont font = CellFont();
  // Code page 936: "项目" and "中文", with blanks, digits, a stop and a comma.
  const AnsiString texts[] = {"\xCF\xEE\xC4\xBF 1234567", "\xCF\xEE\xC4\xBF\xD6\xD0\xCE\xC4\xCF\xEE\xC4\xBF",
                              "ab\xD6\xD0\xCE\xC4.cd,\xCF\xEE\xC4\xBF", "Hello world again"};
  for (const AnsiString& text : texts)
    for (const int width : {20, 30, 45, 70}) {
      const QImage got = CanvasText(font, text, TRect{10, 2, 10 + width, 58}, kCellFlags | DT_WORDBREAK);
      const QImage want = Toolkit(font, [&](QPainter& p) {
        p.drawText(QRect(10, 2, width, 56), Qt::AlignTop | Qt::AlignLeft | Qt::TextWordWrap | Qt::TextDontClip,
                   ToQString(text));
      });
      EXPECT_EQ(got, want) << text << " in " << width;
      EXPECT_GT(DarkPixels(got, 10, 2, width, 56), 20);
    }
}
