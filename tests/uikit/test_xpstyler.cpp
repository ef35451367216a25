#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QToolBar>
#include <QToolButton>
#include <QStyleOptionMenuItem>
#include <QVBoxLayout>
#include <QtTest/QTest>

#include "TestApp.h"
#include "uikit/TFlatPanelUnit.h"
#include "uikit/XPStyler.h"

TEST(XPColours, LightenDarkenGrey) {
  EXPECT_EQ(XPDarken(0xC0C0C0, 90), RGB(102, 104, 102));
  EXPECT_EQ(XPDarken(RGB(10, 10, 10), 90), RGB(0, 0, 0));
  EXPECT_EQ(XPLighten(RGB(0, 100, 200), 150), RGB(255, 255, 255)) << "above 100 acts as 100";
  EXPECT_EQ(XPLighten(RGB(0, 100, 200), 50), RGB(128, 178, 228));  // 127.5 -> 128 (even)
  EXPECT_EQ(XPLighten(RGB(1, 1, 1), 50), RGB(128, 128, 128));      // 127 exactly
  EXPECT_EQ(XPGrey(RGB(30, 60, 90), 10), RGB(70, 70, 70));
  EXPECT_EQ(XPGrey(RGB(255, 255, 255), 10), RGB(240, 240, 240));
  TestApp();
  QImage img(2, 1, QImage::Format_ARGB32);
  img.setPixel(0, 0, qRgb(0, 0, 0));
  img.setPixel(1, 0, qRgba(0, 0, 0, 0));
  const QImage out = XPLightenImage(img, 100);
  EXPECT_EQ(out.pixel(0, 0), qRgb(255, 255, 255));
  EXPECT_EQ(qAlpha(out.pixel(1, 0)), 0) << "transparent pixels stay transparent";
}

TEST(XPStylerPalette, SystemColoursOverrideTheProperties) {
  TestApp();
  QWidget form;
  TXPStyler styler(&form);
  styler.SetColor(clRed);
  styler.SetSelectColor(clLime);
  TXPColors c = styler.DerivePalette(32);
  EXPECT_EQ(c.Menu, XPLighten(clBtnFace, 86));
  EXPECT_EQ(c.Selection, XPLighten(clHighlight, 68));
  EXPECT_EQ(c.Separator, XPLighten(clBtnShadow, 25));
  EXPECT_EQ(c.MenuBorder, XPDarken(clBtnFace, 90));
  styler.SetUseSystemColors(false);
  c = styler.DerivePalette(32);
  EXPECT_EQ(c.Menu, clRed);
  EXPECT_EQ(c.Selection, XPLighten(clLime, 68));
  EXPECT_EQ(c.CheckedAreaSelected, XPLighten(clLime, 50));
  c = styler.DerivePalette(8);
  EXPECT_EQ(c.Selection, clLime);
  EXPECT_EQ(c.CheckedArea, 0xFFFFFF);
  EXPECT_EQ(c.MenuShadow, clBtnShadow);
}

namespace {
struct StyledForm {
  StyledForm() {
    TestApp();
    auto* lay = new QVBoxLayout(&form);
    bar = new QMenuBar(&form);
    lay->setMenuBar(bar);
    file = bar->addMenu("File");
    plain = file->addAction("Open");
    skipped = file->addAction("Keep");
    skipped->setProperty("Tag", 999);
    file->addSeparator();
    edit = new QLineEdit(&form);
    button = new QPushButton("Go", &form);
    flatButton = new QPushButton("Flat", &form);
    flatButton->setProperty("Tag", 1234567890);
    excluded = new QCheckBox("Skip", &form);
    excluded->setProperty("Tag", 999);
    panel = new TFlatPanel(&form);
    for (QWidget* w : std::initializer_list<QWidget*>{edit, button, flatButton, excluded, panel})
      lay->addWidget(w);
    form.resize(200, 220);
  }
  QWidget form;
  QMenuBar* bar;
  QMenu* file;
  QAction *plain, *skipped;
  QLineEdit* edit;
  QPushButton *button, *flatButton;
  QCheckBox* excluded;
  TFlatPanel* panel;
};
}  // namespace

TEST(XPStylerHooks, TagsKitClassesAndRestore) {
  StyledForm f;
  QStyle* appStyle = QApplication::style();
  TXPStyler styler(&f.form);
  styler.SetActive(true);
  EXPECT_TRUE(styler.IsHooked(f.bar));
  EXPECT_TRUE(styler.IsHooked(f.file));
  EXPECT_EQ(f.file->style(), styler.MenuStyle());
  EXPECT_TRUE(styler.IsHooked(f.edit));
  EXPECT_TRUE(styler.IsHooked(f.button));
  EXPECT_FALSE(styler.IsHooked(f.excluded)) << "Tag 999 is left alone";
  EXPECT_FALSE(styler.IsHooked(f.panel)) << "kit controls paint themselves";
  const QColor surface = QColorOf(styler.ControlColor(TXPStyler::BtnSurfaceNormalColor));
  EXPECT_EQ(f.edit->palette().color(QPalette::Base), surface);

  styler.SetActive(false);
  EXPECT_EQ(styler.HookedCount(), 0);
  EXPECT_EQ(f.file->style(), appStyle);
  EXPECT_NE(f.edit->palette().color(QPalette::Base), surface) << "edit colour restored at once";

  // Narrowing the handled controls while active re-walks the form.
  styler.SetActive(true);
  styler.SetXPControls(AllXPControls & ~(1u << xcEdit));
  EXPECT_FALSE(styler.IsHooked(f.edit));
  EXPECT_TRUE(styler.IsHooked(f.button));

  // The menu bar's drop-downs go with the bar: not by the popup-menu switch,
  // and not when the bar itself is excluded.
  QMenu popup(&f.form);
  popup.addAction("Copy");
  styler.SetXPControls(AllXPControls & ~(1u << xcMainMenu));
  EXPECT_FALSE(styler.IsHooked(f.file));
  EXPECT_TRUE(styler.IsHooked(&popup));
  styler.SetXPControls(AllXPControls);
  EXPECT_TRUE(styler.IsHooked(f.file));
  styler.SetActive(false);
  f.bar->setProperty("Tag", 999);
  styler.SetActive(true);
  EXPECT_FALSE(styler.IsHooked(f.bar));
  EXPECT_FALSE(styler.IsHooked(f.file));
  EXPECT_EQ(f.file->style(), appStyle);
}

TEST(XPStylerHooks, DestroyOrderNeverLeavesDanglingHooks) {
  {
    StyledForm f;
    auto* styler = new TXPStyler(&f.form);
    styler->SetActive(true);
    f.form.show();
    Grab(&f.form);
    delete styler;  // styler first: widgets go on painting with their own look
    EXPECT_EQ(f.file->style(), QApplication::style());
    Grab(&f.form);
    QTest::mouseClick(f.button, Qt::LeftButton);
    QTest::keyClick(f.edit, Qt::Key_A);
    f.file->adjustSize();
    f.file->grab();
  }
  {
    StyledForm f;
    TXPStyler styler(&f.form);
    styler.SetActive(true);
    delete f.button;  // a widget first: its hook goes with it
    delete f.file;
    EXPECT_EQ(styler.HookedCount(), 3);  // bar, edit, flat button
    Grab(&f.form);
    styler.SetActive(false);
  }
}

TEST(XPStylerPaint, ButtonsEditsAndMenuItems) {
  StyledForm f;
  TXPStyler styler(&f.form);
  styler.SetActive(true);
  f.form.show();
  QApplication::setActiveWindow(&f.form);
  const TXPColors pal = styler.DerivePalette();
  // True XP style: the surface colour; Tag 1234567890: the flat face.
  QImage img = Grab(f.button);
  EXPECT_EQ(PixelAt(img, f.button->width() / 2, 4),
            styler.ControlColor(TXPStyler::BtnSurfaceNormalColor));
  img = Grab(f.flatButton);
  EXPECT_EQ(PixelAt(img, f.flatButton->width() / 2, 4), pal.IconColumn);
  styler.SetControlUseTrueXPStyle(false);
  EXPECT_EQ(PixelAt(Grab(f.button), f.button->width() / 2, 4), pal.IconColumn);
  // A negative Tag keeps the platform's look.
  f.button->setProperty("Tag", -1);
  EXPECT_NE(PixelAt(Grab(f.button), f.button->width() / 2, 4), pal.IconColumn);

  // Edit frame: parent-derived when idle, selection-derived when focused.
  f.edit->clearFocus();
  img = Grab(f.edit);
  EXPECT_EQ(PixelAt(img, 0, 5), XPDarken(WidgetColor(&f.form), 60));
  f.edit->setFocus();
  QApplication::processEvents();
  img = Grab(f.edit);
  EXPECT_EQ(PixelAt(img, 0, 5), XPLighten(pal.SelectionBorder, 60));

  // Menu items: icon column in the derived colour, except the Tag 999 item.
  f.file->adjustSize();
  img = f.file->grab().toImage();
  const QRect openRect = f.file->actionGeometry(f.plain);
  const QRect keepRect = f.file->actionGeometry(f.skipped);
  EXPECT_EQ(PixelAt(img, openRect.left() + 3, openRect.center().y()), pal.IconColumn);
  EXPECT_EQ(PixelAt(img, openRect.left() + 30, openRect.top() + 1), pal.Menu);
  EXPECT_NE(PixelAt(img, keepRect.left() + 3, keepRect.center().y()), pal.IconColumn);

  QStyleOptionMenuItem sep;
  sep.menuItemType = QStyleOptionMenuItem::Separator;
  EXPECT_EQ(styler.MenuStyle()->sizeFromContents(QStyle::CT_MenuItem, &sep, QSize(10, 30), nullptr).height(), 4);
}

TEST(XPStylerPaint, ToolBarButtonsByState) {
  TestApp();
  QWidget form;
  auto* lay = new QVBoxLayout(&form);
  auto* bar = new QToolBar(&form);
  lay->addWidget(bar);
  QAction* checked = bar->addAction("Grid");
  checked->setCheckable(true);
  checked->setChecked(true);
  QAction* plain = bar->addAction("Zoom");
  TXPStyler styler(&form);
  styler.SetActive(true);
  form.show();
  auto* cb = qobject_cast<QToolButton*>(bar->widgetForAction(checked));
  auto* pb = qobject_cast<QToolButton*>(bar->widgetForAction(plain));
  ASSERT_TRUE(cb && pb);
  EXPECT_TRUE(cb->autoRaise());
  EXPECT_TRUE(styler.IsHooked(cb));
  const TXPColors pal = styler.DerivePalette();
  QImage img = Grab(cb);
  EXPECT_EQ(PixelAt(img, 0, 1), ColorToRGB(pal.SelectionBorder));
  EXPECT_EQ(PixelAt(img, 2, 3), pal.CheckedArea);
  EXPECT_EQ(PixelAt(img, 2, 0), XPLighten(WidgetColor(bar), 16)) << "top row left unfilled";
  img = Grab(pb);
  EXPECT_EQ(PixelAt(img, 2, 3), XPLighten(WidgetColor(bar), 16));
  QEvent enter(QEvent::Enter);
  QApplication::sendEvent(pb, &enter);
  EXPECT_EQ(PixelAt(Grab(pb), 2, 3), pal.Selection);

  // A drop-down button at rest takes the bar's own colour, not the lightened one.
  QMenu more;
  more.addAction("Fit");
  QAction* zoomMore = bar->addAction("More");
  zoomMore->setMenu(&more);
  auto* db = qobject_cast<QToolButton*>(bar->widgetForAction(zoomMore));
  ASSERT_TRUE(db);
  db->setPopupMode(QToolButton::MenuButtonPopup);
  styler.SetActive(false);
  styler.SetActive(true);
  ASSERT_TRUE(styler.IsHooked(db));
  img = Grab(db);
  EXPECT_EQ(PixelAt(img, 2, 3), WidgetColor(bar));
  EXPECT_EQ(PixelAt(img, 2, 0), XPLighten(WidgetColor(bar), 16));
}

TEST(XPStylerPaint, CheckStateChangeEndsTheHotLook) {
  StyledForm f;
  auto* box = new QCheckBox("Wrap", &f.form);
  TXPStyler styler(&f.form);
  styler.SetControlUseTrueXPStyle(false);
  styler.SetActive(true);
  f.form.show();
  const TXPColors pal = styler.DerivePalette();
  QEvent enter(QEvent::Enter);
  QApplication::sendEvent(box, &enter);
  const QPoint inBox(3, box->height() / 2);
  EXPECT_EQ(PixelAt(Grab(box), inBox.x(), inBox.y()), pal.Selection);
  box->setChecked(true);
  EXPECT_EQ(PixelAt(Grab(box), inBox.x(), inBox.y()), ColorToRGB(clWindow));
}

TEST(XPStylerPaint, MenuBarSelectionByScreenDepth) {
  TestApp();
  QWidget form;
  TXPStyler styler(&form);
  styler.SetActive(true);
  QStyleOptionMenuItem opt;
  opt.menuItemType = QStyleOptionMenuItem::Normal;
  opt.state = QStyle::State_Enabled | QStyle::State_Selected;
  opt.rect = QRect(0, 0, 40, 20);
  opt.text = "File";
  opt.direction = Qt::LeftToRight;
  auto paint = [&](int depth) {
    TXPStyler::SetScreenDepthOverride(depth);
    QImage img(40, 20, QImage::Format_RGB32);
    img.fill(Qt::black);
    QPainter p(&img);
    styler.MenuStyle()->drawControl(QStyle::CE_MenuBarItem, &opt, &p, nullptr);
    p.end();
    return img;
  };
  const TColor bar = ColorToRGB(styler.MenuBarColor());
  QImage img = paint(32);
  TXPColors pal = styler.DerivePalette(32);
  EXPECT_EQ(PixelAt(img, 0, 19), ColorToRGB(pal.SelectionBorder)) << "outline starts at (L, B-1)";
  EXPECT_EQ(PixelAt(img, 32, 10), ColorToRGB(pal.SelectionBorder));
  EXPECT_EQ(PixelAt(img, 39, 1), XPDarken(pal.MenuBar, 10));
  img = paint(8);
  pal = styler.DerivePalette(8);
  EXPECT_EQ(PixelAt(img, 0, 19), ColorToRGB(pal.SelectionBorder));
  EXPECT_EQ(PixelAt(img, 37, 10), ColorToRGB(pal.SelectionBorder)) << "outline runs to R - 3";
  EXPECT_EQ(PixelAt(img, 39, 10), XPDarken(bar, 70));
  EXPECT_EQ(PixelAt(img, 39, 0), bar);
  EXPECT_EQ(PixelAt(img, 33, 10), ColorToRGB(pal.Selection));
  TXPStyler::SetScreenDepthOverride(-1);
}

TEST(XPStylerPaint, ATag999ItemKeepsThePlainLookAndPlace) {
  StyledForm f;
  f.file->adjustSize();
  const QImage plain = f.file->grab().toImage();
  const QRect plainKeep = f.file->actionGeometry(f.skipped);
  const QPoint plainOpen = f.file->actionGeometry(f.plain).topLeft();
  TXPStyler styler(&f.form);
  styler.SetActive(true);
  f.file->adjustSize();
  const QImage styled = f.file->grab().toImage();
  const QRect keep = f.file->actionGeometry(f.skipped);
  // Past the caption, at the item's far end: the plain menu's background, not the tint.
  EXPECT_EQ(styled.pixel(keep.right() - 2, keep.top() + 1), plain.pixel(plainKeep.right() - 2, plainKeep.top() + 1));
  EXPECT_NE(PixelAt(styled, keep.right() - 2, keep.top() + 1), styler.DerivePalette().Menu);
  // The styled menu lays its items out from where the plain one does.
  EXPECT_EQ(f.file->actionGeometry(f.plain).topLeft(), plainOpen);
}
