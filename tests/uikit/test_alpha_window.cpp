#include <gtest/gtest.h>

#include <QPainter>
#include <QWidget>

#include "TestApp.h"
#include "uikit/AlphaWindow.h"

TEST(AlphaWindow, StoresWhileDisabledAndFollowsItsWindow) {
  TestApp();
  QWidget a, b;
  TAlphaWindow aw(&a);
  EXPECT_EQ(aw.AlphaWin(), &a);
  EXPECT_EQ(aw.Alpha(), 220);
  aw.SetAlpha(100);
  EXPECT_DOUBLE_EQ(a.windowOpacity(), 1.0);  // nothing applied while off
  aw.SetEnabled(true);
  EXPECT_NEAR(a.windowOpacity(), 100 / 255.0, 1e-3);
  aw.SetAlphaWin(&b);
  EXPECT_TRUE(aw.Enabled());
  EXPECT_DOUBLE_EQ(a.windowOpacity(), 1.0);
  EXPECT_NEAR(b.windowOpacity(), 100 / 255.0, 1e-3);
  aw.SetEnabled(false);
  EXPECT_DOUBLE_EQ(b.windowOpacity(), 1.0);

  TAlphaWindow::SetLayeredWindowsAvailable(false);
  aw.SetEnabled(true);
  TAlphaWindow::SetLayeredWindowsAvailable(true);
  EXPECT_FALSE(aw.Enabled());
  EXPECT_DOUBLE_EQ(b.windowOpacity(), 1.0);
}

namespace {
struct HalfKeyed : QWidget {
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.fillRect(0, 0, width() / 2, height(), QColor(255, 0, 255));
    p.fillRect(width() / 2, 0, width() - width() / 2, height(), Qt::gray);
  }
};
}  // namespace

TEST(AlphaWindow, ColourKeyLeavesOnlyOtherPixels) {
  TestApp();
  HalfKeyed w;
  w.resize(40, 20);
  TAlphaWindow aw(&w);
  aw.SetKeyColor(RGB(255, 0, 255));
  aw.SetFlag(AlphaFlag(awColorRef));
  aw.SetEnabled(true);
  EXPECT_FALSE(w.mask().contains(QPoint(5, 5)));
  EXPECT_TRUE(w.mask().contains(QPoint(30, 5)));
  EXPECT_DOUBLE_EQ(w.windowOpacity(), 1.0) << "no alpha without awAlpha";
  aw.SetEnabled(false);
  EXPECT_TRUE(w.mask().isEmpty());
}
