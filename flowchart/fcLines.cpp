#include "flowchart/fcLines.h"

#include <cmath>

#include "core/Rounding.h"

namespace {

thread_local int gLastHitSegment = -1;

int64_t Abs64(int64_t v) { return v < 0 ? -v : v; }

int EffectiveStyle(int style, int n) { return (style == lsCurved && n < 3) ? lsStraight : style; }

struct CurveSeg {
  TPoint s, c, e;
};

// Segment i of a curved line of n points: control P(i+1), from P(0) or the mid of the leg
// before, to P(n-1) or the mid of the leg after.
CurveSeg CurveSegment(const TPoint* p, int n, int i) {
  CurveSeg seg;
  seg.s = i == 0 ? p[0] : MidPoint(p[i], p[i + 1]);
  seg.c = p[i + 1];
  seg.e = i == n - 3 ? p[n - 1] : MidPoint(p[i + 1], p[i + 2]);
  return seg;
}

TPoint Corner(int style, TPoint a, TPoint b) { return style == lsRectHorizontal ? TPoint{b.x, a.y} : TPoint{a.x, b.y}; }

TRect BoundsOf(std::initializer_list<TPoint> pts) {
  TRect r{INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};
  for (TPoint p : pts) {
    r.Left = std::min(r.Left, p.x);
    r.Top = std::min(r.Top, p.y);
    r.Right = std::max(r.Right, p.x);
    r.Bottom = std::max(r.Bottom, p.y);
  }
  return r;
}

// Inclusive bounds enlarged by t; 64-bit so huge coordinates cannot wrap.
bool InEnlarged(const TRect& r, TPoint q, int t) {
  return int64_t{q.x} >= int64_t{r.Left} - t && int64_t{q.x} <= int64_t{r.Right} + t &&
         int64_t{q.y} >= int64_t{r.Top} - t && int64_t{q.y} <= int64_t{r.Bottom} + t;
}

int OutCode(TPoint p, const TRect& r) {
  int c = 0;
  if (p.x < r.Left) c |= 1;
  if (p.y < r.Top) c |= 2;
  if (p.x > r.Right) c |= 4;
  if (p.y > r.Bottom) c |= 8;
  return c;
}

// Arc length of a quadratic curve up to parameter t, by adaptive Simpson on |B'(t)|.
struct Quad {
  double ax, ay, bx, by;  // B'(t) / 2 = a + t b
  double Speed(double t) const { return 2.0 * std::hypot(ax + t * bx, ay + t * by); }
};

double Simpson(const Quad& q, double a, double b, double fa, double fm, double fb, double whole, int depth) {
  double m = (a + b) / 2, lm = (a + m) / 2, rm = (m + b) / 2;
  double flm = q.Speed(lm), frm = q.Speed(rm);
  double left = (m - a) / 6 * (fa + 4 * flm + fm);
  double right = (b - m) / 6 * (fm + 4 * frm + fb);
  if (depth <= 0 || std::fabs(left + right - whole) < 1e-7 * std::max(1.0, whole))
    return left + right + (left + right - whole) / 15;
  return Simpson(q, a, m, fa, flm, fm, left, depth - 1) + Simpson(q, m, b, fm, frm, fb, right, depth - 1);
}

double ArcLength(const Quad& q, double t) {
  if (t <= 0) return 0;
  double fa = q.Speed(0), fb = q.Speed(t), fm = q.Speed(t / 2);
  return Simpson(q, 0, t, fa, fm, fb, t / 6 * (fa + 4 * fm + fb), 30);
}

Quad QuadOf(const CurveSeg& s) {
  return {double(s.c.x) - s.s.x, double(s.c.y) - s.s.y, double(s.s.x) - 2.0 * s.c.x + s.e.x,
          double(s.s.y) - 2.0 * s.c.y + s.e.y};
}

int64_t SegmentLength(int style, const TPoint* p, int n, int i) {
  if (style == lsStraight) return PointDistance(p[i], p[i + 1]);
  if (style != lsCurved) return Abs64(int64_t{p[i + 1].x} - p[i].x) + Abs64(int64_t{p[i + 1].y} - p[i].y);
  CurveSeg seg = CurveSegment(p, n, i);
  Quad q = QuadOf(seg);
  if (q.bx == 0 && q.by == 0) return PointDistance(seg.s, seg.e);
  return static_cast<int64_t>(RoundHalfAway(ArcLength(q, 1.0)));
}

TPoint Lerp(TPoint a, TPoint b, int64_t d, int64_t len) {
  if (len <= 0) return a;
  return {ClampI32(a.x + FcMulDiv64(int64_t{b.x} - a.x, d, len)), ClampI32(a.y + FcMulDiv64(int64_t{b.y} - a.y, d, len))};
}

TPoint PointAlongSegment(int style, const TPoint* p, int n, int i, int64_t d) {
  if (style == lsStraight) return Lerp(p[i], p[i + 1], d, PointDistance(p[i], p[i + 1]));
  if (style != lsCurved) {
    TPoint k = Corner(style, p[i], p[i + 1]);
    int64_t first = Abs64(int64_t{k.x} - p[i].x) + Abs64(int64_t{k.y} - p[i].y);
    if (d <= first) return Lerp(p[i], k, d, first);
    int64_t second = Abs64(int64_t{p[i + 1].x} - k.x) + Abs64(int64_t{p[i + 1].y} - k.y);
    return Lerp(k, p[i + 1], d - first, second);
  }
  CurveSeg seg = CurveSegment(p, n, i);
  Quad q = QuadOf(seg);
  if (q.bx == 0 && q.by == 0) return Lerp(seg.s, seg.e, d, PointDistance(seg.s, seg.e));
  double lo = 0, hi = 1;
  for (int k = 0; k < 48; ++k) {
    double mid = (lo + hi) / 2;
    (ArcLength(q, mid) < double(d) ? lo : hi) = mid;
  }
  double t = (lo + hi) / 2, u = 1 - t;
  double x = u * u * seg.s.x + 2 * u * t * seg.c.x + t * t * seg.e.x;
  double y = u * u * seg.s.y + 2 * u * t * seg.c.y + t * t * seg.e.y;
  return {ClampI32(int64_t(RoundHalfAway(x))), ClampI32(int64_t(RoundHalfAway(y)))};
}

bool StraightHit(const TPoint* p, int n, TPoint q, int t);

bool CurveSegmentHit(const CurveSeg& seg, TPoint q, int t, int index) {
  std::vector<TPoint> pts;
  AppendCurve(pts, seg.s, seg.c, seg.e, true);
  bool hit = StraightHit(pts.data(), static_cast<int>(pts.size()), q, t);
  if (hit) gLastHitSegment = gLastHitSegment < static_cast<int>(pts.size()) / 2 ? index : index + 1;
  return hit;
}

bool StraightHit(const TPoint* p, int n, TPoint q, int t) {
  for (int i = 0; i + 1 < n; ++i) {
    gLastHitSegment = i;
    if (!InEnlarged(BoundsOf({p[i], p[i + 1]}), q, t)) continue;
    if (LineDistance(p[i], p[i + 1], q) <= t) return true;
  }
  gLastHitSegment = -1;
  return false;
}

}  // namespace

void ExtendBounds(TRect& r, TPoint p) {
  if (p.x < r.Left) r.Left = p.x;
  if (p.x > r.Right) r.Right = p.x;
  if (p.y < r.Top) r.Top = p.y;
  if (p.y > r.Bottom) r.Bottom = p.y;
}

int64_t PointDistance(TPoint a, TPoint b) {
  int64_t dx = int64_t{b.x} - a.x, dy = int64_t{b.y} - a.y;
  if (dx == 0 || dy == 0) return Abs64(dx + dy);
  return static_cast<int64_t>(RoundHalfEven(std::sqrt(double(dx) * dx + double(dy) * dy)));
}

int64_t ChessDistance(TPoint a, TPoint b) {
  return std::max(Abs64(int64_t{b.x} - a.x), Abs64(int64_t{b.y} - a.y));
}

TPoint MidPoint(TPoint a, TPoint b) {
  return {static_cast<int32_t>(b.x + (int64_t{a.x} - b.x) / 2), static_cast<int32_t>(b.y + (int64_t{a.y} - b.y) / 2)};
}

void AppendCurve(std::vector<TPoint>& out, TPoint s, TPoint c, TPoint e, bool last) {
  int64_t n = ChessDistance(s, c) + ChessDistance(c, e);
  if (n == 0) {
    if (last) out.push_back(e);
    return;
  }
  // Doubling on the full value: a length that is a multiple of 65536 would never leave
  // a 16-bit loop, and a huge length would give a zero step.
  while (n <= 8) n *= 2;
  int64_t dt = std::max<int64_t>(1, 0x80000 / n);
  auto second = [dt](int64_t a) {
    int64_t v = a * dt * dt;
    return (v >> 15) + ((v >> 14) & 1);
  };
  int64_t d2x = second(int64_t{s.x} + e.x - 2 * int64_t{c.x});
  int64_t d2y = second(int64_t{s.y} + e.y - 2 * int64_t{c.y});
  int64_t d1x = ((d2x >> 1) + (d2x & 1)) + 2 * (int64_t{c.x} - s.x) * dt;
  int64_t d1y = ((d2y >> 1) + (d2y & 1)) + 2 * (int64_t{c.y} - s.y) * dt;
  int64_t accx = 0, accy = 0;
  TPoint cur = s;
  for (int64_t t = 0; t <= 65535; t += dt) {
    out.push_back(cur);
    accx += d1x;
    accy += d1y;
    cur.x = ClampI32(s.x + (accx >> 16) + ((accx >> 15) & 1));
    cur.y = ClampI32(s.y + (accy >> 16) + ((accy >> 15) & 1));
    d1x += d2x;
    d1y += d2y;
  }
  if (last) out.push_back(e);
}

std::vector<TPoint> CurvePoints(const TPoint* p, int n) {
  std::vector<TPoint> out;
  if (n < 3) return std::vector<TPoint>(p, p + std::max(n, 0));
  for (int i = 0; i <= n - 3; ++i) {
    CurveSeg seg = CurveSegment(p, n, i);
    AppendCurve(out, seg.s, seg.c, seg.e, i == n - 3);
  }
  return out;
}

std::vector<TPoint> LinePolyline(int style, const TPoint* p, int n) {
  if (n <= 0) return {};
  style = EffectiveStyle(style, n);
  if (style == lsCurved) return CurvePoints(p, n);
  if (style == lsStraight) return std::vector<TPoint>(p, p + n);
  std::vector<TPoint> out;
  out.reserve(2 * n - 1);
  out.push_back(p[0]);
  for (int i = 1; i < n; ++i) {
    out.push_back(Corner(style, p[i - 1], p[i]));
    out.push_back(p[i]);
  }
  return out;
}

int64_t LineDistance(TPoint a, TPoint b, TPoint q) {
  int64_t dx = int64_t{b.x} - a.x, dy = int64_t{b.y} - a.y;
  // Only a segment of one point is degenerate: an anti-diagonal has dx + dy == 0 too.
  if (dx == 0 && dy == 0) {
    dx = int64_t{q.x} - a.x;
    dy = int64_t{a.y} - q.y;
    if (dx == 0 && dy == 0) dx = 1;
  }
  int64_t qx = int64_t{q.x} - a.x, qy = int64_t{q.y} - a.y;
  int64_t off = Abs64(dy) < Abs64(dx) ? qy - FcMulDiv64(qx, dy, dx) : qx - FcMulDiv64(qy, dx, dy);
  if (off == 0) return 0;
  int64_t big = std::max(Abs64(dx), Abs64(dy)), small = std::min(Abs64(dx), Abs64(dy));
  int64_t k = (big * 181) >> 7;
  return FcMulDiv64(Abs64(off), k, small + k);
}

bool LineHitTest(int style, const TPoint* p, int n, TPoint q, int t) {
  style = EffectiveStyle(style, n);
  if (style == lsStraight) return StraightHit(p, n, q, t);
  if (style == lsCurved) {
    for (int i = 0; i <= n - 3; ++i) {
      gLastHitSegment = i;
      CurveSeg seg = CurveSegment(p, n, i);
      if (!InEnlarged(BoundsOf({seg.s, seg.c, seg.e}), q, t)) continue;
      if (CurveSegmentHit(seg, q, t, i)) return true;
    }
    gLastHitSegment = -1;
    return false;
  }
  for (int i = 0; i + 1 < n; ++i) {
    gLastHitSegment = i;
    TPoint k = Corner(style, p[i], p[i + 1]);
    if (!InEnlarged(BoundsOf({p[i], p[i + 1]}), q, t)) continue;
    if (std::min(Abs64(int64_t{k.x} - q.x), Abs64(int64_t{k.y} - q.y)) <= t) return true;
  }
  gLastHitSegment = -1;
  return false;
}

bool SegmentCrossesRect(TPoint fixed, TPoint moving, const TRect& r) {
  int cf = OutCode(fixed, r);
  int cm = OutCode(moving, r);
  // Each clip drops the moving end onto one more edge, so four rounds settle it.
  for (int round = 0; round < 8; ++round) {
    if (cf & cm) return false;
    if (cf == 0 || cm == 0) return true;
    if ((cf | cm) == 5 || (cf | cm) == 10) return true;
    int64_t fx = fixed.x, fy = fixed.y, mx = moving.x, my = moving.y;
    if (cm & 1) {
      moving = {r.Left, ClampI32(my + FcMulDiv64(fy - my, r.Left - mx, fx - mx))};
    } else if (cm & 2) {
      moving = {ClampI32(mx + FcMulDiv64(fx - mx, r.Top - my, fy - my)), r.Top};
    } else if (cm & 4) {
      moving = {r.Right, ClampI32(my + FcMulDiv64(fy - my, r.Right - mx, fx - mx))};
    } else {
      moving = {ClampI32(mx + FcMulDiv64(fx - mx, r.Bottom - my, fy - my)), r.Bottom};
    }
    cm = OutCode(moving, r);
  }
  return false;
}

bool LineCrossesRect(int style, const TPoint* p, int n, const TRect& r) {
  style = EffectiveStyle(style, n);
  // A single point has no segment: it is neither painted nor hit, so it crosses nothing.
  int segments = style == lsCurved ? n - 2 : n - 1;
  for (int i = 0; i < segments; ++i) {
    gLastHitSegment = i;
    bool crosses = false;
    if (style == lsStraight) {
      crosses = SegmentCrossesRect(p[i], p[i + 1], r);
    } else if (style == lsCurved) {
      CurveSeg seg = CurveSegment(p, n, i);
      int a = OutCode(seg.s, r), b = OutCode(seg.c, r), c = OutCode(seg.e, r);
      if (a & b & c) continue;
      if (a == 0 || b == 0 || c == 0) return true;
      std::vector<TPoint> pts;
      AppendCurve(pts, seg.s, seg.c, seg.e, true);
      for (size_t k = 0; k + 1 < pts.size() && !crosses; ++k) crosses = SegmentCrossesRect(pts[k], pts[k + 1], r);
      gLastHitSegment = i;
    } else {
      TPoint k = Corner(style, p[i], p[i + 1]);
      crosses = SegmentCrossesRect(p[i], k, r) || SegmentCrossesRect(k, p[i + 1], r);
    }
    if (crosses) return true;
  }
  gLastHitSegment = -1;
  return false;
}

TPoint HalfWayPoint(int style, const TPoint* p, int n) {
  if (n <= 0) return {};
  if (n == 1) return p[0];
  style = EffectiveStyle(style, n);
  int segments = style == lsCurved ? n - 2 : n - 1;
  std::vector<int64_t> len(segments);
  int64_t total = 0;
  for (int i = 0; i < segments; ++i) total += (len[i] = SegmentLength(style, p, n, i));
  int64_t before = 0;
  for (int i = 0; i < segments; ++i) {
    int64_t remaining = total - before;
    if (remaining - len[i] <= before + len[i] && remaining >= before) {
      gLastHitSegment = i;
      return PointAlongSegment(style, p, n, i, static_cast<int64_t>(static_cast<uint64_t>(remaining - before) >> 1));
    }
    before += len[i];
  }
  gLastHitSegment = segments - 1;
  return p[n - 1];
}

int LastHitSegment() { return gLastHitSegment; }
