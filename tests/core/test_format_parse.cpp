#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "ForeignLocale.h"
#include "core/DateParse.h"
#include "core/EditMask.h"
#include "core/Exception.h"
#include "core/FloatFormat.h"

namespace {

TFormatSettings Point() {
  TFormatSettings fs;
  fs.DecimalSeparator = '.';
  fs.ThousandSeparator = ',';
  fs.DateSeparator = '-';
  fs.TimeSeparator = ':';
  fs.ShortDateFormat = "yyyy-MM-dd";
  fs.TimeAMString = "AM";
  fs.TimePMString = "PM";
  return fs;
}

TFormatSettings Comma() {
  TFormatSettings fs = Point();
  fs.DecimalSeparator = ',';
  fs.ThousandSeparator = '.';
  return fs;
}

}  // namespace

TEST(FormatFloat, MasksUnderBothSeparatorConventions) {
  struct Row {
    const char* mask;
    double value;
    const char* point;
    const char* comma;
  };
  const std::vector<Row> rows = {
      {"0", 2.5, "3", "3"},  // half away from zero
      {"0", -2.5, "-3", "-3"},
      {"0.00", 1234.5, "1234.50", "1234,50"},
      {"0.00", 0.125, "0.13", "0,13"},
      {"#,##0", 1234567, "1,234,567", "1.234.567"},
      {"#,##0", -1234567, "-1,234,567", "-1.234.567"},
      {"#,##0.00", 1234.5, "1,234.50", "1.234,50"},
      {"#,##0.00", 0.5, "0.50", "0,50"},
      {"0.##", 1, "1", "1"},
      {"0.##", 1.5, "1.5", "1,5"},
      {"0.##", 1.256, "1.26", "1,26"},
      {"#", 0, "", ""},
      {"#.##", 0.5, ".5", ",5"},
      {"000", 7, "007", "007"},
      {"0", 1e10, "10000000000", "10000000000"},
      {"$# ##0", 1234, "$1 234", "$1 234"},
      {"$# ##0.00", 1234.567, "$1 234.57", "$1 234,57"},
      {"0.00%", 12.5, "12.50%", "12,50%"},
      {"\"Total: \"0", 5, "Total: 5", "Total: 5"},
      {"'#'0", 5, "#5", "#5"},
      {"0.00E+00", 12345, "1.23E+04", "1,23E+04"},
      {"0.0E-0", 0.00012, "1.2E-4", "1,2E-4"},
      {"0.00E+00", -0.5, "-5.00E-01", "-5,00E-01"},
      {"0E+00 0#", 5, "5E+00 0#", "5E+00 0#"},  // placeholders end at the exponent
      {"#.###E-0", 0, "0E0", "0E0"},           // a mantissa keeps its leading digit
      {"#.###E-0", 1500, "1.5E3", "1,5E3"},
      {"0.00;(0.00);zero", -5, "(5.00)", "(5,00)"},
      {"0.00;(0.00);zero", 0, "zero", "zero"},
      {"0.00;(0.00);zero", 0.001, "zero", "zero"},
      {"0;;z", -3, "-3", "-3"},
      {"0.00", -0.001, "0.00", "0,00"},  // no sign on a value that rounds to zero
      {"", 1.5, "1.5", "1,5"},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(FormatFloat(r.mask, r.value, Point()), r.point) << r.mask << " " << r.value;
    EXPECT_EQ(FormatFloat(r.mask, r.value, Comma()), r.comma) << r.mask << " " << r.value;
  }
}

TEST(FloatToStr, GeneralFormWithFifteenDigits) {
  struct Row {
    double value;
    const char* text;
  };
  const std::vector<Row> rows = {
      {0, "0"},
      {1.5, "1.5"},
      {-0.25, "-0.25"},
      {1.0 / 3, "0.333333333333333"},
      {2.0 / 3, "0.666666666666667"},
      {0.1 + 0.2, "0.3"},
      {123456789012345.0, "123456789012345"},
      {1e15, "1E15"},
      {1e20, "1E20"},
      {0.0001, "0.0001"},
      {0.00001, "1E-5"},
      {-1.5e-7, "-1.5E-7"},
      {100, "100"},
  };
  for (const auto& r : rows) EXPECT_EQ(FloatToStr(r.value, Point()), r.text) << r.value;
  EXPECT_EQ(FloatToStr(-1.25, Comma()), "-1,25");
  EXPECT_EQ(CurrToStr(12345, Point()), "1.2345");
  EXPECT_EQ(CurrToStr(-10000, Point()), "-1");
  EXPECT_EQ(CurrToStr(15000, Comma()), "1,5");
  EXPECT_EQ(CurrToStr(INT64_MIN, Point()), "-922337203685477.5808");
}

// The program's own separators decide, never the C library's locale: under a locale with
// a decimal comma the texts are the same as under C.
TEST(FormatFloat, TheCLibrarysLocaleChangesNothing) {
  for (const char* name : kCommaLocales) {
    SCOPED_TRACE(name);
    ForeignLocale locale(name);
    ASSERT_TRUE(locale.Active()) << name << " is not installed (scripts/install-deps)";
    EXPECT_EQ(FormatFloat("0", 3, Point()), "3");
    EXPECT_EQ(FormatFloat("0.00", 120.5, Point()), "120.50");
    EXPECT_EQ(FormatFloat("0.00", 361.5, Point()), "361.50");
    EXPECT_EQ(FormatFloat("#,##0.00", 1234567.891, Point()), "1,234,567.89");
    EXPECT_EQ(FormatFloat("0.00E+00", 12345, Point()), "1.23E+04");
    EXPECT_EQ(FormatFloat("0.00", 1234.5, Comma()), "1234,50");
    EXPECT_EQ(FloatToStr(2.0 / 3, Point()), "0.666666666666667");
    EXPECT_EQ(FloatToStr(-1.5e-7, Point()), "-1.5E-7");
    EXPECT_EQ(FloatToStr(361.5, Point()), "361.5");
    EXPECT_DOUBLE_EQ(StrToFloat("120.5", Point()), 120.5);
    EXPECT_DOUBLE_EQ(StrToFloat("1,5", Comma()), 1.5);
  }
}

TEST(StrToFloat, AcceptsTheLocaleFormOnly) {
  struct Good {
    const char* text;
    double value;
  };
  for (const auto& g : std::vector<Good>{{" 1.5 ", 1.5}, {"-2e3", -2000}, {".5", 0.5}, {"1.", 1},
                                        {"+7", 7}, {"1E-2", 0.01}, {"1e-999", 0}})
    EXPECT_EQ(StrToFloat(g.text, Point()), g.value) << g.text;
  EXPECT_EQ(StrToFloat("1,5", Comma()), 1.5);
  for (const char* bad : {"", " ", "1,5", "e5", "1e", "1e+", "1.2.3", "--1", "1 000", "1e999", "nan", "inf", "0x10"}) {
    double v;
    EXPECT_FALSE(TryStrToFloat(bad, v, Point())) << bad;
  }
  EXPECT_FALSE([] {
    double v;
    return TryStrToFloat("1.5", v, Comma());
  }());
  try {
    StrToFloat("abc", Point());
    ADD_FAILURE();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "'abc' is not a valid floating point value");
  }
}

TEST(StrToDateTime, ReadsNumbersInTheShortDateOrder) {
  TFormatSettings ymd = Point();
  EXPECT_EQ(StrToDate("2024-03-05", ymd), EncodeDate(2024, 3, 5));
  EXPECT_EQ(StrToDate(" 2024-3-5 ", ymd), EncodeDate(2024, 3, 5));
  EXPECT_EQ(StrToDate("24-03-05", ymd), EncodeDate(2024, 3, 5));  // century window
  int y, m, d;
  DecodeDate(Date(), y, m, d);
  EXPECT_EQ(StrToDate("3-5", ymd), EncodeDate(y, 3, 5));

  TFormatSettings dmy = Point();
  dmy.ShortDateFormat = "dd/mm/yyyy";
  dmy.DateSeparator = '/';
  EXPECT_EQ(StrToDate("05/03/2024", dmy), EncodeDate(2024, 3, 5));
  TFormatSettings mdy = dmy;
  mdy.ShortDateFormat = "m/d/yyyy";
  EXPECT_EQ(StrToDate("3/5/2024", mdy), EncodeDate(2024, 3, 5));

  EXPECT_EQ(StrToDateTime("2024-03-05 13:45:10", ymd), EncodeDate(2024, 3, 5) + EncodeTime(13, 45, 10, 0));
  EXPECT_EQ(StrToDateTime("13:45", ymd), EncodeTime(13, 45, 0, 0));
  EXPECT_DOUBLE_EQ(StrToDateTime("1899-12-29 06:00", ymd), -1.25);

  for (const char* bad : {"2024-02-30", "2024-13-01", "2024-00-10", "abc", "2024-03-05 x", "2024--05",
                          "9999999999-1-1"}) {
    TDateTime v;
    EXPECT_FALSE(TryStrToDateTime(bad, v, ymd)) << bad;
  }
  try {
    StrToDate("2024-02-30", ymd);
    ADD_FAILURE();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "'2024-02-30' is not a valid date");
  }
  EXPECT_THROW(StrToDateTime("x", ymd), EConvertError);
}

TEST(StrToDateTime, TimesWithSecondsMillisecondsAndMarks) {
  TFormatSettings fs = Point();
  EXPECT_EQ(StrToTime("13:45", fs), EncodeTime(13, 45, 0, 0));
  EXPECT_EQ(StrToTime("1:05:07.250", fs), EncodeTime(1, 5, 7, 250));
  EXPECT_EQ(StrToTime("1:05:07 pm", fs), EncodeTime(13, 5, 7, 0));
  EXPECT_EQ(StrToTime("12:00 AM", fs), 0);
  EXPECT_EQ(StrToTime("10 PM", fs), EncodeTime(22, 0, 0, 0));
  fs.TimePMString = Cp936("下午");
  EXPECT_EQ(StrToTime(Cp936("下午 3:00"), fs), EncodeTime(15, 0, 0, 0));
  for (const char* bad : {"13:00 PM", "25:00", "10", "1:60", "1:2:3:4", ":30"}) {
    TDateTime v;
    EXPECT_FALSE(TryStrToTime(bad, v, fs)) << bad;
  }
}

TEST(EditMask, FormatsTextIntoTheMask) {
  TFormatSettings fs = Point();
  struct Row {
    const char* mask;
    const char* text;
    const char* shown;
  };
  const std::vector<Row> rows = {
      {"000-0000;0;_", "5551234", "555-1234"},
      {"000-0000;1;_", "555-1234", "555-1234"},
      {"000-0000", "555-1234", "555-1234"},  // literals saved by default
      {">LL-00;0", "ab12", "AB-12"},
      {">L<ll;0", "aBC", "Abc"},
      {">L<>ll;0", "aBC", "ABC"},
      {"(999) 000;0", "12", "(12 )    "},
      {"!(999) 000;0", "12", "(   )  12"},
      {"\\A00;0", "12", "A12"},
      {"00:00;0", "1230", "12:30"},
      {"00/00;0", "0503", "05-03"},
      {"00_00;0", "1234", "12 34"},
      {"", "free text", ""},
  };
  for (const auto& r : rows) EXPECT_EQ(FormatMaskText(r.mask, r.text, fs), r.shown) << r.mask;

  EXPECT_TRUE(MaskCharAccepted('0', '7'));
  EXPECT_FALSE(MaskCharAccepted('0', 'x'));
  EXPECT_TRUE(MaskCharAccepted('#', '-'));
  EXPECT_FALSE(MaskCharAccepted('L', '1'));
  EXPECT_TRUE(MaskCharAccepted('A', '1'));
}
