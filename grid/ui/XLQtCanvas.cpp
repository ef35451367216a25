#include "grid/ui/XLQtCanvas.h"

#include <QFontMetrics>
#include <QGlyphRun>
#include <QHash>
#include <QImage>
#include <QLine>
#include <QPaintEngine>
#include <QPolygon>
#include <QRawFont>
#include <QTextLayout>
#include <QTextLayout>
#include <QtMath>
#include <algorithm>
#include <memory>

#include "platform/QtText.h"
#include "grid/XLGrids.h"
#include "grid/XLSheet.h"

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

bool Ideograph(QChar c) { return c.script() == QChar::Script_Han && c.category() == QChar::Letter_Other; }

// Code page 936 keeps ASCII as it is: most cell texts need no converter.
QString ScreenString(const AnsiString& text) {
  for (const char c : text)
    if (static_cast<unsigned char>(c) >= 0x80) return ToQString(text);
  return QString::fromLatin1(text.data(), qsizetype(text.size()));
}

}  // namespace

// A font's glyph and advance per character, from its character map without shaping, as the
// platform's plain text output places them. Kept per font rather than per text: a page of
// texts never seen before costs a table look-up per character, and the memory stays bounded
// by the characters in use, whatever the sheet holds.
struct TXLQtCanvas::TFontGlyphs {
  struct TGlyph {
    quint32 Index = 0;  // 0: no font at hand has the character
    qreal Advance = 0;
    uint8_t Font = 0;   // in Fonts
  };
  QFont Font;
  // The font itself, then the fonts the toolkit falls back to for characters it lacks
  // (Chinese text in a Latin font), a few at most.
  std::vector<QRawFont> Fonts;
  TGlyph Ascii[128];
  QHash<char16_t, TGlyph> Other;

  explicit TFontGlyphs(const QFont& font) : Font(font), Fonts{QRawFont::fromFont(font)} {
    const QRawFont& raw = Fonts[0];
    if (!raw.isValid()) return;
    QChar chars[128];
    quint32 glyphs[128] = {};
    QPointF advances[128];
    for (int i = 0; i < 128; ++i) chars[i] = QChar(i);
    int n = 128;
    if (!raw.glyphIndexesForChars(chars, 128, glyphs, &n) || n != 128) return;
    raw.advancesForGlyphIndexes(glyphs, advances, 128);
    for (int i = 0; i < 128; ++i) Ascii[i] = {glyphs[i], advances[i].x(), 0};
  }

  bool Valid() const { return Fonts[0].isValid(); }

  TGlyph Get(QChar c) {
    if (c.unicode() < 128) return Ascii[c.unicode()];
    const auto it = Other.constFind(c.unicode());
    if (it != Other.constEnd()) return *it;
    TGlyph g;
    int n = 1;
    if (!Placeable(c) || !Fonts[0].glyphIndexesForChars(&c, 1, &g.Index, &n) || n != 1) g.Index = 0;
    if (!g.Index && Placeable(c)) g = Fallback(c);
    if (g.Index) {
      QPointF a;
      Fonts[g.Font].advancesForGlyphIndexes(&g.Index, &a, 1);
      g.Advance = a.x();
    }
    Other.insert(c.unicode(), g);
    return g;
  }

  // Characters drawn one glyph each, left to right. Marks, pairs, right-to-left and joining
  // scripts need shaping: texts with them go through the toolkit's text drawing.
  static bool Placeable(QChar c) {
    if (c.isSurrogate() || c.isMark() || c.direction() == QChar::DirR || c.direction() == QChar::DirAL)
      return false;
    switch (c.script()) {
      case QChar::Script_Common:
      case QChar::Script_Latin:
      case QChar::Script_Greek:
      case QChar::Script_Cyrillic:
      case QChar::Script_Han:
      case QChar::Script_Hiragana:
      case QChar::Script_Katakana:
      case QChar::Script_Bopomofo:
      case QChar::Script_Hangul:
        return true;
      default:
        return false;
    }
  }

  // The font the toolkit's own text layout picks for a character this font lacks.
  TGlyph Fallback(QChar c) {
    constexpr size_t kFallbacks = 8;
    QTextLayout layout(QString(c), Font);
    layout.beginLayout();
    layout.createLine();
    layout.endLayout();
    const QList<QGlyphRun> runs = layout.glyphRuns();
    if (runs.size() != 1 || runs[0].glyphIndexes().size() != 1 || !runs[0].glyphIndexes()[0]) return {};
    const QRawFont raw = runs[0].rawFont();
    auto at = std::find(Fonts.begin(), Fonts.end(), raw);
    if (at == Fonts.end()) {
      if (Fonts.size() > kFallbacks || !raw.isValid()) return {};
      at = Fonts.insert(Fonts.end(), raw);
    }
    return TGlyph{runs[0].glyphIndexes()[0], 0, uint8_t(at - Fonts.begin())};
  }

  // The last fonts painted with, by font key, most recent first.
  static std::shared_ptr<TFontGlyphs> For(const QFont& font, const QString& key) {
    constexpr size_t kFonts = 16;
    static std::vector<std::pair<QString, std::shared_ptr<TFontGlyphs>>> fonts;
    auto it = std::find_if(fonts.begin(), fonts.end(), [&](const auto& f) { return f.first == key; });
    if (it == fonts.end()) {
      if (fonts.size() == kFonts) fonts.pop_back();
      fonts.emplace_back(key, std::make_shared<TFontGlyphs>(font));
      it = fonts.end() - 1;
    }
    std::rotate(fonts.begin(), it, it + 1);
    return fonts.front().second;
  }
};

TXLQtCanvas::~TXLQtCanvas() = default;

bool TXLQtCanvas::LayOut(const QString& t) {
  glyphs_.clear();
  positions_.clear();
  fonts_.clear();
  if (!fontGlyphs_ || !fontGlyphs_->Valid() || t.isEmpty()) return false;
  words_ = true;
  qreal x = 0;
  for (const QChar c : t) {
    const TFontGlyphs::TGlyph g = fontGlyphs_->Get(c);
    if (!g.Index) return false;
    glyphs_.push_back(g.Index);
    fonts_.push_back(g.Font);
    positions_.emplace_back(x, 0);
    x += g.Advance;
    // Plain words, Chinese characters and blanks only: their line breaks are all that
    // wrapping here knows.
    words_ = words_ && (c == QLatin1Char(' ') || c == QLatin1Char('.') || c == QLatin1Char(',') ||
                        (c.unicode() < 0x80 && c.isLetterOrNumber()) || Ideograph(c));
  }
  advance_ = x;
  return true;
}

// Greedy word wrap over the laid out glyphs, a word wider than the line on a line of its own.
// Lines break after blanks and around Chinese characters, but never before a stop or comma.
void TXLQtCanvas::WrapWords(const QString& t, int width) {
  const int n = int(positions_.size());
  auto x = [&](int i) { return i < n ? positions_[size_t(i)].x() : advance_; };
  auto breakBefore = [&](int k) {
    return Ideograph(t[k]) || (Ideograph(t[k - 1]) && t[k] != QLatin1Char('.') && t[k] != QLatin1Char(','));
  };
  std::vector<TTextLine>& lines = lines_;
  lines.clear();
  int i = 0;
  while (i < n) {
    while (i < n && t[i] == QLatin1Char(' ')) ++i;
    if (i == n) break;
    const int start = i;
    int end = i;
    while (i < n) {
      int k = i + 1;
      while (k < n && t[k] != QLatin1Char(' ') && !breakBefore(k)) ++k;
      if (end > start && x(k) - x(start) > width) break;
      end = k;
      while (k < n && t[k] == QLatin1Char(' ')) ++k;
      i = k;
    }
    lines.push_back({start, end, x(end) - x(start)});
  }
  if (lines.empty()) lines.push_back({0, 0, 0});
}

void TXLQtCanvas::DrawGlyphs(int start, int end, QPointF at) {
  if (end <= start) return;
  TextPen();
  const qreal lineStart = positions_[size_t(start)].x();
  // One run per font; each starts at its own first glyph, as underlines begin at the origin.
  for (int a = start, b; a < end; a = b) {
    const uint8_t font = fonts_[size_t(a)];
    for (b = a + 1; b < end && fonts_[size_t(b)] == font;) ++b;
    const qreal x0 = positions_[size_t(a)].x();
    const QPointF* pos = positions_.data() + a;
    if (x0 != 0) {
      linePositions_.clear();
      for (int i = a; i < b; ++i) linePositions_.emplace_back(positions_[size_t(i)].x() - x0, 0);
      pos = linePositions_.data();
    }
    if (font != runFont_) {
      runFont_ = font;
      run_.setRawFont(fontGlyphs_->Fonts[font]);
    }
    run_.setRawData(glyphs_.data() + a, pos, b - a);
    p_.drawGlyphRun(QPointF(at.x() + (x0 - lineStart), at.y()), run_);
  }
}

QColor XLQColor(TColor color) {
  const TColor c = ColorToRGB(color);
  return QColor(GetRValue(c), GetGValue(c), GetBValue(c));
}

int XLLinePitch(const QFont& font, QPaintDevice* device) {
  QTextLayout layout(QStringLiteral("x"), font, device);
  layout.beginLayout();
  const QTextLine line = layout.createLine();
  layout.endLayout();
  return line.isValid() ? qCeil(line.height()) : QFontMetrics(font, device).height();
}

QFont XLQFont(const TFont& font) {
  QFont f(ToQString(font.Name()));
  // A stored height may be anything, its most negative value included.
  const int64_t h = font.Height();
  f.setPixelSize(int(std::clamp<int64_t>(h < 0 ? -h : h, 1, XLMaxLineSize)));
  f.setBold(font.Style() & fsBold);
  f.setItalic(font.Style() & fsItalic);
  f.setUnderline(font.Style() & fsUnderline);
  f.setStrikeOut(font.Style() & fsStrikeOut);
  return f;
}

TXLQtCanvas::TXLQtCanvas(QPainter& painter, const QRect& area)
    : p_(painter),
      base_(area),
      clip_(area),
      metrics_(font_, painter.device()),
      ascent_(metrics_.ascent()),
      height_(metrics_.height()),
      linePitch_(XLLinePitch(font_, painter.device())) {
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
  metrics_ = QFontMetrics(font_, p_.device());
  ascent_ = metrics_.ascent();
  height_ = metrics_.height();
  linePitch_ = XLLinePitch(font_, p_.device());
  fontGlyphs_ = TFontGlyphs::For(font_, font_.key());
  runFont_ = 0;
  run_.setRawFont(fontGlyphs_->Fonts[0]);
  run_.setUnderline(font_.underline());
  run_.setStrikeOut(font_.strikeOut());
  textPen_ = QPen(XLQColor(font.Color()));
  p_.setFont(font_);
}

void TXLQtCanvas::TextPen() {
  if (p_.pen() != textPen_) p_.setPen(textPen_);
}

int32_t TXLQtCanvas::DrawText(const AnsiString& text, TRect& rect, uint32_t flags) {
  QString t = ScreenString(text);
  const QFontMetrics& fm = metrics_;
  int align = TextFlags(flags);
  const bool wrap = flags & DT_WORDBREAK;
  if ((flags & DT_END_ELLIPSIS) && !wrap) {
    QStringList lines = t.split('\n');
    for (QString& l : lines) l = fm.elidedText(l, Qt::ElideRight, std::max(0, rect.Width()));
    t = lines.join('\n');
  }
  // One line on the screen: placed from the font's glyph table, neither laid out nor shaped.
  const bool screen = !t.contains(QLatin1Char('\n')) && !t.contains(QLatin1Char('\t')) && p_.paintEngine() &&
                      p_.paintEngine()->type() == QPaintEngine::Raster;
  const bool glyphs = screen && LayOut(t);
  const int w = glyphs ? qCeil(advance_) : screen ? fm.horizontalAdvance(t) : 0, h = height_;
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
      if (glyphs) {
        DrawGlyphs(0, int(glyphs_.size()), QPointF(x, rect.Top + ascent_));
      } else {
        // A character the font lacks: the toolkit's drawing finds a font that has it.
        TextPen();
        p_.drawText(QPoint(x, rect.Top + ascent_), t);
      }
      return h;
    }
  }
  if (glyphs && wrap && words_) {
    WrapWords(t, std::max(1, rect.Width()));
    const int total = int(lines_.size()) * linePitch_;
    if (flags & DT_CALCRECT) {
      rect.Bottom = rect.Top + total;
      return total;
    }
    if (total <= rect.Height() || (flags & DT_NOCLIP)) {
      for (size_t i = 0; i < lines_.size(); ++i) {
        const TTextLine& l = lines_[i];
        const int lw = qCeil(l.Width);
        int x = rect.Left;
        if (flags & DT_RIGHT) x = rect.Right - lw;
        else if (flags & DT_CENTER) x = rect.Left + (rect.Width() - lw) / 2;
        DrawGlyphs(l.Start, l.End, QPointF(x, rect.Top + int(i) * linePitch_ + ascent_));
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
  TextPen();
  QRect bounds;
  p_.drawText(Q(rect), align, t, &bounds);
  return bounds.height();
}

TSize TXLQtCanvas::TextExtent(const AnsiString& text) {
  const QSize s = metrics_.size(Qt::TextExpandTabs, ToQString(text));
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
