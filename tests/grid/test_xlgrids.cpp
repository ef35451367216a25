// The property model, sections and the sheet's cell access, counts and sizes.
#include <gtest/gtest.h>

#include "grid/XLCells.h"
#include "grid/XLSections.h"
#include "grid/XLSheet.h"
#include "grid/XLStyles.h"

namespace {

struct CountingUser : IXLSheetUser {
  TXLSheet* sheet = nullptr;
  int sheetChanged = 0, cellChanged = 0, begin = 0, end = 0, sizeChanged = 0;
  TXLSheet* GetSheet() override { return sheet; }
  void CellChanged(TXLSector, const TRect&, bool) override { ++cellChanged; }
  void SectorChanged(TXLSector) override {}
  void SheetChanged() override { ++sheetChanged; }
  void PageSetupChanged() override {}
  void CountChanged(TXLAxes, int) override {}
  void LinesInserted(TXLAxis, int, int32_t, int32_t) override {}
  void SizeChanged(TXLAxis, int, int32_t) override { ++sizeChanged; }
  void AreaChanged(TXLSector, const TRect*) override {}
  void SheetDetached() override { sheet = nullptr; }
  void CellReleased(TXLCell*) override {}
  void ViewsChanged(int) override {}
  void BeginUpdate() override { ++begin; }
  void EndUpdate() override { ++end; }
};

}  // namespace

TEST(XLGrids, PackedEncodings) {
  EXPECT_EQ(PackLine(TXLLine{1, 0}), 0x20000000);
  EXPECT_EQ(PackLine(TXLLine{2, clNone}), 0);
  EXPECT_EQ(PackLine(TXLLine{0, clRed}), 0);
  EXPECT_EQ(UnpackLine(0), (TXLLine{0, clNone}));
  EXPECT_EQ(UnpackLine(PackLine(TXLLine{3, clWindowText})), (TXLLine{3, clWindowText}));
  EXPECT_EQ(PackLayout(TXLLayout{haLeft, vaBottom, 0, wmWrapWords}), 0x02100000);
  EXPECT_EQ(PackLayout(TXLLayout{haCenter, vaCenter, 0, wmClip}), 0x00220000);
  EXPECT_EQ(UnpackLayout(0x01220007), (TXLLayout{haCenter, vaCenter, 7, wmEllipsis}));
  EXPECT_EQ(ColorFromItem(0), clNone);
  EXPECT_EQ(ColorFromItem(0x600000FF), clRed);
}

TEST(XLGrids, CellsInheritUntilTheyHoldAGroup) {
  TXLSheet sheet;
  TXLCell* c = sheet.GetCell(1, 1);
  EXPECT_EQ(c->Color(), clWindow);
  EXPECT_EQ(c->VertAlign(), vaBottom);
  EXPECT_EQ(c->WrapMode(), wmWrapWords);
  EXPECT_EQ(c->Props(), 0);
  c->SetColor(clRed);
  EXPECT_TRUE(c->HasProp(prColor));
  EXPECT_EQ(c->Color(), clRed);
  c->SetProps(0);
  EXPECT_EQ(c->Color(), clWindow);
  c->SetColor(0);
  EXPECT_EQ(c->Color(), clNone);  // black is "no colour"

  // Title cells follow the title style.
  TXLCell* t = sheet.GetCell(-1, 0);
  EXPECT_EQ(t->Color(), clBtnFace);
  EXPECT_EQ(t->HorzAlign(), haCenter);
  EXPECT_EQ(t->Frame(), frFlatUp);

  c->SetFormat("(999)|AB");
  EXPECT_EQ(c->GetFormatMask(), "(999)");
  EXPECT_EQ(c->GetFormatSuffix(), "ab");
  c->SetFormat("0.00");
  EXPECT_EQ(c->GetFormatSuffix(), "");
  c->SetEditor(7);  // TXLCString has three editors
  EXPECT_EQ(c->Editor(), 0);
  c->SetEditor(2);
  EXPECT_EQ(c->Editor(), 2);
}

TEST(XLGrids, SidesAndRangesOverTheItemLists) {
  TXLSheet sheet;
  TXLCell* c = sheet.GetCell(2, 2);
  c->SetSides(SideBit(sLeft) | SideBit(sTop));
  EXPECT_EQ(c->Sides(), SideBit(sLeft) | SideBit(sTop));
  EXPECT_EQ(c->GetLine(sLeft), (TXLLine{1, 0}));
  c->SetLine(sRight, TXLLine{2, clNone});
  EXPECT_EQ(c->GetItem(sRight), 0);
  c->SetSides(0);
  EXPECT_EQ(c->Sides(), 0);

  TXLSection* client = sheet.Section(sClient);
  TXLProRange range(client, TRect{0, 0, 2, 1});
  range.SetColor(clAqua);
  EXPECT_EQ(sheet.GetCell(1, 0)->Color(), clAqua);
  sheet.GetCell(1, 0)->SetColor(clLime);
  bool found = true;
  range.GetItem(itColor, found);
  EXPECT_FALSE(found);
  // A range is forced: an alignment equal to its corner's still reaches every cell.
  sheet.GetCell(1, 0)->SetHorzAlign(haCenter);
  range.SetHorzAlign(haLeft);
  EXPECT_EQ(sheet.GetCell(1, 0)->HorzAlign(), haLeft);
  range.SetHorzAlign(haRight);
  EXPECT_EQ(sheet.GetCell(0, 0)->HorzAlign(), haRight);
  EXPECT_EQ(sheet.GetCell(1, 0)->HorzAlign(), haRight);
  EXPECT_EQ(range.GetNamePath(), "Cells [0, 0 : 1, 0]");

  // Clearing formats gives every cell the range's whole font, colour and no lines.
  TXLCell* bold = sheet.GetCell(1, 0);
  bold->Font().SetStyle(fsBold);
  bold->Font().SetName("Tahoma");
  bold->SetSides(SideBit(sBottom));
  EXPECT_TRUE(range.Clear(2));
  EXPECT_EQ(bold->Font().Style(), 0);
  EXPECT_EQ(bold->Font().Name(), "Arial");
  EXPECT_EQ(bold->Color(), clWindow);
  EXPECT_EQ(bold->Sides(), 0);
}

TEST(XLGrids, MergedAreasResolveClipAndTruncate) {
  TXLSheet sheet;
  TXLSection* client = sheet.Section(sClient);
  sheet.SetAsString(1, 1, "head");
  EXPECT_TRUE(client->Merge(TRect{1, 1, 3, 9}));  // clipped to the five rows
  EXPECT_TRUE(client->IsUnionRect(TRect{1, 1, 3, 5}));
  EXPECT_EQ(sheet.FindCell(2, 3), sheet.FindCell(1, 1));
  EXPECT_EQ(sheet.GetAsString(2, 4), "head");
  EXPECT_EQ(sheet.FindCell(1, 1)->GetRect(), (TRect{1, 1, 3, 5}));
  EXPECT_TRUE(sheet.FindCell(1, 1)->HasFlag(xfUnionHead));
  EXPECT_FALSE(client->Merge(TRect{4, 4, 5, 5}));
  EXPECT_EQ(client->ExpandRect(TRect{0, 2, 2, 3}), (TRect{0, 1, 3, 5}));
  sheet.SetCount(sCols, 2);
  EXPECT_TRUE(client->IsUnionRect(TRect{1, 1, 2, 5}));
  sheet.SetCount(sCols, 1);
  EXPECT_EQ(client->UnionCount(), 0);
  EXPECT_EQ(sheet.FindCell(1, 1), nullptr);
}

TEST(XLGrids, HintsLiveWithTheirCells) {
  TXLSheet sheet;
  TXLCell* c = sheet.GetCell(0, 0);
  c->SetHint("field");
  EXPECT_EQ(c->Hint(), "field");
  EXPECT_TRUE(c->HasProp(prHint));
  c->SetHint("");
  EXPECT_FALSE(c->HasProp(prHint));
  sheet.OnSetCellHint = [](TXLSheet*, TPoint, AnsiString& t) { t += "!"; };
  c->SetHint("x");
  EXPECT_EQ(c->Hint(), "x!");
  // A class change keeps the hint: it names the document field.
  TXLCell* i = sheet.Section(sClient)->PutCell(TPoint{0, 0}, &XLCIntegerClass);
  EXPECT_EQ(i->Hint(), "x!");
  TXLCell* e = sheet.GetCell(1, 0);
  e->SetStyles(CellStyleBit(csExtHint));
  sheet.OnGetCellHint = [](TXLSheet*, TPoint p, AnsiString& t) { t = "ext " + std::to_string(p.X); };
  EXPECT_EQ(sheet.Section(sClient)->HintAt(TPoint{1, 0}), "ext 1");
}

TEST(XLGrids, SheetPositionsMapToSections) {
  TXLSheet sheet;
  TXLCell* corner = sheet.GetCell(-1, -1);
  ASSERT_NE(corner, nullptr);
  EXPECT_EQ(corner->GetSection()->Sector(), sTitle);
  EXPECT_EQ(corner->Pos(), (TPoint{0, 0}));
  TXLCell* top = sheet.GetCell(2, -1);
  EXPECT_EQ(top->GetSection()->Sector(), sCols);
  EXPECT_EQ(top->Pos(), (TPoint{2, 0}));
  EXPECT_EQ(sheet.GetAsString(4, 4), "");
  EXPECT_EQ(sheet.FindCell(4, 4), nullptr);
  // Nothing lies above the first title line: no cell is made there, and writing fails.
  EXPECT_EQ(sheet.GetCell(0, -2), nullptr);
  EXPECT_THROW(sheet.SetAsString(-3, 0, "lost"), EXLGridError);
  sheet.SetCount(sCols, 9);
  sheet.SetAsString(7, 0, "a");
  sheet.SetAsString(7, -1, "b");
  sheet.SetAsString(-1, 0, "c");
  sheet.SetCount(sCols, 5);
  EXPECT_EQ(sheet.FindCell(7, 0), nullptr);
  EXPECT_EQ(sheet.FindCell(7, -1), nullptr);
  EXPECT_EQ(sheet.GetAsString(-1, 0), "c");
}

TEST(XLGrids, SizesHidingAndPrintSettings) {
  TXLSheet sheet;
  sheet.SetSize(1, sRows, 0);
  EXPECT_EQ(sheet.GetSize(1, sRows), 1);
  sheet.SetSize(1, sRows, -7);
  EXPECT_EQ(sheet.GetSize(1, sRows), 1);
  sheet.SetSize(2, sRows, 20);
  sheet.SetVisible(2, sRows, false);
  EXPECT_EQ(sheet.GetSize(2, sRows), 0);
  EXPECT_FALSE(sheet.IsVisible(2, sRows));
  EXPECT_EQ(sheet.GetRealSize(2, sRows), 20);
  sheet.SetDefSize(sRows, 18);
  EXPECT_EQ(sheet.GetSize(2, sRows), 0);  // still hidden
  sheet.SetVisible(2, sRows, true);
  EXPECT_EQ(sheet.GetSize(2, sRows), 20);
  EXPECT_EQ(sheet.GetSize(-1, sCols), 60);

  sheet.SetPrintScale(10);
  EXPECT_EQ(sheet.PrintScale(), 25);
  EXPECT_EQ(sheet.PrintMode(), pmCustom);
  sheet.SetPrintScale(100);
  EXPECT_EQ(sheet.PrintMode(), pmNormal);
  sheet.SetPrintScale(70000);
  EXPECT_EQ(sheet.PrintScale(), 500);
  sheet.SetPrintMargin(0, -5);
  EXPECT_EQ(sheet.PrintMargin(0), 0);
  sheet.SetPrintMargin(0, 96);
  EXPECT_EQ(sheet.PageRect().Left, 96);  // screen pixels; an inch on the printed page
  EXPECT_EQ(sheet.PageLayout().Page.Left, 600);
}

TEST(XLGrids, UpdateBracketingDefersToOneSheetChange) {
  TXLSheet sheet;
  CountingUser user;
  user.sheet = &sheet;
  sheet.AddUser(&user);
  sheet.BeginUpdate();
  sheet.BeginUpdate();
  sheet.SetAsString(0, 0, "x");
  sheet.EndUpdate();
  EXPECT_EQ(user.sheetChanged, 0);
  sheet.EndUpdate();
  EXPECT_EQ(user.sheetChanged, 1);
  EXPECT_EQ(user.cellChanged, 0);
  EXPECT_EQ(user.begin, 1);
  EXPECT_EQ(user.end, 1);
  sheet.EndUpdate();  // unbalanced: ignored
  sheet.FindCell(0, 0)->SetFlag(xfRepaint, false);  // as the painter does
  sheet.SetAsString(0, 0, "y");
  EXPECT_GT(user.cellChanged, 0);
  sheet.RemoveUser(&user);
}

TEST(XLGrids, CellChangedEventDoesNotNest) {
  TXLSheet sheet;
  int calls = 0;
  sheet.GetCell(0, 0)->SetStyles(CellStyleBit(csNotify));
  sheet.OnCellChanged = [&](TXLSheet* s, TPoint p) {
    ++calls;
    s->SetAsString(p.X, p.Y, "again " + std::to_string(calls));
  };
  sheet.SetAsString(0, 0, "first");
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(sheet.GetAsString(0, 0), "again 1");
}

namespace {
struct FixedMeasurer : IXLCanvas {
  void SetFont(const TFont&) override {}
  int32_t DrawText(const AnsiString&, TRect&, uint32_t) override { return 0; }
  TSize TextExtent(const AnsiString& t) override { return TSize{int32_t(t.size()) * 7, 12}; }
  void DrawCheckBox(const TRect&, bool) override {}
  void DrawEdge(const TRect&, TXLEdge, bool) override {}
  void FillRect(const TRect&, TColor) override {}
  void Line(TPoint, TPoint, TColor, int) override {}
  void DrawGraphic(const AnsiString&, const std::string&, const TRect&) override {}
};
}  // namespace

TEST(XLGrids, NamesBestFitAndMerging) {
  TXLSheet sheet;
  sheet.SetAsString(1, 2, "abc");
  TXLVariant v;
  EXPECT_TRUE(sheet.VariableLookup("B3", v));
  EXPECT_EQ(v.AsString(), "abc");
  TXLVariant blank;
  EXPECT_TRUE(sheet.VariableLookup("A1", blank));  // a blank cell of the sheet answers, empty
  EXPECT_TRUE(blank.IsEmpty());
  TXLVariant outside;
  EXPECT_FALSE(sheet.VariableLookup("F1", outside));  // column 5 of 5
  EXPECT_TRUE(outside.IsEmpty());
  EXPECT_FALSE(sheet.VariableLookup("TOTAL", outside));
  EXPECT_TRUE(outside.IsEmpty());

  FixedMeasurer measurer;
  EXPECT_EQ(sheet.BestFitSize(1, sCols), 60);  // no measurer: the default
  sheet.Measurer = &measurer;
  sheet.SetAsString(1, 4, "a much longer text");
  sheet.SetVisible(4, sRows, false);  // hidden rows do not count
  sheet.SetSize(1, sCols, -1);
  EXPECT_EQ(sheet.GetSize(1, sCols), 3 * 7 + 2);

  TXLSection* client = sheet.Section(sClient);
  sheet.GetCell(2, 0)->SetColor(clRed);
  sheet.GetCell(3, 0)->SetColor(clBlue);
  sheet.GetCell(3, 1)->SetLine(sLeft, TXLLine{1, clBlack});
  ASSERT_TRUE(client->Merge(TRect{2, 0, 4, 2}));
  for (int32_t y = 0; y < 2; ++y)
    for (int32_t x = 2; x < 4; ++x) EXPECT_EQ(ColorFromItem(client->GetItem(ilColor, x, y)), clRed);
  bool same = true;
  EXPECT_EQ(client->GetLines(ilVertLines, 3, 0, 1, same), 0);  // inside lines go
}

TEST(XLGrids, StylerSwapKeepsStylesByAlias) {
  TXLStyler first, second;
  first.Add()->SetAlias("money");
  TXLStyle* target = second.Add();
  second.Add()->SetAlias("other");
  target->SetAlias("money");
  target->SetColor(clSilver);
  TXLSheet sheet;
  sheet.SetStyler(&first);
  TXLCell* c = sheet.GetCell(0, 0);
  c->SetBasedOn(first.Styles(0));
  sheet.SetStyler(&second);
  EXPECT_EQ(c->GetBasedOn(), target);
  EXPECT_EQ(c->Color(), clSilver);
  EXPECT_EQ(first.SheetCount(), 0);
  EXPECT_EQ(second.SheetCount(), 1);
}

TEST(XLGrids, RowsHoldTheirCellsByColumn) {
  // Counts released cells, and checks a cell being released can no longer be found.
  struct ReleaseWatch : CountingUser {
    int released = 0, stillFound = 0;
    void CellReleased(TXLCell* c) override {
      ++released;
      if (sheet->Section(sClient)->FindCell(TPoint{c->Col(), c->Row()}) == c) ++stillFound;
    }
  } user;
  TXLSheet sheet;
  user.sheet = &sheet;
  sheet.AddUser(&user);
  sheet.SetCount(sCols, 100);
  TXLSection* s = sheet.Section(sClient);
  for (int32_t x : {0, 17, 40, 99}) sheet.SetAsString(x, 2, "c" + std::to_string(x));
  TXLRow* row = s->FindRow(2);
  ASSERT_NE(row, nullptr);
  EXPECT_EQ(row->CellCount(), 4);
  EXPECT_EQ(row->Last(), 99);

  // A replacing class frees the old cell; the new one keeps the value.
  TXLCell* old = s->FindCell(TPoint{17, 2});
  TXLCell* made = s->PutCell(TPoint{17, 2}, &XLCIntegerClass);
  EXPECT_NE(made, old);
  EXPECT_EQ(user.released, 1);
  EXPECT_EQ(made->Col(), 17);

  // Moving columns renumbers the cells that moved.
  row->Shift(10, 2);
  EXPECT_EQ(s->FindCell(TPoint{19, 2}), made);
  EXPECT_EQ(made->Col(), 19);
  EXPECT_EQ(sheet.GetAsString(42, 2), "c40");
  EXPECT_EQ(sheet.GetAsString(0, 2), "c0");
  row->Shift(0, -1);
  EXPECT_EQ(made->Col(), 18);
  EXPECT_EQ(user.released, 2);  // the cell at 0 went with its column

  s->ClearCells(TRect{0, 0, 20, 5});
  EXPECT_EQ(s->CellCount(), 2);
  sheet.SetCount(sCols, 50);  // cuts 101 (was 99, moved up by one net)
  EXPECT_EQ(s->CellCount(), 1);
  EXPECT_EQ(sheet.GetAsString(41, 2), "c40");
  sheet.Section(sClient)->Clear();
  EXPECT_EQ(user.released, 5);
  EXPECT_EQ(user.stillFound, 0);
  sheet.RemoveUser(&user);
}
