#include "flowchart/FcRegion.h"

#include <cmath>
#include <iterator>

#include "core/Rounding.h"

namespace {

using Span = TFcRegion::Span;

// Sweeps both sorted span lists once; out is reused between rows.
void CombineSpans(const Span* a, size_t na, const Span* b, size_t nb, int op, std::vector<Span>& out) {
  out.clear();
  size_t ia = 0, ib = 0;
  bool inA = false, inB = false;
  int32_t start = 0;
  bool inside = false;
  while (ia < 2 * na || ib < 2 * nb) {
    // Next boundary: span starts and ends, in x order, taken from either list.
    int32_t xa = ia < 2 * na ? (ia % 2 ? a[ia / 2].x2 : a[ia / 2].x1) : INT32_MAX;
    int32_t xb = ib < 2 * nb ? (ib % 2 ? b[ib / 2].x2 : b[ib / 2].x1) : INT32_MAX;
    int32_t x = std::min(xa, xb);
    if (ia < 2 * na && xa == x) inA = (++ia % 2) == 1;
    if (ib < 2 * nb && xb == x) inB = (++ib % 2) == 1;
    bool now = op == 0 ? (inA || inB) : op == 1 ? (inA && inB) : (inA && !inB);
    if (now == inside) continue;
    if (now) {
      start = x;
    } else if (!out.empty() && out.back().x2 == start) {
      out.back().x2 = x;
    } else {
      out.push_back({start, x});
    }
    inside = now;
  }
}

// Spans of one pixel row of a winding polygon, sampled at pixel centres.
std::vector<Span> PolygonRow(const TPoint* p, int n, int32_t y) {
  struct Cross {
    double x;
    int dir;
  };
  std::vector<Cross> cs;
  double yc = y + 0.5;
  for (int i = 0; i < n; ++i) {
    TPoint a = p[i], b = p[(i + 1) % n];
    if (a.y == b.y) continue;
    int dir = b.y > a.y ? 1 : -1;
    double lo = std::min(a.y, b.y), hi = std::max(a.y, b.y);
    if (yc < lo || yc >= hi) continue;
    double x = a.x + (yc - a.y) * (double(b.x) - a.x) / (double(b.y) - a.y);
    cs.push_back({x, dir});
  }
  std::sort(cs.begin(), cs.end(), [](const Cross& l, const Cross& r) { return l.x < r.x; });
  std::vector<Span> out;
  int wind = 0;
  for (size_t i = 0; i + 1 < cs.size(); ++i) {
    wind += cs[i].dir;
    if (wind == 0) continue;
    // Pixels whose centre lies inside, and at least the pixels the edge passes through.
    int32_t x1 = static_cast<int32_t>(std::floor(cs[i].x));
    int32_t x2 = static_cast<int32_t>(std::floor(cs[i + 1].x)) + 1;
    if (x2 <= x1) continue;
    if (!out.empty() && out.back().x2 >= x1)
      out.back().x2 = std::max(out.back().x2, x2);
    else
      out.push_back({x1, x2});
  }
  return out;
}

}  // namespace

void TFcRegion::AddBand(int32_t y1, int32_t y2, const std::vector<Span>& spans) {
  if (spans.empty() || y2 <= y1) return;
  if (!bands_.empty()) {
    Band& last = bands_.back();
    if (last.y2 == y1 && last.count == spans.size() &&
        std::equal(spans.begin(), spans.end(), spans_.begin() + last.first)) {
      last.y2 = y2;
      return;
    }
  }
  bands_.push_back({y1, y2, static_cast<uint32_t>(spans_.size()), static_cast<uint32_t>(spans.size())});
  spans_.insert(spans_.end(), spans.begin(), spans.end());
}

TFcRegion TFcRegion::Rect(const TRect& r) {
  TFcRegion g;
  if (!r.IsEmpty()) g.AddBand(r.Top, r.Bottom, {{r.Left, r.Right}});
  return g;
}

TFcRegion TFcRegion::Ellipse(const TRect& r) { return RoundRect(r, r.Width(), r.Height()); }

TFcRegion TFcRegion::RoundRect(const TRect& r, int32_t cw, int32_t ch) {
  TFcRegion g;
  if (r.IsEmpty()) return g;
  double rx = std::clamp<double>(cw, 0, r.Width()) / 2.0, ry = std::clamp<double>(ch, 0, r.Height()) / 2.0;
  if (rx < 0.5 || ry < 0.5) return Rect(r);
  double top = r.Top + ry, bottom = r.Bottom - ry;  // centres of the corner ellipses
  for (int32_t y = r.Top; y < r.Bottom; ++y) {
    double yc = y + 0.5;
    double dy = yc < top ? top - yc : yc > bottom ? yc - bottom : 0;
    double f = 1.0 - (dy * dy) / (ry * ry);
    if (f < 0) continue;
    double inset = rx - rx * std::sqrt(f);
    int32_t x1 = r.Left + static_cast<int32_t>(RoundHalfAway(inset));
    int32_t x2 = r.Right - static_cast<int32_t>(RoundHalfAway(inset));
    if (x2 > x1) g.AddBand(y, y + 1, {{x1, x2}});
  }
  return g;
}

TFcRegion TFcRegion::Polygon(const TPoint* p, int n) {
  TFcRegion g;
  if (n < 3) return g;
  int32_t top = p[0].y, bottom = p[0].y;
  for (int i = 1; i < n; ++i) {
    top = std::min(top, p[i].y);
    bottom = std::max(bottom, p[i].y);
  }
  for (int32_t y = top; y < bottom; ++y) g.AddBand(y, y + 1, PolygonRow(p, n, y));
  return g;
}

TFcRegion TFcRegion::Combine(const TFcRegion& o, Op op) const {
  // Band edges of each region are already in order: merge instead of sorting.
  std::vector<int32_t> ya, yb, ys;
  ya.reserve(2 * bands_.size());
  yb.reserve(2 * o.bands_.size());
  for (const Band& b : bands_) ya.insert(ya.end(), {b.y1, b.y2});
  for (const Band& b : o.bands_) yb.insert(yb.end(), {b.y1, b.y2});
  ys.reserve(ya.size() + yb.size());
  std::merge(ya.begin(), ya.end(), yb.begin(), yb.end(), std::back_inserter(ys));
  ys.erase(std::unique(ys.begin(), ys.end()), ys.end());
  TFcRegion g;
  g.bands_.reserve(std::max(bands_.size(), o.bands_.size()));
  g.spans_.reserve(std::max(spans_.size(), o.spans_.size()));
  std::vector<Span> row;
  size_t ia = 0, ib = 0;
  for (size_t k = 0; k + 1 < ys.size(); ++k) {
    int32_t y = ys[k];
    while (ia < bands_.size() && bands_[ia].y2 <= y) ++ia;
    while (ib < o.bands_.size() && o.bands_[ib].y2 <= y) ++ib;
    const Span* sa = nullptr;
    const Span* sb = nullptr;
    size_t na = 0, nb = 0;
    if (ia < bands_.size() && bands_[ia].y1 <= y) {
      sa = spans_.data() + bands_[ia].first;
      na = bands_[ia].count;
    }
    if (ib < o.bands_.size() && o.bands_[ib].y1 <= y) {
      sb = o.spans_.data() + o.bands_[ib].first;
      nb = o.bands_[ib].count;
    }
    if (na == 0 && (op != opUnion || nb == 0)) continue;
    CombineSpans(sa, na, sb, nb, op, row);
    g.AddBand(y, ys[k + 1], row);
  }
  return g;
}

TFcRegion TFcRegion::Union(const TFcRegion& o) const { return Combine(o, opUnion); }
TFcRegion TFcRegion::Intersect(const TFcRegion& o) const { return Combine(o, opIntersect); }
TFcRegion TFcRegion::Subtract(const TFcRegion& o) const { return Combine(o, opSubtract); }

TFcRegion TFcRegion::Offset(int32_t dx, int32_t dy) const {
  TFcRegion g = *this;
  for (Band& b : g.bands_) {
    b.y1 += dy;
    b.y2 += dy;
  }
  for (Span& s : g.spans_) {
    s.x1 += dx;
    s.x2 += dx;
  }
  return g;
}

bool TFcRegion::Contains(int32_t x, int32_t y) const {
  auto it = std::upper_bound(bands_.begin(), bands_.end(), y, [](int32_t v, const Band& b) { return v < b.y2; });
  if (it == bands_.end() || it->y1 > y) return false;
  for (uint32_t i = 0; i < it->count; ++i) {
    const Span& s = spans_[it->first + i];
    if (x >= s.x1 && x < s.x2) return true;
  }
  return false;
}

bool TFcRegion::IntersectsRect(const TRect& r) const {
  if (r.IsEmpty()) return false;
  for (const Band& b : bands_) {
    if (b.y2 <= r.Top || b.y1 >= r.Bottom) continue;
    for (uint32_t i = 0; i < b.count; ++i) {
      const Span& s = spans_[b.first + i];
      if (s.x1 < r.Right && r.Left < s.x2) return true;
    }
  }
  return false;
}

TRect TFcRegion::Bounds() const {
  if (bands_.empty()) return {};
  TRect r{INT32_MAX, bands_.front().y1, INT32_MIN, bands_.back().y2};
  for (const Span& s : spans_) {
    r.Left = std::min(r.Left, s.x1);
    r.Right = std::max(r.Right, s.x2);
  }
  return r;
}

std::vector<TRect> TFcRegion::Rects() const {
  std::vector<TRect> out;
  out.reserve(spans_.size());
  for (const Band& b : bands_)
    for (uint32_t i = 0; i < b.count; ++i) out.push_back({spans_[b.first + i].x1, b.y1, spans_[b.first + i].x2, b.y2});
  return out;
}

bool operator==(const TFcRegion& a, const TFcRegion& b) { return a.Rects() == b.Rects(); }
