#include "core/DateTime.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "core/Exception.h"
#include "core/Rounding.h"

TFormatSettings TFormatSettings::Chinese() {
  TFormatSettings fs;
  fs.CurrencyString = Cp936("￥");
  fs.LongDateFormat = Cp936("yyyy'年'M'月'd'日'");
  fs.TimeAMString = Cp936("上午");
  fs.TimePMString = Cp936("下午");
  static const char* months[12] = {"一月", "二月", "三月", "四月", "五月", "六月",
                                   "七月", "八月", "九月", "十月", "十一月", "十二月"};
  static const char* days[7] = {"星期日", "星期一", "星期二", "星期三", "星期四", "星期五", "星期六"};
  for (int i = 0; i < 12; ++i) fs.ShortMonthNames[i] = fs.LongMonthNames[i] = Cp936(months[i]);
  for (int i = 0; i < 7; ++i) fs.ShortDayNames[i] = fs.LongDayNames[i] = Cp936(days[i]);
  return fs;
}

TFormatSettings& DefaultFormatSettings() {
  static TFormatSettings fs = TFormatSettings::Chinese();
  return fs;
}

bool IsLeapYear(int y) { return (y % 4 == 0) && (y % 100 != 0 || y % 400 == 0); }

int DaysInMonth(int y, int m) {
  static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (m < 1 || m > 12) return 0;
  return days[m - 1] + (m == 2 && IsLeapYear(y) ? 1 : 0);
}

bool TryEncodeDate(int y, int m, int d, TDateTime& out) {
  if (y < 1 || y > 9999 || m < 1 || m > 12 || d < 1 || d > DaysInMonth(y, m)) return false;
  int64_t days = d;
  for (int i = 1; i < m; ++i) days += DaysInMonth(y, i);
  int64_t py = y - 1;
  out = static_cast<double>(py * 365 + py / 4 - py / 100 + py / 400 + days - DateDelta);
  return true;
}

TDateTime EncodeDate(int y, int m, int d) {
  TDateTime r;
  if (!TryEncodeDate(y, m, d, r)) throw EConvertError("Invalid argument to date encode");
  return r;
}

namespace {
// Milliseconds rounded once, then split into whole days and time of day; negative values
// keep their time of day positive, as the framework does.
void Split(TDateTime dt, int64_t& days, int64_t& msOfDay) {
  double t = RoundHalfEven(dt * MSecsPerDay);
  if (!std::isfinite(t) || std::fabs(t) > 9.2e18) t = 0;
  auto ms = static_cast<int64_t>(t);
  days = ms / MSecsPerDay;  // truncates toward zero
  msOfDay = (ms < 0 ? -ms : ms) % MSecsPerDay;
}

// Civil date from days since 1970-01-01 (proleptic Gregorian).
void CivilFromDays(int64_t z, int& y, int& m, int& d) {
  z += 719468;
  int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  int64_t doe = z - era * 146097;
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t yy = yoe + era * 400;
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  int64_t mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yy + (m <= 2 ? 1 : 0));
}
}  // namespace

void DecodeDate(TDateTime dt, int& y, int& m, int& d) {
  int64_t days, ms;
  Split(dt, days, ms);
  if (days + DateDelta <= 0) {
    y = m = d = 0;
    return;
  }
  CivilFromDays(days - 25569, y, m, d);
}

bool TryEncodeTime(int h, int n, int s, int ms, TDateTime& out) {
  if (h < 0 || h > 23 || n < 0 || n > 59 || s < 0 || s > 59 || ms < 0 || ms > 999) return false;
  out = (h * 3600000.0 + n * 60000.0 + s * 1000.0 + ms) / MSecsPerDay;
  return true;
}

TDateTime EncodeTime(int h, int n, int s, int ms) {
  TDateTime r;
  if (!TryEncodeTime(h, n, s, ms, r)) throw EConvertError("Invalid argument to time encode");
  return r;
}

void DecodeTime(TDateTime dt, int& h, int& n, int& s, int& ms) {
  int64_t days, t;
  Split(dt, days, t);
  h = static_cast<int>(t / 3600000);
  n = static_cast<int>(t / 60000 % 60);
  s = static_cast<int>(t / 1000 % 60);
  ms = static_cast<int>(t % 1000);
}

int DayOfWeek(TDateTime dt) {
  int64_t days, ms;
  Split(dt, days, ms);
  int64_t r = (days + DateDelta) % 7;
  if (r < 0) r += 7;
  return static_cast<int>(r) + 1;
}

TDateTime Now() {
  using namespace std::chrono;
  auto now = system_clock::now();
  std::time_t tt = system_clock::to_time_t(now);
  std::tm lt{};
  localtime_r(&tt, &lt);
  int ms = static_cast<int>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
  return EncodeDate(lt.tm_year + 1900, lt.tm_mon + 1, lt.tm_mday) + EncodeTime(lt.tm_hour, lt.tm_min, lt.tm_sec, ms);
}

TDateTime Date() { return std::floor(Now()); }

namespace {

char Up(char c) { return (c >= 'a' && c <= 'z') ? char(c - 32) : c; }

void AppendNumber(AnsiString& out, int v, int digits) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%0*d", digits, v);
  out += buf;
}

bool StartsWithCI(std::string_view s, size_t pos, std::string_view word) {
  if (pos + word.size() > s.size()) return false;
  for (size_t i = 0; i < word.size(); ++i)
    if (Up(s[pos + i]) != Up(word[i])) return false;
  return true;
}

// True when an am/pm marker follows somewhere after pos: the hour is then on a 12-hour clock.
bool TwelveHourAfter(std::string_view f, size_t pos) {
  for (size_t i = pos; i < f.size(); ++i) {
    if (f[i] == '"' || f[i] == '\'') {
      char q = f[i++];
      while (i < f.size() && f[i] != q) ++i;
      continue;
    }
    if (StartsWithCI(f, i, "am/pm") || StartsWithCI(f, i, "a/p") || StartsWithCI(f, i, "ampm")) return true;
  }
  return false;
}

void FormatInto(AnsiString& out, std::string_view f, TDateTime dt, const TFormatSettings& fs, int depth) {
  if (depth > 2) return;  // formats that name each other cannot loop
  int y, mo, d, h, n, s, ms;
  DecodeDate(dt, y, mo, d);
  DecodeTime(dt, h, n, s, ms);
  char lastToken = 0;
  size_t i = 0;
  while (i < f.size()) {
    char c = f[i];
    char u = Up(c);
    if (IsDbcsLeadByte(static_cast<uint8_t>(c)) && i + 1 < f.size()) {
      out.append(f.substr(i, 2));
      i += 2;
      continue;
    }
    auto count = [&](char t) {
      size_t j = i;
      while (j < f.size() && Up(f[j]) == t) ++j;
      size_t k = j - i;
      i = j;
      return static_cast<int>(k);
    };
    switch (u) {
      case '"':
      case '\'': {
        size_t j = f.find(c, i + 1);
        if (j == std::string_view::npos) j = f.size();
        out.append(f.substr(i + 1, j - i - 1));
        i = j < f.size() ? j + 1 : j;
        continue;
      }
      case 'Y': {
        int k = count('Y');
        if (k <= 2) AppendNumber(out, y % 100, 2);
        else AppendNumber(out, y, 4);
        break;
      }
      case 'M': {
        int k = count('M');
        if (k > 4) k = 4;
        if ((lastToken == 'H') && k <= 2) {
          AppendNumber(out, n, k == 1 ? 1 : 2);
        } else if (k <= 2) {
          AppendNumber(out, mo, k == 1 ? 1 : 2);
        } else if (mo >= 1) {
          out += (k == 3 ? fs.ShortMonthNames : fs.LongMonthNames)[mo - 1];
        }
        break;
      }
      case 'D': {
        int k = count('D');
        if (k > 6) k = 6;
        int dow = DayOfWeek(dt) - 1;
        switch (k) {
          case 1: AppendNumber(out, d, 1); break;
          case 2: AppendNumber(out, d, 2); break;
          case 3: out += fs.ShortDayNames[dow]; break;
          case 4: out += fs.LongDayNames[dow]; break;
          case 5: FormatInto(out, fs.ShortDateFormat, dt, fs, depth + 1); break;
          default: FormatInto(out, fs.LongDateFormat, dt, fs, depth + 1); break;
        }
        break;
      }
      case 'H': {
        size_t at = i;
        int k = count('H');
        int hh = h;
        if (TwelveHourAfter(f, at)) {
          hh = h % 12;
          if (hh == 0) hh = 12;
        }
        AppendNumber(out, hh, k == 1 ? 1 : 2);
        break;
      }
      case 'N': {
        int k = count('N');
        AppendNumber(out, n, k == 1 ? 1 : 2);
        break;
      }
      case 'S': {
        int k = count('S');
        AppendNumber(out, s, k == 1 ? 1 : 2);
        break;
      }
      case 'Z': {
        int k = count('Z');
        AppendNumber(out, ms, k == 1 ? 1 : 3);
        break;
      }
      case 'T': {
        int k = count('T');
        FormatInto(out, k == 1 ? fs.ShortTimeFormat : fs.LongTimeFormat, dt, fs, depth + 1);
        break;
      }
      case 'C': {
        ++i;
        FormatInto(out, fs.ShortDateFormat, dt, fs, depth + 1);
        if (h != 0 || n != 0 || s != 0) {
          out += ' ';
          FormatInto(out, fs.LongTimeFormat, dt, fs, depth + 1);
        }
        break;
      }
      case 'A': {
        bool pm = h >= 12;
        // The marker echoes the format's own letters, in their own case ("Am/Pm" gives "Pm").
        if (StartsWithCI(f, i, "am/pm")) {
          out.append(f.substr(i + (pm ? 3 : 0), 2));
          i += 5;
        } else if (StartsWithCI(f, i, "a/p")) {
          out += f[i + (pm ? 2 : 0)];
          i += 3;
        } else if (StartsWithCI(f, i, "ampm")) {
          out += pm ? fs.TimePMString : fs.TimeAMString;
          i += 4;
        } else {
          out += c;
          ++i;
        }
        break;
      }
      case '/':
        out += fs.DateSeparator;
        ++i;
        break;
      case ':':
        out += fs.TimeSeparator;
        ++i;
        break;
      default:
        out += c;
        ++i;
        break;
    }
    if (u >= 'A' && u <= 'Z') lastToken = u;
  }
}

}  // namespace

AnsiString FormatDateTime(std::string_view format, TDateTime dt, const TFormatSettings& fs) {
  AnsiString out;
  if (format.empty()) format = "c";
  FormatInto(out, format, dt, fs, 0);
  return out;
}

AnsiString DateToStr(TDateTime dt, const TFormatSettings& fs) { return FormatDateTime("ddddd", dt, fs); }
AnsiString TimeToStr(TDateTime dt, const TFormatSettings& fs) { return FormatDateTime("tt", dt, fs); }
AnsiString DateTimeToStr(TDateTime dt, const TFormatSettings& fs) { return FormatDateTime("c", dt, fs); }
