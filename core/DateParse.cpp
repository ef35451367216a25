#include "core/DateParse.h"

#include <cmath>

#include "core/Exception.h"

namespace {

enum class DateOrder { MDY, DMY, YMD };

DateOrder OrderOf(std::string_view fmt) {
  for (char c : fmt) {
    switch (c | 0x20) {
      case 'y':
        return DateOrder::YMD;
      case 'd':
        return DateOrder::DMY;
      case 'm':
        return DateOrder::MDY;
      default:
        break;
    }
  }
  return DateOrder::MDY;
}

struct Scanner {
  std::string_view s;
  size_t pos = 0;

  void Blanks() {
    while (pos < s.size() && s[pos] == ' ') ++pos;
  }
  bool AtEnd() {
    Blanks();
    return pos >= s.size();
  }
  // Up to 9 digits, so the value always fits; `digits` says how many were read.
  bool Number(int& value, int& digits) {
    Blanks();
    value = 0;
    digits = 0;
    while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') {
      if (digits == 9) return false;
      value = value * 10 + (s[pos++] - '0');
      ++digits;
    }
    return digits > 0;
  }
  bool Char(char c) {
    Blanks();
    if (pos < s.size() && s[pos] == c) {
      ++pos;
      return true;
    }
    return false;
  }
  bool Word(std::string_view w) {
    Blanks();
    if (w.empty() || s.size() - pos < w.size()) return false;
    for (size_t i = 0; i < w.size(); ++i) {
      char a = s[pos + i], b = w[i];
      if (a >= 'a' && a <= 'z') a -= 32;
      if (b >= 'a' && b <= 'z') b -= 32;
      if (a != b) return false;
    }
    pos += w.size();
    return true;
  }
};

bool ScanDate(Scanner& sc, TDateTime& out, const TFormatSettings& fs) {
  int n1, n2, n3 = 0, l1, l2, l3 = 0;
  if (!sc.Number(n1, l1) || !sc.Char(fs.DateSeparator) || !sc.Number(n2, l2)) return false;
  const bool three = sc.Char(fs.DateSeparator);
  if (three && !sc.Number(n3, l3)) return false;
  int y, m, d, yearDigits;
  const DateOrder order = OrderOf(fs.ShortDateFormat);
  int cy, cm, cd;
  DecodeDate(Date(), cy, cm, cd);
  if (!three) {
    y = cy;
    yearDigits = 4;
    if (order == DateOrder::DMY) {
      d = n1;
      m = n2;
    } else {
      m = n1;
      d = n2;
    }
  } else {
    switch (order) {
      case DateOrder::MDY:
        m = n1, d = n2, y = n3, yearDigits = l3;
        break;
      case DateOrder::DMY:
        d = n1, m = n2, y = n3, yearDigits = l3;
        break;
      default:
        y = n1, m = n2, d = n3, yearDigits = l1;
        break;
    }
  }
  if (y <= 99 && yearDigits <= 2) {
    const int pivot = cy - fs.TwoDigitYearCenturyWindow;
    y += pivot / 100 * 100;
    if (fs.TwoDigitYearCenturyWindow > 0 && y < pivot) y += 100;
  }
  return TryEncodeDate(y, m, d, out);
}

// +12 for a PM mark, 0 for AM, -1 when there is none.
int ScanAmPm(Scanner& sc, const TFormatSettings& fs) {
  if (sc.Word(fs.TimeAMString) || sc.Word("AM")) return 0;
  if (sc.Word(fs.TimePMString) || sc.Word("PM")) return 12;
  return -1;
}

bool ScanTime(Scanner& sc, TDateTime& out, const TFormatSettings& fs) {
  int base = ScanAmPm(sc, fs);
  int h, n = 0, s = 0, ms = 0, digits;
  if (!sc.Number(h, digits)) return false;
  bool haveMinutes = false;
  if (sc.Char(fs.TimeSeparator)) {
    if (!sc.Number(n, digits)) return false;
    haveMinutes = true;
    if (sc.Char(fs.TimeSeparator)) {
      if (!sc.Number(s, digits)) return false;
      if (sc.Char(fs.DecimalSeparator) && !sc.Number(ms, digits)) return false;
    }
  }
  if (base < 0) base = ScanAmPm(sc, fs);
  if (!haveMinutes && base < 0) return false;
  if (base >= 0) {
    if (h == 0 || h > 12) return false;
    if (h == 12) h = 0;
    h += base;
  }
  return TryEncodeTime(h, n, s, ms, out);
}

[[noreturn]] void Fail(std::string_view text, const char* what) {
  throw EConvertError("'" + AnsiString(text) + "' is not a valid " + what);
}

}  // namespace

bool TryStrToDate(std::string_view text, TDateTime& out, const TFormatSettings& fs) {
  Scanner sc{text};
  TDateTime d;
  if (!ScanDate(sc, d, fs) || !sc.AtEnd()) return false;
  out = d;
  return true;
}

bool TryStrToTime(std::string_view text, TDateTime& out, const TFormatSettings& fs) {
  Scanner sc{text};
  TDateTime t;
  if (!ScanTime(sc, t, fs) || !sc.AtEnd()) return false;
  out = t;
  return true;
}

bool TryStrToDateTime(std::string_view text, TDateTime& out, const TFormatSettings& fs) {
  Scanner sc{text};
  TDateTime d, t = 0;
  if (ScanDate(sc, d, fs) && (sc.AtEnd() || (ScanTime(sc, t, fs) && sc.AtEnd()))) {
    // Before 1899-12-30 the time counts away from zero too.
    out = d < 0 ? d - t : d + t;
    return true;
  }
  return TryStrToTime(text, out, fs);
}

TDateTime StrToDate(std::string_view text, const TFormatSettings& fs) {
  TDateTime v;
  if (!TryStrToDate(text, v, fs)) Fail(text, "date");
  return v;
}

TDateTime StrToTime(std::string_view text, const TFormatSettings& fs) {
  TDateTime v;
  if (!TryStrToTime(text, v, fs)) Fail(text, "time");
  return v;
}

TDateTime StrToDateTime(std::string_view text, const TFormatSettings& fs) {
  TDateTime v;
  if (!TryStrToDateTime(text, v, fs)) Fail(text, "date and time");
  return v;
}
