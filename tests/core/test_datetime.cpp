#include <gtest/gtest.h>

#include "core/DateTime.h"
#include "core/Exception.h"

namespace {

TEST(DateTime, EncodesDaysSince18991230) {
  EXPECT_EQ(EncodeDate(1899, 12, 30), 0.0);
  EXPECT_EQ(EncodeDate(1900, 1, 1), 2.0);
  EXPECT_EQ(EncodeDate(2000, 1, 1), 36526.0);
  EXPECT_EQ(EncodeDate(1800, 1, 1), -36522.0);
  EXPECT_THROW(EncodeDate(2001, 2, 29), EConvertError);
  EXPECT_NO_THROW(EncodeDate(2000, 2, 29));
  EXPECT_THROW(EncodeTime(24, 0, 0, 0), EConvertError);
  int y, m, d;
  DecodeDate(36526.75, y, m, d);
  EXPECT_EQ(y * 10000 + m * 100 + d, 20000101);
  DecodeDate(EncodeDate(2024, 2, 29), y, m, d);
  EXPECT_EQ(y * 10000 + m * 100 + d, 20240229);
  EXPECT_EQ(DayOfWeek(0), 7);  // 1899-12-30 was a Saturday
  EXPECT_EQ(DayOfWeek(EncodeDate(2026, 12, 6)), 1);
}

TEST(DateTime, NegativeValuesKeepAPositiveTimeOfDay) {
  int h, n, s, ms;
  DecodeTime(-1.25, h, n, s, ms);
  EXPECT_EQ(h, 6);
  int y, m, d;
  DecodeDate(-1.25, y, m, d);
  EXPECT_EQ(y * 10000 + m * 100 + d, 18991229);
  // A time a hair below midnight rounds to the next day's 00:00:00.000.
  DecodeTime(0.99999999999, h, n, s, ms);
  EXPECT_EQ(h + n + s + ms, 0);
}

TEST(DateTime, FormatsTheFrameworkTokens) {
  TFormatSettings fs = TFormatSettings::Chinese();
  fs.ShortDateFormat = "yyyy-MM-dd";
  fs.LongTimeFormat = "hh:nn:ss";
  TDateTime dt = EncodeDate(2003, 4, 5) + EncodeTime(14, 7, 9, 45);
  EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:mm:ss", dt, fs), "2003-04-05 14:07:09");
  EXPECT_EQ(FormatDateTime("yy/m/d", dt, fs), "03-4-5");
  EXPECT_EQ(FormatDateTime("h:nn am/pm", dt, fs), "2:07 pm");
  EXPECT_EQ(FormatDateTime("hh AMPM", dt, fs), "02 " + Cp936("下午"));
  EXPECT_EQ(FormatDateTime("z zz zzz", dt, fs), "45 045 045");
  // The am/pm markers echo the format's own letters.
  EXPECT_EQ(FormatDateTime("h Am/Pm", dt, fs), "2 Pm");
  EXPECT_EQ(FormatDateTime("h aM/pM", dt - 0.5, fs), "2 aM");
  EXPECT_EQ(FormatDateTime("h A/p", dt, fs), "2 p");
  EXPECT_EQ(FormatDateTime("'at' hh\"h\"", dt, fs), "at 14h");
  EXPECT_EQ(FormatDateTime("ddddd", dt, fs), "2003-04-05");
  EXPECT_EQ(FormatDateTime("c", dt, fs), "2003-04-05 14:07:09");
  EXPECT_EQ(FormatDateTime("c", EncodeDate(2003, 4, 5), fs), "2003-04-05");
  EXPECT_EQ(FormatDateTime("dddd mmmm", dt, fs), Cp936("星期六 四月"));
  // The attachment time stamp: consecutive z's form one 3-digit token.
  EXPECT_EQ(FormatDateTime("yyyymmddhhmmsszzzz", dt, fs), "20030405140709045");
}

}  // namespace
