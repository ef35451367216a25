// The sheet component: lines inserted and deleted with what moves with them, the
// notifications each change sends, hidden lines keeping their sizes and the page metrics.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "grid/XLSections.h"
#include "grid/XLSheet.h"
#include "grid/XLStyles.h"

namespace {

// Writes down every notification as a short line.
struct RecordingUser : IXLSheetUser {
  std::vector<std::string> log;
  TXLSheet* sheet = nullptr;
  void Add(std::string s) { log.push_back(std::move(s)); }
  TXLSheet* GetSheet() override { return sheet; }
  void CellChanged(TXLSector s, const TRect&, bool) override { Add("cell " + std::to_string(s)); }
  void SectorChanged(TXLSector s) override { Add("sector " + std::to_string(s)); }
  void SheetChanged() override { Add("sheet"); }
  void PageSetupChanged() override { Add("page"); }
  void CountChanged(TXLAxes a, int part) override {
    Add("count " + std::to_string(a) + " " + std::to_string(part));
  }
  void LinesInserted(TXLAxis a, int part, int32_t count, int32_t index) override {
    Add("lines " + std::to_string(a) + " " + std::to_string(part) + " " + std::to_string(count) + " " +
        std::to_string(index));
  }
  void SizeChanged(TXLAxis a, int part, int32_t index) override {
    Add("size " + std::to_string(a) + " " + std::to_string(part) + " " + std::to_string(index));
  }
  void AreaChanged(TXLSector s, const TRect*) override { Add("area " + std::to_string(s)); }
  void SheetDetached() override { Add("detached"); }
  void CellReleased(TXLCell*) override { Add("released"); }
  void ViewsChanged(int flag) override { Add("views " + std::to_string(flag)); }
  void BeginUpdate() override { Add("begin"); }
  void EndUpdate() override { Add("end"); }
  std::vector<std::string> Take() { return std::exchange(log, {}); }
};

using Log = std::vector<std::string>;

}  // namespace

TEST(Sheet, InsertedRowsMoveCellsAreasListsAndSizes) {
  TXLSheet sheet;
  TXLSection& s = *sheet.Section(sClient);
  sheet.SetAsString(1, 1, "a");
  sheet.SetAsString(1, 3, "b");
  sheet.GetCell(1, 3)->SetHint("field b");
  TXLProRange(&s, TRect{1, 3, 2, 4}).SetColor(clRed);
  TXLProRange(&s, TRect{1, 3, 2, 4}).SetLine(sTop, TXLLine{2, clBlue});
  ASSERT_TRUE(s.Merge(TRect{2, 2, 4, 4}));
  sheet.SetSize(3, sRows, 30);
  sheet.SetSize(4, sRows, 20);
  sheet.SetVisible(4, sRows, false);
  sheet.SetAsString(-1, 3, "title b");

  sheet.InsertLines(sRows, 2, 2);
  EXPECT_EQ(sheet.RowCount(), 7);
  EXPECT_EQ(sheet.GetAsString(1, 1), "a");
  EXPECT_EQ(sheet.GetAsString(1, 5), "b");
  EXPECT_EQ(sheet.FindCell(1, 3), nullptr);
  EXPECT_EQ(sheet.FindCell(1, 5)->Hint(), "field b");
  EXPECT_EQ(sheet.GetAsString(-1, 5), "title b");  // the title column moves with its rows
  EXPECT_EQ(s.GetItem(ilColor, 1, 5), clRed);
  EXPECT_NE(s.GetItem(ilColor, 1, 3), clRed);
  EXPECT_EQ(UnpackLine(s.GetItem(ilHorzLines, 1, 5)), (TXLLine{2, clBlue}));
  ASSERT_EQ(s.UnionCount(), 1);
  EXPECT_EQ(s.Union(0)->Rect, (TRect{2, 4, 4, 6}));
  EXPECT_EQ(sheet.GetSize(5, sRows), 30);
  EXPECT_FALSE(sheet.IsVisible(6, sRows));
  EXPECT_EQ(sheet.GetRealSize(6, sRows), 20);
  EXPECT_TRUE(sheet.IsVisible(4, sRows));
  EXPECT_EQ(sheet.GetSize(2, sRows), 15);  // new lines take the default

  // Lines inserted inside a merged area widen it; deleting its head line keeps the rest.
  sheet.InsertLines(sRows, 5, 1);
  EXPECT_EQ(s.Union(0)->Rect, (TRect{2, 4, 4, 7}));
  sheet.SetAsString(2, 4, "head");
  sheet.DeleteLines(sRows, 4, 1);
  ASSERT_EQ(s.UnionCount(), 1);
  EXPECT_EQ(s.Union(0)->Rect, (TRect{2, 4, 4, 6}));
  EXPECT_EQ(sheet.GetAsString(2, 4), "");
  sheet.SetAsString(2, 4, "new head");  // the area's top-left cell heads it again
  EXPECT_EQ(s.FindCell(TPoint{3, 5})->GetAsString(), "new head");
  // Deleting what is left of it but one line of one column dissolves it.
  sheet.DeleteLines(sRows, 5, 1);
  sheet.DeleteLines(sCols, 3, 1);
  EXPECT_EQ(s.UnionCount(), 0);
  EXPECT_EQ(sheet.RowCount(), 6);
  EXPECT_EQ(sheet.GetAsString(1, 5), "");  // "b" sat on the deleted row 5
  EXPECT_EQ(sheet.GetAsString(1, 4), "");
}

TEST(Sheet, DeletedColumnsFreeTheirCellsAndMoveTheRest) {
  TXLSheet sheet;
  sheet.SetAsString(0, 0, "keep");
  sheet.SetAsString(1, 0, "gone");
  sheet.SetAsString(3, 2, "moves");
  sheet.SetAsString(3, -1, "head 3");
  sheet.SetSize(3, sCols, 90);
  sheet.DeleteLines(sCols, 1, 2);
  EXPECT_EQ(sheet.ColCount(), 3);
  EXPECT_EQ(sheet.GetAsString(0, 0), "keep");
  EXPECT_EQ(sheet.GetAsString(1, 2), "moves");
  EXPECT_EQ(sheet.FindCell(1, 2)->Pos(), (TPoint{1, 2}));
  EXPECT_EQ(sheet.GetAsString(1, -1), "head 3");
  EXPECT_EQ(sheet.GetSize(1, sCols), 90);
  EXPECT_EQ(sheet.FindCell(3, 2), nullptr);
  // Counts are limits: deleting past the end deletes what is there, nothing beyond.
  sheet.DeleteLines(sCols, 2, 10);
  EXPECT_EQ(sheet.ColCount(), 2);
  sheet.DeleteLines(sCols, 5, 1);
  sheet.InsertLines(sCols, 9, 1);
  EXPECT_EQ(sheet.ColCount(), 2);
  // Title lines by their negative numbers.
  sheet.SetAsString(-1, 0, "t");
  sheet.InsertLines(sCols, -1, 1);
  EXPECT_EQ(sheet.TitleCols(), 2);
  EXPECT_EQ(sheet.GetAsString(-1, 0), "t");
  EXPECT_EQ(sheet.FindCell(-2, 0), nullptr);
}

TEST(Sheet, EachChangeSendsItsNotification) {
  TXLSheet sheet;
  RecordingUser user, other;
  sheet.AddUser(&user);
  sheet.AddUser(&other);

  sheet.InsertLines(sRows, 1, 2);
  EXPECT_EQ(user.Take(), (Log{"begin", "lines 1 1 2 1", "end", "sheet"}));
  EXPECT_TRUE(sheet.Modified());
  sheet.DeleteLines(sCols, -1, 1);
  EXPECT_EQ(user.Take(), (Log{"begin", "lines 0 0 -1 -1", "end", "sheet"}));

  // A size change goes to every user but the grid that made it.
  sheet.SetSize(2, sCols, 80, &other);
  EXPECT_EQ(user.Take(), (Log{"size 0 1 2"}));
  EXPECT_EQ(other.Take(), (Log{"begin", "lines 1 1 2 1", "end", "sheet", "begin", "lines 0 0 -1 -1", "end",
                               "sheet"}));
  sheet.SetVisible(2, sCols, false);
  sheet.SetSize(2, sCols, 99);  // hidden: only its saved size changes
  EXPECT_EQ(user.Take(), (Log{"size 0 1 2"}));
  EXPECT_EQ(sheet.GetRealSize(2, sCols), 99);
  sheet.SetVisible(2, sCols, true);
  EXPECT_EQ(user.Take(), (Log{"size 0 1 2"}));
  EXPECT_EQ(sheet.GetSize(2, sCols), 99);

  sheet.SetCount(sCols, 8);
  EXPECT_EQ(user.Take(), (Log{"count 1 1"}));
  sheet.SetDefSize(sRows, 20);
  EXPECT_EQ(user.Take(), (Log{"count 2 0", "count 2 1"}));
  sheet.SetPrintMargin(2, 10);
  sheet.SetPrintGridLines(true);
  EXPECT_EQ(user.Take(), (Log{"page", "page"}));
  sheet.SetAsString(0, 0, "x");
  EXPECT_EQ(user.Take(), (Log{"cell 3"}));
  sheet.BaseClientStyle()->SetColor(clYellow);
  EXPECT_EQ(user.Take(), (Log{"sector 3"}));

  // Users that come or go inside an update are kept balanced.
  other.Take();
  sheet.BeginUpdate();
  sheet.RemoveUser(&other);
  RecordingUser late;
  sheet.AddUser(&late);
  sheet.EndUpdate();
  EXPECT_EQ(other.Take(), (Log{"begin", "end"}));
  EXPECT_EQ(late.Take(), (Log{"begin", "end"}));
  sheet.RemoveUser(&late);
  sheet.RemoveUser(&user);
}

TEST(Sheet, PageMetricsFollowMarginsAndScale) {
  TXLSheet sheet;
  // The fallback printer: 600 dpi, 4676 x 6744 dots, that is 748 x 1079 screen pixels.
  for (int side = 0; side < 4; ++side) sheet.SetPrintMargin(side, 10 * (side + 1));
  EXPECT_EQ(sheet.PageRect(), (TRect{10, 20, 718, 1039}));
  TXLPageLayout l = sheet.PageLayout();
  EXPECT_EQ(l.FX, 625);
  EXPECT_EQ(l.Page, (TRect{62, 125, 4487, 6493}));
  EXPECT_EQ(l.Sizes[sCols][1][0], 375);
  EXPECT_EQ(l.Sizes[sRows][1][0], 93);
  EXPECT_EQ(l.Zoom, 625);

  sheet.SetPrintScale(50);
  l = sheet.PageLayout();
  EXPECT_EQ(l.Sizes[sCols][1][0], 187);  // 60 x (625 x 50 / 100) / 100
  EXPECT_EQ(l.Zoom, 312);
  EXPECT_EQ(l.Breaks[sCols], (std::vector<int32_t>{5}));

  // Titles not repeated take no room; hidden lines print only when asked.
  sheet.SetPrintScale(100);
  sheet.SetVisible(1, sRows, false);
  sheet.SetPrintTitles(AxisBit(sRows));
  l = sheet.PageLayout();
  EXPECT_EQ(l.TitleSize(sRows), 0);
  EXPECT_EQ(l.TitleSize(sCols), 375);
  EXPECT_EQ(l.Sizes[sRows][1][1], 0);
  sheet.SetPrintHidden(true);
  EXPECT_EQ(sheet.PageLayout().Sizes[sRows][1][1], 93);

  // Sizes and margins from a stored sheet may be absurd: no overflow, one column a page.
  sheet.SetPrintMargin(0, INT32_MAX);
  sheet.SetSize(0, sCols, INT32_MAX);
  l = sheet.PageLayout();
  EXPECT_EQ(l.Breaks[sCols], (std::vector<int32_t>{1, 2, 3, 4, 5}));
  EXPECT_GT(l.Sizes[sCols][1][0], 0);
}
