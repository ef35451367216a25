#pragma once
// The grid model's drawing surface on a QPainter: cell texts with the platform's text flags,
// frames, check boxes, pictures, clip handling and the inverting selection marks. Views and
// the printer paint sections through it.
#include <QFont>
#include <QFontMetrics>
#include <QGlyphRun>
#include <QPainter>
#include <QRegion>
#include <memory>
#include <vector>

#include "grid/XLCanvas.h"
#include "grid/XLGrids.h"

class TXLQtCanvas : public IXLCanvas {
 public:
  // area: what the canvas may paint; ResetClip returns to it.
  TXLQtCanvas(QPainter& painter, const QRect& area);
  ~TXLQtCanvas() override;

  void SetFont(const TFont& font) override;
  int32_t DrawText(const AnsiString& text, TRect& rect, uint32_t flags) override;
  TSize TextExtent(const AnsiString& text) override;
  void DrawCheckBox(const TRect& rect, bool checked) override;
  void DrawEdge(const TRect& rect, TXLEdge edge, bool fill) override;
  void FillRect(const TRect& rect, TColor color) override;
  void Line(TPoint from, TPoint to, TColor color, int width) override;
  void DrawGraphic(const AnsiString& className, const std::string& data, const TRect& rect) override;
  int Scale() const override { return scale_; }
  void SetScale(int zoom) override { scale_ = zoom; }

  void ResetClip() override;
  void ExcludeClipRect(const TRect& rect) override;
  void PushClipRect(const TRect& rect) override;
  void PopClip() override;
  void DrawFrameEdge(const TRect& rect, uint32_t edge, uint32_t flags) override;
  void DrawLines(const TPoint* points, int32_t pairs, TColor color, int width) override;
  void FillPolygon(const TPoint* points, int32_t count, TColor color) override;
  void InvertRect(const TRect& rect) override;
  void HatchInvert(const TRect& rect, TPoint origin) override;
  void DrawFocusRect(const TRect& rect) override;

  QPainter& Painter() { return p_; }

 private:
  struct TFontGlyphs;
  struct TTextLine {
    int Start, End;
    qreal Width;
  };
  void ApplyClip();
  void TextPen();
  // Places t's glyphs from the font's table into glyphs_ and positions_; false when a
  // character needs the toolkit's shaping or no font at hand has it.
  bool LayOut(const QString& t);
  void WrapWords(const QString& t, int width);
  void DrawGlyphs(int start, int end, QPointF at);

  QPainter& p_;
  QRegion base_;
  QRegion clip_;
  std::vector<QRegion> saved_;
  QFont font_;
  QFontMetrics metrics_;
  int ascent_, height_;
  int linePitch_;  // between wrapped lines
  QPen textPen_;
  std::shared_ptr<TFontGlyphs> fontGlyphs_;
  // The text being drawn: reused from text to text, so a page of new texts allocates nothing.
  QGlyphRun run_;
  std::vector<quint32> glyphs_;
  std::vector<uint8_t> fonts_;  // per glyph, in fontGlyphs_'s fonts
  uint8_t runFont_ = 0;
  std::vector<QPointF> positions_, linePositions_;
  qreal advance_ = 0;
  bool words_ = false;
  std::vector<TTextLine> lines_;
  TFont lastFont_;
  bool haveFont_ = false;
  int scale_ = 100;
};

// RGB of a stored colour (system colours resolved).
QColor XLQColor(TColor color);
// A model font as the toolkit's font (pixel size from the negative height).
QFont XLQFont(const TFont& font);
// How far apart the toolkit lays out wrapped lines of font on device: its line height is
// rounded up from the font's fractional ascent and descent, so it can pass the font's height.
int XLLinePitch(const QFont& font, QPaintDevice* device = nullptr);
