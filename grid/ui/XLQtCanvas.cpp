#include "grid/ui/XLQtCanvas.h"

#include <QCache>
#include <QFontMetrics>
#include <QGlyphRun>
#include <QImage>
#include <QLine>
#include <QPaintEngine>
#include <QPolygon>
#include <QRawFont>
#include <QtMath>
#include <algorithm>
#include <memory>

#include "core/QtText.h"
#include "grid/XLGrids.h"

using namespace xledge;

namespace {

QRect Q(const TRect& r) { return QRect(r.Left, r.Top, r.Width(), r.Height()); }

int TextFlags(uint32_t flags) {
  int f = Qt::AlignTop;
  if (flags & DT_RIGHT)
    f |= Qt::AlignRight;
  else if (flags & DT_CENTER)
    f |= Qt::AlignHCenter;
  else
    f |= Qt::AlignLeft;
  if (flags & DT_EXPANDTABS) f |= Qt::TextExpandTabs;
  if (flags & DT_WORDBREAK) f |= Qt::TextWordWrap;
  return f;
}

// The 8 x 8 pattern of the selection hatch: every other pixel.
const QImage& HatchPattern() {
  static const QImage img = [] {
    QImage i(8, 8, QImage::Format_RGB32);
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 8; ++x) i.setPixel(x, y, (x + y) % 2 ? 0xFFFFFFFF : 0xFF000000);
    return i;
  }();
  return img;
}

// Single lines of screen text by font and text, at most kScreenTexts of them: their width
// and their glyphs placed on the baseline, taken from the font's character map without
// shaping, as the platform's plain text output does. A text with a character the font lacks
// keeps no glyphs and goes through the toolkit's text drawing with its font fallback.
constexpr int kScreenTexts = 8192;
struct TScreenText {
  int Width = 0;
  qreal Advance = 0;
  QGlyphRun Run;
  // Plain words and blanks only: breaking at the blanks is all that wrapping can do.
  bool Words = false;
};

struct TTextLine {
  int Start, End;
  qreal Width;
};

// Greedy word wrap at blanks; a word wider than the line keeps a line of its own.
std::vector<TTextLine> WrapWords(const TScreenText& text, const QString& t, int width) {
  const QList<QPointF> pos = text.Run.positions();
  const int n = int(pos.size());
  auto x = [&](int i) { return i < n ? pos[i].x() : text.Advance; };
  std::vector<TTextLine> lines;
  int i = 0;
  while (i < n) {
    while (i < n && t[i] == QLatin1Char(' ')) ++i;
    if (i == n) break;
    const int start = i;
    int end = i;
    while (i < n) {
      int k = i;
      while (k < n && t[k] != QLatin1Char(' ')) ++k;
      if (end > start && x(k) - x(start) > width) break;
      end = k;
      while (k < n && t[k] == QLatin1Char(' ')) ++k;
      i = k;
    }
    lines.push_back({start, end, x(end) - x(start)});
  }
  if (lines.empty()) lines.push_back({0, 0, 0});
  return lines;
}

TScreenText& ScreenText(const QString& text, const QRawFont& raw, const QString& fontKey, const QFontMetrics& fm) {
  static QCache<QString, TScreenText> cache(kScreenTexts);
  const QString key = fontKey + text;
  if (TScreenText* hit = cache.object(key)) return *hit;
  auto* entry = new TScreenText;
  QList<quint32> glyphs = raw.isValid() ? raw.glyphIndexesForString(text) : QList<quint32>();
  const bool complete = !glyphs.isEmpty() && !glyphs.contains(0u);
  if (complete) {
    const QList<QPointF> advances = raw.advancesForGlyphIndexes(glyphs);
    QList<QPointF> positions;
    positions.reserve(glyphs.size());
    qreal x = 0;
    for (const QPointF& a : advances) {
      positions.append(QPointF(x, 0));
      x += a.x();
    }
    entry->Run.setRawFont(raw);
    entry->Run.setGlyphIndexes(glyphs);
    entry->Run.setPositions(positions);
    entry->Width = qCeil(x);
    entry->Advance = x;
    entry->Words = std::all_of(text.begin(), text.end(), [](QChar c) {
      return c == QLatin1Char(' ') || c == QLatin1Char('.') || c == QLatin1Char(',') ||
             (c.unicode() < 0x80 && c.isLetterOrNumber());
    });
  } else {
    entry->Width = fm.horizontalAdvance(text);
  }
  cache.insert(key, entry);
  return *entry;
}

}  // namespace

QColor XLQColor(TColor color) {
  const TColor c = ColorToRGB(color);
  return QColor(GetRValue(c), GetGValue(c), GetBValue(c));
}

QFont XLQFont(const TFont& font) {
  QFont f(ToQString(font.Name()));
  const int32_t h = font.Height();
  f.setPixelSize(std::max(1, h < 0 ? -h : h));
  f.setBold(font.Style() & fsBold);
  f.setItalic(font.Style() & fsItalic);
  f.setUnderline(font.Style() & fsUnderline);
  f.setStrikeOut(font.Style() & fsStrikeOut);
  return f;
}

TXLQtCanvas::TXLQtCanvas(QPainter& painter, const QRect& area) : p_(painter), base_(area), clip_(area) {
  ApplyClip();
}

void TXLQtCanvas::ApplyClip() { p_.setClipRegion(clip_); }

void TXLQtCanvas::ResetClip() {
  saved_.clear();
  clip_ = base_;
  ApplyClip();
}

void TXLQtCanvas::ExcludeClipRect(const TRect& rect) {
  if (rect.IsEmpty()) return;
  clip_ -= Q(rect);
  ApplyClip();
}

void TXLQtCanvas::PushClipRect(const TRect& rect) {
  saved_.push_back(clip_);
  clip_ &= Q(rect);
  ApplyClip();
}

void TXLQtCanvas::PopClip() {
  if (saved_.empty()) return;
  clip_ = std::move(saved_.back());
  saved_.pop_back();
  ApplyClip();
}

void TXLQtCanvas::SetFont(const TFont& font) {
  // Cells of one section mostly share a font; building the toolkit font is the costly part.
  if (haveFont_ && font.SameAs(lastFont_)) return;
  lastFont_ = font;
  haveFont_ = true;
  font_ = XLQFont(font);
  fontKey_ = font_.key() + QChar(0x1F);
  rawFont_ = QRawFont::fromFont(font_);
  fontColor_ = XLQColor(font.Color());
  p_.setFont(font_);
}

int32_t TXLQtCanvas::DrawText(const AnsiString& text, TRect& rect, uint32_t flags) {
  QString t = ToQString(text);
  const QFontMetrics fm(font_, p_.device());
  int align = TextFlags(flags);
  const bool wrap = flags & DT_WORDBREAK;
  if ((flags & DT_END_ELLIPSIS) && !wrap) {
    QStringList lines = t.split('\n');
    for (QString& l : lines) l = fm.elidedText(l, Qt::ElideRight, std::max(0, rect.Width()));
    t = lines.join('\n');
  }
  // One line on the screen: laid out once and kept, so a repaint neither measures nor
  // shapes a text it has seen (the bounded cache keeps memory independent of the sheet).
  const bool oneLine = !t.contains(QLatin1Char('\n')) && !t.contains(QLatin1Char('\t'));
  TScreenText* screen = oneLine && p_.paintEngine() && p_.paintEngine()->type() == QPaintEngine::Raster
                            ? &ScreenText(t, rawFont_, fontKey_, fm)
                            : nullptr;
  const int w = screen ? screen->Width : 0, h = fm.height();
  // Wrapping changes nothing for a line that fits.
  if (screen && (!wrap || w <= rect.Width())) {
    if (flags & DT_CALCRECT) {
      rect.Right = rect.Left + w;
      rect.Bottom = rect.Top + h;
      return h;
    }
    if ((w <= rect.Width() && h <= rect.Height()) || (flags & DT_NOCLIP)) {
      int x = rect.Left;
      if (flags & DT_RIGHT) x = rect.Right - w;
      else if (flags & DT_CENTER) x = rect.Left + (rect.Width() - w) / 2;
      p_.setPen(fontColor_);
      if (screen->Run.isEmpty()) {
        p_.drawText(QPoint(x, rect.Top + fm.ascent()), t);
      } else {
        QGlyphRun run = screen->Run;
        run.setUnderline(font_.underline());
        run.setStrikeOut(font_.strikeOut());
        p_.drawGlyphRun(QPointF(x, rect.Top + fm.ascent()), run);
      }
      return h;
    }
  }
  if (screen && wrap && screen->Words && !screen->Run.isEmpty()) {
    const std::vector<TTextLine> lines = WrapWords(*screen, t, std::max(1, rect.Width()));
    const int total = int(lines.size()) * h;
    if (flags & DT_CALCRECT) {
      rect.Bottom = rect.Top + total;
      return total;
    }
    if (total <= rect.Height() || (flags & DT_NOCLIP)) {
      p_.setPen(fontColor_);
      const QList<quint32> glyphs = screen->Run.glyphIndexes();
      const QList<QPointF> positions = screen->Run.positions();
      for (size_t i = 0; i < lines.size(); ++i) {
        const TTextLine& l = lines[i];
        if (l.End <= l.Start) continue;
        const int w = qCeil(l.Width);
        int x = rect.Left;
        if (flags & DT_RIGHT) x = rect.Right - w;
        else if (flags & DT_CENTER) x = rect.Left + (rect.Width() - w) / 2;
        QGlyphRun run = screen->Run;
        run.setGlyphIndexes(glyphs.mid(l.Start, l.End - l.Start));
        QList<QPointF> at = positions.mid(l.Start, l.End - l.Start);
        const qreal x0 = at.first().x();
        for (QPointF& p : at) p.rx() -= x0;
        run.setPositions(at);
        run.setUnderline(font_.underline());
        run.setStrikeOut(font_.strikeOut());
        p_.drawGlyphRun(QPointF(x, rect.Top + int(i) * h + fm.ascent()), run);
      }
      return total;
    }
  }
  if (flags & DT_CALCRECT) {
    const int width = wrap ? std::max(1, rect.Width()) : 1 << 24;
    const QRect b = fm.boundingRect(QRect(rect.Left, rect.Top, width, 1 << 24), align, t);
    if (!wrap) rect.Right = rect.Left + b.width();
    rect.Bottom = rect.Top + b.height();
    return b.height();
  }
  if (flags & DT_NOCLIP) align |= Qt::TextDontClip;
  p_.setPen(fontColor_);
  QRect bounds;
  p_.drawText(Q(rect), align, t, &bounds);
  return bounds.height();
}

TSize TXLQtCanvas::TextExtent(const AnsiString& text) {
  const QFontMetrics fm(font_, p_.device());
  const QSize s = fm.size(Qt::TextExpandTabs, ToQString(text));
  return TSize{s.width(), s.height()};
}

void TXLQtCanvas::DrawCheckBox(const TRect& rect, bool checked) {
  if (rect.IsEmpty()) return;
  const QRect r = Q(rect);
  p_.fillRect(r, XLQColor(clWindow));
  const QColor frame = XLQColor(clBtnShadow);
  p_.fillRect(QRect(r.left(), r.top(), r.width(), 1), frame);
  p_.fillRect(QRect(r.left(), r.bottom(), r.width(), 1), frame);
  p_.fillRect(QRect(r.left(), r.top(), 1, r.height()), frame);
  p_.fillRect(QRect(r.right(), r.top(), 1, r.height()), frame);
  if (!checked) return;
  const double w = r.width(), h = r.height();
  auto at = [&](double fx, double fy) { return QPointF(r.left() + fx * w, r.top() + fy * h); };
  const QPointF tick[3] = {at(0.23, 0.5), at(0.42, 0.7), at(0.77, 0.3)};
  QPen pen(XLQColor(clWindowText), std::max(1.0, w / 7.0), Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin);
  p_.save();
  p_.setPen(pen);
  p_.drawPolyline(tick, 3);
  p_.restore();
}

void TXLQtCanvas::DrawEdge(const TRect& rect, TXLEdge edge, bool fill) {
  if (fill && rect.Width() > 2 && rect.Height() > 2)
    p_.fillRect(Q(rect).adjusted(1, 1, -1, -1), XLQColor(clBtnFace));
  DrawFrameEdge(rect, edge == TXLEdge::RaisedInner ? BDR_RAISEDINNER : BDR_SUNKENOUTER, BF_RECT);
}

void TXLQtCanvas::DrawFrameEdge(const TRect& rect, uint32_t edge, uint32_t flags) {
  const bool soft = flags & BF_SOFT;
  // One ring: top-left and bottom-right colours; the outer ring first, then the inner one.
  auto ring = [&](const QRect& r, TColor tl, TColor br) {
    if (r.width() <= 0 || r.height() <= 0) return;
    const QColor a = XLQColor(tl), b = XLQColor(br);
    if (flags & BF_TOP) p_.fillRect(QRect(r.left(), r.top(), r.width() - 1, 1), a);
    if (flags & BF_LEFT) p_.fillRect(QRect(r.left(), r.top(), 1, r.height() - 1), a);
    if (flags & BF_BOTTOM) p_.fillRect(QRect(r.left(), r.bottom(), r.width(), 1), b);
    if (flags & BF_RIGHT) p_.fillRect(QRect(r.right(), r.top(), 1, r.height()), b);
  };
  QRect r = Q(rect);
  if (edge & (BDR_RAISEDOUTER | BDR_SUNKENOUTER)) {
    if (edge & BDR_RAISEDOUTER)
      ring(r, soft ? clBtnHighlight : cl3DLight, cl3DDkShadow);
    else
      ring(r, soft ? cl3DDkShadow : clBtnShadow, clBtnHighlight);
    r.adjust(1, 1, -1, -1);
  }
  if (edge & BDR_RAISEDINNER)
    ring(r, soft ? cl3DLight : clBtnHighlight, clBtnShadow);
  else if (edge & BDR_SUNKENINNER)
    ring(r, soft ? clBtnShadow : cl3DDkShadow, cl3DLight);
}

void TXLQtCanvas::FillRect(const TRect& rect, TColor color) {
  if (color == clNone || rect.IsEmpty()) return;
  p_.fillRect(Q(rect), XLQColor(color));
}

void TXLQtCanvas::Line(TPoint from, TPoint to, TColor color, int width) {
  const TPoint pts[2] = {from, to};
  DrawLines(pts, 1, color, width);
}

void TXLQtCanvas::DrawLines(const TPoint* points, int32_t pairs, TColor color, int width) {
  if (pairs <= 0 || color == clNone) return;
  std::vector<QLine> lines;
  lines.reserve(size_t(pairs));
  for (int32_t i = 0; i < pairs; ++i)
    lines.emplace_back(points[2 * i].X, points[2 * i].Y, points[2 * i + 1].X, points[2 * i + 1].Y);
  p_.setPen(QPen(XLQColor(color), std::max(1, width), Qt::SolidLine, Qt::FlatCap));
  p_.drawLines(lines.data(), int(lines.size()));
}

void TXLQtCanvas::FillPolygon(const TPoint* points, int32_t count, TColor color) {
  if (count < 3) return;
  QPolygon poly;
  for (int32_t i = 0; i < count; ++i) poly << QPoint(points[i].X, points[i].Y);
  p_.save();
  p_.setPen(XLQColor(color));
  p_.setBrush(XLQColor(color));
  p_.drawPolygon(poly);
  p_.restore();
}

void TXLQtCanvas::DrawGraphic(const AnsiString& className, const std::string& data, const TRect& rect) {
  if (rect.IsEmpty() || data.empty()) return;
  // A stored bitmap carries its byte count before the file.
  QByteArray bytes = QByteArray::fromRawData(data.data(), qsizetype(data.size()));
  if (bytes.size() > 6 && bytes.mid(4, 2) == "BM") bytes = bytes.mid(4);
  QImage img;
  img.loadFromData(bytes);
  if (img.isNull()) {
    // Metafiles and unknown graphics have no renderer here: mark where they are.
    p_.save();
    p_.setPen(XLQColor(clBtnShadow));
    p_.setBrush(Qt::NoBrush);
    p_.drawRect(Q(rect).adjusted(0, 0, -1, -1));
    p_.restore();
    return;
  }
  p_.drawImage(Q(rect), img);
}

void TXLQtCanvas::InvertRect(const TRect& rect) {
  if (rect.IsEmpty()) return;
  p_.save();
  p_.setCompositionMode(QPainter::RasterOp_NotDestination);
  p_.fillRect(Q(rect), Qt::black);
  p_.restore();
}

void TXLQtCanvas::HatchInvert(const TRect& rect, TPoint origin) {
  if (rect.IsEmpty()) return;
  p_.save();
  p_.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
  p_.setBrushOrigin(origin.X, origin.Y);
  p_.fillRect(Q(rect), QBrush(HatchPattern()));
  p_.restore();
}

void TXLQtCanvas::DrawFocusRect(const TRect& rect) {
  if (rect.IsEmpty()) return;
  p_.save();
  p_.setCompositionMode(QPainter::RasterOp_NotDestination);
  // Every other pixel of the outline, as the platform's dotted focus frame.
  const QRect r = Q(rect);
  for (int x = r.left(); x <= r.right(); x += 2) {
    p_.fillRect(QRect(x, r.top(), 1, 1), Qt::black);
    p_.fillRect(QRect(x, r.bottom(), 1, 1), Qt::black);
  }
  for (int y = r.top() + 2; y < r.bottom(); y += 2) {
    p_.fillRect(QRect(r.left(), y, 1, 1), Qt::black);
    p_.fillRect(QRect(r.right(), y, 1, 1), Qt::black);
  }
  p_.restore();
}
