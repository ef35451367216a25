#pragma once
// A pixel region kept as horizontal bands of spans, enough for chart shapes: rectangles,
// ellipses, rounded rectangles and winding polygons, combined and hit-tested without Qt.
// A pixel (x, y) belongs to a span [x1, x2) of a band [y1, y2).
#include <vector>

#include "flowchart/fcTypes.h"

class TFcRegion {
 public:
  struct Span {
    int32_t x1, x2;
    friend bool operator==(const Span&, const Span&) = default;
  };
  struct Band {
    int32_t y1, y2;
    uint32_t first, count;  // into Spans()
  };

  TFcRegion() = default;
  static TFcRegion Rect(const TRect& r);
  static TFcRegion Ellipse(const TRect& r);
  // Corners are quarter ellipses of cw by ch.
  static TFcRegion RoundRect(const TRect& r, int32_t cw, int32_t ch);
  static TFcRegion Polygon(const TPoint* pts, int n);  // winding fill

  TFcRegion Union(const TFcRegion& o) const;
  TFcRegion Intersect(const TFcRegion& o) const;
  TFcRegion Subtract(const TFcRegion& o) const;
  TFcRegion Offset(int32_t dx, int32_t dy) const;

  bool IsEmpty() const { return bands_.empty(); }
  bool Contains(int32_t x, int32_t y) const;
  bool IntersectsRect(const TRect& r) const;
  TRect Bounds() const;
  const std::vector<Band>& Bands() const { return bands_; }
  const std::vector<Span>& Spans() const { return spans_; }
  // One rectangle per span, for painting.
  std::vector<TRect> Rects() const;
  friend bool operator==(const TFcRegion& a, const TFcRegion& b);

 private:
  enum Op { opUnion, opIntersect, opSubtract };
  TFcRegion Combine(const TFcRegion& o, Op op) const;
  void AddBand(int32_t y1, int32_t y2, const std::vector<Span>& spans);

  std::vector<Band> bands_;
  std::vector<Span> spans_;
};
