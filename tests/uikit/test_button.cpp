#include <gtest/gtest.h>

#include <QAccessible>
#include <QAction>
#include <QDialog>
#include <QPainter>
#include <QPointer>
#include <QTimer>
#include <QtTest/QTest>

#include "ModalDriver.h"
#include "TestApp.h"
#include "uikit/TFlatButtonUnit.h"
#include "uikit/TFlatSpeedButtonUnit.h"

namespace {
struct ButtonFixture : ::testing::Test {
  void SetUp() override {
    TestApp();
    form.resize(200, 100);
  }
  void TearDown() override { TFlatButtonBase::SetCursorProbe(nullptr); }
  void Activate() {
    form.show();
    QApplication::setActiveWindow(&form);
  }
  QWidget form;
};

void ClickAt(QWidget* w, QPoint pt) {
  QTest::mousePress(w, Qt::LeftButton, {}, pt);
  QTest::mouseRelease(w, Qt::LeftButton, {}, pt);
}
}  // namespace

TEST_F(ButtonFixture, AccessibleNameIsTheCaptionOrElseTheHint) {
  TFlatButton add(&form);
  add.SetCaption(QString::fromUtf8("添加文件(&A)"));
  TFlatSpeedButton print(&form);
  print.setToolTip(QString::fromUtf8("打印文件"));
  TFlatSpeedButton save(&form);
  save.SetCaption("S");
  save.setToolTip(QString::fromUtf8("文件另存为"));
  auto name = [](QWidget* w) { return QAccessible::queryAccessibleInterface(w)->text(QAccessible::Name); };

  QAccessibleInterface* a = QAccessible::queryAccessibleInterface(&add);
  ASSERT_TRUE(a);
  EXPECT_EQ(a->role(), QAccessible::Button);
  EXPECT_EQ(name(&add), QString::fromUtf8("添加文件(A)")) << "the accelerator mark is not read";
  EXPECT_EQ(QAccessible::queryAccessibleInterface(&print)->role(), QAccessible::Button);
  EXPECT_EQ(name(&print), QString::fromUtf8("打印文件"));
  EXPECT_EQ(name(&save), "S");
  EXPECT_EQ(QAccessible::queryAccessibleInterface(&save)->text(QAccessible::Description), QString::fromUtf8("文件另存为"));
  // The name follows the caption, a literal ampersand stays, and a name given wins.
  add.SetCaption("A && B");
  EXPECT_EQ(name(&add), "A & B");
  add.setAccessibleName(QString::fromUtf8("添加"));
  EXPECT_EQ(name(&add), QString::fromUtf8("添加"));
}

TEST_F(ButtonFixture, GroupRulesAndSharedAllowAllUp) {
  TFlatSpeedButton a(&form), b(&form), lone(&form);
  TFlatButton otherClass(&form);
  lone.SetDown(true);
  EXPECT_FALSE(lone.Down()) << "ungrouped buttons never stay down";
  a.SetGroupIndex(1);
  b.SetGroupIndex(1);
  otherClass.SetGroupIndex(1);
  a.SetDown(true);
  EXPECT_EQ(a.State(), bsExclusive);
  b.SetDown(true);
  EXPECT_FALSE(a.Down());
  EXPECT_EQ(a.State(), bsUp);
  EXPECT_TRUE(b.Down());
  // AllowAllUp False: clicking the down member leaves it down.
  ClickAt(&b, {5, 5});
  EXPECT_TRUE(b.Down());
  b.SetDown(false);
  EXPECT_TRUE(b.Down());
  // Setting it on one member reaches the others of the same class only.
  a.SetAllowAllUp(true);
  EXPECT_TRUE(b.AllowAllUp());
  EXPECT_FALSE(otherClass.AllowAllUp());
  ClickAt(&b, {5, 5});
  EXPECT_FALSE(b.Down());
  EXPECT_FALSE(a.Down());
}

TEST_F(ButtonFixture, ModalResultEndsAModalDialogOnly) {
  QDialog dlg;
  TFlatButton ok(&dlg);
  ok.SetModalResult(2);
  int clicks = 0;
  ok.OnClick = [&](QObject* sender) {
    EXPECT_EQ(sender, &ok);
    ++clicks;
  };
  EXPECT_EQ(ExecWithScript(dlg, [&] { ClickAt(&ok, {3, 3}); }), 2);
  EXPECT_EQ(clicks, 1);
  // A modeless form keeps showing; it only records the result.
  form.show();
  TFlatButton plain(&form);
  plain.SetModalResult(1);
  plain.show();
  ClickAt(&plain, {3, 3});
  EXPECT_TRUE(form.isVisible());
  EXPECT_EQ(form.property("ModalResult").toInt(), 1);
}

TEST_F(ButtonFixture, AcceleratorClicksAndPressesGroupedButton) {
  TFlatButton ok(&form), tab(&form);
  ok.SetCaption(QString::fromUtf8("确定(&Y)"));
  tab.SetCaption("&Tab");
  tab.SetGroupIndex(4);
  int clicks = 0;
  ok.OnClick = [&](QObject*) { ++clicks; };
  Activate();
  QTest::keyClick(&form, Qt::Key_Y, Qt::AltModifier);
  EXPECT_EQ(clicks, 1);
  QTest::keyClick(&form, Qt::Key_T, Qt::AltModifier);
  EXPECT_TRUE(tab.Down());
  ok.setEnabled(false);
  QTest::keyClick(&form, Qt::Key_Y, Qt::AltModifier);
  EXPECT_EQ(clicks, 1) << "a disabled button ignores its accelerator";
}

TEST_F(ButtonFixture, HoverTakeOverAndActiveWindow) {
  TFlatButton a(&form), b(&form);
  b.move(50, 0);
  QWidget* under = &a;
  TFlatButtonBase::SetCursorProbe([&] { return under; });
  // No active window: hover does not start.
  QTest::mouseMove(&a, {5, 5});
  QEvent enter(QEvent::Enter);
  QApplication::sendEvent(&a, &enter);
  EXPECT_FALSE(a.Hover());
  Activate();
  QEnterEvent e1(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
  QApplication::sendEvent(&a, &e1);
  EXPECT_TRUE(a.Hover());
  int leaves = 0;
  a.OnMouseLeave = [&](QObject*) { ++leaves; };
  under = &b;
  QEnterEvent e2(QPointF(5, 5), QPointF(55, 5), QPointF(55, 5));
  QApplication::sendEvent(&b, &e2);
  EXPECT_FALSE(a.Hover()) << "the take-over ends the first hover at once";
  EXPECT_EQ(leaves, 1);
  EXPECT_TRUE(b.Hover());
  // The 100 ms poll ends hover once the cursor is elsewhere.
  under = &form;
  EXPECT_TRUE(QTest::qWaitFor([&] { return !b.Hover(); }, 20000));
}

TEST_F(ButtonFixture, MouseEnterAndLeaveFireOncePerVisit) {
  TFlatButton btn(&form);
  QWidget* under = &btn;
  int probes = 0;  // each poll tick looks under the cursor
  TFlatButtonBase::SetCursorProbe([&] {
    ++probes;
    return under;
  });
  int enters = 0, leaves = 0;
  btn.OnMouseEnter = [&](QObject*) { ++enters; };
  btn.OnMouseLeave = [&](QObject*) { ++leaves; };
  Activate();
  QEnterEvent in(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
  QApplication::sendEvent(&btn, &in);
  ClickAt(&btn, {5, 5});
  EXPECT_EQ(enters, 1) << "a click is not a new visit";
  EXPECT_TRUE(btn.Hover());
  // Dragged out: the poll ticks fire nothing; the release outside ends the visit.
  QTest::mousePress(&btn, Qt::LeftButton, {}, {5, 5});
  under = &form;
  QTest::mouseMove(&btn, {45, 5});
  const int before = probes;
  ASSERT_TRUE(QTest::qWaitFor([&] { return probes >= before + 2; }, 20000)) << "the poll never ticked";
  EXPECT_EQ(leaves, 0);
  QTest::mouseRelease(&btn, Qt::LeftButton, {}, {45, 5});
  EXPECT_EQ(leaves, 1);
  EXPECT_FALSE(btn.Hover());
  EXPECT_EQ(enters, 1);
}

TEST_F(ButtonFixture, FacePixelsByState) {
  TFlatButton btn(&form);
  btn.resize(40, 30);
  QImage img = Grab(&btn);
  EXPECT_EQ(PixelAt(img, 0, 0), 0x8396A0);
  EXPECT_EQ(PixelAt(img, 39, 29), 0x8396A0);
  EXPECT_EQ(PixelAt(img, 10, 10), btn.Color());
  btn.SetDefault(true);
  EXPECT_EQ(PixelAt(Grab(&btn), 1, 1), 0x8396A0);
  btn.SetDefault(false);
  // Pressed: sunken frame, face in ColorDown.
  QTest::mousePress(&btn, Qt::LeftButton, {}, {5, 5});
  img = Grab(&btn);
  EXPECT_EQ(btn.State(), bsDown);
  EXPECT_EQ(PixelAt(img, 0, 0), clBlack);
  EXPECT_EQ(PixelAt(img, 39, 29), clWhite);
  EXPECT_EQ(PixelAt(img, 10, 10), 0xC5D6D9);
  // Dragging out shows up; release on the bottom edge row still counts as inside.
  QTest::mouseMove(&btn, {45, 5});
  EXPECT_EQ(btn.State(), bsUp);
  int clicks = 0;
  btn.OnClick = [&](QObject*) { ++clicks; };
  QTest::mouseRelease(&btn, Qt::LeftButton, {}, {5, 30});
  EXPECT_EQ(clicks, 1);
  QTest::mousePress(&btn, Qt::LeftButton, {}, {5, 5});
  QTest::mouseRelease(&btn, Qt::LeftButton, {}, {40, 5});
  EXPECT_EQ(clicks, 1) << "the right edge column is outside";
}

namespace {
// A parent that paints its left half red and its right half blue.
struct SplitParent : QWidget {
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.fillRect(0, 0, width() / 2, height(), Qt::red);
    p.fillRect(width() / 2, 0, width() - width() / 2, height(), Qt::blue);
  }
};
}  // namespace

TEST_F(ButtonFixture, TransparentModesShowTheParentUnderneath) {
  SplitParent parent;
  parent.resize(100, 40);
  TFlatButton btn(&parent);
  btn.setGeometry(40, 5, 30, 30);
  btn.SetTransparentMode(tmAlways);
  QImage img = Grab(&btn);
  EXPECT_EQ(PixelAt(img, 5, 15), clRed);    // parent x = 45
  EXPECT_EQ(PixelAt(img, 15, 15), clBlue);  // parent x = 55
  img = Grab(&parent);
  EXPECT_EQ(PixelAt(img, 45, 20), clRed);
  EXPECT_EQ(PixelAt(img, 40, 5), 0x8396A0) << "the frame is still drawn";
  // Not focused mode fills its face once hovered.
  btn.SetTransparentMode(tmNotFocused);
  parent.show();
  QApplication::setActiveWindow(&parent);
  btn.setFocus();
  ASSERT_TRUE(btn.Hover());
  EXPECT_EQ(PixelAt(Grab(&btn), 5, 15), btn.ColorFocused());
  // The speed button leaves the area alone: the parent shows through.
  TFlatSpeedButton speed(&parent);
  speed.setGeometry(40, 5, 30, 30);
  speed.SetTransparentMode(tmAlways);
  btn.hide();
  img = Grab(&parent);
  EXPECT_EQ(PixelAt(img, 45, 20), clRed);
  EXPECT_EQ(PixelAt(img, 55, 20), clBlue);
}

TEST_F(ButtonFixture, GlyphStripAndDisabledEmboss) {
  TFlatSpeedButton btn(&form);
  QImage strip(64, 16, QImage::Format_RGB32);
  btn.SetGlyph(strip);
  EXPECT_EQ(btn.NumGlyphs(), 4);
  btn.SetGlyph(QImage(96, 16, QImage::Format_RGB32));
  EXPECT_EQ(btn.NumGlyphs(), 1);
  btn.SetMargin(-2);
  EXPECT_EQ(btn.Margin(), -1);
  btn.SetMargin(3);
  btn.SetMargin(-1);
  EXPECT_EQ(btn.Margin(), -1);

  // A single glyph: white ground (the transparent colour) with a black dot.
  QImage glyph(8, 8, QImage::Format_RGB32);
  glyph.fill(Qt::white);
  glyph.setPixel(3, 3, qRgb(0, 0, 0));
  btn.SetGlyph(glyph);
  btn.resize(30, 30);
  btn.show();
  form.show();
  QImage img = Grab(&form);
  const QPoint g = btn.GlyphPosition();
  EXPECT_EQ(PixelAt(img, g.x() + 3, g.y() + 3), clBlack);
  EXPECT_EQ(PixelAt(img, g.x() + 1, g.y() + 1), btn.Color()) << "transparent pixels left out";
  btn.setEnabled(false);
  img = Grab(&form);
  EXPECT_EQ(PixelAt(img, g.x() + 3, g.y() + 3), ColorToRGB(clBtnShadow));
  EXPECT_EQ(PixelAt(img, g.x() + 4, g.y() + 4), ColorToRGB(clBtnHighlight));
  EXPECT_EQ(PixelAt(img, g.x() + 1, g.y() + 1), btn.Color());
  EXPECT_EQ(btn.State(), bsDisabled);
}

TEST_F(ButtonFixture, DoubleClickOnlyWhileDownAndAdvColours) {
  TFlatSpeedButton btn(&form);
  int dbl = 0;
  btn.OnDblClick = [&](QObject*) { ++dbl; };
  QTest::mouseDClick(&btn, Qt::LeftButton, {}, {5, 5});
  EXPECT_EQ(dbl, 0);
  btn.SetGroupIndex(3);
  btn.SetAllowAllUp(true);
  btn.SetDown(true);
  QTest::mouseDClick(&btn, Qt::LeftButton, {}, {5, 5});
  EXPECT_EQ(dbl, 1);

  QPalette pal;
  pal.setColor(QPalette::Window, QColor(40, 120, 200));
  form.setPalette(pal);
  btn.SetUseAdvColors(true);
  const TColor base = RGB(40, 120, 200);
  EXPECT_EQ(btn.ColorFocused(), ShiftColorLightness(base, 0, 10, lsLighter));
  EXPECT_EQ(btn.ColorDown(), ShiftColorLightness(base, 0, 10, lsDarker));
  EXPECT_EQ(btn.ColorBorder(), ShiftColorLightness(base, 0, 50, lsDarker));
  pal.setColor(QPalette::Window, QColor(200, 30, 30));
  form.setPalette(pal);
  EXPECT_EQ(btn.ColorBorder(), ShiftColorLightness(RGB(200, 30, 30), 0, 50, lsDarker));
}

TEST_F(ButtonFixture, SpeedButtonFollowsItsAction) {
  QAction action("Print");
  QPixmap icon(16, 16);
  icon.fill(Qt::darkGreen);
  action.setIcon(QIcon(icon));
  int triggered = 0;
  QObject::connect(&action, &QAction::triggered, [&] { ++triggered; });
  TFlatSpeedButton btn(&form);
  btn.SetAction(&action);
  EXPECT_EQ(btn.Caption(), "Print");
  ASSERT_FALSE(btn.Glyph().isNull());
  EXPECT_EQ(btn.Glyph().size(), QSize(16, 16));
  EXPECT_EQ(QColor(btn.Glyph().pixel(8, 8)), QColor(Qt::darkGreen));
  ClickAt(&btn, {3, 3});
  EXPECT_EQ(triggered, 1);
  action.setEnabled(false);
  EXPECT_FALSE(btn.isEnabled());
}

TEST_F(ButtonFixture, AClickHandlerMayDeleteItsButton) {
  Activate();
  auto deleting = [](QObject* sender) { delete sender; };
  QPointer<TFlatButton> flat = new TFlatButton(&form);
  flat->setGeometry(0, 0, 60, 20);
  flat->OnClick = deleting;
  ClickAt(flat, {5, 5});
  EXPECT_TRUE(flat.isNull());

  flat = new TFlatButton(&form);
  flat->OnClick = deleting;
  QTest::keyPress(flat, Qt::Key_Space);
  QTest::keyRelease(flat, Qt::Key_Space);
  EXPECT_TRUE(flat.isNull());

  QAction action;
  int triggered = 0;
  QObject::connect(&action, &QAction::triggered, [&] { ++triggered; });
  QPointer<TFlatSpeedButton> speed = new TFlatSpeedButton(&form);
  speed->setGeometry(0, 0, 60, 20);
  speed->SetAction(&action);
  speed->OnClick = deleting;
  ClickAt(speed, {5, 5});
  EXPECT_TRUE(speed.isNull());
  EXPECT_EQ(triggered, 0);  // the deleted button triggers nothing more
}
