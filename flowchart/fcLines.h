#pragma once
// Geometry of connection lines in chart pixels: the polyline to draw for each line style,
// lengths and the half-way point, hit tests with a tolerance and rectangle crossing.
#include <vector>

#include "flowchart/fcTypes.h"

enum TFcLineStyle : uint8_t {
  lsStraight = 0,
  lsCurved = 1,
  lsRectHorizontal = 2,  // right angle, horizontal leg first
  lsRectVertical = 3,    // right angle, vertical leg first
};

void ExtendBounds(TRect& r, TPoint p);
int64_t PointDistance(TPoint a, TPoint b);
int64_t ChessDistance(TPoint a, TPoint b);
// B + (A - B) / 2, halving toward zero.
TPoint MidPoint(TPoint a, TPoint b);

// One quadratic curve by forward differencing; appends the points from S on, and E only
// when last is set.
void AppendCurve(std::vector<TPoint>& out, TPoint s, TPoint c, TPoint e, bool last);
// The whole curve through a line of n >= 3 points, ending with the last point.
std::vector<TPoint> CurvePoints(const TPoint* pts, int n);
// The vertices that drawing the line passes to one polyline.
std::vector<TPoint> LinePolyline(int style, const TPoint* pts, int n);

// Approximate distance of q from the infinite line through a and b.
int64_t LineDistance(TPoint a, TPoint b, TPoint q);

bool LineHitTest(int style, const TPoint* pts, int n, TPoint q, int tolerance);
bool SegmentCrossesRect(TPoint a, TPoint b, const TRect& r);
bool LineCrossesRect(int style, const TPoint* pts, int n, const TRect& r);
// The point at half the line's length; sets the last hit segment to its segment.
TPoint HalfWayPoint(int style, const TPoint* pts, int n);
// The segment the last search stopped at; -1 after a search without a match.
int LastHitSegment();

inline bool LineHitTest(int style, const std::vector<TPoint>& p, TPoint q, int t) {
  return LineHitTest(style, p.data(), static_cast<int>(p.size()), q, t);
}
