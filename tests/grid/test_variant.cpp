// Checks the rows of grid/Variant.md.
#include "grid/Variant.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace {

TXLVariant I(int32_t v) { return TXLVariant(v); }
TXLVariant D(double v) { return TXLVariant(v); }
TXLVariant C(int64_t scaled) { return TXLVariant::FromCurrency(scaled); }
TXLVariant Dt(double v) { return TXLVariant::FromDate(v); }
TXLVariant B(bool v) { return TXLVariant(v); }
TXLVariant S(const char* v) { return TXLVariant(v); }
const TXLVariant E;

TFormatSettings Comma() {
  TFormatSettings fs;
  fs.DecimalSeparator = ',';
  fs.ThousandSeparator = '.';
  return fs;
}

}  // namespace

TEST(VariantConversions, FollowTheRuleTable) {
  struct Row {
    TXLVariant from;
    const char* asString;
    std::optional<double> asFloat;  // none: the conversion raises
    std::optional<int32_t> asInteger;
    bool asBoolean;
  };
  const std::vector<Row> rows = {
      {E, "", 0, 0, false},
      {I(-7), "-7", -7, -7, true},
      {D(2.5), "2.5", 2.5, 2, true},
      {D(3.5), "3.5", 3.5, 4, true},
      {D(-2.5), "-2.5", -2.5, -2, true},
      {D(0.1 + 0.2), "0.3", 0.1 + 0.2, 0, true},
      {C(12345), "1.2345", 1.2345, 1, true},
      {C(25000), "2.5", 2.5, 2, true},
      {C(35000), "3.5", 3.5, 4, true},
      {B(true), "True", -1, -1, true},
      {B(false), "False", 0, 0, false},
      {S(" 12.5 "), " 12.5 ", 12.5, 12, true},
      {S("$1F"), "$1F", std::nullopt, 31, true},  // hex is an integer text only
      {S("true"), "true", std::nullopt, std::nullopt, true},
      {S("0"), "0", 0, 0, false},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.asString);
    EXPECT_EQ(r.from.AsString(), r.asString);
    if (r.asFloat) {
      EXPECT_EQ(r.from.AsFloat(), *r.asFloat);
    } else {
      EXPECT_THROW(r.from.AsFloat(), EXLVariantError);
    }
    if (r.asInteger) {
      EXPECT_EQ(r.from.AsInteger(), *r.asInteger);
    } else {
      EXPECT_THROW(r.from.AsInteger(), EXLVariantError);
    }
    EXPECT_EQ(r.from.AsBoolean(), r.asBoolean);
  }
  EXPECT_EQ(D(1e20).AsString(), "1E20");
  EXPECT_EQ(D(0.5).AsCurrency(), 5000);
  EXPECT_EQ(D(1.23456).AsCurrency(), 12346);
  EXPECT_EQ(D(-1.23454).AsCurrency(), -12345);
  EXPECT_EQ(I(3).AsCurrency(), 30000);
  EXPECT_EQ(S("1,5").AsFloat(Comma()), 1.5);
  EXPECT_EQ(D(1.5).AsString(Comma()), "1,5");
  EXPECT_EQ(Dt(45000.5).AsString(), DateTimeToStr(45000.5));
  EXPECT_EQ(S("2024-03-05").AsDateTime(), EncodeDate(2024, 3, 5));
  EXPECT_EQ(S("45000.25").AsDateTime(), 45000.25);
}

TEST(VariantConversions, FailuresRaiseTheFrameworkTexts) {
  struct Bad {
    std::function<void()> call;
    const char* message;
  };
  const std::vector<Bad> bad = {
      {[] { S("abc").AsFloat(); }, "Could not convert variant of type (String) into type (Double)"},
      {[] { S("abc").AsInteger(); }, "Could not convert variant of type (String) into type (Integer)"},
      {[] { S("yes").AsBoolean(); }, "Could not convert variant of type (String) into type (Boolean)"},
      {[] { S("1.5.6").AsDateTime(); }, "Could not convert variant of type (String) into type (Date)"},
      {[] { S("1,5").AsFloat(); }, "Could not convert variant of type (String) into type (Double)"},
      {[] { D(3e9).AsInteger(); }, "Overflow while converting variant of type (Double) into type (Integer)"},
      {[] { D(1e300).AsCurrency(); }, "Overflow while converting variant of type (Double) into type (Currency)"},
      {[] { TXLVariant::FromArray({I(1)}).AsString(); },
       "Could not convert variant of type (Array Variant) into type (String)"},
  };
  for (const auto& b : bad) {
    try {
      b.call();
      ADD_FAILURE() << "no error for " << b.message;
    } catch (const EXLVariantError& e) {
      EXPECT_EQ(e.Message(), b.message);
    }
  }
}

TEST(VariantOperators, FollowTheRuleTable) {
  using Op = TXLVariant (*)(const TXLVariant&, const TXLVariant&);
  struct Row {
    const char* what;
    Op op;
    TXLVariant a, b, result;
  };
  const std::vector<Row> rows = {
      {"text + text concatenates", VarAdd, S("1"), S("2"), S("12")},
      {"text + number converts", VarAdd, S("1.5"), I(2), D(3.5)},
      {"number + text converts", VarAdd, I(2), S("3"), D(5)},
      {"empty takes the other's kind", VarAdd, E, S("x"), S("x")},
      {"empty is zero", VarAdd, E, I(4), I(4)},
      {"Boolean counts -1", VarAdd, B(true), I(3), I(2)},
      {"integer overflow widens", VarAdd, I(2147483647), I(1), D(2147483648.0)},
      {"integer times integer", VarMul, I(6), I(7), I(42)},
      {"double wins", VarSub, I(1), D(0.5), D(0.5)},
      {"currency stays currency", VarAdd, C(15000), I(1), C(25000)},
      {"currency product", VarMul, C(15000), C(20000), C(30000)},
      {"currency with double", VarAdd, C(10000), D(0.25), D(1.25)},
      {"date plus days", VarAdd, Dt(100), I(2), Dt(102)},
      {"date minus date", VarSub, Dt(100), Dt(98.5), D(1.5)},
      {"slash is real division", VarDiv, I(7), I(2), D(3.5)},
      {"DIV truncates", VarIntDiv, I(7), I(2), I(3)},
      {"DIV rounds operands half to even", VarIntDiv, D(7.5), D(2.5), I(4)},
      {"MOD keeps the dividend's sign", VarMod, I(-7), I(2), I(-1)},
      {"MOD", VarMod, I(7), I(2), I(1)},
      {"AND of numbers is bitwise", VarAnd, I(1), I(3), I(1)},
      {"XOR of numbers", VarXor, I(5), I(1), I(4)},
      {"OR of numbers", VarOr, I(4), I(1), I(5)},
      {"AND of Booleans is logical", VarAnd, B(true), B(false), B(false)},
      {"OR of Booleans", VarOr, B(true), B(false), B(true)},
      {"XOR of Booleans", VarXor, B(true), B(true), B(false)},
      {"Boolean with number is bitwise", VarAnd, B(true), I(6), I(6)},
      {"SHL", VarShl, I(1), I(4), I(16)},
      {"SHL count modulo 32", VarShl, I(1), I(33), I(2)},
      {"SHR shifts in zeros", VarShr, I(-1), I(28), I(15)},
      {"DIV overflow widens", VarIntDiv, I(INT32_MIN), I(-1), D(2147483648.0)},
  };
  for (const auto& r : rows) {
    const TXLVariant got = r.op(r.a, r.b);
    EXPECT_TRUE(got == r.result) << r.what << ": got " << got.AsString() << " type "
                                 << XLVarTypeName(got.VarType());
  }
  EXPECT_EQ(VarNeg(I(INT32_MIN)), D(2147483648.0));
  EXPECT_EQ(VarNeg(B(true)), I(1));
  EXPECT_EQ(VarNeg(S("2")), D(-2));
  EXPECT_EQ(VarNeg(C(5)), C(-5));
  EXPECT_EQ(VarNot(B(false)), B(true));
  EXPECT_EQ(VarNot(I(0)), I(-1));
}

TEST(VariantOperators, DivisionByZeroAndBadTextRaise) {
  EXPECT_THROW(VarDiv(I(1), I(0)), EZeroDivide);
  EXPECT_THROW(VarDiv(I(0), D(0)), EZeroDivide);
  EXPECT_THROW(VarIntDiv(I(1), E), EZeroDivide);
  EXPECT_THROW(VarMod(I(1), I(0)), EZeroDivide);
  EXPECT_THROW(VarAdd(S("abc"), I(1)), EXLVariantError);
  EXPECT_THROW(VarCompare(S("abc"), I(1)), EXLVariantError);
  EXPECT_THROW(VarMul(C(INT64_MAX), I(2)), EXLVariantError);
}

TEST(VariantOperators, ComparisonsFollowTheRuleTable) {
  struct Row {
    TXLVariant a, b;
    int expected;
  };
  const std::vector<Row> rows = {
      {I(3), I(2), 1},       {I(2), I(3), -1},   {D(2.0), I(2), 0},    {S("abc"), S("abd"), -1},
      {S("B"), S("a"), -1},  {S("10"), I(9), 1}, {S("x"), E, 1},       {E, E, 0},
      {B(true), B(false), -1}, {C(10000), I(1), 0}, {Dt(2), D(1.5), 1}, {E, I(0), 0},
  };
  for (const auto& r : rows)
    EXPECT_EQ(VarCompare(r.a, r.b), r.expected) << r.a.AsString() << " vs " << r.b.AsString();
}
