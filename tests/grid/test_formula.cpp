// The formula language and formula cells: values, exact errors with their positions, the
// circular-reference guard and hostile formula texts.
#include <gtest/gtest.h>

#include <string>

#include "core/FloatFormat.h"
#include "grid/XLCalc.h"
#include "grid/XLCells.h"
#include "grid/XLManager.h"
#include "grid/XLSections.h"
#include "grid/XLSheet.h"

namespace {

enum class Err { None, Syntax, Unknown, ZeroDivide, Variant, Convert };

struct Case {
  const char* text;
  TXLVariant value;
  Err err = Err::None;
  const char* message = "";
  int32_t position = -1;
};

Case Ok(const char* text, TXLVariant v) { return Case{text, std::move(v)}; }
Case Fails(const char* text, Err err, const char* message = "", int32_t position = -1) {
  return Case{text, {}, err, message, position};
}

// Sets the locale's decimal separator for one scope.
struct DecimalSeparator {
  explicit DecimalSeparator(char c) : saved_(DefaultFormatSettings().DecimalSeparator) {
    DefaultFormatSettings().DecimalSeparator = c;
  }
  ~DecimalSeparator() { DefaultFormatSettings().DecimalSeparator = saved_; }
  char saved_;
};

// A sheet with a function ARGS (its argument count), FIRST (its first argument), a global
// function NOTHING that answers Empty and a variable X (10); A1 holds the integer 3 and B1
// the double 0.5.
struct FormulaSheet : TXLSheet {
  FormulaSheet() {
    static const bool registered = [] {
      XLManager().RegisterFunction("Nothing", [](TXLSheetHooks*, const TXLVariant&, TXLVariant& r) { r.Clear(); });
      return true;
    }();
    (void)registered;
    OnFunction = [](TXLSheetHooks*, const AnsiString& name, const TXLVariant& params, TXLVariant& result) {
      if (name == "ARGS") result = TXLVariant(static_cast<int32_t>(params.ItemCount()));
      if (name == "FIRST") result = params.Item(0);
    };
    OnVariable = [](TXLSheetHooks*, const AnsiString& name, TXLVariant& result) {
      if (name == "X") result = TXLVariant(10);
    };
    Section(sClient)->PutCell(TPoint{0, 0}, &XLCIntegerClass)->SetAsInteger(3);
    Section(sClient)->PutCell(TPoint{1, 0}, &XLCDoubleClass)->SetAsFloat(0.5);
  }
};

void Check(TXLSheetHooks& sheet, const Case& c) {
  SCOPED_TRACE(std::string("formula: ") + c.text);
  TXLCalculator calc(&sheet);
  TXLVariant result;
  Err got = Err::None;
  AnsiString message;
  int32_t position = -1;
  try {
    calc.Evaluate(c.text, result);
  } catch (const EXLSyntax& e) {
    got = Err::Syntax, message = e.Message(), position = e.Position();
  } catch (const EXLUnknown& e) {
    got = Err::Unknown, message = e.Message(), position = e.Position();
  } catch (const EZeroDivide& e) {
    got = Err::ZeroDivide;
  } catch (const EXLVariantError& e) {
    got = Err::Variant;
  } catch (const EConvertError& e) {
    got = Err::Convert;
  }
  EXPECT_EQ(got, c.err);
  if (c.err == Err::None) {
    EXPECT_TRUE(result == c.value) << "type " << int(result.VarType()) << " value " << result.AsString();
  } else if (c.position >= 0) {
    EXPECT_EQ(message, c.message);
    EXPECT_EQ(position, c.position);
  }
}

template <class T>
T* Put(TXLSheet& sheet, const TXLCellClass& cls, int32_t col, int32_t row) {
  return static_cast<T*>(sheet.Section(sClient)->PutCell(TPoint{col, row}, &cls));
}

}  // namespace

TEST(Formula, OperatorLevelsLiteralsAndNames) {
  FormulaSheet sheet;
  const TXLVariant True(true), False(false);
  const Case cases[] = {
      // relation
      Ok("2>=3", False), Ok("3>=2", True), Ok("1<2", True), Ok("2>1", True), Ok("2<=2", True),
      Ok("2<>2", False), Ok("1+2=3", True), Ok("'b'>'a'", True),
      // simple: left to right
      Ok("10-2-3", 5.0), Ok("1 OR 2", 1 | 2), Ok("5 XOR 1", 4), Ok("'a'+'b'", "ab"),
      // term
      Ok("2+3*4", 14.0), Ok("7/2", 3.5), Ok("7 DIV 2", 3), Ok("7 MOD 2", 1), Ok("1 SHL 4", 16),
      Ok("16 shr 2", 4), Ok("1 AND 3", 1), Ok("(2+3)*4", 20.0),
      // unary binds tighter than any operator
      Ok("-2*3", -6.0), Ok("+2", 2.0), Ok("NOT 0", -1), Ok("NOT 1 AND 3", 2), Ok("2*-3", -6.0), Ok("--2", 2.0),
      // literals
      Ok("1.5E2", 150.0), Ok("2e-1", 0.2), Ok("12.", 12.0), Ok("'it''s'", "it's"), Ok("'a'#13#10'b'", "a\r\nb"),
      Ok("^M", "\r"), Ok("#65^j'b'", "A\nb"), Ok("'a b'", "a b"), Ok("$A$1", "$A$1"), Ok("A1:B2", "A1:B2"),
      // names: events, manager built-ins, cells
      Ok("X*2", 20.0), Ok("ARGS(1,2)", 2), Ok("args(FIRST(4), 5, 6)", 3), Ok("A1*2+B1", 6.5), Ok("Integer(2.5)", 2),
      Ok("integer(3.5)", 4), Ok("String(1+1)", "2"), Ok("Boolean(1)", True), Ok("Double('1.5')", 1.5),
      Ok("Currency(1.23456)", TXLVariant::FromCurrency(12346)), Ok("DateTime(2)", TXLVariant::FromDate(2)),
      // an Empty operand counts as 0
      Ok("NOTHING(1)", TXLVariant()), Ok("NOTHING(1)+1", 1.0), Ok("-Nothing(1)", 0), Ok("NOTHING(1)<1", True),
      Fails("NOTHING(1)+'a'", Err::Variant),
      // errors and where they were found
      Fails("1+", Err::Syntax, "Syntax Error", 2),
      Fails("(1+2", Err::Syntax, "Syntax Error: Missing ')'", 4),
      Fails("1 2", Err::Syntax, "Syntax Error: Unexpected End", 3),
      Fails("1+2&3", Err::Syntax, "Syntax Error", 3),
      Fails("1;2", Err::Syntax, "Syntax Error: Unexpected End", 1),
      Fails("1E+", Err::Syntax, "Syntax Error", 3),
      Fails("ARGS()", Err::Syntax, "Syntax Error", 6),
      Fails("ARGS(1", Err::Syntax, "Syntax Error: Missing ')'", 6),
      Fails("ARGS(1,2,3,4,5,6,7,8,9,10,11)", Err::Syntax, "Syntax Error: Too Many Parameters", 26),
      Fails("'abc", Err::Syntax, "Syntax Error: Unterminated String", 4),
      Fails("'a\tb'", Err::Syntax, "Syntax Error: Unterminated String", 2),
      Fails("#70000", Err::Syntax, "Syntax Error: Invalid String Constant", 6),
      Fails("'a'#", Err::Syntax, "Syntax Error: Invalid String Constant", 4),
      Fails("^1", Err::Syntax, "Syntax Error: Invalid Character Constant", 1),
      Fails("Y + 1", Err::Unknown, "Unknown Identifier: Y", 3),
      Fails("2*NoSuch(1)", Err::Unknown, "Unknown Identifier: NoSuch()", 11),
      Fails("Z9999999", Err::Unknown, "Unknown Identifier: Z9999999", 8),
      Fails("1/0", Err::ZeroDivide), Fails("1 DIV 0", Err::ZeroDivide), Fails("1 MOD 0", Err::ZeroDivide),
      Fails("'a'*2", Err::Variant), Fails("1E999", Err::Convert),
      // an error the text reaches first wins over a later one
      Fails("1/0 'a", Err::Syntax, "Syntax Error: Unterminated String", 6),
      Fails("1/0+'a", Err::ZeroDivide),
  };
  for (const Case& c : cases) Check(sheet, c);
}

TEST(Formula, ListSeparatorFollowsTheDecimalSeparator) {
  FormulaSheet sheet;
  {
    DecimalSeparator comma(',');
    for (const Case& c : {Ok("ARGS(1;2)", 2), Ok("FIRST(1,5)", 1.5), Ok("ARGS(1,5)", 1),
                          Fails("ARGS(1,5,6)", Err::Syntax, "Syntax Error: Missing ')'", 8)})
      Check(sheet, c);
  }
  Check(sheet, Fails("ARGS(1;2)", Err::Syntax, "Syntax Error: Missing ')'", 6));
}

TEST(Formula, EmptyTextAndCheckOnly) {
  FormulaSheet sheet;
  TXLCalculator calc(&sheet);
  TXLVariant result(7);
  calc.Evaluate("   ", result);
  EXPECT_TRUE(result == TXLVariant(7));
  // Operators are read, not applied; names are still looked up.
  calc.CheckOnly = true;
  calc.Evaluate("2*3+1/0", result);
  EXPECT_TRUE(result == TXLVariant(2.0));
  calc.Evaluate("", result);
  EXPECT_TRUE(result.IsEmpty());
  EXPECT_THROW(calc.Evaluate("1+Y", result), EXLUnknown);
}

TEST(Formula, HostileTextsGiveErrorsNotCrashes) {
  FormulaSheet sheet;
  TXLCalculator calc(&sheet);
  TXLVariant result;
  const std::string deepest = std::string(TXLCalculator::MaxDepth, '(') + "1" + std::string(TXLCalculator::MaxDepth, ')');
  calc.Evaluate(deepest, result);
  EXPECT_TRUE(result == TXLVariant(1.0));
  std::string calls;
  for (int i = 0; i <= TXLCalculator::MaxDepth; ++i) calls += "FIRST(";
  calls += "1" + std::string(TXLCalculator::MaxDepth + 1, ')');
  for (const std::string& text : {std::string(100000, '('), "(" + deepest + ")", std::string(100000, '-') + "1", calls}) {
    try {
      calc.Evaluate(text, result);
      ADD_FAILURE() << "no error for nesting of " << text.size();
    } catch (const EXLSyntax& e) {
      EXPECT_EQ(e.Message(), "Syntax Error");
    }
  }
  // A long flat formula is no nesting at all.
  std::string sum = "0";
  for (int i = 0; i < 50000; ++i) sum += "+1";
  calc.Evaluate(sum, result);
  EXPECT_TRUE(result == TXLVariant(50000.0));

  auto* f = Put<TXLCFormula>(sheet, XLCFormulaClass, 2, 0);
  f->SetAsString("=" + std::string(100000, '('));
  EXPECT_EQ(f->GetText(), "#VALUE!");
}

TEST(Formula, CellsShowErrorValuesAndStayCurrent) {
  TXLSheet sheet;
  sheet.SetCount(sRows, 20);
  auto* a1 = Put<TXLCFormula>(sheet, XLCFormulaClass, 0, 0);
  auto* b1 = Put<TXLCFormula>(sheet, XLCFormulaClass, 1, 0);
  auto* c1 = Put<TXLCInteger>(sheet, XLCIntegerClass, 2, 0);
  c1->SetAsInteger(4);

  b1->SetAsString("=C1*2");
  a1->SetAsString("=B1+1");
  EXPECT_EQ(a1->GetText(), "9");
  // A formula read by another is evaluated again, so the chain follows C1.
  c1->SetAsInteger(5);
  a1->Recalc();
  EXPECT_EQ(a1->GetText(), "11");
  EXPECT_EQ(b1->GetText(), "10");

  const std::pair<const char*, const char*> errors[] = {
      {"=A1+1", "#CIRCULAR!"}, {"=1/0", "#DIV/0!"}, {"=Unregistered(1)", "#NAME!"},
      {"='x'*2", "#VALUE!"},   {"='x'", "#VALUE!"},  {"=1+", "#VALUE!"}, {"=A99", "#NAME!"},  // outside the sheet
      {"=D1", "0"}, {"=D1+C1", "5"}};  // D1 is a blank cell
  for (const auto& [text, shown] : errors) {
    a1->SetAsString(text);
    EXPECT_EQ(a1->GetText(), shown) << text;
  }
  // An error reaches the formulas that read the cell; the stored number stays the last one.
  a1->SetAsString("=1/0");
  b1->SetAsString("=A1*2");
  EXPECT_EQ(b1->GetText(), "#DIV/0!");
  EXPECT_DOUBLE_EQ(b1->GetAsFloat(), 10);

  // Mutual references.
  a1->SetAsString("=B1");
  b1->SetAsString("=A1+1");
  a1->Recalc();
  EXPECT_EQ(a1->GetText(), "#CIRCULAR!");
  EXPECT_EQ(b1->GetText(), "#CIRCULAR!");
  EXPECT_EQ(b1->ErrorKind(), TXLCFormula::ekCircular);
}

TEST(Formula, LongChainsAndLongCirclesNeedNoDeepStack) {
  constexpr int32_t kRows = 3000;
  TXLSheet sheet;
  sheet.SetCount(sRows, kRows);
  // A(r) = A(r+1) + 1, the last row 0: the first row reads the whole column.
  std::vector<TXLCFormula*> cells;
  for (int32_t r = 0; r < kRows; ++r) cells.push_back(Put<TXLCFormula>(sheet, XLCFormulaClass, 0, r));
  cells.back()->SetAsString("=0");
  for (int32_t r = 0; r < kRows - 1; ++r) cells[r]->SetAsString("=" + CellName(0, r + 1) + "+1");
  cells[0]->Recalc();
  EXPECT_EQ(cells[0]->GetText(), std::to_string(kRows - 1));
  EXPECT_EQ(cells[kRows / 2]->GetText(), std::to_string(kRows - 1 - kRows / 2));

  // Closing the column into a circle makes every cell on it circular.
  cells.back()->SetAsString("=A1");
  cells[0]->Recalc();
  EXPECT_EQ(cells[0]->GetText(), "#CIRCULAR!");
  cells[kRows / 2]->Recalc();
  EXPECT_EQ(cells[kRows / 2]->GetText(), "#CIRCULAR!");
}

TEST(Formula, ABatchEvaluatesEachCellOnce) {
  TXLSheet sheet;
  int ticks = 0;
  sheet.OnFunction = [&](TXLSheetHooks*, const AnsiString& name, const TXLVariant&, TXLVariant& result) {
    if (name == "TICK") result = TXLVariant(++ticks);
  };
  auto* a1 = Put<TXLCFormula>(sheet, XLCFormulaClass, 0, 0);
  a1->SetAsString("=TICK(0)");
  std::vector<TXLCFormula*> readers;
  for (int32_t r = 1; r < 5; ++r) {
    readers.push_back(Put<TXLCFormula>(sheet, XLCFormulaClass, 1, r));
    readers.back()->SetAsString("=A1");
  }
  ticks = 0;
  for (TXLCFormula* f : readers) f->Recalc();
  EXPECT_EQ(ticks, 4);  // each evaluation reads A1 afresh
  {
    TXLRecalcBatch batch(sheet.Evaluation());
    for (TXLCFormula* f : readers) f->Recalc();
  }
  EXPECT_EQ(ticks, 5);
  EXPECT_EQ(readers.back()->GetText(), "5");
}
