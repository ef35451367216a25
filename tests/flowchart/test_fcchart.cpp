// Chart items and the chart model: linked points, arrows, hit codes, unions, zoom, editing.
#include <gtest/gtest.h>

#include "flowchart/FcChart.h"

namespace {

using Pts = std::vector<TPoint>;

TFcConnection* LooseLine(TFcChart& c, Pts pts, uint8_t style = lsStraight) {
  TFcConnection* con = c.CreateConnection(nullptr, nullptr, 0, 0);
  con->SetStyle(style);
  for (TPoint p : pts) con->AddPoint(p);
  return con;
}

}  // namespace

TEST(FcObject, LinkedPointsPerShape) {
  TFcChart c;
  TFcObject* o = c.CreateObject(0, 0, 100, 50, stRectangle);
  Pts rect{{0, 0},  {25, 0},  {50, 0},  {75, 0},  {99, 0},  {99, 12}, {99, 25}, {99, 38},
           {99, 49}, {75, 49}, {50, 49}, {25, 49}, {0, 49},  {0, 38},  {0, 25},  {0, 12}};
  EXPECT_EQ(Pts(o->LinkedPoints().begin(), o->LinkedPoints().end()), rect);

  o->SetShapeType(stEllipse);  // f(100,150)=15, f(50,150)=7, f(100,68)=7, f(50,68)=3
  Pts ell{{15, 7},  {25, 3},  {50, 0},  {75, 3},  {84, 7},  {92, 12}, {99, 25}, {92, 38},
          {84, 42}, {75, 46}, {50, 49}, {25, 46}, {15, 42}, {7, 38},  {0, 25},  {7, 12}};
  EXPECT_EQ(Pts(o->LinkedPoints().begin(), o->LinkedPoints().end()), ell);

  o->SetShapeType(stDiamond);
  EXPECT_EQ(o->LinkedPoint(0), (TPoint{25, 12}));
  EXPECT_EQ(o->LinkedPoint(1), (TPoint{37, 6}));
  EXPECT_EQ(o->LinkedPoint(9), (TPoint{63, 43}));

  o->SetShapeType(stNorthTriangle);
  EXPECT_EQ(o->LinkedPoint(0), (TPoint{25, 25}));
  EXPECT_EQ(o->LinkedPoint(14), (TPoint{25, 25}));
  EXPECT_EQ(o->LinkedPoint(6), (TPoint{75, 25}));
  EXPECT_EQ(o->LinkedPoint(13), (TPoint{12, 38}));
  EXPECT_EQ(o->LinkedPoint(15), (TPoint{38, 12}));
  EXPECT_EQ(o->LinkedPoint(5), (TPoint{62, 12}));
  EXPECT_EQ(o->LinkedPoint(7), (TPoint{87, 38}));
  EXPECT_EQ(o->LinkedPoint(2), (TPoint{50, 0}));  // the apex stays at the edge middle

  o->SetShapeType(stWestTriangle);
  EXPECT_EQ(o->LinkedPoint(14), (TPoint{0, 25}));
  EXPECT_EQ(o->LinkedPoint(0), (TPoint{50, 12}));
  EXPECT_EQ(o->LinkedPoint(3).y, 6);

  o->SetShapeType(stRectangle);
  c.SetZoom(50);  // zoomed rectangle 0,0,50,25
  EXPECT_EQ(o->ZoomedRect(), (TRect{0, 0, 50, 25}));
  EXPECT_EQ(o->LinkedPoint(8), (TPoint{49, 24}));
  EXPECT_EQ(o->LinkedPoint(3), (TPoint{38, 0}));
}

TEST(FcObject, NearestLinkedPointAndHandle) {
  TFcChart c;
  TFcObject* o = c.CreateObject(0, 0, 100, 50, stRectangle);
  EXPECT_EQ(o->NearestLinkedPoint({98, 2}), 4);
  EXPECT_EQ(o->NearestLinkedPoint({70, -5}), 3);
  EXPECT_EQ(o->NearestLinkedPoint({2, 40}), 13);
  EXPECT_EQ(o->NearestLinkedPoint({50, 60}), 10);
  EXPECT_EQ(o->NearestResizeHandle({99, 49}), 4);
  EXPECT_EQ(o->NearestResizeHandle({49, 1}), 1);
  EXPECT_EQ(o->NearestResizeHandle({0, 30}), 7);
}

TEST(FcConnection, ArrowHeads) {
  TFcChart c;
  TFcConnection* con = LooseLine(c, {{0, 0}, {100, 0}});
  con->DestArrow().SetArrowType(atArrow);
  EXPECT_EQ(con->DestArrow().Head(), (std::array<TPoint, 3>{{{90, -5}, {100, 0}, {90, 5}}}));

  TFcConnection* diag = LooseLine(c, {{0, 0}, {30, 40}});
  EXPECT_EQ(diag->SourceArrow().Head(), (std::array<TPoint, 3>{{{2, 11}, {0, 0}, {10, 5}}}));
  diag->SetStyle(lsRectHorizontal);  // leaves the source horizontally
  EXPECT_EQ(diag->SourceArrow().Head(), (std::array<TPoint, 3>{{{10, 5}, {0, 0}, {10, -5}}}));
  diag->SetStyle(lsRectVertical);  // reaches the destination horizontally
  EXPECT_EQ(diag->DestArrow().Head()[0], (TPoint{20, 35}));

  TFcConnection* same = LooseLine(c, {{5, 5}, {5, 5}});
  EXPECT_EQ(same->SourceArrow().Head(), (std::array<TPoint, 3>{{{5, 5}, {5, 5}, {5, 5}}}));
}

TEST(FcConnection, PointsFollowAttachedObjects) {
  TFcChart c;
  TFcObject* a = c.CreateObject(0, 0, 100, 50, stRectangle);
  TFcObject* b = c.CreateObject(300, 0, 100, 50, stRectangle);
  TFcConnection* con = c.CreateConnection(a, b, 6, 14);
  EXPECT_EQ(con->RealPoints(), (Pts{{99, 25}, {300, 25}}));
  EXPECT_EQ(con->PointCount(), 0);
  con->AddPoint({200, 100});  // user points sit between the attached ends
  EXPECT_EQ(con->RealPoints(), (Pts{{99, 25}, {200, 100}, {300, 25}}));
  EXPECT_EQ(con->GetPoint(0), (TPoint{200, 100}));
  EXPECT_EQ(con->GetPoint(5), (TPoint{0, 0}));
  b->SetBounds(300, 200, 100, 50);
  EXPECT_EQ(con->RealPoints().back(), (TPoint{300, 225}));
  EXPECT_EQ(a->LinkedObjects(), std::vector<TFcObject*>{b});
  con->SetDest(nullptr, 0);
  EXPECT_TRUE(a->LinkedObjects().empty());
  EXPECT_EQ(con->RealPoints(), (Pts{{99, 25}, {200, 100}}));
  c.FreeItem(a);  // frees its connections with it
  EXPECT_EQ(c.ConnectionCount(), 0);
  EXPECT_EQ(b->ConnectionCount(), 0);
  TFcConnection* self = c.CreateConnection(b, b, 6, 14);  // listed twice on b
  EXPECT_EQ(b->ConnectionCount(), 2);
  EXPECT_EQ(b->LinkedObjects(), (std::vector<TFcObject*>{b, b}));
  (void)self;
  c.FreeItem(b);
  EXPECT_EQ(c.ConnectionCount(), 0);
}

TEST(FcChart, HitTestEveryShape) {
  struct Case {
    uint8_t shape;
    TPoint in, out;
  } cases[] = {
      {stNone, {50, 25}, {0, 0}},           {stRectangle, {1, 1}, {0, 0}},       {stEllipse, {50, 25}, {2, 2}},
      {stRoundRect, {50, 25}, {1, 1}},      {stDiamond, {50, 25}, {5, 5}},       {stNorthTriangle, {50, 40}, {5, 5}},
      {stSouthTriangle, {50, 10}, {5, 45}}, {stEastTriangle, {20, 25}, {95, 5}}, {stWestTriangle, {80, 25}, {5, 5}},
      {stHexagon, {50, 25}, {2, 2}},
  };
  for (const Case& k : cases) {
    TFcChart c;
    TFcObject* o = c.CreateObject(0, 0, 100, 50, k.shape);
    EXPECT_EQ(c.HitTest(k.in.x, k.in.y), htObjectRect | htShape) << int(k.shape);
    EXPECT_EQ(c.HitObject(), o);
    EXPECT_EQ(c.HitTest(k.out.x, k.out.y), htObjectRect) << int(k.shape);
    EXPECT_EQ(c.HitTest(-2, 25), htObjectRect);  // the rectangle enlarged by 3
    EXPECT_EQ(c.HitTest(-4, 25), htNowhere);
    EXPECT_EQ(c.HitObject(), nullptr);
  }
}

TEST(FcChart, HitTestLinesArrowsTextAndHandles) {
  TFcChart c;
  TFcConnection* h = LooseLine(c, {{0, 100}, {200, 100}});
  TFcConnection* d = LooseLine(c, {{0, 300}, {100, 200}});  // 45 degrees up-right
  EXPECT_EQ(c.HitTest(100, 102), htLine);
  EXPECT_EQ(c.HitConnection(), h);
  EXPECT_EQ(c.HitTest(50, 250), htLine);
  EXPECT_EQ(c.HitConnection(), d);
  EXPECT_EQ(c.HitTest(0, 200), htNowhere);

  h->DestArrow().SetArrowType(atArrow);
  EXPECT_EQ(c.HitTest(195, 100), htLine | htDestArrow);
  h->SetText("go");
  TRect t = h->TextRect();
  EXPECT_EQ(c.HitTest(t.Left, t.Top), htText);

  // Over a back connection the object wins; over a front one the line wins.
  TFcObject* o = c.CreateObject(80, 80, 40, 40, stRectangle);
  EXPECT_EQ(c.HitTest(90, 100) & (htShape | htLine), htLine);
  h->SetBack(true);
  EXPECT_EQ(c.HitTest(91, 100), htObjectRect | htShape);
  EXPECT_EQ(c.HitObject(), o);

  o->SetSelected(true);
  EXPECT_EQ(c.HitTest(118, 118), htObjectRect | htShape | htHandle);
  EXPECT_EQ(c.HitTest(121, 121), htObjectRect | htHandle);
  // A point of the selected connection counts even under another connection.
  o->SetSelected(false);
  d->SetSelected(true);
  LooseLine(c, {{90, 210}, {110, 210}});
  EXPECT_EQ(c.HitTest(100, 200), htHandle | htLine);
  EXPECT_EQ(c.HitConnection(), d);
}

TEST(FcObject, UnionsRefuseSelfAndCycles) {
  TFcChart c;
  TFcObject* a = c.CreateObject(0, 0, 10, 10, 1);
  TFcObject* b = c.CreateObject(20, 0, 10, 10, 1);
  TFcObject* d = c.CreateObject(40, 0, 10, 10, 1);
  EXPECT_FALSE(a->AddToUnion(nullptr));
  EXPECT_FALSE(a->AddToUnion(a));
  EXPECT_TRUE(a->AddToUnion(b));
  EXPECT_TRUE(b->AddToUnion(d));
  EXPECT_FALSE(a->AddToUnion(d));  // already in the tree
  EXPECT_FALSE(d->AddToUnion(a));  // would close a cycle
  EXPECT_EQ(a->UnionChildCount(), 1);
  a->SelectUnion();
  EXPECT_EQ(c.SelectedCount(), 3);
  c.FreeItem(b);
  EXPECT_EQ(a->UnionChildCount(), 0);
}

TEST(FcChart, SelectionRulesAndEvents) {
  TFcChart c;
  TFcObject* a = c.CreateObject(0, 0, 10, 10, 1);
  TFcObject* b = c.CreateObject(20, 0, 10, 10, 1);
  std::vector<TFcItem*> selected, deleted;
  c.OnSelected = [&](TFcChart*, TFcItem* i) { selected.push_back(i); };
  c.OnDeletion = [&](TFcChart*, TFcItem* i) { deleted.push_back(i); };
  a->SetSelected(true);
  b->SetSelected(true);
  EXPECT_EQ(c.SelectedCount(), 2);
  c.SetOptions(fcDefaultOptions & ~fcoMultiSelect);
  TFcConnection* con = c.CreateConnection(a, b, 6, 14);
  con->SetSelected(true);  // clears the others first
  EXPECT_EQ(c.SelectedConnection(), con);
  c.OnSelection = [](TFcChart*, TFcItem*, bool& allow) { allow = false; };
  a->SetSelected(true);
  EXPECT_FALSE(a->Selected());
  c.OnSelection = nullptr;
  c.DeleteSelection();
  EXPECT_EQ(deleted, std::vector<TFcItem*>{con});
  EXPECT_EQ(selected.back(), con);
  EXPECT_EQ(c.ConnectionCount(), 0);
}

TEST(FcChart, ZoomAndFit) {
  TFcChart c;
  c.SetZoom(0);  // nothing to fit: never 0, at most 100
  EXPECT_EQ(c.RealZoom(), 100);
  c.SetZoom(100);
  TFcObject* o = c.CreateObject(0, 0, 1000, 500, stRectangle);
  int changes = 0;
  c.OnChange = [&](TFcChart*, TFcItem*) { ++changes; };
  c.SetZoom(0);  // 320 x 200 client: 320 * 95 / 1000
  EXPECT_EQ(c.RealZoom(), 30);
  EXPECT_EQ(o->ZoomedRect(), (TRect{0, 0, 300, 150}));
  o->SetBounds(0, 0, 2000, 500);  // extents change: fitted again, once
  EXPECT_EQ(c.RealZoom(), 15);
  c.SetZoom(200);
  EXPECT_EQ(o->ZoomedRect(), (TRect{0, 0, 4000, 1000}));
  EXPECT_EQ(c.ClientToReal({100, 50}), (TPoint{50, 25}));
}

TEST(FcChart, ScrollingClampsToExtents) {
  TFcChart c;
  c.CreateObject(0, 0, 1000, 800, stRectangle);
  c.ScrollTo(5000, -20);
  EXPECT_EQ(c.ScrollOrigin(), (TPoint{680, 0}));
  EXPECT_TRUE(c.KeyDown(fkPageDown, 0));
  EXPECT_EQ(c.ScrollOrigin().y, 184);
  EXPECT_TRUE(c.KeyDown(fkHome, 0));  // horizontally only
  EXPECT_EQ(c.ScrollOrigin(), (TPoint{0, 184}));
  EXPECT_TRUE(c.KeyDown(fkHome, fsCtrl));
  EXPECT_EQ(c.ScrollOrigin(), (TPoint{0, 0}));
  EXPECT_TRUE(c.KeyDown(fkEnd, fsCtrl));
  EXPECT_EQ(c.ScrollOrigin(), (TPoint{680, 600}));
  // Hit tests and real positions follow the scroll origin.
  EXPECT_EQ(c.HitTest(10, 10), htObjectRect | htShape);
  EXPECT_EQ(c.ClientToReal({0, 0}), (TPoint{680, 600}));
}

TEST(FcChart, KeyboardNavigatesResizesAndMoves) {
  TFcChart c;
  TFcObject* mid = c.CreateObject(100, 100, 20, 20, 1);
  TFcObject* behind = c.CreateObject(90, 100, 20, 20, 1);   // 10 to the left
  TFcObject* ahead = c.CreateObject(200, 100, 20, 20, 1);   // 100 to the right
  TFcObject* across = c.CreateObject(130, 160, 20, 20, 1);  // slightly right but far below
  mid->SetSelected(true);
  EXPECT_TRUE(c.KeyDown(fkRight, 0));
  EXPECT_EQ(c.SelectedObject(), ahead);
  // Scores |d1| + 8 |d2| + d1 / 4: mid 125, behind 137, across 567.
  EXPECT_TRUE(c.KeyDown(fkLeft, 0));
  EXPECT_EQ(c.SelectedObject(), mid);
  EXPECT_TRUE(c.KeyDown(fkLeft, 0));
  EXPECT_EQ(c.SelectedObject(), behind);
  EXPECT_FALSE(c.KeyDown(fkLeft, 0));  // nothing ahead
  EXPECT_EQ(c.SelectedObject(), behind);
  (void)across;
  c.ClearSelection();
  mid->SetSelected(true);
  EXPECT_TRUE(c.KeyDown(fkPageDown, fsShift));
  EXPECT_EQ(mid->Width(), 21);
  EXPECT_EQ(mid->Height(), 21);
  EXPECT_TRUE(c.KeyDown(fkHome, fsAlt));
  EXPECT_EQ(mid->Left(), 99);
  EXPECT_EQ(mid->Top(), 99);
  c.SetZoom(50);
  EXPECT_TRUE(c.KeyDown(fkRight, fsShift));  // one pixel is two real units
  EXPECT_EQ(mid->Width(), 23);
}

TEST(FcChart, ZOrderDecidesHitsAndRectanglesMeetInteriors) {
  TFcChart c;
  TFcObject* low = c.CreateObject(0, 0, 100, 100, stRectangle);
  TFcObject* high = c.CreateObject(50, 50, 100, 100, stEllipse);
  c.HitTest(75, 75);
  EXPECT_EQ(c.HitObject(), high);
  high->SendToBack();
  EXPECT_EQ(c.Objects(0), high);
  c.HitTest(75, 75);
  EXPECT_EQ(c.HitObject(), low);
  high->BringToFront();
  EXPECT_EQ(c.Objects(1), high);
  // Corner of the ellipse's rectangle, outside the ellipse itself.
  EXPECT_FALSE(high->IntersectsRect({140, 140, 150, 150}));
  EXPECT_TRUE(high->IntersectsRect({95, 95, 105, 105}));
  high->SetVisible(false);
  EXPECT_FALSE(high->IntersectsRect({95, 95, 105, 105}));
  c.HitTest(120, 120);
  EXPECT_EQ(c.HitObject(), nullptr);
}
