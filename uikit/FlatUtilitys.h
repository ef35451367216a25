#pragma once
// Drawing routines shared by the flat controls: frames, transparency, the
// disabled glyph, the lightness shift behind UseAdvColors and the glyph layout.
#include <QColor>
#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QString>
#include <cstdint>

#include "core/Colors.h"

class QPainter;
class QWidget;

// Percentage of a derived colour (0..100).
using TAdvColors = uint8_t;
// How many images lie side by side in a glyph bitmap (1..4).
using TNumGlyphs = uint8_t;

// When a control paints its parent's background under itself.
enum TTransparentMode { tmAlways = 0, tmNotFocused = 1, tmNone = 2 };

enum TButtonLayout { blGlyphLeft, blGlyphRight, blGlyphTop, blGlyphBottom };

enum TLightnessShift { lsLighter, lsDarker };

// Colour value <-> Qt colour; system colours are resolved first.
QColor QColorOf(TColor c);
TColor TColorOf(const QColor& c);
// The colour a widget shows as its background (what its children see as "parent colour").
TColor WidgetColor(const QWidget* w);

// Windows-style rectangle from exclusive right/bottom edges.
inline QRect RectLTRB(int l, int t, int r, int b) { return QRect(l, t, r - l, b - t); }
inline int RightOf(const QRect& r) { return r.x() + r.width(); }
inline int BottomOf(const QRect& r) { return r.y() + r.height(); }
void FillRectC(QPainter& p, const QRect& r, TColor c);
// A one-pixel frame inside the rectangle.
void FrameRectC(QPainter& p, const QRect& r, TColor c);
// A small filled triangle pointing down (rows 5, 3 and 1 pixels wide from (x, y)),
// or up (the 1-pixel tip at y, the 5-pixel base at y + 2).
void DrawArrow(QPainter& p, int x, int y, bool up, TColor c);
// The same arrow raised out of the surface: white one pixel right and down, grey on top.
void DrawEmbossedArrow(QPainter& p, int x, int y, bool up);

// Result is the fallback unchanged when percent is 0. The lighter ceiling is 100
// on the 0..240 scale, so light colours come out darker: that look is intended.
TColor ShiftColorLightness(TColor base, TColor fallback, uint8_t percent, TLightnessShift dir);

void DrawFlatFrame(QPainter& p, const QRect& rect, TColor topLeft, TColor bottomRight,
                   int width);
void DrawParentBackground(QWidget* control, QPainter& p);

// Embossed image of a disabled glyph: pixels of maskColor become a shadow image
// with a highlight copy one pixel right and down; everything else takes back.
QImage CreateDisabledGlyph(const QImage& glyph, TColor maskColor, TColor back,
                           TColor highlight, TColor shadow, bool drawHighlight);

struct TGlyphLayout {
  QPoint GlyphPos;
  QRect TextBounds;
};
// The layout arithmetic with the caption already measured.
TGlyphLayout CalcGlyphLayoutSized(const QRect& client, int pressOffset, QSize textSize,
                                  TButtonLayout layout, int margin, int spacing,
                                  QSize glyphSize);
TGlyphLayout CalcGlyphLayout(const QFont& font, const QRect& client, int pressOffset,
                             const QString& caption, TButtonLayout layout, int margin,
                             int spacing, const QImage& glyph, int numGlyphs);
// Single-line caption size as the buttons measure it (accelerator '&' not counted).
QSize MeasureCaption(const QFont& font, const QString& caption);

QFontMetrics GetFontMetrics(const QFont& font);
int GetFontHeight(const QFont& font);
inline uint16_t MinWord(uint16_t a, uint16_t b) { return a < b ? a : b; }
inline bool RectsIntersect(const QRect& a, const QRect& b) { return a.intersects(b); }

// Masked draw: every pixel of the transparent colour is left out.
void DrawMasked(QPainter& p, const QPoint& at, const QImage& img, QRgb transparent);
