// The in-place editors, the calendar and pick list pop-ups, and the parsers they share.
#include <QComboBox>
#include <QLineEdit>

#include "core/Exception.h"
#include "grid/ui/GSCtrls.h"
#include "grid/ui/XLEdits.h"
#include "platform/Services.h"
#include "test_grid_view_support.h"

namespace {

TXLCell* Put(TXLSheet& s, int col, int row, const TXLCellClass& cls) {
  return s.Section(sClient)->PutCell(TPoint{col, row}, &cls);
}

TFormatSettings WithShortDate(const char* format) {
  TFormatSettings fs = DefaultFormatSettings();
  fs.ShortDateFormat = format;
  return fs;
}

}  // namespace

TEST(Repeat, StepsEveryFifthTickThenEveryOtherThenEvery) {
  std::vector<int> due;
  int counter = -1;
  for (int tick = 0; tick <= 60; ++tick)
    if (RepeatStep(counter, true)) due.push_back(counter);
  const std::vector<int> head(due.begin(), due.begin() + 7);
  EXPECT_EQ(head, (std::vector<int>{0, 5, 10, 15, 20, 22, 24}));
  EXPECT_EQ(due.back(), 60);
  EXPECT_EQ(due[due.size() - 2], 59);  // from 50 on, every tick
  int slow = 198;
  EXPECT_FALSE(RepeatStep(slow, false));  // 199: the slow counter still skips odd ticks
  EXPECT_TRUE(RepeatStep(slow, false));
  EXPECT_TRUE(RepeatStep(slow, false));
}

TEST(DateText, FieldsFollowTheShortDateAndBadDaysAreRefused) {
  const TDateTime today = EncodeDate(2026, 12, 7);
  const TFormatSettings ymd = WithShortDate("yyyy-MM-dd");
  EXPECT_EQ(ParseDate("2024-3-5", ymd, today), EncodeDate(2024, 3, 5));
  EXPECT_EQ(ParseDate("  ", ymd, today), 0);
  EXPECT_EQ(ParseDate("5 March 2024", WithShortDate("dd/MM/yyyy"), today), EncodeDate(2024, 3, 5));
  // Above 12 where the month is expected: the day; the month then comes from the next number.
  EXPECT_EQ(ParseDate("13/5/2024", WithShortDate("MM/dd/yyyy"), today), EncodeDate(2024, 5, 13));
  EXPECT_EQ(ParseDate("3-5", WithShortDate("MM/dd/yyyy"), today), EncodeDate(2026, 3, 5));
  EXPECT_THROW(ParseDate("2024-2-30", ymd, today), EConvertError);
  EXPECT_THROW(ParseDate("2024-4-31", ymd, today), EConvertError);
  EXPECT_THROW(ParseDate("2024-0-5", ymd, today), EConvertError);
  EXPECT_NEAR(ParseTime("2:30 PM"), (14 * 60 + 30) / 1440.0, 1e-9);
  AnsiString letters = "sF";
  EXPECT_TRUE(HasOption(letters, 'f'));
  EXPECT_EQ(letters, "s");
}

TEST(Popup, OpensAboveAndRightAlignedAtTheScreensCorner) {
  EXPECT_EQ(PopupPlacement(QRect(900, 700, 100, 20), QSize(200, 150), QSize(1024, 768), 0), QPoint(800, 550));
  EXPECT_EQ(PopupPlacement(QRect(10, 10, 100, 20), QSize(200, 150), QSize(1024, 768), 2), QPoint(0, 30));
}

TEST_F(GridView, NumberEditorsTakeIncrementFromTheFormatAndSpin) {
  Make([](TXLSheet& s) {
    TXLCell* d = Put(s, 0, 0, XLCDoubleClass);
    d->SetAsFloat(1.5);
    d->SetFormat("0.00");
  });
  grid->SetEditMode(1);
  auto* num = dynamic_cast<TXLNumEdit*>(Editor());
  ASSERT_NE(num, nullptr);
  EXPECT_DOUBLE_EQ(num->Increment(), 0.01);
  EXPECT_EQ(num->Text(), QStringLiteral("1.50"));
  Key(Qt::Key_Up, Qt::ShiftModifier);
  Key(Qt::Key_Return);
  EXPECT_DOUBLE_EQ(sheet->FindCell(0, 0)->GetAsFloat(), 1.51);
  num->SetFormat("0");
  EXPECT_DOUBLE_EQ(num->Increment(), 1);
  num->SetFormat("0.##%;(0.##%)");
  EXPECT_EQ(num->Format(), "0.##%##");
  EXPECT_DOUBLE_EQ(num->Increment(), 0.0001);
}

TEST_F(GridView, TheSpinButtonFitsAShortRowWithBothHalvesWhole) {
  Make([](TXLSheet& s) {
    s.SetDefSize(sRows, 15);
    Put(s, 1, 1, XLCIntegerClass)->SetFormat("0|s");
  });
  grid->SetCurCell(1, 1);
  grid->SetEditMode(1);
  TXLEdit* host = grid->Editor();
  TXLButton* button = host->Button();
  ASSERT_TRUE(button->isVisible());
  EXPECT_TRUE(host->rect().contains(button->geometry()));
  // Each half shows its dark lower edge: the lower half's is the host's last line.
  const QImage face = host->grab().toImage();
  const int x = button->geometry().center().x();
  const QColor edge(113, 111, 100);
  EXPECT_EQ(face.pixelColor(x, host->height() - 1), edge);
  EXPECT_EQ(face.pixelColor(x, button->height() / 2 - 1), edge);
}

TEST_F(GridView, FormulaInputTakesClickedCellNames) {
  Make([](TXLSheet& s) {
    TXLCell* f = Put(s, 0, 0, XLCFormulaClass);
    f->SetFormat("0|f");
  });
  Type("=");
  Click(Pane(), CellCentre(1, 1));
  EXPECT_EQ(Editor()->Text(), QStringLiteral("=B2"));
  Click(Pane(), CellCentre(2, 2));
  EXPECT_EQ(Editor()->Text(), QStringLiteral("=C3"));  // the next click replaces the name
  EXPECT_EQ(Cur(), (TPoint{0, 0}));
  Key(Qt::Key_Return);
  EXPECT_EQ(static_cast<TXLCFormula*>(sheet->FindCell(0, 0))->Formula(), "C3");
}

TEST_F(GridView, APickListOffersTheColumnsEarlierTextsAndCompletes) {
  Make([](TXLSheet& s) {
    Put(s, 0, 0, XLCStringClass)->SetAsString("banana");
    Put(s, 0, 1, XLCStringClass)->SetAsString("apple");
    Put(s, 0, 2, XLCStringClass)->SetAsString("banana");
    Put(s, 0, 4, XLCStringClass)->SetAsString("cherry");  // below: not offered
    Put(s, 0, 3, XLCStringClass);
  });
  grid->SetCurCell(0, 3);
  Type("b");
  auto* pick = dynamic_cast<TXLPickEdit*>(Editor());
  ASSERT_NE(pick, nullptr);
  ASSERT_EQ(pick->PickList()->count(), 2);
  EXPECT_EQ(pick->PickList()->itemText(0), QStringLiteral("apple"));
  EXPECT_EQ(pick->PickList()->itemText(1), QStringLiteral("banana"));
  QCoreApplication::processEvents();
  EXPECT_EQ(pick->PickList()->currentText(), QStringLiteral("banana"));
  EXPECT_EQ(pick->PickList()->lineEdit()->selectedText(), QStringLiteral("anana"));
  Key(Qt::Key_Return);
  EXPECT_EQ(sheet->GetAsString(0, 3), "banana");
}

TEST_F(GridView, AListCellKeepsItsPickWhenTypedTextNamesNoItemAndAnEmptyListHasNoArrow) {
  Make([](TXLSheet& s) {
    TXLCell* list = Put(s, 0, 0, XLCStringsClass);
    list->SetAsString("low\r\nhigh\r\nurgent");
    list->SetEditor(1);
    list->SetAsInteger(2);
    Put(s, 1, 0, XLCStringClass);  // a text cell with nothing above it to offer
  });
  grid->SetCurCell(0, 0);
  Type("zz");
  Key(Qt::Key_Return);
  EXPECT_EQ(sheet->FindCell(0, 0)->GetDisplayText(), "urgent");
  grid->SetCurCell(0, 0);
  Type("h");
  QCoreApplication::processEvents();
  Key(Qt::Key_Return);
  EXPECT_EQ(sheet->FindCell(0, 0)->GetDisplayText(), "high");

  grid->SetCurCell(1, 0);
  grid->SetEditMode(2);
  ASSERT_NE(dynamic_cast<TXLPickEdit*>(Editor()), nullptr);
  EXPECT_FALSE(grid->Editor()->Button()->isVisible());
}

TEST_F(GridView, AStoredValueBringsTheFormulasThatReadItUpToDate) {
  Make([](TXLSheet& s) {
    Put(s, 0, 0, XLCIntegerClass)->SetAsInteger(3);
    Put(s, 1, 0, XLCDoubleClass)->SetAsFloat(120.5);
    Put(s, 2, 0, XLCFormulaClass)->SetAsString("=A1*B1");
    Put(s, 3, 0, XLCFormulaClass)->SetAsString("=C1+1");
  });
  EXPECT_DOUBLE_EQ(sheet->FindCell(2, 0)->GetAsFloat(), 361.5);
  grid->SetCurCell(0, 0);
  Type("5");
  Key(Qt::Key_Return);
  EXPECT_EQ(sheet->FindCell(0, 0)->GetAsInteger(), 5);
  EXPECT_DOUBLE_EQ(sheet->FindCell(2, 0)->GetAsFloat(), 602.5);
  EXPECT_DOUBLE_EQ(sheet->FindCell(3, 0)->GetAsFloat(), 603.5);
  EXPECT_EQ(sheet->FindCell(2, 0)->GetAsString(), "=A1*B1");
}

TEST_F(GridView, TheCalendarPicksADateThatIsStoredInTheCellsFieldOrder) {
  Make([](TXLSheet& s) {
    TXLCell* d = Put(s, 0, 0, XLCDateTimeClass);
    d->SetFormat("DD/MM/YYYY|c");
    d->SetAsDateTime(EncodeDate(2024, 3, 5));
  });
  grid->SetEditMode(1);
  auto* date = dynamic_cast<TXLDateTimeEdit*>(Editor());
  ASSERT_NE(date, nullptr);
  TXLButton* button = grid->Editor()->Button();
  ASSERT_TRUE(button->isVisible());
  Click(button, button->rect().center());
  ASSERT_TRUE(date->PopupPanel()->IsOpen());
  TGSCalendar* calendar = date->Calendar();
  EXPECT_EQ(calendar->Date(), EncodeDate(2024, 3, 5));
  const QRect day = calendar->DayRect(EncodeDate(2024, 3, 20));
  ASSERT_FALSE(day.isEmpty());
  Click(calendar, day.center());
  QCoreApplication::processEvents();
  EXPECT_FALSE(date->PopupPanel()->IsOpen());
  EXPECT_EQ(date->Text(), QStringLiteral("20-03-2024"));
  grid->setFocus();
  EXPECT_TRUE(grid->SetCurCell(1, 0));
  EXPECT_EQ(sheet->FindCell(0, 0)->GetAsDateTime(), EncodeDate(2024, 3, 20));
}

TEST_F(GridView, TextThatIsNoDateIsShownAndKeepsTheEditor) {
  Make([](TXLSheet& s) {
    TXLCell* d = Put(s, 0, 0, XLCDateTimeClass);
    d->SetAsDateTime(EncodeDate(2024, 3, 5));
  });
  ServiceCapture capture;
  Type("31/02");
  Key(Qt::Key_Down);
  ASSERT_EQ(capture.prompts.size(), 1u);
  EXPECT_EQ(capture.prompts[0].text, Utf8ToCp936("“31/02”不是有效的日期，请重新输入。"));
  EXPECT_EQ(Cur(), (TPoint{0, 0}));
  EXPECT_TRUE(grid->Editor()->isVisible());
  EXPECT_EQ(Editor()->Text(), QStringLiteral("31/02"));
  EXPECT_EQ(sheet->FindCell(0, 0)->GetAsDateTime(), EncodeDate(2024, 3, 5));
}

TEST(EditHost, OnlyAGridCanOwnIt) {
  ViewApp();
  QWidget owner;
  EXPECT_THROW(TXLEdit edit(&owner), EXLGridError);
}

TEST(Calendar, KeysMoveTheDateWithinTheMonth) {
  ViewApp();
  TGSCalendar calendar;
  calendar.SetDate(EncodeDate(2024, 2, 10));
  TDateTime changed = 0;
  calendar.OnChange = [&] { changed = calendar.Date(); };
  QTest::keyClick(&calendar, Qt::Key_End);
  EXPECT_EQ(changed, EncodeDate(2024, 2, 29));
  QTest::keyClick(&calendar, Qt::Key_Home);
  EXPECT_EQ(calendar.Date(), EncodeDate(2024, 2, 1));
  QTest::keyClick(&calendar, Qt::Key_Up);
  EXPECT_EQ(calendar.Date(), EncodeDate(2024, 1, 25));
  QTest::keyClick(&calendar, Qt::Key_PageDown);
  EXPECT_EQ(calendar.Date(), EncodeDate(2024, 2, 25));
}

TEST_F(GridView, TypingFollowsTheCellsEditMask) {
  Make([](TXLSheet& s) {
    TXLCell* phone = Put(s, 0, 0, XLCStringClass);
    phone->SetEditor(2);
    phone->SetFormat("000-00;1;_");
    TXLCell* code = Put(s, 0, 1, XLCStringClass);
    code->SetEditor(2);
    code->SetFormat(">LL-00;0;*");
  });
  Type("12x345");  // the letter has no place in digits; the literal is stepped over
  ASSERT_NE(dynamic_cast<TXLMaskEdit*>(Editor()), nullptr);
  EXPECT_EQ(Editor()->Text(), QStringLiteral("123-45"));
  Key(Qt::Key_Backspace);
  Key(Qt::Key_Backspace);
  EXPECT_EQ(Editor()->Text(), QStringLiteral("123-__"));
  Type("9");
  Key(Qt::Key_Return);
  EXPECT_EQ(sheet->GetAsString(0, 0), "123-9 ");  // literals kept, blanks as spaces
  ASSERT_EQ(Cur(), (TPoint{0, 1}));
  Type("a1b-7");  // upper-cased letters; the digit cannot stand in a letter's place
  EXPECT_EQ(Editor()->Text(), QStringLiteral("AB-7*"));
  Key(Qt::Key_Return);
  EXPECT_EQ(sheet->GetAsString(0, 1), "AB7");  // only what was typed
}

TEST(Calendar, HoldingTheTitleChoosesAMonthFromTheMonthList) {
  ViewApp();
  TGSCalendar calendar;
  calendar.move(300, 300);
  calendar.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&calendar));
  calendar.SetDate(EncodeDate(2024, 3, 5) + 0.5);
  int clicks = 0;
  calendar.OnClick = [&] { ++clicks; };
  const QPoint title(calendar.width() / 2, 6);
  ASSERT_EQ(calendar.ZoneAt(title), 0);
  auto rowPoint = [&](int row) {
    TGSMonthList* list = calendar.MonthList();
    return calendar.mapFromGlobal(list->mapToGlobal(QPoint(list->width() / 2, 1 + row * list->RowHeight() + 2)));
  };

  // With days on show the calendar turns to the month released on; the date stays.
  QTest::mousePress(&calendar, Qt::LeftButton, {}, title);
  ASSERT_NE(calendar.MonthList(), nullptr);
  EXPECT_EQ(calendar.MonthList()->Centre(), EncodeDate(2024, 3, 1));
  QTest::mouseMove(&calendar, rowPoint(5));
  EXPECT_EQ(calendar.MonthList()->Hot(), EncodeDate(2024, 5, 1));
  QTest::mouseRelease(&calendar, Qt::LeftButton, {}, rowPoint(5));
  EXPECT_EQ(calendar.MonthList(), nullptr);
  EXPECT_FALSE(calendar.DayRect(EncodeDate(2024, 5, 31)).isEmpty());
  EXPECT_EQ(calendar.Date(), EncodeDate(2024, 3, 5) + 0.5);
  EXPECT_EQ(clicks, 0);

  // A pointer far above the list scrolls it back; a release outside it chooses nothing.
  QTest::mousePress(&calendar, Qt::LeftButton, {}, title);
  const QPoint above = calendar.mapFromGlobal(calendar.MonthList()->mapToGlobal(QPoint(10, -80)));
  QTest::mouseMove(&calendar, above);
  QTRY_VERIFY(calendar.MonthList()->Centre() < EncodeDate(2024, 1, 1));
  EXPECT_EQ(calendar.MonthList()->Hot(), 0);
  QTest::mouseRelease(&calendar, Qt::LeftButton, {}, above);
  EXPECT_FALSE(calendar.DayRect(EncodeDate(2024, 5, 31)).isEmpty());

  // Without days the chosen month becomes the date, keeping the time of day.
  calendar.SetStyles(TGSCalendarStyles(1 << csYear | 1 << csMonth));
  QTest::mousePress(&calendar, Qt::LeftButton, {}, QPoint(calendar.width() / 2, 6));
  QTest::mouseMove(&calendar, rowPoint(0));
  QTest::mouseRelease(&calendar, Qt::LeftButton, {}, rowPoint(0));
  EXPECT_EQ(calendar.Date(), EncodeDate(2024, 2, 1) + 0.5);
  EXPECT_EQ(clicks, 1);
}
