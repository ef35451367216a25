// Mouse editing in the chart model: moving, resizing, connecting, dragging ends and points.
#include <gtest/gtest.h>

#include "flowchart/FcChart.h"

namespace {

struct Editing : ::testing::Test {
  TFcChart c;
  TFcObject* a = nullptr;
  TFcObject* b = nullptr;
  int changes = 0;
  void SetUp() override {
    c.SetClientSize(640, 480);
    a = c.CreateObject(100, 100, 100, 50, stRectangle);
    b = c.CreateObject(400, 100, 100, 50, stRectangle);
    c.OnChange = [this](TFcChart*, TFcItem*) { ++changes; };
  }
  void Drag(TPoint from, TPoint to, uint8_t shift = 0) {
    c.MouseDown(from.x, from.y, shift);
    c.MouseMove(to.x, to.y, true);
    c.MouseUp(to.x, to.y);
  }
};

}  // namespace

TEST_F(Editing, PressSelectsAndDragMovesInRealUnits) {
  c.MouseDown(150, 125, 0);
  EXPECT_EQ(c.SelectedObject(), a);
  c.MouseMove(153, 126, true);  // within 4 pixels: no drag yet
  EXPECT_EQ(c.DragKind(), dkNone);
  c.MouseMove(170, 135, true);
  EXPECT_EQ(c.DragKind(), dkMove);
  EXPECT_EQ(c.DragRect(), (TRect{120, 110, 220, 160}));
  c.MouseUp(170, 135);
  EXPECT_EQ(c.DragKind(), dkNone);
  EXPECT_EQ(a->Left(), 120);
  EXPECT_EQ(a->Top(), 110);
  EXPECT_GT(changes, 0);

  c.SetZoom(50);  // a is now 60,55 .. 110,80 in pixels
  Drag({80, 65}, {100, 75});
  EXPECT_EQ(a->Left(), 160);
  EXPECT_EQ(a->Top(), 130);
  EXPECT_EQ(b->Left(), 400);  // not selected, not moved
}

TEST_F(Editing, ShiftPressTogglesAndPressOnSelectedSelectsUnion) {
  a->AddToUnion(b);
  c.MouseDown(150, 125, 0);
  c.MouseUp(150, 125);
  EXPECT_EQ(c.SelectedCount(), 1);
  c.MouseDown(150, 125, 0);  // on the selected shape: the whole union
  c.MouseUp(150, 125);
  EXPECT_EQ(c.SelectedCount(), 2);
  c.MouseDown(450, 125, fsShift);
  c.MouseUp(450, 125);
  EXPECT_FALSE(b->Selected());
  EXPECT_TRUE(a->Selected());
}

TEST_F(Editing, ResizeByHandle) {
  a->SetSelected(true);
  c.MouseDown(199, 149, 0);  // bottom-right handle starts at once
  EXPECT_EQ(c.DragKind(), dkResize);
  c.MouseMove(219, 159, true);
  EXPECT_EQ(c.DragRect(), (TRect{100, 100, 220, 160}));
  c.MouseUp(219, 159);
  EXPECT_EQ(a->Width(), 120);
  EXPECT_EQ(a->Height(), 60);
  // Past the opposite corner the rectangle is normalised.
  c.MouseDown(100, 100, 0);
  c.MouseUp(240, 180);
  EXPECT_EQ(a->Left(), 220);
  EXPECT_EQ(a->Top(), 160);
  EXPECT_EQ(a->Width(), 20);
  EXPECT_EQ(a->Height(), 20);
}

TEST_F(Editing, BorderPressDrawsNewConnection) {
  a->SetSelected(true);
  Drag({98, 110}, {450, 125});  // left border, clear of the handles
  ASSERT_EQ(c.ConnectionCount(), 1);
  TFcConnection* k = c.Connections(0);
  EXPECT_EQ(k->Source(), a);
  EXPECT_EQ(k->SourcePoint(), 15);
  EXPECT_EQ(k->Dest(), b);
  EXPECT_EQ(k->DestPoint(), 10);
  EXPECT_EQ(k->PointCount(), 0);
  EXPECT_EQ(a->LinkedObjects(), std::vector<TFcObject*>{b});
  EXPECT_EQ(b->LinkedObjects(), std::vector<TFcObject*>{a});
}

TEST_F(Editing, DraggingConnectionEndsAndPoints) {
  TFcConnection* k = c.CreateConnection(a, b, 6, 14);  // (199,125) to (400,125)
  k->SetSelected(true);
  c.MouseDown(400, 125, 0);
  EXPECT_EQ(c.DragKind(), dkPoint);
  EXPECT_EQ(k->Dest(), nullptr);  // let go at once, as a loose point
  c.MouseMove(300, 300, true);
  EXPECT_EQ(c.DragLine().back(), (TPoint{300, 300}));
  c.MouseUp(300, 300);
  EXPECT_EQ(k->Dest(), nullptr);
  EXPECT_EQ(k->PointCount(), 1);
  EXPECT_EQ(k->GetPoint(0), (TPoint{300, 300}));

  Drag({300, 300}, {420, 110});  // onto b, at its nearest linked point
  EXPECT_EQ(k->Dest(), b);
  EXPECT_EQ(k->DestPoint(), 1);
  EXPECT_EQ(k->PointCount(), 0);
  EXPECT_EQ(k->RealPoints().back(), (TPoint{425, 100}));

  // A press on the selected line inserts a point there and drags it.
  k->SetDest(b, 14);
  Drag({300, 126}, {300, 200});
  EXPECT_EQ(k->PointCount(), 1);
  EXPECT_EQ(k->GetPoint(0), (TPoint{300, 200}));
  EXPECT_TRUE(k->Selected());

  // The source end leaves a, then joins b's left side.
  Drag({199, 125}, {401, 140});
  EXPECT_EQ(k->Source(), b);
  EXPECT_EQ(k->PointCount(), 1);
}

TEST_F(Editing, DragsNeedTheOption) {
  c.SetOptions(fcDefaultOptions & ~fcoCanDrag);
  Drag({150, 125}, {250, 125});
  EXPECT_TRUE(a->Selected());
  EXPECT_EQ(a->Left(), 100);
  c.SetOptions(fcDefaultOptions & ~fcoCanDelete);
  EXPECT_FALSE(c.KeyDown(fkDelete, 0));
  EXPECT_EQ(c.ObjectCount(), 2);
  c.SetOptions(fcDefaultOptions);
  EXPECT_TRUE(c.KeyDown(fkDelete, 0));
  EXPECT_EQ(c.ObjectCount(), 1);
  // Deleting during a drag ends the drag.
  b->SetSelected(true);
  c.MouseDown(499, 149, 0);
  ASSERT_EQ(c.DragKind(), dkResize);
  c.FreeItem(b);
  EXPECT_EQ(c.DragKind(), dkNone);
  c.MouseUp(520, 160);
  EXPECT_EQ(c.ObjectCount(), 0);
}
