#include <gtest/gtest.h>

#include <QPointer>
#include <QTimer>
#include <QtTest/QTest>

#include "TestApp.h"
#include "uikit/TFlatListBoxUnit.h"
#include "uikit/TFlatPanelUnit.h"

namespace {
QStringList Numbers(int n) {
  QStringList l;
  for (int i = 0; i < n; ++i) l << QString::number(i);
  return l;
}
void PressAt(QWidget* w, QPoint pt) {
  QTest::mousePress(w, Qt::LeftButton, {}, pt);
  QTest::mouseRelease(w, Qt::LeftButton, {}, pt);
}
}  // namespace

TEST(FlatListBox, GeometryOfRowsAndStrips) {
  TestApp();
  TFlatListBox box;
  EXPECT_EQ(box.size(), QSize(137, 99));
  EXPECT_EQ(box.VisibleCount(), 5);
  ASSERT_EQ(box.RowRects().size(), 5u);
  EXPECT_EQ(box.RowRects()[0], QRect(3, 3, 131, 17));
  EXPECT_EQ(box.RowRects()[1].top(), 22);
  box.SetScrollBars(true);
  EXPECT_EQ(box.height(), 119);
  EXPECT_EQ(box.RowRects()[0].top(), 13);
  // Any height snaps to whole rows.
  box.resize(137, 130);
  Grab(&box);
  EXPECT_EQ(box.height(), 19 * 5 + 24);
  box.SetItemHeight(0);
  EXPECT_EQ(box.ItemHeight(), 1);
}

TEST(FlatListBox, ItemsCapTrimAndIndexAfterRefill) {
  TestApp();
  TFlatListBox box;
  QStringList mine{"  a\t", "\x01" "b "};
  box.SetItems(mine);
  EXPECT_EQ(box.Items(), (QStringList{"a", "b"}));
  EXPECT_EQ(mine[0], "  a\t") << "the caller's list is left alone";
  box.SetItems(Numbers(300));
  EXPECT_EQ(box.Items().size(), 2) << "more than 256 strings are refused";
  box.SetItems(Numbers(256));
  EXPECT_EQ(box.Items().size(), 256);

  PressAt(&box, box.RowRects()[2].center());
  EXPECT_EQ(box.ItemIndex(), 2);
  EXPECT_TRUE(box.Selected(2));
  PressAt(&box, box.RowRects()[3].center());
  EXPECT_FALSE(box.Selected(2));
  EXPECT_TRUE(box.Selected(3));
  // Refilling shows nothing selected, and no stale index is left behind.
  box.SetItems({"x", "y"});
  EXPECT_EQ(box.ItemIndex(), -1);
  EXPECT_FALSE(box.Selected(0));
  // A row below the last item still sets ItemIndex.
  PressAt(&box, box.RowRects()[4].center());
  EXPECT_EQ(box.ItemIndex(), 4);
  box.SetMultiSelect(true);
  PressAt(&box, box.RowRects()[0].center());
  PressAt(&box, box.RowRects()[1].center());
  EXPECT_TRUE(box.Selected(0));
  EXPECT_TRUE(box.Selected(1));
  PressAt(&box, box.RowRects()[0].center());
  EXPECT_FALSE(box.Selected(0));
  EXPECT_TRUE(box.Selected(1));
}

TEST(FlatListBox, SelectionPixelsAndItemsBeyond256) {
  TestApp();
  TFlatListBox box;
  box.SetItems(Numbers(3));
  PressAt(&box, box.RowRects()[1].center());
  const QImage img = Grab(&box);
  const QRect row = box.RowRects()[1];
  EXPECT_EQ(PixelAt(img, row.left(), row.top()), 0x8396A0);
  EXPECT_EQ(PixelAt(img, row.right() - 2, row.center().y()), 0x9CDEF7);
  EXPECT_EQ(PixelAt(img, row.right() - 2, box.RowRects()[0].center().y()), 0xFFFFFF);
  EXPECT_EQ(PixelAt(img, 0, 0), 0x8396A0);
  // Items added past 256 can be clicked but never selected.
  for (int i = 3; i < 260; ++i) box.AddItem(QString::number(i));
  for (int i = 0; i < 60; ++i) QTest::keyClick(&box, Qt::Key_PageDown);
  EXPECT_EQ(box.TopIndex(), 260 - box.VisibleCount());
  PressAt(&box, box.RowRects().back().center());
  EXPECT_EQ(box.ItemIndex(), 259);
  EXPECT_FALSE(box.Selected(259));
  // A shorter refill brings the rows back into view.
  box.SetItems(Numbers(3));
  EXPECT_EQ(box.TopIndex(), 0);
}

TEST(FlatListBox, KeysWheelAndArrows) {
  TestApp();
  TFlatListBox box;
  box.SetItems(Numbers(3));
  QTest::keyClick(&box, Qt::Key_PageDown);
  EXPECT_EQ(box.TopIndex(), 0) << "fewer items than rows";
  box.SetItems(Numbers(20));
  QTest::keyClick(&box, Qt::Key_Down);
  EXPECT_EQ(box.TopIndex(), 1);
  QTest::keyClick(&box, Qt::Key_PageDown);
  EXPECT_EQ(box.TopIndex(), 6);
  QTest::keyClick(&box, Qt::Key_PageUp);
  QTest::keyClick(&box, Qt::Key_PageUp);
  EXPECT_EQ(box.TopIndex(), 0);

  const int lines = QApplication::wheelScrollLines();
  auto wheel = [&](int delta) {
    QWheelEvent ev(QPointF(5, 5), QPointF(5, 5), QPoint(), QPoint(0, delta), Qt::NoButton,
                   Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&box, &ev);
  };
  wheel(-120);
  EXPECT_EQ(box.TopIndex(), std::min(lines, 15));
  wheel(120);
  EXPECT_EQ(box.TopIndex(), 0);
  // Half notches add up to one step.
  wheel(-60);
  EXPECT_EQ(box.TopIndex(), 0);
  wheel(-60);
  EXPECT_EQ(box.TopIndex(), std::min(lines, 15));
  wheel(-12000);
  EXPECT_EQ(box.TopIndex(), 15);

  box.SetScrollBars(true);
  QTest::keyClick(&box, Qt::Key_PageUp);
  QTest::keyClick(&box, Qt::Key_PageUp);
  QTest::keyClick(&box, Qt::Key_PageUp);
  ASSERT_EQ(box.TopIndex(), 0);
  const QImage before = Grab(&box);
  const int x = box.width() / 2 - 6;
  EXPECT_EQ(PixelAt(before, x + 6, 4), 0x808080) << "up arrow greyed at the top";
  EXPECT_EQ(PixelAt(before, x + 6, box.height() - 5), clBlack);
  QTest::mousePress(&box, Qt::LeftButton, {}, {x + 6, box.height() - 5});
  EXPECT_EQ(box.TopIndex(), 1);
  ASSERT_TRUE(TFlatListBox::RepeatTimer()->isActive());
  EXPECT_EQ(TFlatListBox::RepeatTimer()->interval(), 600);
  for (int i = 0; i < 30; ++i) box.RepeatTick();
  EXPECT_EQ(box.TopIndex(), 20 - box.VisibleCount());
  EXPECT_FALSE(TFlatListBox::RepeatTimer()->isActive()) << "stops by itself at the end";
  QTest::mouseRelease(&box, Qt::LeftButton, {}, {x + 6, box.height() - 5});
}

TEST(FlatListBox, RepeatTimerNeverTargetsAFreedBox) {
  TestApp();
  TFlatListBox keeper;
  auto* pressed = new TFlatListBox;
  pressed->SetScrollBars(true);
  pressed->SetItems(Numbers(40));
  QTest::mousePress(pressed, Qt::LeftButton, {}, {60, pressed->height() - 3});
  ASSERT_TRUE(TFlatListBox::RepeatTimer()->isActive());
  const int interval = TFlatListBox::RepeatTimer()->interval();
  delete pressed;
  EXPECT_FALSE(TFlatListBox::RepeatTimer()->isActive());
  // A tick still due would come before this one and reach freed memory under the sanitizer.
  bool passed = false;
  QTimer::singleShot(interval, [&] { passed = true; });
  EXPECT_TRUE(QTest::qWaitFor([&] { return passed; }, 20000));
}

TEST(FlatListBox, AClickHandlerMayDeleteTheBox) {
  TestApp();
  QWidget form;
  QPointer<TFlatListBox> box = new TFlatListBox(&form);
  box->SetItems({"a", "b"});
  int clicked = 0;
  QObject::connect(box, &TFlatListBox::clicked, [&] { ++clicked; });
  box->OnClick = [](QObject* sender) { delete sender; };
  PressAt(box, box->RowRects()[1].center());
  EXPECT_TRUE(box.isNull());
  EXPECT_EQ(clicked, 0);
}

TEST(FlatPanel, FrameCaptionAndDisabledLook) {
  TestApp();
  QWidget form;
  QPalette pal;
  pal.setColor(QPalette::Window, QColor(10, 20, 30));
  form.setPalette(pal);
  TFlatPanel panel(&form);
  EXPECT_EQ(panel.size(), QSize(185, 41));
  EXPECT_EQ(panel.Color(), RGB(10, 20, 30)) << "parent colour by default";
  panel.SetColorHighLight(clRed);
  panel.SetColorShadow(clBlue);
  QImage img = Grab(&panel);
  EXPECT_EQ(PixelAt(img, 0, 0), clRed);
  EXPECT_EQ(PixelAt(img, 184, 40), clBlue);
  EXPECT_EQ(PixelAt(img, 0, 40), clBlue);
  EXPECT_EQ(PixelAt(img, 5, 5), RGB(10, 20, 30));
  panel.SetColor(clYellow);
  panel.SetCaption("WWWW");
  panel.setEnabled(false);
  img = Grab(&panel);
  int shadow = 0, highlight = 0;
  for (int y = 1; y < 40; ++y)
    for (int x = 1; x < 184; ++x) {
      const TColor c = PixelAt(img, x, y);
      shadow += c == ColorToRGB(clBtnShadow);
      highlight += c == ColorToRGB(clBtnHighlight);
    }
  EXPECT_GT(shadow, 0) << "disabled caption drawn in the shadow colour";
  EXPECT_GT(highlight, 0) << "with its highlight copy";
}
