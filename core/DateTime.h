#pragma once
// Dates as the class framework keeps them: a double counting days since 1899-12-30, the
// fraction being the time of day.
#include <array>
#include <cstdint>
#include <string_view>

#include "core/AnsiString.h"

using TDateTime = double;

constexpr int32_t MSecsPerDay = 86400000;
constexpr int32_t DateDelta = 693594;  // days from 0001-01-01 to 1899-12-30

struct TFormatSettings {
  char DecimalSeparator = '.';
  char ThousandSeparator = ',';
  char DateSeparator = '-';
  char TimeSeparator = ':';
  char ListSeparator = ',';
  AnsiString CurrencyString;
  uint8_t CurrencyFormat = 0;
  uint8_t NegCurrFormat = 2;
  uint8_t CurrencyDecimals = 2;
  AnsiString ShortDateFormat = "yyyy-M-d";
  AnsiString LongDateFormat;
  AnsiString ShortTimeFormat = "h:mm";
  AnsiString LongTimeFormat = "h:mm:ss";
  AnsiString TimeAMString;
  AnsiString TimePMString;
  std::array<AnsiString, 12> ShortMonthNames;
  std::array<AnsiString, 12> LongMonthNames;
  std::array<AnsiString, 7> ShortDayNames;  // Sunday first
  std::array<AnsiString, 7> LongDayNames;
  int TwoDigitYearCenturyWindow = 50;

  // The settings of a simplified-Chinese desktop, texts in code page 936.
  static TFormatSettings Chinese();
};

// The process-wide settings; the locale layer updates them (short date at login).
TFormatSettings& DefaultFormatSettings();

bool IsLeapYear(int year);
int DaysInMonth(int year, int month);
bool TryEncodeDate(int year, int month, int day, TDateTime& out);
TDateTime EncodeDate(int year, int month, int day);  // EConvertError on a bad date
void DecodeDate(TDateTime dt, int& year, int& month, int& day);
bool TryEncodeTime(int hour, int min, int sec, int msec, TDateTime& out);
TDateTime EncodeTime(int hour, int min, int sec, int msec);
void DecodeTime(TDateTime dt, int& hour, int& min, int& sec, int& msec);
int DayOfWeek(TDateTime dt);  // 1 = Sunday .. 7 = Saturday
TDateTime Now();
TDateTime Date();

AnsiString FormatDateTime(std::string_view format, TDateTime dt,
                          const TFormatSettings& fs = DefaultFormatSettings());
AnsiString DateToStr(TDateTime dt, const TFormatSettings& fs = DefaultFormatSettings());
AnsiString TimeToStr(TDateTime dt, const TFormatSettings& fs = DefaultFormatSettings());
AnsiString DateTimeToStr(TDateTime dt, const TFormatSettings& fs = DefaultFormatSettings());
