#pragma once
// The grid model's drawing surface on a QPainter: cell texts with the platform's text flags,
// frames, check boxes, pictures, clip handling and the inverting selection marks. Views and
// the printer paint sections through it.
#include <QFont>
#include <QPainter>
#include <QRawFont>
#include <QRegion>
#include <vector>

#include "grid/XLCanvas.h"
#include "grid/XLGrids.h"

class TXLQtCanvas : public IXLCanvas {
 public:
  // area: what the canvas may paint; ResetClip returns to it.
  TXLQtCanvas(QPainter& painter, const QRect& area);

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
  void ApplyClip();

  QPainter& p_;
  QRegion base_;
  QRegion clip_;
  std::vector<QRegion> saved_;
  QFont font_;
  QString fontKey_;
  QRawFont rawFont_;
  QColor fontColor_;
  TFont lastFont_;
  bool haveFont_ = false;
  int scale_ = 100;
};

// RGB of a stored colour (system colours resolved).
QColor XLQColor(TColor color);
// A model font as the toolkit's font (pixel size from the negative height).
QFont XLQFont(const TFont& font);
