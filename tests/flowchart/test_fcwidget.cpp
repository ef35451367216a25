// The chart window: what it paints, and mouse, keyboard and zoom through real Qt events.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTest>
#include <string>
#include <vector>

#include "FcSample.h"
#include "core/AnsiString.h"
#include "flowchart/ui/FlowChart.h"

namespace {

QApplication& App() {
  static int argc = 1;
  static char name[] = "test_fcwidget";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

struct Window : ::testing::Test {
  TFlowChart* w = nullptr;
  void SetUp() override {
    App();
    w = new TFlowChart;
    w->resize(640, 400);
    w->show();
    QApplication::setActiveWindow(w);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w));
  }
  void TearDown() override { delete w; }
  QImage Shot() { return w->viewport()->grab().toImage(); }
  QColor At(int x, int y) { return Shot().pixelColor(x, y); }
  void Send(QEvent::Type t, QPoint p, Qt::MouseButton b, Qt::MouseButtons held, Qt::KeyboardModifiers m = {}) {
    QMouseEvent e(t, QPointF(p), w->viewport()->mapToGlobal(QPointF(p)), b, held, m);
    QApplication::sendEvent(w->viewport(), &e);
  }
  void Drag(QPoint from, QPoint to) {
    Send(QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
    QPoint mid = (from + to) / 2;
    Send(QEvent::MouseMove, mid, Qt::NoButton, Qt::LeftButton);
    Send(QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton);
    Send(QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton);
  }
  void Click(QPoint p) {
    Send(QEvent::MouseButtonPress, p, Qt::LeftButton, Qt::LeftButton);
    Send(QEvent::MouseButtonRelease, p, Qt::LeftButton, Qt::NoButton);
  }
  bool DarkNear(const QImage& img, int x, int y) {
    for (int dy = -1; dy <= 1; ++dy)
      for (int dx = -1; dx <= 1; ++dx)
        if (img.pixelColor(x + dx, y + dy).lightness() < 100) return true;
    return false;
  }
};

const QColor kWhite(255, 255, 255), kBlack(0, 0, 0), kYellow(255, 255, 200), kNavy(0, 0, 128);

}  // namespace

TEST_F(Window, PaintsShapesLinesAndScreenshot) {
  w->resize(920, 420);
  BuildSampleChart(*w);
  QImage img = Shot();
  // The ellipse (object 2 at 356,16 130x70, line width 3): fill, outline, and the corner
  // outside it left in the chart's colour.
  EXPECT_EQ(img.pixelColor(371, 51), kYellow);
  EXPECT_EQ(img.pixelColor(357, 51), kNavy);
  EXPECT_EQ(img.pixelColor(358, 18), kWhite);
  // The hexagon's corner is outside its shape; its middle is filled white.
  EXPECT_EQ(img.pixelColor(698, 168), kWhite);
  // The connection from object 0 to object 1 runs along y = 51 between x = 145 and 186.
  EXPECT_TRUE(DarkNear(img, 165, 51));
  // The raised edge of object 1 uses the 3-D colours, not the shape colour.
  EXPECT_NE(img.pixelColor(186, 50), kNavy);
  const QByteArray dir = qgetenv("TARVO_BUILD_DIR");
  if (!dir.isEmpty()) img.save(QString::fromLocal8Bit(dir) + "/flowchart_sample.png");

  // Zoomed in with a selected object and connection: handles at the zoomed corners.
  w->setFocus();
  w->Objects(7)->SetSelected(true);
  w->Connections(2)->SetSelected(true);
  w->SetZoom(150);
  TRect r = w->Objects(7)->ZoomedRect();
  EXPECT_EQ(r, (TRect{534, 249, 729, 354}));
  QImage zoomed = Shot();
  EXPECT_EQ(zoomed.pixelColor(r.Left - 2, r.Top - 2), kBlack);
  if (!dir.isEmpty()) zoomed.save(QString::fromLocal8Bit(dir) + "/flowchart_sample_zoom.png");
}

TEST_F(Window, ZoomScalesPaintingAndScrollRange) {
  TFcObject* a = w->CreateObject(100, 100, 100, 50, stRectangle);
  a->SetBkColor(RGB(255, 255, 200));
  EXPECT_EQ(At(150, 125), kYellow);
  w->SetZoom(200);
  EXPECT_EQ(At(150, 125), kWhite);  // outside the doubled object
  EXPECT_EQ(At(300, 250), kYellow);
  // The range starts at the extents (200..400 by 200..300), which fit the window.
  EXPECT_EQ(w->horizontalScrollBar()->minimum(), 200);
  EXPECT_EQ(w->horizontalScrollBar()->maximum(), 200);
  EXPECT_EQ(w->verticalScrollBar()->minimum(), 200);
  w->CreateObject(0, 0, 1000, 10, stRectangle);  // now 2000 pixels wide
  EXPECT_EQ(w->horizontalScrollBar()->minimum(), 0);
  EXPECT_EQ(w->horizontalScrollBar()->maximum(), 2000 - w->viewport()->width());
  EXPECT_EQ(w->horizontalScrollBar()->pageStep(), w->viewport()->width());
  w->horizontalScrollBar()->setValue(100);  // scrolling moves what is painted
  EXPECT_EQ(w->ScrollOrigin().x, 100);
  EXPECT_EQ(At(150, 250), kYellow);  // chart pixel (250, 250)
  EXPECT_EQ(At(50, 250), kWhite);
  // Page requests move by the client size less 16; line requests by 16.
  const int page = w->viewport()->width() - 16;
  w->horizontalScrollBar()->triggerAction(QAbstractSlider::SliderPageStepAdd);
  EXPECT_EQ(w->ScrollOrigin().x, 100 + page);
  w->horizontalScrollBar()->triggerAction(QAbstractSlider::SliderPageStepSub);
  EXPECT_EQ(w->ScrollOrigin().x, 100);
  w->horizontalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  EXPECT_EQ(w->ScrollOrigin().x, 116);
  w->horizontalScrollBar()->triggerAction(QAbstractSlider::SliderToMaximum);
  EXPECT_EQ(w->ScrollOrigin().x, 2000 - w->viewport()->width());
  w->horizontalScrollBar()->triggerAction(QAbstractSlider::SliderToMinimum);
  EXPECT_EQ(w->ScrollOrigin().x, 0);
  w->FreeItem(w->Objects(1));
  w->ScrollTo(0, 0);
  a->SetBounds(0, 0, 1000, 500);
  w->SetZoom(0);  // fit: 95% of the viewport width
  EXPECT_EQ(w->RealZoom(), w->viewport()->width() * 95 / 1000);
  EXPECT_EQ(w->horizontalScrollBar()->maximum(), w->horizontalScrollBar()->minimum());
  w->resize(200, 150);  // re-fits for the smaller window
  QApplication::processEvents();
  EXPECT_EQ(w->RealZoom(), w->viewport()->width() * 95 / 1000);
  EXPECT_LE(a->ZoomedRect().Right, w->viewport()->width());
  EXPECT_EQ(At(5, 5), kYellow);
}

TEST_F(Window, ClickSelectsAndShowsHandles) {
  TFcObject* a = w->CreateObject(100, 100, 100, 50, stRectangle);
  EXPECT_EQ(At(98, 98), kWhite);
  Click({150, 125});
  EXPECT_TRUE(a->Selected());
  EXPECT_TRUE(w->hasFocus());
  QImage img = Shot();
  EXPECT_EQ(img.pixelColor(98, 98), kBlack);   // top-left handle
  EXPECT_EQ(img.pixelColor(201, 151), kBlack); // bottom-right handle
  // Handles are five pixels square around their point.
  EXPECT_EQ(img.pixelColor(97, 97), kWhite);
  EXPECT_EQ(img.pixelColor(202, 152), kWhite);
  EXPECT_EQ(img.pixelColor(202, 149), kWhite);
  w->clearFocus();  // hidden selection without focus
  EXPECT_EQ(At(98, 98), kWhite);

  // A double click reports itself, then acts as the second press (Shift toggles twice).
  std::vector<std::string> calls;
  w->OnDblClick = [&](TCustomFlowChart*) { calls.push_back("dbl"); };
  w->OnMouseDown = [&](TCustomFlowChart*, Qt::MouseButton, uint8_t, int, int) { calls.push_back("down"); };
  for (QEvent::Type t : {QEvent::MouseButtonPress, QEvent::MouseButtonDblClick}) {
    Send(t, {150, 125}, Qt::LeftButton, Qt::LeftButton, Qt::ShiftModifier);
    Send(QEvent::MouseButtonRelease, {150, 125}, Qt::LeftButton, Qt::NoButton, Qt::ShiftModifier);
  }
  EXPECT_EQ(calls, (std::vector<std::string>{"down", "dbl", "down"}));
  EXPECT_TRUE(a->Selected());
}

TEST_F(Window, DragMovesObjectAndRepaints) {
  TFcObject* a = w->CreateObject(100, 100, 100, 50, stRectangle);
  a->SetBkColor(RGB(255, 255, 200));
  Click({150, 125});
  Send(QEvent::MouseButtonPress, {150, 125}, Qt::LeftButton, Qt::LeftButton);
  Send(QEvent::MouseMove, {190, 165}, Qt::NoButton, Qt::LeftButton);
  // While dragging, the outline shows inverted at the new place; the object stays put.
  QImage during = Shot();
  EXPECT_EQ(during.pixelColor(140, 170), kBlack);          // the moved left edge over white
  EXPECT_EQ(during.pixelColor(140, 145), QColor(0, 0, 55)); // and over the yellow fill
  EXPECT_EQ(a->Left(), 100);
  EXPECT_EQ(w->viewport()->cursor().shape(), Qt::BlankCursor);
  Send(QEvent::MouseButtonRelease, {190, 165}, Qt::LeftButton, Qt::NoButton);
  EXPECT_EQ(a->Left(), 140);
  EXPECT_EQ(w->viewport()->cursor().shape(), Qt::ArrowCursor);
  a->SetSelected(true);
  Send(QEvent::MouseMove, {239, 189}, Qt::NoButton, Qt::NoButton);  // over the bottom-right handle
  EXPECT_EQ(w->viewport()->cursor().shape(), Qt::SizeFDiagCursor);
  EXPECT_EQ(a->Top(), 140);
  QImage img = Shot();
  EXPECT_EQ(img.pixelColor(120, 120), kWhite);  // where it was
  EXPECT_EQ(img.pixelColor(230, 180), kYellow); // where it is
}

TEST_F(Window, DragConnectionEndToAnotherObject) {
  TFcObject* a = w->CreateObject(50, 50, 100, 50, stRectangle);
  TFcObject* b = w->CreateObject(350, 50, 100, 50, stRectangle);
  TFcObject* d = w->CreateObject(350, 250, 100, 50, stRectangle);
  TFcConnection* k = w->CreateConnection(a, b, 6, 14);  // (149,75) to (350,75)
  Click({250, 75});
  ASSERT_TRUE(k->Selected());
  Drag({350, 75}, {395, 255});  // the end onto d, near its top middle
  EXPECT_EQ(k->Dest(), d);
  EXPECT_EQ(k->DestPoint(), 2);
  EXPECT_EQ(b->ConnectionCount(), 0);
  EXPECT_EQ(k->RealPoints().back(), (TPoint{400, 250}));
  QImage img = Shot();
  EXPECT_TRUE(DarkNear(img, 274, 162));  // on the new line from (149,75) to (400,250)
  EXPECT_FALSE(DarkNear(img, 250, 75));  // the old line is gone
}

TEST_F(Window, ImagesAlignInTheObjectAndFollowTheList) {
  TFcImageList images(16, 16);
  QPixmap red(16, 16);
  red.fill(Qt::red);
  images.Add(red);
  TFcObject* a = w->CreateObject(100, 100, 100, 50, stRectangle);
  a->SetImageIndex(1);  // beyond the list: nothing drawn
  w->SetImages(&images);
  EXPECT_EQ(At(150, 125), kWhite);
  a->SetImageIndex(0);
  a->SetImagePos(2, 0);  // right, top
  QImage img = Shot();
  EXPECT_EQ(img.pixelColor(190, 105), QColor(Qt::red));
  EXPECT_EQ(img.pixelColor(180, 105), kWhite);
  EXPECT_EQ(img.pixelColor(190, 120), kWhite);
  a->SetBounds(100, 100, 10, 50);  // too narrow: the image is left out
  EXPECT_NE(At(105, 105), QColor(Qt::red));
  images.Clear();
  w->SetImages(nullptr);
}

TEST_F(Window, KeyboardNavigatesAndDeletes) {
  TFcObject* a = w->CreateObject(100, 100, 60, 40, stEllipse);
  TFcObject* b = w->CreateObject(300, 100, 60, 40, stEllipse);
  Click({130, 120});
  QTest::keyClick(w, Qt::Key_Right);
  EXPECT_TRUE(b->Selected());
  EXPECT_FALSE(a->Selected());
  QTest::keyClick(w, Qt::Key_Right, Qt::AltModifier);
  EXPECT_EQ(b->Left(), 301);
  QTest::keyClick(w, Qt::Key_Delete);
  EXPECT_EQ(w->ObjectCount(), 1);
  EXPECT_EQ(At(330, 120), kWhite);
}

// Screen readers and UI automation read the chart's objects with their captions, where they
// show on screen, and which are selected or checked; an object deleted while a reader holds
// it reads as gone.
TEST_F(Window, ObjectsReadAsItemsOfTheChartThroughAccessibility) {
  TFcObject* a = w->CreateObject(100, 100, 100, 50, stRectangle);
  TFcObject* b = w->CreateObject(300, 100, 60, 40, stEllipse);
  a->SetText(Utf8ToCp936("开始"));
  b->SetText("End");
  QAccessibleInterface* chart = QAccessible::queryAccessibleInterface(w);
  ASSERT_NE(chart, nullptr);
  EXPECT_EQ(chart->role(), QAccessible::Chart);
  ASSERT_GE(chart->childCount(), 2);
  QAccessibleInterface* first = chart->child(0);
  QAccessibleInterface* second = chart->child(1);
  EXPECT_EQ(first->role(), QAccessible::ListItem);
  EXPECT_EQ(first->text(QAccessible::Name), QString::fromUtf8("开始"));
  EXPECT_EQ(second->text(QAccessible::Name), "End");
  EXPECT_EQ(chart->indexOfChild(second), 1);
  EXPECT_EQ(first->rect(), QRect(w->viewport()->mapToGlobal(QPoint(100, 100)), QSize(100, 50)));
  EXPECT_EQ(chart->childAt(first->rect().center().x(), first->rect().center().y()), first);

  // Zoomed and scrolled, the rect is where the mouse finds the object.
  w->SetZoom(200);
  w->ScrollTo(150, 40);
  ASSERT_NE(w->ScrollOrigin().x, 0);
  EXPECT_EQ(first->rect().size(), QSize(200, 100));
  Click(w->viewport()->mapFromGlobal(second->rect().center()));
  EXPECT_TRUE(second->state().selected);
  EXPECT_FALSE(first->state().selected);
  EXPECT_FALSE(second->state().checked);
  w->IsObjectChecked = [a](const TFcObject* o) { return o == a; };
  EXPECT_TRUE(first->state().checked);
  EXPECT_FALSE(second->state().checked);

  const QAccessible::Id id = QAccessible::uniqueId(second);
  QTest::keyClick(w, Qt::Key_Delete);
  ASSERT_EQ(w->ObjectCount(), 1);
  int items = 0;
  for (int i = 0; i < chart->childCount(); ++i) items += chart->child(i)->role() == QAccessible::ListItem;
  EXPECT_EQ(items, 1);
  EXPECT_FALSE(second->isValid());
  EXPECT_TRUE(second->text(QAccessible::Name).isEmpty());
  EXPECT_EQ(chart->indexOfChild(second), -1);
  delete w;
  w = nullptr;
  EXPECT_EQ(QAccessible::accessibleInterface(id), nullptr);
}
