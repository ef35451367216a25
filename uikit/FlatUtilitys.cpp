#include "uikit/FlatUtilitys.h"

#include <QPainter>
#include <QWidget>

#include "uikit/HSLUtils.h"

QColor QColorOf(TColor c) {
  const TColor rgb = ColorToRGB(c);
  return QColor(GetRValue(rgb), GetGValue(rgb), GetBValue(rgb));
}

TColor TColorOf(const QColor& c) { return RGB(c.red(), c.green(), c.blue()); }

TColor WidgetColor(const QWidget* w) {
  if (!w) return ColorToRGB(clBtnFace);
  return TColorOf(w->palette().color(QPalette::Window));
}

void FillRectC(QPainter& p, const QRect& r, TColor c) {
  if (r.width() <= 0 || r.height() <= 0) return;
  p.fillRect(r, QColorOf(c));
}

void FrameRectC(QPainter& p, const QRect& r, TColor c) {
  if (r.width() <= 0 || r.height() <= 0) return;
  const QColor q = QColorOf(c);
  p.fillRect(QRect(r.x(), r.y(), r.width(), 1), q);
  p.fillRect(QRect(r.x(), r.y() + r.height() - 1, r.width(), 1), q);
  p.fillRect(QRect(r.x(), r.y(), 1, r.height()), q);
  p.fillRect(QRect(r.x() + r.width() - 1, r.y(), 1, r.height()), q);
}

void DrawArrow(QPainter& p, int x, int y, bool up, TColor c) {
  const QColor q = QColorOf(c);
  for (int row = 0; row < 3; ++row) {
    const int half = 2 - row;  // widths 5, 3, 1 from the base
    const int yy = up ? y + 2 - row : y + row;
    p.fillRect(QRect(x + 6 - half, yy, 2 * half + 1, 1), q);
  }
}

void DrawEmbossedArrow(QPainter& p, int x, int y, bool up) {
  DrawArrow(p, x + 1, y + 1, up, 0xFFFFFF);
  DrawArrow(p, x, y, up, 0x808080);
}

TColor ShiftColorLightness(TColor base, TColor fallback, uint8_t percent, TLightnessShift dir) {
  if (percent == 0) return fallback;
  THslScaled hsl = RgbToHslScaled(ColorToRGB(base));
  hsl.L += 10;
  if (dir == lsLighter)
    hsl.L = hsl.L + percent > 100 ? 100 : hsl.L + percent;
  else
    hsl.L = hsl.L - percent < 0 ? 0 : hsl.L - percent;
  return HslScaledToRgb(hsl);
}

void DrawFlatFrame(QPainter& p, const QRect& rect, TColor topLeft, TColor bottomRight,
                   int width) {
  int l = rect.x(), t = rect.y();
  int r = RightOf(rect) - 1, b = BottomOf(rect) - 1;
  const QColor tl = QColorOf(topLeft), br = QColorOf(bottomRight);
  for (int i = 0; i < width && l <= r && t <= b; ++i) {
    // Polylines leave out their last point: the top-left colour stops short of
    // the far corners, which the bottom-right colour then covers.
    p.fillRect(QRect(l, t, 1, b - t), tl);
    p.fillRect(QRect(l, t, r - l, 1), tl);
    p.fillRect(QRect(r, t, 1, b - t + 1), br);
    p.fillRect(QRect(l, b, r - l + 1, 1), br);
    ++l, ++t, --r, --b;
  }
}

void DrawParentBackground(QWidget* control, QPainter& p) {
  QWidget* parent = control ? control->parentWidget() : nullptr;
  if (!parent) return;
  p.save();
  // Only the parent's own background and painting: its children (this control
  // among them) are left out, so this never recurses.
  const QRect area = control->geometry() & parent->rect();
  parent->render(&p, area.topLeft() - control->pos(), QRegion(area),
                 QWidget::DrawWindowBackground);
  p.restore();
}

QImage CreateDisabledGlyph(const QImage& glyph, TColor maskColor, TColor back,
                           TColor highlight, TColor shadow, bool drawHighlight) {
  QImage work = glyph.convertToFormat(QImage::Format_RGB32);
  QRgb key = QColorOf(maskColor).rgb();
  if (glyph.depth() == 1) key = qRgb(255, 255, 255);
  const int w = work.width(), h = work.height();
  QImage result(w, h, QImage::Format_RGB32);
  result.fill(QColorOf(back));
  auto stamp = [&](int dx, int dy, QRgb colour) {
    for (int y = 0; y < h; ++y) {
      const QRgb* src = reinterpret_cast<const QRgb*>(work.constScanLine(y));
      const int ty = y + dy;
      if (ty >= h) break;
      QRgb* dst = reinterpret_cast<QRgb*>(result.scanLine(ty));
      for (int x = 0; x + dx < w; ++x)
        if ((src[x] & 0xFFFFFF) == (key & 0xFFFFFF)) dst[x + dx] = colour;
    }
  };
  if (drawHighlight) stamp(1, 1, QColorOf(highlight).rgb());
  stamp(0, 0, QColorOf(shadow).rgb());
  return result;
}

TGlyphLayout CalcGlyphLayoutSized(const QRect& client, int pressOffset, QSize textSize,
                                  TButtonLayout layout, int margin, int spacing,
                                  QSize glyphSize) {
  const int cw = client.width(), ch = client.height();
  const int gw = glyphSize.width(), gh = glyphSize.height();
  const int tw = textSize.width(), th = textSize.height();
  const bool vertical = layout == blGlyphTop || layout == blGlyphBottom;
  int gx = 0, gy = 0, tx = 0, ty = 0;
  if (vertical) {
    gx = (cw - gw + 1) / 2;
    tx = (cw - tw + 1) / 2;
  } else {
    gy = (ch - gh + 1) / 2;
    ty = (ch - th + 1) / 2;
  }
  if (tw == 0 || gw == 0) spacing = 0;
  const int cs = vertical ? ch : cw;
  const int gs = vertical ? gh : gw;
  const int ts = vertical ? th : tw;
  if (margin == -1 && spacing == -1) {
    margin = (cs - (gs + ts)) / 3;
    spacing = margin;
  } else if (margin == -1) {
    margin = (cs - (gs + spacing + ts) + 1) / 2;
  } else if (spacing == -1) {
    spacing = ((cs - (margin + gs)) - ts) / 2;
  }
  int gpos, tpos;
  if (layout == blGlyphLeft || layout == blGlyphTop) {
    gpos = margin;
    tpos = gpos + gs + spacing;
  } else {
    gpos = cs - margin - gs;
    tpos = gpos - spacing - ts;
  }
  if (vertical) {
    gy = gpos;
    ty = tpos;
  } else {
    gx = gpos;
    tx = tpos;
  }
  const QPoint shift = client.topLeft() + QPoint(pressOffset, pressOffset);
  return {QPoint(gx, gy) + shift, QRect(QPoint(tx, ty) + shift, QSize(tw, th))};
}

QSize MeasureCaption(const QFont& font, const QString& caption) {
  if (caption.isEmpty()) return {0, 0};
  const QFontMetrics fm(font);
  const QRect r = fm.boundingRect(QRect(0, 0, 0, 0), Qt::TextSingleLine | Qt::TextShowMnemonic,
                                  caption);
  return {r.width(), fm.height()};
}

TGlyphLayout CalcGlyphLayout(const QFont& font, const QRect& client, int pressOffset,
                             const QString& caption, TButtonLayout layout, int margin,
                             int spacing, const QImage& glyph, int numGlyphs) {
  QSize glyphSize(0, 0);
  if (!glyph.isNull() && numGlyphs > 0) glyphSize = {glyph.width() / numGlyphs, glyph.height()};
  return CalcGlyphLayoutSized(client, pressOffset, MeasureCaption(font, caption), layout,
                              margin, spacing, glyphSize);
}

QFontMetrics GetFontMetrics(const QFont& font) { return QFontMetrics(font); }

int GetFontHeight(const QFont& font) {
  const int h = QFontMetrics(font).height();
  return RoundEven(h + h / 8.0);
}

void DrawMasked(QPainter& p, const QPoint& at, const QImage& img, QRgb transparent) {
  QImage masked = img.convertToFormat(QImage::Format_ARGB32);
  for (int y = 0; y < masked.height(); ++y) {
    QRgb* line = reinterpret_cast<QRgb*>(masked.scanLine(y));
    for (int x = 0; x < masked.width(); ++x)
      if ((line[x] & 0xFFFFFF) == (transparent & 0xFFFFFF)) line[x] = 0;
  }
  p.drawImage(at, masked);
}
