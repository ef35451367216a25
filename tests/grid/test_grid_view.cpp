// The grid window on a streamed sheet: keys, mouse, wheel, hints, input method and pixels.
#include <QBuffer>
#include <QInputMethodEvent>
#include <QMenu>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QWheelEvent>
#include <set>

#include "core/AnsiString.h"
#include "core/ScopeGuard.h"
#include "platform/Services.h"
#include "test_grid_view_support.h"

namespace {

TXLCell* Put(TXLSheet& s, int col, int row, const TXLCellClass& cls) {
  return s.Section(sClient)->PutCell(TPoint{col, row}, &cls);
}

void Protect(TXLSheet& s, int col, int row) { Put(s, col, row, XLCStringClass)->SetStyles(CellStyleBit(csProtect)); }

void Wheel(QWidget* w, int delta, Qt::KeyboardModifiers mods = {}) {
  QWheelEvent e(QPointF(50, 50), w->mapToGlobal(QPointF(50, 50)), QPoint(), QPoint(0, delta), Qt::NoButton, mods,
                Qt::NoScrollPhase, false);
  QApplication::sendEvent(w, &e);
}

}  // namespace

// Positions of runs of equal lines against plain running sums, through random resizes
// (hidden lines of size 0 included).
TEST(ScaledLines, AgreeWithRunningSumsThroughResizes) {
  TXLSheet sheet;
  sheet.SetCount(sRows, 300);
  sheet.SetDefSize(sRows, 20);
  TXLScaledLines lines;
  lines.Build(&sheet, sRows, 1, 100);
  std::vector<int32_t> sizes(300, 20);
  uint32_t seed = 7;
  for (int step = 0; step < 400; ++step) {
    seed = seed * 1103515245u + 12345u;
    const int32_t i = int32_t(seed >> 8) % 300, size = int32_t(seed >> 20) % 3 * 10;  // 0, 10 or 20
    lines.SetSize(i, size);
    sizes[size_t(i)] = size;
    int64_t at = 0;
    for (int32_t k = 0; k < 300; ++k) {
      ASSERT_EQ(lines.Start(k), at) << step << " " << k;
      ASSERT_EQ(lines.Size(k), sizes[size_t(k)]);
      if (sizes[size_t(k)] > 0) {
        ASSERT_EQ(lines.IndexAt(at + sizes[size_t(k)] - 1), k);
      }
      at += sizes[size_t(k)];
    }
    ASSERT_EQ(lines.Total(), at);
    ASSERT_EQ(lines.IndexAt(at), 300);
  }
  lines.Build(&sheet, sRows, 1, 100);
  EXPECT_LT(lines.MemoryBytes(), 100u);  // one run for 300 default lines
}

TEST_F(GridView, KeysMoveTheCurrentCellPastCellsThatCannotBeSelected) {
  Make([](TXLSheet& s) {
    Protect(s, 1, 0);
    s.Section(sClient)->Merge(TRect{2, 2, 4, 4});
  });
  EXPECT_EQ(Cur(), (TPoint{0, 0}));
  Key(Qt::Key_Right);  // the protected B1 is skipped
  EXPECT_EQ(Cur(), (TPoint{2, 0}));
  Key(Qt::Key_Down);
  Key(Qt::Key_Down);
  EXPECT_EQ(Cur(), (TPoint{2, 2}));  // the head of the merged area
  Key(Qt::Key_Down);
  EXPECT_EQ(Cur(), (TPoint{2, 4}));  // jumped over it whole
  Key(Qt::Key_End);
  EXPECT_EQ(Cur(), (TPoint{5, 4}));
  Key(Qt::Key_Home, Qt::ControlModifier);
  EXPECT_EQ(Cur(), (TPoint{0, 0}));
  Key(Qt::Key_End, Qt::ControlModifier);
  EXPECT_EQ(Cur(), (TPoint{5, 19}));
  EXPECT_GT(Pane()->Origin().y(), 0);  // scrolled to show it
  Key(Qt::Key_PageUp, Qt::ControlModifier);
  EXPECT_EQ(Cur(), (TPoint{5, 0}));
  EXPECT_EQ(Pane()->Origin().y(), 0);
  // Without wrapping, the edge stops the move.
  Key(Qt::Key_Right);
  EXPECT_EQ(Cur(), (TPoint{5, 0}));
}

TEST_F(GridView, ShiftKeysAndDraggingSelectRangesThatTheTitlesShow) {
  Make([](TXLSheet& s) {
    s.SetTitleCount(sRows, 1);
    s.SetTitleCount(sCols, 1);
  });
  int selChanges = 0;
  grid->OnSelChanged = [&](TXLGrid*) { ++selChanges; };
  Key(Qt::Key_Right, Qt::ShiftModifier);
  Key(Qt::Key_Down, Qt::ShiftModifier);
  EXPECT_EQ(grid->SelectionRect(), (TRect{0, 0, 2, 2}));
  EXPECT_EQ(Cur(), (TPoint{0, 0}));
  EXPECT_EQ(selChanges, 2);
  // The titles of the selected columns stand out from the others.
  const QImage titles = grid->View(sCols)->grab().toImage();
  EXPECT_EQ(titles.copy(0, 0, 60, 20), titles.copy(60, 0, 60, 20));
  EXPECT_NE(titles.copy(60, 0, 60, 20), titles.copy(120, 0, 60, 20));

  const QPoint from = CellCentre(1, 2), to = CellCentre(3, 4);
  QTest::mousePress(Pane(), Qt::LeftButton, {}, from);
  QTest::mouseMove(Pane(), to);
  QTest::mouseRelease(Pane(), Qt::LeftButton, {}, to);
  EXPECT_EQ(Cur(), (TPoint{1, 2}));
  EXPECT_EQ(grid->SelectionRect(), (TRect{1, 2, 4, 5}));
  grid->SetOptions(grid->Options() | OptionBit(oRowSelect));
  Key(Qt::Key_Down);
  EXPECT_EQ(grid->SelectionRect(), (TRect{0, 3, 6, 4}));
}

TEST_F(GridView, TabFollowsTheEnterDirectionAndWrapsWithTheOption) {
  Make([](TXLSheet&) {}, XLDefaultOptions | OptionBit(oTabKeys) | OptionBit(oWrapKeys));
  grid->EnterDir = dDown;
  grid->SetCurCell(3, 5);
  Key(Qt::Key_Tab);
  EXPECT_EQ(Cur(), (TPoint{3, 6}));
  Key(Qt::Key_Backtab, Qt::ShiftModifier);
  EXPECT_EQ(Cur(), (TPoint{3, 5}));
  grid->EnterDir = dRight;
  grid->SetCurCell(5, 0);
  Key(Qt::Key_Tab);
  EXPECT_EQ(Cur(), (TPoint{0, 1}));  // wrapped to the next row
  Key(Qt::Key_Left);
  EXPECT_EQ(Cur(), (TPoint{5, 0}));
}

TEST_F(GridView, ASheetWithNothingSelectableEndsTheSearch) {
  Make(
      [](TXLSheet& s) {
        s.SetCount(sCols, 3);
        s.SetCount(sRows, 3);
        for (int r = 0; r < 3; ++r)
          for (int c = 0; c < 3; ++c) Protect(s, c, r);
      },
      XLDefaultOptions | OptionBit(oWrapKeys));
  Key(Qt::Key_Right);
  Key(Qt::Key_End, Qt::ControlModifier);
  Key(Qt::Key_PageDown);
  EXPECT_EQ(Cur(), (TPoint{0, 0}));
}

TEST_F(GridView, TypingIntoTextNumberAndCheckBoxCells) {
  Make([](TXLSheet& s) {
    Put(s, 0, 0, XLCStringClass)->SetEditor(2);
    Put(s, 1, 0, XLCIntegerClass);
    Put(s, 2, 0, XLCBooleanClass);
    TXLCell* locked = Put(s, 3, 0, XLCBooleanClass);
    locked->SetStyles(CellStyleBit(csReadOnly));
    Put(s, 4, 0, XLCDateTimeClass)->SetFormat("DD/MM/YYYY|c");
  });
  Type("abc");
  ASSERT_NE(Editor(), nullptr);
  EXPECT_EQ(Editor()->Text(), QStringLiteral("abc"));
  Key(Qt::Key_Right);  // browsing: the arrow leaves the cell and stores
  EXPECT_EQ(sheet->GetAsString(0, 0), "abc");
  EXPECT_EQ(Cur(), (TPoint{1, 0}));
  // An integer cell rounds after converting: the separator is not dropped.
  Type("12.7");
  Key(Qt::Key_Return);
  EXPECT_EQ(sheet->GetValue(1, 0).AsInteger(), 13);
  grid->SetCurCell(2, 0);
  Key(Qt::Key_Space);
  EXPECT_TRUE(sheet->FindCell(2, 0)->GetAsBoolean());
  grid->SetCurCell(3, 0);
  Key(Qt::Key_Space);  // a read-only check box stays as it is
  EXPECT_FALSE(sheet->FindCell(3, 0)->GetAsBoolean());
  // A date is read in its format's field order, not the short date's.
  grid->SetCurCell(4, 0);
  Type("05-04-2024");
  Key(Qt::Key_Left);
  EXPECT_EQ(sheet->FindCell(4, 0)->GetAsDateTime(), EncodeDate(2024, 4, 5));
  // Escape leaves the value as it was.
  grid->SetCurCell(0, 0);
  Type("zz");
  Key(Qt::Key_Escape);
  EXPECT_EQ(sheet->GetAsString(0, 0), "abc");
}

TEST_F(GridView, MovingThroughCellsWithThePermanentEditorChangesNothing) {
  Make(
      [](TXLSheet& s) {
        auto* f = static_cast<TXLCFormula*>(Put(s, 1, 0, XLCFormulaClass));
        f->SetAsString("=A1+1");
        f->SetFormat("0|c");
        TXLCell* d = Put(s, 2, 0, XLCDoubleClass);
        d->SetAsFloat(2.6);
        d->SetFormat("0");
        TXLCell* t = Put(s, 3, 0, XLCDateTimeClass);
        t->SetAsDateTime(EncodeDate(2024, 3, 5) + 0.5);
        t->SetFormat("DD/MM/YYYY|c");
      },
      OptionBit(oDrawFocus) | OptionBit(oTitle3D) | OptionBit(oPermEdit));
  const AnsiString formula = static_cast<TXLCFormula*>(sheet->FindCell(1, 0))->Formula();
  sheet->SetModified(false);
  for (int i = 0; i < 4; ++i) Key(Qt::Key_Right);
  for (int i = 0; i < 4; ++i) Key(Qt::Key_Left);
  EXPECT_EQ(static_cast<TXLCFormula*>(sheet->FindCell(1, 0))->Formula(), formula);
  EXPECT_DOUBLE_EQ(sheet->FindCell(2, 0)->GetAsFloat(), 2.6);
  EXPECT_DOUBLE_EQ(sheet->FindCell(3, 0)->GetAsDateTime(), EncodeDate(2024, 3, 5) + 0.5);
  EXPECT_TRUE(grid->Editor()->isVisible());
}

TEST_F(GridView, TheWheelScrollsAndCtrlWheelZooms) {
  Make([](TXLSheet& s) { s.SetCount(sRows, 200); });
  Wheel(grid.get(), -120);  // 60 / 20 = 3, plus one line
  EXPECT_EQ(Pane()->Origin().y(), 80);
  Wheel(grid.get(), 10);  // a fine-grained step up still goes up
  EXPECT_EQ(Pane()->Origin().y(), 60);
  Wheel(grid.get(), 0);
  EXPECT_EQ(Pane()->Origin().y(), 60);
  EXPECT_EQ(grid->ScrollBar(Qt::Vertical)->value(), 60);
  {
    // A linked grid follows in sheet units, whatever its zoom.
    TXLGrid partner;
    partner.resize(400, 300);
    partner.SetSheet(sheet.get());
    partner.SetScale(200);
    grid->SetVertLink(&partner);
    EXPECT_EQ(partner.View(sClient)->Origin().y(), 120);
    Wheel(grid.get(), -120);
    EXPECT_EQ(partner.View(sClient)->Origin().y(), 280);
    EXPECT_EQ(partner.VertLink(), grid.get());
  }
  EXPECT_EQ(grid->VertLink(), nullptr);  // a destroyed partner leaves no link behind
  Wheel(grid.get(), 120);
  EXPECT_EQ(Pane()->Origin().y(), 60);

  const std::pair<int, int> steps[] = {{100, 125}, {25, 40}, {200, 200}, {300, 300}};
  for (auto [from, to] : steps) {
    grid->SetScale(from);
    Wheel(grid.get(), 120, Qt::ControlModifier);
    EXPECT_EQ(grid->Scale(), to) << from;
  }
  grid->SetScale(100);
  Wheel(grid.get(), -120, Qt::ControlModifier);
  EXPECT_EQ(grid->Scale(), 85);
  EXPECT_EQ(Pane()->CellRect(TPoint{1, 0}).left(), 51);  // 60 * 85 / 100
  grid->SetScale(25);
  Wheel(grid.get(), -120, Qt::ControlModifier);
  EXPECT_EQ(grid->Scale(), 25);
}

TEST_F(GridView, ColumnsResizeWithTheMouse) {
  Make([](TXLSheet& s) { s.SetTitleCount(sRows, 1); },
       XLDefaultOptions | OptionBit(oColSizing) | OptionBit(oRowSizing));
  TXLView* titles = grid->View(sCols);
  ASSERT_EQ(titles->height(), 20);
  // Any movement in the title pane resizes.
  QTest::mousePress(titles, Qt::LeftButton, {}, QPoint(59, 10));
  QTest::mouseMove(titles, QPoint(61, 10));
  QTest::mouseRelease(titles, Qt::LeftButton, {}, QPoint(61, 10));
  EXPECT_EQ(sheet->GetSize(0, sCols), 61);
  EXPECT_EQ(Pane()->CellRect(TPoint{1, 0}).left(), 61);

  // The client pane sizes only with any-cell selection and no title pane, after 5 pixels.
  grid->SetOptions(grid->Options() & ~OptionBit(oTitleCols));
  grid->SetAnyCellSelect(true);
  QTest::mousePress(Pane(), Qt::LeftButton, {}, QPoint(121, 30));
  QTest::mouseMove(Pane(), QPoint(124, 30));
  QTest::mouseRelease(Pane(), Qt::LeftButton, {}, QPoint(124, 30));
  EXPECT_EQ(sheet->GetSize(1, sCols), 60);
  QTest::mousePress(Pane(), Qt::LeftButton, {}, QPoint(121, 30));
  QTest::mouseMove(Pane(), QPoint(127, 30));
  QTest::mouseRelease(Pane(), Qt::LeftButton, {}, QPoint(127, 30));
  EXPECT_EQ(sheet->GetSize(1, sCols), 66);

  // A double click on a row border reports the row and keeps its height.
  grid->SetOptions(grid->Options() | OptionBit(oTitleCols) | OptionBit(oTitleRows));
  grid->SetAnyCellSelect(false);
  int32_t dblRow = 99;
  grid->OnRowDblClick = [&](TXLSheet*, TPoint at) { dblRow = at.Y; };
  QTest::mouseDClick(titles, Qt::LeftButton, {}, QPoint(10, 19));
  EXPECT_EQ(dblRow, -1);  // the title row, numbered as the sheet numbers it
  EXPECT_EQ(sheet->GetSize(-1, sRows), 20);
}

TEST_F(GridView, ClicksSelectCellsAndAHintShowsNextToItsCell) {
  Make([](TXLSheet& s) {
    Protect(s, 1, 1);
    Put(s, 2, 1, XLCStringClass)->SetHint(Utf8ToCp936("请填写日期"));
  });
  TPoint clicked{-1, -1};
  grid->OnCellClick = [&](TXLSheet*, TPoint at) { clicked = at; };
  Click(Pane(), CellCentre(1, 1));
  EXPECT_EQ(Cur(), (TPoint{0, 0}));  // a protected cell is not selected
  grid->SetAnyCellSelect(true);
  Click(Pane(), CellCentre(1, 1));
  EXPECT_EQ(Cur(), (TPoint{1, 1}));
  EXPECT_EQ(clicked, (TPoint{1, 1}));
  grid->SetAnyCellSelect(false);

  // Hints are off until the program turns them on: no corner mark, no hint window.
  const QRect hinted = Pane()->CellRect(TPoint{2, 1});
  const QPoint mark(hinted.right() - 1, hinted.top() + 1);
  const QPoint at = CellCentre(2, 1);
  QHelpEvent help(QEvent::ToolTip, at, Pane()->mapToGlobal(at));
  QApplication::sendEvent(Pane(), &help);
  EXPECT_TRUE(!grid->HintWindow() || !grid->HintWindow()->isVisible());
  EXPECT_NE(Pane()->grab().toImage().pixelColor(mark), QColor(255, 0, 0));
  grid->SetShowHint(true);
  EXPECT_EQ(Pane()->grab().toImage().pixelColor(mark), QColor(255, 0, 0));
  QApplication::sendEvent(Pane(), &help);
  ASSERT_NE(grid->HintWindow(), nullptr);
  EXPECT_TRUE(grid->HintWindow()->isVisible());
  EXPECT_EQ(grid->HintWindow()->text(), QString::fromUtf8("请填写日期"));
  const QPoint marker = Pane()->mapToGlobal(QPoint(179, 21));
  EXPECT_EQ(grid->HintWindow()->Marker(), marker);
  EXPECT_EQ(grid->HintWindow()->pos().x(), marker.x() + 14);
  EXPECT_EQ(grid->HintWindow()->geometry().bottom() + 1, marker.y() - 11);
}

TEST_F(GridView, ClickingALinkOpensItThroughTheShellAndClickingAGroupBarFoldsItsRows) {
  ServiceCapture capture;
  Make([](TXLSheet& s) {
    Put(s, 2, 1, XLCUrlClass)->SetAsString("http://example.org/Path?Q=1");
    Put(s, 2, 2, XLCUrlClass)->SetAsString("file:///etc/passwd");
    // A bar down column 0 over rows 4-7 governs rows 5-7.
    TXLCell* bar = Put(s, 0, 4, XLCGroupClass);
    bar->SetRect(TRect{0, 4, 1, 8});
    bar->SetAsBoolean(true);
  });
  ClickThroughWindow(Pane(), CellCentre(2, 1));
  EXPECT_EQ(capture.shellOpens, (std::vector<std::string>{"http://example.org/Path?Q=1"}));
  EXPECT_TRUE(capture.prompts.empty());
  ClickThroughWindow(Pane(), CellCentre(2, 2));  // no web or mail address: nothing opens
  EXPECT_EQ(capture.shellOpens.size(), 1u);
  // and the person learns why, with the link.
  ASSERT_EQ(capture.prompts.size(), 1u);
  EXPECT_EQ(capture.prompts[0].icon, MsgIcon::Warning);
  EXPECT_NE(capture.prompts[0].text.find("file:///etc/passwd"), std::string::npos);
  // A link no program takes is said to be so.
  capture.shellResult = false;
  ClickThroughWindow(Pane(), CellCentre(2, 1));
  ASSERT_EQ(capture.prompts.size(), 2u);
  EXPECT_EQ(capture.prompts[1].text, Cp936("没有可以打开此文件的程序：") + "http://example.org/Path?Q=1");

  ClickThroughWindow(Pane(), CellCentre(0, 4));
  for (int32_t r = 5; r < 8; ++r) {
    EXPECT_FALSE(sheet->IsVisible(r, sRows)) << r;
    EXPECT_EQ(Pane()->Rows().Size(r), 0) << r;
  }
  EXPECT_TRUE(sheet->IsVisible(8, sRows));
  ClickThroughWindow(Pane(), CellCentre(0, 4));
  for (int32_t r = 5; r < 8; ++r) EXPECT_EQ(Pane()->Rows().Size(r), 20) << r;
}

// A handler that frees the grid, as a form closing on a cell change does: the move ends
// there, no later handler runs and nothing touches the freed grid.
TEST_F(GridView, AHandlerThatFreesTheGridEndsTheMoveThere) {
  for (const bool byMouse : {false, true}) {
    Make([](TXLSheet&) {}, XLDefaultOptions | OptionBit(oPermEdit));
    QWidget window;
    window.setGeometry(100, 200, 420, 320);
    grid->setParent(&window);
    grid->setGeometry(10, 10, 400, 300);
    const auto unparent = ScopeExit([&] {
      if (grid) grid->setParent(nullptr);  // the fixture frees it
    });
    window.show();
    QApplication::setActiveWindow(&window);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    grid->setFocus();
    int later = 0;
    grid->OnCurChanged = [&](TXLGrid*) { grid.reset(); };
    grid->OnSelChanged = [&](TXLGrid*) { ++later; };
    if (byMouse) {
      const QPoint at = Pane()->mapTo(&window, CellCentre(2, 3));
      QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, at);
    } else {
      QTest::keyClick(window.windowHandle(), Qt::Key_Down);
    }
    EXPECT_EQ(grid, nullptr) << byMouse;
    EXPECT_EQ(later, 0) << byMouse;
  }
}

TEST_F(GridView, TheRightButtonMakesACellCurrentAndOpensTheMenuOnlyInsideTheData) {
  Make([](TXLSheet& s) { s.SetCount(sCols, 3); });
  QMenu menu;
  menu.addAction(QString::fromUtf8("打印"));
  grid->SetPopupMenu(&menu);
  QTest::mouseClick(Pane(), Qt::RightButton, {}, CellCentre(2, 3));
  EXPECT_EQ(Cur(), (TPoint{2, 3}));
  EXPECT_TRUE(menu.isVisible());
  menu.hide();
  const QPoint beyond = Pane()->CellRect(TPoint{2, 0}).topRight() + QPoint(15, 5);
  ASSERT_LT(beyond.x(), Pane()->width());
  QTest::mouseClick(Pane(), Qt::RightButton, {}, beyond);
  EXPECT_FALSE(menu.isVisible());
  EXPECT_EQ(Cur(), (TPoint{2, 3}));
}

TEST_F(GridView, AnInputMethodCommitIsStoredAsCodePage936) {
  Make([](TXLSheet& s) { Put(s, 0, 0, XLCStringClass)->SetEditor(2); });
  QInputMethodEvent start(QStringLiteral("zhong"), {});
  QApplication::sendEvent(grid.get(), &start);
  ASSERT_TRUE(grid->Editor()->isVisible());
  QInputMethodEvent commit;
  commit.setCommitString(QString::fromUtf8("中文"));
  QApplication::sendEvent(Focus(), &commit);
  Key(Qt::Key_Return);
  EXPECT_EQ(sheet->GetAsString(0, 0), Utf8ToCp936("中文"));
  EXPECT_EQ(sheet->GetAsString(0, 0).size(), 4u);
}

TEST_F(GridView, TheCurrentCellIsFramedByInvertedPixels) {
  Make([](TXLSheet& s) {
    Put(s, 1, 1, XLCStringClass)->SetColor(clRed);
    s.Section(sClient)->Merge(TRect{3, 3, 5, 5});
  });
  grid->SetCurCell(1, 1);
  const QImage img = Pane()->grab().toImage();
  // Inside the cell: its own red (the focus cell stays out of the inversion).
  EXPECT_EQ(img.pixelColor(90, 30), QColor(Qt::red));
  // The band just outside the cell is inverted: white becomes black.
  EXPECT_EQ(img.pixelColor(90, 18), QColor(Qt::black));
  // Far away: plain white, and the merged area has no inner grid line.
  EXPECT_EQ(img.pixelColor(250, 150), QColor(Qt::white));
  EXPECT_EQ(img.pixelColor(239, 70), QColor(Qt::white));
  EXPECT_NE(img.pixelColor(299, 70), QColor(Qt::white));

  // Page breaks: blue lines where the printed pages end, the first one 3 pixels wide.
  grid->SetOptions(grid->Options() | OptionBit(oPageBreak));
  sheet->SetDefSize(sCols, 300);
  grid->SetScale(50);
  const int firstBreak = grid->View(sClient)->CellRect(TPoint{sheet->PageLayout().Breaks[sCols][0], 0}).left();
  const QImage paged = Pane()->grab().toImage();
  EXPECT_EQ(paged.pixelColor(firstBreak - 1, 200), QColor(Qt::blue));
  EXPECT_EQ(paged.pixelColor(firstBreak + 1, 200), QColor(Qt::blue));
  EXPECT_NE(paged.pixelColor(firstBreak + 3, 200), QColor(Qt::blue));
}

TEST_F(GridView, TheHintMemoEditsTheCurrentCellsHintAndFreesItself) {
  Make([](TXLSheet& s) { Put(s, 1, 1, XLCStringClass)->SetHint("old"); }, XLDefaultOptions | OptionBit(oPermEdit));
  ASSERT_TRUE(grid->SetCurCell(1, 1));
  ASSERT_TRUE(grid->Editor()->isVisible());
  QPointer<TXLHintMemo> memo = grid->EditHint();
  ASSERT_TRUE(memo);
  EXPECT_FALSE(grid->Editor()->isVisible());  // opening it ends editing
  EXPECT_EQ(memo->toPlainText(), QStringLiteral("old"));
  Key(Qt::Key_A, Qt::ControlModifier);
  Type("one  ");
  Key(Qt::Key_Return);
  Type("two ");
  Key(Qt::Key_Return);
  Key(Qt::Key_Escape);
  EXPECT_EQ(sheet->FindCell(1, 1)->GetHint(), "one  \ntwo");  // trailing blanks and breaks trimmed
  EXPECT_EQ(grid->HintMemo(), nullptr);
  EXPECT_TRUE(grid->Editor()->isVisible());  // the permanent editor comes back
  QTRY_VERIFY(!memo);

  // Emptied, the hint goes.
  memo = grid->EditHint();
  ASSERT_TRUE(memo);
  memo->clear();
  grid->setFocus();  // leaving the memo closes it too
  EXPECT_EQ(sheet->FindCell(1, 1)->GetHint(), "");
  QTRY_VERIFY(!memo);
}

TEST_F(GridView, WithAnyCellSelectTheEditorFollowsClicksIntoTheTitles) {
  Make([](TXLSheet& s) { s.Section(sCols)->PutCell(TPoint{1, 0}, &XLCStringClass)->SetAsString("B"); });
  TXLView* titles = grid->View(sCols);
  grid->SetAnyCellSelect(true);
  Click(titles, titles->CellRect(TPoint{1, 0}).center());
  EXPECT_EQ(grid->EditPane(), titles);
  EXPECT_EQ(Cur(), (TPoint{1, -1}));  // title rows count back from the client's first row
  Type("Z");
  EXPECT_EQ(grid->Editor()->parentWidget(), titles);
  EXPECT_TRUE(grid->Editor()->isVisible());
  Key(Qt::Key_Return);
  EXPECT_EQ(sheet->Section(sCols)->FindCell(TPoint{1, 0})->GetAsString(), "Z");
  // Turned off, the editor and the current cell are back in the client pane.
  grid->SetAnyCellSelect(false);
  EXPECT_EQ(grid->EditPane(), Pane());
  EXPECT_EQ(Cur(), (TPoint{0, 0}));
  Click(titles, titles->CellRect(TPoint{2, 0}).center());
  EXPECT_EQ(grid->EditPane(), Pane());
}

TEST_F(GridView, TheBackgroundPictureIsTiledWithTheDataAndFlatBarsAreFlat) {
  Make([](TXLSheet& s) {
    s.SetCount(sCols, 12);
    Put(s, 0, 1, XLCStringClass)->SetColor(0x0000FF00);
  });
  // Seven pixels wide: three red, four blue; stored as a picture of class TBitmap.
  QImage tile(7, 4, QImage::Format_RGB32);
  tile.fill(Qt::blue);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 3; ++x) tile.setPixelColor(x, y, Qt::red);
  QByteArray bmp;
  QBuffer buffer(&bmp);
  buffer.open(QIODevice::WriteOnly);
  ASSERT_TRUE(tile.save(&buffer, "BMP"));
  std::string data = "\x07TBitmap";
  for (int i = 0; i < 4; ++i) data += char((bmp.size() >> (8 * i)) & 0xFF);
  data.append(bmp.constData(), size_t(bmp.size()));
  sheet->SetBackground(data);
  QImage img = Pane()->grab().toImage();
  EXPECT_EQ(img.pixelColor(1, 65), QColor(Qt::red));
  EXPECT_EQ(img.pixelColor(4, 65), QColor(Qt::blue));
  EXPECT_EQ(img.pixelColor(8, 65), QColor(Qt::red));
  EXPECT_EQ(img.pixelColor(10, 30), QColor(Qt::green));  // a cell's own colour stays
  Key(Qt::Key_Right, Qt::ControlModifier);  // one column: 60 pixels
  ASSERT_EQ(Pane()->Origin().x(), 60);
  img = Pane()->grab().toImage();
  EXPECT_EQ(img.pixelColor(1, 65), QColor(Qt::blue));  // data x 61 is the tile's x 5
  EXPECT_EQ(img.pixelColor(3, 65), QColor(Qt::red));

  QScrollBar* bar = grid->ScrollBar(Qt::Vertical);
  ASSERT_TRUE(bar->isVisible());
  auto colours = [&] {
    std::set<QRgb> seen;
    const QImage b = bar->grab().toImage();
    for (int y = 0; y < b.height(); ++y)
      for (int x = 0; x < b.width(); ++x) seen.insert(b.pixel(x, y) & 0xFFFFFF);
    return seen;
  };
  grid->SetScrolls(ScrollBit(sHorizontal) | ScrollBit(sVertical) | ScrollBit(sFlat));
  const std::set<QRgb> flat = colours();
  const std::set<QRgb> palette{qRgb(241, 239, 226) & 0xFFFFFF, qRgb(236, 233, 216) & 0xFFFFFF,
                               qRgb(172, 168, 153) & 0xFFFFFF, 0};
  for (QRgb c : flat) EXPECT_TRUE(palette.count(c)) << std::hex << c;  // flat faces only, no shading
  EXPECT_TRUE(flat.count(qRgb(236, 233, 216) & 0xFFFFFF));
  grid->SetScrolls(ScrollBit(sHorizontal) | ScrollBit(sVertical));
  EXPECT_NE(colours(), flat);
}
