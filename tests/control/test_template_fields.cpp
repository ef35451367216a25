// The document form's fields over its sheet, the command buttons per step and the next
// handlers of a step.
#include <gtest/gtest.h>

#include "control/form/TemplateFields.h"
#include "control/wire/NextHandlers.h"
#include "grid/XLCells.h"
#include "grid/XLSections.h"

namespace {

class TemplateFields : public ::testing::Test {
 protected:
  void SetUp() override {
    XLRegisterCellClasses();
    sheet.SetCount(sCols, 3);
    sheet.SetCount(sRows, 3);
  }
  TXLCell* Cell(int c, int r) { return sheet.GetCell(c, r); }
  void Name(int c, int r, const char* name, const char* text = "") {
    Cell(c, r)->SetHint(name);
    sheet.SetAsString(c, r, text);
  }
  TTemplateFields Fields() { return TTemplateFields(sheet, doc, true); }

  TXLSheet sheet;
  TStream2Array doc;
  TSessionValues session;
};

TEST_F(TemplateFields, ScanRunsColumnsOuterAndTheFirstCellOfANameWins) {
  Name(2, 0, "A");
  Name(1, 0, " B ");
  Name(0, 2, "A");
  const std::vector<TFieldEntry> f = ScanCellFields(sheet);
  ASSERT_EQ(f.size(), 2u);
  EXPECT_EQ(f[0].name, "A");
  EXPECT_EQ(f[0].col, 0);
  EXPECT_EQ(f[0].row, 2);
  EXPECT_EQ(f[1].name, "B");  // trimmed
}

TEST_F(TemplateFields, StoredValuesCarryTheirHintAfterTheFirstBar) {
  Name(0, 0, "v", "tpl");
  Name(0, 1, "plain", "tpl");
  Name(0, 2, "empty", "tpl");
  doc.Fields = ScanCellFields(sheet);
  doc.Fields[0].stored = "x|h|more";
  doc.Fields[1].stored = "y";
  Fields().FillDefaults(false, {});
  EXPECT_EQ(sheet.GetAsString(0, 0), "x");
  EXPECT_EQ(Cell(0, 0)->Hint(), "h|more");
  EXPECT_EQ(sheet.GetAsString(0, 1), "y");
  EXPECT_EQ(Cell(0, 1)->Hint(), "");
  EXPECT_EQ(sheet.GetAsString(0, 2), "tpl");
  EXPECT_EQ(Cell(0, 2)->Hint(), "");

  // Read back: the hint travels with the value, and only differences are changes.
  EXPECT_TRUE(Fields().CollectFieldValues(false, false));  // "empty" now reads "tpl"
  EXPECT_EQ(doc.Fields[0].edited, "x|h|more");
  EXPECT_TRUE(Fields().CollectFieldValues(false, true));
  EXPECT_FALSE(Fields().CollectFieldValues(false, false));
  EXPECT_TRUE(Fields().CollectFieldValues(true, false));
}

TEST_F(TemplateFields, NewDocumentsFillOnlyExactTokens) {
  Name(0, 0, "d", "[Date]");
  Name(0, 1, "blank", " [Date]");
  Name(0, 2, "user", "[UserName]");
  doc.Fields = ScanCellFields(sheet);
  session.UserName = "zs";
  const TDateTime now = EncodeDate(2026, 12, 7) + EncodeTime(9, 30, 0, 0);
  Fields().FillDefaults(true, {&session, now});
  EXPECT_EQ(sheet.GetAsString(0, 0), DateToStr(now));
  EXPECT_NE(sheet.GetAsString(0, 0), "[Date]");
  EXPECT_EQ(sheet.GetAsString(0, 1), " [Date]");
  EXPECT_EQ(sheet.GetAsString(0, 2), "zs");
}

TEST_F(TemplateFields, StepPermissionsColourEditableCellsAndLockTheRestByUserLevel) {
  Name(0, 0, "A", "a");
  Name(1, 0, "B", "(UserName)");
  Name(2, 0, "C", "(Date)");
  doc.Fields = ScanCellFields(sheet);
  doc.Header.SetI32(dh::NumberType, -1);
  TStepRecord step;
  step.editableCells = "A,C";
  session.UserName = "zs";
  const TAutoValues values{&session, EncodeDate(2026, 1, 2)};
  const auto locked = [&](int c) { return (Cell(c, 0)->Styles() & CellStyleBit(csReadOnly)) != 0; };

  Fields().ApplyStepPermissions(&step, 5, false, values);
  EXPECT_EQ(Cell(0, 0)->Color(), kEditableCellColor);
  EXPECT_EQ(Cell(2, 0)->Color(), kEditableCellColor);
  EXPECT_NE(Cell(1, 0)->Color(), kEditableCellColor);
  EXPECT_FALSE(locked(0));
  EXPECT_TRUE(locked(1));
  EXPECT_EQ(doc.Fields[2].stored, DateToStr(EncodeDate(2026, 1, 2)));  // editable token: its value stored
  EXPECT_EQ(sheet.GetAsString(1, 0), "");  // locked token with nothing stored is cleared

  // Level 1 and 2 lock nothing but still see the colour; an empty list changes nothing.
  for (int level : {1, 2}) {
    Cell(1, 0)->SetStyles(0);
    Fields().ApplyStepPermissions(&step, level, false, values);
    EXPECT_FALSE(locked(1)) << level;
  }
  TStepRecord open;
  Cell(0, 0)->SetColor(clNone);
  Fields().ApplyStepPermissions(&open, 5, false, values);
  Fields().ApplyStepPermissions(nullptr, 5, false, values);
  EXPECT_NE(Cell(0, 0)->Color(), kEditableCellColor);
  EXPECT_FALSE(locked(1));
}

TEST_F(TemplateFields, ComboValuesMapThroughTheirSource) {
  const std::vector<TComboSource> sources{{"LEAVETYPE", "a\r\nb\r\nc", "1\r\n2\r\n3"}};
  EXPECT_EQ(ComboIndexOf(sources, "leavetype", "", "2"), 1);
  EXPECT_EQ(ComboIndexOf(sources, "leavetype", "", "9"), -1);
  EXPECT_EQ(ComboIndexOf(sources, "", "x\r\ny", "y"), 1);
  EXPECT_EQ(ComboIndexOf(sources, "missing", "", "1"), -1);
  EXPECT_EQ(ComboStoredValue(sources, "leavetype", "c"), "3");
  EXPECT_EQ(ComboStoredValue(sources, "leavetype", "zz"), "");
  EXPECT_EQ(ComboStoredValue(sources, "", "zz"), "zz");
}

TEST_F(TemplateFields, APickedListItemIsTheValueStoredShownAgainAndReadByConditions) {
  auto list = [&](int c, int r, const char* name, int editor) {
    TXLCell* cell = sheet.Section(sClient)->PutCell(TPoint{c, r}, &XLCStringsClass);
    cell->SetAsString("low\r\nhigh\r\nurgent");
    cell->SetEditor(editor);
    cell->SetHint(name);
    return cell;
  };
  TXLCell* pick = list(0, 0, "pick", 1);
  TXLCell* combo = list(1, 0, "combo", 2);
  TXLCell* memo = list(2, 0, "memo", 0);
  Name(0, 1, "title", "t");
  sheet.SetAsString(2, 2, "label");
  TXLProRange(sheet.Section(sClient), TRect{0, 1, 2, 2}).Merge(false);  // the title spans two columns
  doc.Fields = ScanCellFields(sheet);
  ASSERT_EQ(doc.Fields.size(), 4u);
  Fields().ClearCellHints();

  // What the pick list stores is the item's index: the field's value is that item.
  pick->SetAsInteger(2);
  combo->SetAsInteger(1);
  Fields().CollectFieldValues(false, false);
  EXPECT_EQ(doc.Fields[0].edited, "urgent");
  EXPECT_EQ(doc.Fields[2].edited, "high");
  EXPECT_EQ(doc.Fields[3].edited, "low\r\nhigh\r\nurgent");  // a memo holds its whole text
  EXPECT_EQ(Fields().GetFieldValue("pick"), "urgent");

  // Opened again: the stored item is the one shown.
  doc.Fields[0].stored = "high";
  doc.Fields[2].stored = "urgent";
  pick->SetAsInteger(0);
  Fields().FillDefaults(false, {});
  EXPECT_EQ(pick->GetDisplayText(), "high");
  EXPECT_EQ(combo->GetDisplayText(), "urgent");
  EXPECT_EQ(memo->GetAsString(), "low\r\nhigh\r\nurgent");

  // Cells that are no field take no typing; fields keep theirs.
  Fields().LockLabels();
  EXPECT_TRUE(Cell(2, 2)->Styles() & CellStyleBit(csReadOnly));
  EXPECT_FALSE(Cell(0, 1)->Styles() & CellStyleBit(csReadOnly));
  EXPECT_FALSE(pick->Styles() & CellStyleBit(csReadOnly));
}

TEST_F(TemplateFields, TitleCheckAttachmentCellsAndHiddenFilledRows) {
  Name(0, 0, "T");
  sheet.SetAsString(1, 1, "[Attach]");
  sheet.SetAsString(2, 2, "filled");
  Cell(2, 2)->SetStyles(CellStyleBit(csHidden));
  Cell(2, 1)->SetStyles(CellStyleBit(csHidden));  // hidden style, but empty
  doc.Fields = ScanCellFields(sheet);
  EXPECT_EQ(Fields().CheckTitle("T"), Cp936("请输入标题"));
  EXPECT_EQ(Fields().CheckTitle(""), "");
  sheet.SetAsString(0, 0, "t");
  EXPECT_EQ(Fields().CheckTitle("T"), "");

  doc.AttachmentNames = {"a.doc", "b.pdf"};
  Fields().FillAttachmentCells();
  EXPECT_EQ(sheet.GetAsString(1, 1), "a.doc,b.pdf");

  Fields().HideFilledRows();
  EXPECT_FALSE(sheet.IsVisible(2, sRows));
  EXPECT_TRUE(sheet.IsVisible(1, sRows));
}

TEST_F(TemplateFields, FieldsFromTheRecordNeverTouchTheSheet) {
  sheet.SetAsString(0, 0, "cell");
  doc.Fields = {{0, 0, "x", "stored", ""}};
  TTemplateFields f(sheet, doc, false);
  f.FillDefaults(false, {});
  EXPECT_EQ(sheet.GetAsString(0, 0), "cell");
  EXPECT_FALSE(f.CollectFieldValues(false, false));
  EXPECT_EQ(doc.Fields[0].edited, "stored");
  EXPECT_EQ(f.GetFieldValue("x"), "stored");
}

TEST(TemplateButtons, StartStepOffersTemporarySaveAndOtherStepsTheirOwnButtons) {
  TCommandButtons start = ArrangeButtonSet(nullptr, true, 0);
  EXPECT_TRUE(start.temporary);
  EXPECT_TRUE(start.send);
  EXPECT_FALSE(start.archive || start.number || start.distribution);
  EXPECT_EQ(start.panelWidth, 4 * kCommandButtonWidth);

  TStepRecord last;
  last.showArchive = last.showNumbering = last.showDistribute = 1;
  TCommandButtons other = ArrangeButtonSet(&last, false, 0);
  EXPECT_FALSE(other.temporary);
  EXPECT_TRUE(other.archive && other.number && other.distribution);
  EXPECT_EQ(other.panelWidth, 6 * kCommandButtonWidth);

  TCommandButtons done = ArrangeButtonSet(&last, false, 2);
  EXPECT_FALSE(done.send);
  EXPECT_EQ(done.panelWidth, 5 * kCommandButtonWidth);
}

TEST(NextHandlers, DepartmentReviewAndTheAuthorStep) {
  TStepRecord step;
  step.handlers[0] = {"{1}", "own", 10, ",10,"};
  step.handlers[1] = {"{2}", "other", 11, ",11,"};
  step.handlers[2] = {"{3}", "shared", 12, ",12,10,"};
  step.handlerCount = 3;
  std::vector<frames::PickedUser> picked{{"{old}", "old", 0, ""}};

  EXPECT_EQ(LoadNextHandlers(&step, "", "", 10, picked), "own,other,shared");
  step.departmentReview = 1;
  EXPECT_EQ(LoadNextHandlers(&step, "", "", 10, picked), "own,shared");
  ASSERT_EQ(picked.size(), 2u);
  EXPECT_EQ(picked[1].userId, "{3}");

  step.authorIsHandler = 1;
  EXPECT_EQ(LoadNextHandlers(&step, "{au}", "author", 10, picked), "author");
  ASSERT_EQ(picked.size(), 1u);
  EXPECT_EQ(picked[0].userId, "{au}");

  EXPECT_EQ(LoadNextHandlers(nullptr, "{au}", "author", 10, picked), "");
  EXPECT_TRUE(picked.empty());
}

}  // namespace
