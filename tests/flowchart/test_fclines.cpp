// Line geometry against hand-computed points, distances and crossings.
#include <gtest/gtest.h>

#include "flowchart/FcRegion.h"
#include "flowchart/fcLines.h"

using Pts = std::vector<TPoint>;

TEST(FcLines, PointDistanceRoundsAndTakesAxisShortcut) {
  EXPECT_EQ(PointDistance({0, 0}, {3, 4}), 5);
  EXPECT_EQ(PointDistance({0, 0}, {1, 1}), 1);
  EXPECT_EQ(PointDistance({0, 0}, {0, -7}), 7);
  EXPECT_EQ(PointDistance({2, 0}, {-3, 0}), 5);
  // Far apart points would overflow a 32-bit sum of squares.
  EXPECT_EQ(PointDistance({-2000000000, 0}, {2000000000, 1}), 4000000000LL);
  EXPECT_EQ(MidPoint({0, 0}, {5, -5}), (TPoint{3, -3}));  // 5 + (0 - 5) / 2, toward zero
}

TEST(FcLines, CurveByForwardDifferencing) {
  Pts out;
  AppendCurve(out, {0, 0}, {32, 32}, {64, 0}, true);
  Pts want{{0, 0}, {8, 7}, {16, 12}, {24, 15}, {32, 16}, {40, 15}, {48, 12}, {56, 7}, {64, 0}};
  EXPECT_EQ(out, want);
  out.clear();
  AppendCurve(out, {0, 0}, {32, 32}, {64, 0}, false);
  EXPECT_EQ(out.size(), 8u);  // the end only on the last segment

  // A control polygon of length 1 steps as if it were 16: two steps and the end. More
  // points than the legs' |dx| + |dy|, which a fixed buffer of that size would overflow.
  Pts tiny{{0, 0}, {1, 0}, {1, 0}};
  EXPECT_EQ(CurvePoints(tiny.data(), 3), (Pts{{0, 0}, {1, 0}, {1, 0}}));

  // Lengths whose low 16 bits are zero or small must still terminate with a bounded count.
  out.clear();
  AppendCurve(out, {0, 0}, {65536, 0}, {131072, 0}, true);
  EXPECT_EQ(out.front(), (TPoint{0, 0}));
  EXPECT_EQ(out.back(), (TPoint{131072, 0}));
  out.clear();
  AppendCurve(out, {-2000000000, 0}, {0, 2000000000}, {2000000000, 0}, true);
  EXPECT_LE(out.size(), 65538u);
  EXPECT_EQ(out.back(), (TPoint{2000000000, 0}));
}

TEST(FcLines, PolylineForEachStyle) {
  Pts p{{0, 0}, {10, 5}, {20, 0}};
  EXPECT_EQ(LinePolyline(lsStraight, p.data(), 3), p);
  EXPECT_EQ(LinePolyline(lsRectHorizontal, p.data(), 3), (Pts{{0, 0}, {10, 0}, {10, 5}, {20, 5}, {20, 0}}));
  EXPECT_EQ(LinePolyline(lsRectVertical, p.data(), 3), (Pts{{0, 0}, {0, 5}, {10, 5}, {10, 0}, {20, 0}}));
  Pts two{{0, 0}, {10, 10}};
  EXPECT_EQ(LinePolyline(lsCurved, two.data(), 2), two);  // a two-point curve is straight
  Pts curve{{0, 0}, {32, 32}, {64, 0}};
  EXPECT_EQ(LinePolyline(lsCurved, curve.data(), 3).size(), 9u);
}

TEST(FcLines, HitTestStraightLinesInEveryDirection) {
  struct Case {
    TPoint a, b, q;
    bool hit;
  } cases[] = {
      {{0, 0}, {10, 0}, {5, 0}, true},    {{0, 0}, {10, 0}, {5, 3}, true},   {{0, 0}, {10, 0}, {5, 4}, false},
      {{0, 0}, {0, 10}, {-3, 5}, true},   {{0, 0}, {0, 10}, {4, 5}, false},  {{0, 0}, {10, 10}, {5, 5}, true},
      {{0, 0}, {10, 10}, {0, 10}, false}, {{10, 10}, {0, 0}, {6, 5}, true},
      // Up-right diagonal: dx + dy == 0 must not count as a one-point segment.
      {{0, 0}, {10, -10}, {5, -5}, true}, {{0, 0}, {10, -10}, {0, -10}, false},
      {{10, -10}, {0, 0}, {3, -3}, true}, {{0, 10}, {10, 0}, {10, 10}, false},
      // Past the end but inside the enlarged bounds still hits.
      {{0, 0}, {10, 0}, {12, 1}, true},   {{0, 0}, {10, 0}, {14, 0}, false},
  };
  for (const Case& c : cases) {
    Pts p{c.a, c.b};
    EXPECT_EQ(LineHitTest(lsStraight, p, c.q, 3), c.hit) << c.a.x << "," << c.a.y << " " << c.b.x << "," << c.b.y
                                                          << " q " << c.q.x << "," << c.q.y;
    EXPECT_EQ(LastHitSegment(), c.hit ? 0 : -1);
  }
  Pts bend{{0, 0}, {10, 0}, {10, 10}};
  EXPECT_TRUE(LineHitTest(lsStraight, bend, {11, 6}, 3));
  EXPECT_EQ(LastHitSegment(), 1);
}

TEST(FcLines, HitTestRightAngleAndCurvedLines) {
  Pts p{{0, 0}, {20, 10}};
  EXPECT_TRUE(LineHitTest(lsRectHorizontal, p, {10, 1}, 3));
  EXPECT_TRUE(LineHitTest(lsRectHorizontal, p, {19, 8}, 3));
  EXPECT_FALSE(LineHitTest(lsRectHorizontal, p, {10, 6}, 3));  // on the diagonal, off both legs
  EXPECT_TRUE(LineHitTest(lsRectVertical, p, {1, 6}, 3));
  EXPECT_FALSE(LineHitTest(lsRectVertical, p, {10, 1}, 3));

  Pts curve{{0, 0}, {32, 32}, {64, 0}};
  EXPECT_TRUE(LineHitTest(lsCurved, curve, {32, 16}, 3));
  EXPECT_TRUE(LineHitTest(lsCurved, curve, {8, 7}, 3));
  EXPECT_FALSE(LineHitTest(lsCurved, curve, {32, 30}, 3));  // near the control point only
  EXPECT_EQ(LastHitSegment(), -1);
  // A point on the second half of a one-segment curve names the next segment.
  EXPECT_TRUE(LineHitTest(lsCurved, curve, {56, 7}, 2));
  EXPECT_EQ(LastHitSegment(), 1);
  EXPECT_TRUE(LineHitTest(lsCurved, curve, {8, 7}, 2));
  EXPECT_EQ(LastHitSegment(), 0);
  // Two points under the curved style test as a straight line.
  Pts two{{0, 0}, {10, -10}};
  EXPECT_TRUE(LineHitTest(lsCurved, two, {5, -5}, 3));
}

TEST(FcLines, CrossingRectangles) {
  TRect r{0, 0, 10, 10};
  EXPECT_TRUE(SegmentCrossesRect({-5, 5}, {15, 5}, r));    // left and right: union 5
  EXPECT_TRUE(SegmentCrossesRect({5, -5}, {5, 15}, r));    // above and below: union 10
  EXPECT_FALSE(SegmentCrossesRect({-5, -5}, {-1, 20}, r)); // both left
  EXPECT_FALSE(SegmentCrossesRect({-5, 4}, {4, -5}, r));   // passes outside the corner
  EXPECT_TRUE(SegmentCrossesRect({-5, 6}, {6, -5}, r));    // cuts the corner
  EXPECT_TRUE(SegmentCrossesRect({2, 2}, {30, 30}, r));    // starts inside

  Pts p{{-5, 5}, {5, 20}};
  EXPECT_FALSE(LineCrossesRect(lsRectVertical, p.data(), 2, r));
  EXPECT_EQ(LastHitSegment(), -1);
  EXPECT_TRUE(LineCrossesRect(lsRectHorizontal, p.data(), 2, r));
  Pts curve{{-20, 5}, {5, 40}, {30, 5}};  // dips below the rectangle, never enters it
  EXPECT_FALSE(LineCrossesRect(lsCurved, curve.data(), 3, r));
  Pts curve2{{-20, 5}, {5, 10}, {30, 5}};
  EXPECT_TRUE(LineCrossesRect(lsCurved, curve2.data(), 3, r));
  TPoint inside{5, 5};
  EXPECT_FALSE(LineCrossesRect(lsStraight, &inside, 1, r));
  EXPECT_EQ(LastHitSegment(), -1);
}

TEST(FcLines, HalfWayPoint) {
  Pts a{{0, 0}, {10, 0}, {10, 10}};
  EXPECT_EQ(HalfWayPoint(lsStraight, a.data(), 3), (TPoint{10, 0}));
  EXPECT_EQ(LastHitSegment(), 0);
  Pts b{{0, 0}, {10, 0}, {10, 30}};
  EXPECT_EQ(HalfWayPoint(lsStraight, b.data(), 3), (TPoint{10, 10}));
  EXPECT_EQ(LastHitSegment(), 1);
  Pts c{{0, 0}, {10, 30}};
  EXPECT_EQ(HalfWayPoint(lsRectHorizontal, c.data(), 2), (TPoint{10, 10}));
  EXPECT_EQ(HalfWayPoint(lsRectVertical, c.data(), 2), (TPoint{0, 20}));
  Pts curve{{0, 0}, {32, 32}, {64, 0}};
  // Arc length 73.46 rounds to 73; half of it by shift is 36, at t = 0.4886: (31.27, 15.99).
  EXPECT_EQ(HalfWayPoint(lsCurved, curve.data(), 3), (TPoint{31, 16}));
  TPoint one{7, 9};
  EXPECT_EQ(HalfWayPoint(lsCurved, &one, 1), one);
  EXPECT_EQ(HalfWayPoint(lsStraight, nullptr, 0), (TPoint{0, 0}));
}

TEST(FcRegion, ShapesAndCombinations) {
  TFcRegion rect = TFcRegion::Rect({0, 0, 100, 50});
  EXPECT_TRUE(rect.Contains(0, 0));
  EXPECT_TRUE(rect.Contains(99, 49));
  EXPECT_FALSE(rect.Contains(100, 0));
  EXPECT_FALSE(rect.Contains(0, 50));
  TFcRegion ell = TFcRegion::Ellipse({0, 0, 100, 50});
  EXPECT_TRUE(ell.Contains(50, 25));
  EXPECT_TRUE(ell.Contains(1, 25));
  EXPECT_FALSE(ell.Contains(2, 2));
  EXPECT_EQ(ell.Bounds(), (TRect{0, 0, 100, 50}));

  TPoint tri[] = {{50, 0}, {99, 49}, {0, 49}};
  TFcRegion t = TFcRegion::Polygon(tri, 3);
  EXPECT_TRUE(t.Contains(50, 5));
  EXPECT_FALSE(t.Contains(10, 5));
  // A self-overlapping star is filled whole under the winding rule.
  TPoint star[] = {{50, 0}, {80, 100}, {0, 35}, {100, 35}, {20, 100}};
  EXPECT_TRUE(TFcRegion::Polygon(star, 5).Contains(50, 50));

  TFcRegion ring = rect.Subtract(TFcRegion::Rect({10, 10, 90, 40}));
  EXPECT_TRUE(ring.Contains(5, 25));
  EXPECT_FALSE(ring.Contains(50, 25));
  EXPECT_TRUE(ring.IntersectsRect({0, 20, 11, 30}));
  EXPECT_FALSE(ring.IntersectsRect({20, 20, 30, 30}));
  EXPECT_EQ(ring.Union(TFcRegion::Rect({10, 10, 90, 40})), rect);
  EXPECT_EQ(rect.Intersect(rect.Offset(50, 0)), TFcRegion::Rect({50, 0, 100, 50}));
  EXPECT_TRUE(rect.Intersect(rect.Offset(0, 50)).IsEmpty());
}
