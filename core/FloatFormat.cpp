#include "core/FloatFormat.h"

#include <charconv>
#include <cmath>
#include <string>
#include <vector>

#include "core/Exception.h"

namespace {

// value = 0.d1d2...dn x 10^exponent; digits never has leading or trailing zeros and is
// empty for zero.
struct FloatRec {
  bool negative = false;
  int exponent = 0;
  std::string digits;
};

// The value taken to `precision` significant digits (at most 17).
FloatRec Decompose(double value, int precision) {
  FloatRec r;
  r.negative = std::signbit(value);
  value = std::fabs(value);
  if (value == 0 || !std::isfinite(value)) return r;
  // "d.ddddde+XX", whatever the C library's locale says about the point.
  char buf[40];
  const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, precision - 1);
  const std::string_view s(buf, static_cast<size_t>(res.ptr - buf));
  const size_t e = s.find('e');
  for (size_t i = 0; i < e; ++i)
    if (s[i] >= '0' && s[i] <= '9') r.digits.push_back(s[i]);
  const char* exp = s.data() + e + 1;
  if (*exp == '+') ++exp;
  int exponent = 0;
  std::from_chars(exp, s.data() + s.size(), exponent);
  r.exponent = exponent + 1;
  while (!r.digits.empty() && r.digits.back() == '0') r.digits.pop_back();
  return r;
}

// Keeps `keep` digits, rounding half away from zero on the decimal digits.
void RoundDigits(FloatRec& r, int keep) {
  if (keep >= static_cast<int>(r.digits.size())) return;
  if (keep < 0) {
    r.digits.clear();
    return;
  }
  const bool up = r.digits[keep] >= '5';
  r.digits.resize(keep);
  if (up) {
    int i = keep - 1;
    while (i >= 0 && r.digits[i] == '9') r.digits[i--] = '0';
    if (i < 0) {
      // All nines carried over: a one in the next place up (its zeros go below anyway).
      r.digits.assign(1, '1');
      ++r.exponent;
    } else {
      ++r.digits[i];
    }
  }
  while (!r.digits.empty() && r.digits.back() == '0') r.digits.pop_back();
  if (r.digits.empty()) r.exponent = 0;
}

// Fixed point at `decimals` places: 15 significant digits first, then the places.
FloatRec FixedDigits(double value, int decimals) {
  FloatRec r = Decompose(value, 15);
  RoundDigits(r, r.exponent + decimals);
  return r;
}

char DigitAt(const std::string& d, int i) { return i >= 0 && i < static_cast<int>(d.size()) ? d[i] : '0'; }

// One walk over a mask: quoting, placeholders, the exponent and section breaks are
// recognised here and nowhere else.
struct MaskToken {
  enum Kind { Literal, Digit, Point, Comma, Exponent, SectionBreak } kind = Literal;
  char c = 0;         // the mask's character ('0' or '#' for a digit, 'E' or 'e' for an exponent)
  size_t pos = 0;     // where it stands in the mask
  bool plus = false;  // exponent: "E+" shows the sign of a positive exponent too
  int zeros = 0;      // exponent: the '0's after its sign
};

class MaskScanner {
 public:
  explicit MaskScanner(std::string_view mask) : m_(mask) {}

  bool Next(MaskToken& t) {
    while (i_ < m_.size()) {
      const char c = m_[i_];
      t = MaskToken{MaskToken::Literal, c, i_};
      ++i_;
      if (quote_) {
        if (c == quote_) {
          quote_ = 0;
          continue;
        }
        return true;
      }
      switch (c) {
        case '"':
        case '\'':
          quote_ = c;
          continue;
        case '0':
        case '#':
          t.kind = MaskToken::Digit;
          break;
        case '.':
          t.kind = MaskToken::Point;
          break;
        case ',':
          t.kind = MaskToken::Comma;
          break;
        case ';':
          t.kind = MaskToken::SectionBreak;
          break;
        case 'E':
        case 'e':
          if (i_ < m_.size() && (m_[i_] == '+' || m_[i_] == '-')) {
            t.kind = MaskToken::Exponent;
            t.plus = m_[i_] == '+';
            ++i_;
            while (i_ < m_.size() && m_[i_] == '0') ++t.zeros, ++i_;
          }
          break;
        default:
          break;
      }
      return true;
    }
    return false;
  }

 private:
  std::string_view m_;
  size_t i_ = 0;
  char quote_ = 0;
};

// At most three sections: a third ';' belongs to the last one.
std::vector<std::string_view> SplitSections(std::string_view mask) {
  std::vector<std::string_view> out;
  size_t start = 0;
  MaskScanner scan(mask);
  for (MaskToken t; scan.Next(t);) {
    if (t.kind == MaskToken::SectionBreak && out.size() < 2) {
      out.push_back(mask.substr(start, t.pos - start));
      start = t.pos + 1;
    }
  }
  out.push_back(mask.substr(start));
  return out;
}

// What one mask section asks for.
struct Section {
  int intPlaces = 0;     // '0'/'#' before the decimal point
  int intMin = 0;        // digits shown at least (from the first '0')
  int decPlaces = 0;     // '0'/'#' after it
  int decMin = 0;        // up to the last '0'
  bool thousands = false;
  bool scientific = false;
};

Section Analyse(std::string_view f) {
  Section s;
  bool afterPoint = false;
  int firstZero = -1;
  MaskScanner scan(f);
  for (MaskToken t; scan.Next(t);) {
    if (t.kind == MaskToken::Exponent) {
      s.scientific = true;
      break;  // the rest is the exponent
    }
    if (t.kind == MaskToken::Point) afterPoint = true;
    if (t.kind == MaskToken::Comma && !afterPoint) s.thousands = true;
    if (t.kind != MaskToken::Digit) continue;
    if (afterPoint) {
      ++s.decPlaces;
      if (t.c == '0') s.decMin = s.decPlaces;
    } else {
      if (t.c == '0' && firstZero < 0) firstZero = s.intPlaces;
      ++s.intPlaces;
    }
  }
  if (firstZero >= 0) s.intMin = s.intPlaces - firstZero;
  return s;
}

// Walks the section, putting digits into its placeholders and copying everything else.
AnsiString Render(std::string_view f, const Section& s, const std::string& intDigits,
                  const std::string& fracDigits, int exponent, const TFormatSettings& fs) {
  AnsiString out;
  const int k = static_cast<int>(intDigits.size());
  int placeholder = 0;  // integer placeholders seen so far
  int fracIndex = 0;
  bool afterPoint = false;
  bool afterExponent = false;  // the mask's analysis ends at the exponent; so do placeholders
  auto putIntDigit = [&](int fromRight) {
    if (fromRight < 0 || fromRight >= k) return;
    out.push_back(intDigits[k - 1 - fromRight]);
    if (s.thousands && fromRight > 0 && fromRight % 3 == 0) out.push_back(fs.ThousandSeparator);
  };
  MaskScanner scan(f);
  for (MaskToken t; scan.Next(t);) {
    switch (t.kind) {
      case MaskToken::Digit:
        if (afterExponent) {
          out.push_back(t.c);
        } else if (!afterPoint) {
          const int fromRight = s.intPlaces - 1 - placeholder;
          if (placeholder == 0)
            for (int r = k - 1; r > fromRight; --r) putIntDigit(r);  // digits beyond the mask
          if (fromRight < k) putIntDigit(fromRight);
          ++placeholder;
        } else {
          if (fracIndex < static_cast<int>(fracDigits.size())) out.push_back(fracDigits[fracIndex]);
          ++fracIndex;
        }
        break;
      case MaskToken::Point:
        if (!afterPoint && !fracDigits.empty()) out.push_back(fs.DecimalSeparator);
        afterPoint = true;
        break;
      case MaskToken::Comma:
        break;
      case MaskToken::Exponent: {
        out.push_back(t.c);
        if (exponent < 0)
          out.push_back('-');
        else if (t.plus)
          out.push_back('+');
        std::string e = std::to_string(std::abs(exponent));
        const int width = std::min(t.zeros, 4);
        if (static_cast<int>(e.size()) < width) e.insert(0, width - e.size(), '0');
        out += e;
        afterExponent = true;
        break;
      }
      case MaskToken::Literal:
      case MaskToken::SectionBreak:
        out.push_back(t.c);
        break;
    }
  }
  return out;
}

// Fraction digits to show: `places` of them, trailing zeros past the minimum dropped.
std::string FractionOf(const std::string& d, int start, int places, int minimum) {
  std::string frac;
  for (int i = 0; i < places; ++i) frac.push_back(DigitAt(d, start + i));
  while (static_cast<int>(frac.size()) > minimum && frac.back() == '0') frac.pop_back();
  return frac;
}

AnsiString FormatSection(std::string_view f, double value, bool withSign, const TFormatSettings& fs) {
  const Section s = Analyse(f);
  std::string intDigits, fracDigits;
  int exponent = 0;
  bool zero;
  if (s.scientific) {
    const int lead = std::max(s.intPlaces, 1);
    FloatRec r = Decompose(value, 17);
    RoundDigits(r, lead + s.decPlaces);
    zero = r.digits.empty();
    exponent = zero ? 0 : r.exponent - lead;
    for (int i = 0; i < lead; ++i) intDigits.push_back(DigitAt(r.digits, i));
    fracDigits = FractionOf(r.digits, lead, s.decPlaces, s.decMin);
  } else {
    FloatRec r = FixedDigits(value, s.decPlaces);
    zero = r.digits.empty();
    for (int i = 0; i < r.exponent; ++i) intDigits.push_back(DigitAt(r.digits, i));
    fracDigits = FractionOf(r.digits, r.exponent, s.decPlaces, s.decMin);
  }
  size_t lead = 0;
  while (lead < intDigits.size() && intDigits[lead] == '0') ++lead;
  intDigits.erase(0, lead);
  if (static_cast<int>(intDigits.size()) < s.intMin) intDigits.insert(0, s.intMin - intDigits.size(), '0');
  // A mantissa always shows its leading digit, even for zero.
  if (s.scientific && intDigits.empty()) intDigits.assign(1, '0');
  AnsiString out = Render(f, s, intDigits, fracDigits, exponent, fs);
  if (withSign && value < 0 && !zero) out.insert(out.begin(), '-');
  return out;
}

bool RoundsToZero(std::string_view f, double value) {
  const Section s = Analyse(f);
  if (s.scientific) return value == 0;
  return FixedDigits(value, s.decPlaces).digits.empty();
}

}  // namespace

AnsiString FormatFloat(std::string_view mask, double value, const TFormatSettings& fs) {
  if (mask.empty()) return FloatToStr(value, fs);
  if (!std::isfinite(value)) return FloatToStr(value, fs);
  const auto sections = SplitSections(mask);
  std::string_view f = sections[0];
  bool withSign = true;
  if (value < 0 && sections.size() >= 2 && !sections[1].empty()) {
    f = sections[1];
    withSign = false;
  }
  if (sections.size() >= 3 && !sections[2].empty() && RoundsToZero(f, value)) {
    f = sections[2];
    withSign = false;
  }
  return FormatSection(f, value, withSign, fs);
}

AnsiString FloatToStr(double value, const TFormatSettings& fs) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
  FloatRec r = Decompose(value, 15);
  if (r.digits.empty()) return "0";
  AnsiString out;
  if (r.negative) out.push_back('-');
  const int n = static_cast<int>(r.digits.size());
  if (r.exponent > 15 || r.exponent < -3) {
    out.push_back(r.digits[0]);
    if (n > 1) {
      out.push_back(fs.DecimalSeparator);
      out.append(r.digits, 1, std::string::npos);
    }
    out.push_back('E');
    out += std::to_string(r.exponent - 1);
    return out;
  }
  if (r.exponent <= 0) {
    out.push_back('0');
    out.push_back(fs.DecimalSeparator);
    out.append(-r.exponent, '0');
    out += r.digits;
    return out;
  }
  for (int i = 0; i < r.exponent; ++i) out.push_back(DigitAt(r.digits, i));
  if (n > r.exponent) {
    out.push_back(fs.DecimalSeparator);
    out.append(r.digits, r.exponent, std::string::npos);
  }
  return out;
}

AnsiString CurrToStr(int64_t scaled, const TFormatSettings& fs) {
  const bool negative = scaled < 0;
  const uint64_t mag = negative ? 0 - static_cast<uint64_t>(scaled) : static_cast<uint64_t>(scaled);
  AnsiString out = negative ? "-" : "";
  out += std::to_string(mag / 10000);
  std::string frac = std::to_string(mag % 10000);
  frac.insert(0, 4 - frac.size(), '0');
  while (!frac.empty() && frac.back() == '0') frac.pop_back();
  if (!frac.empty()) {
    out.push_back(fs.DecimalSeparator);
    out += frac;
  }
  return out;
}

bool TryStrToFloat(std::string_view text, double& out, const TFormatSettings& fs) {
  size_t i = 0, end = text.size();
  while (i < end && (text[i] == ' ' || text[i] == '\t')) ++i;
  while (end > i && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
  std::string norm;
  if (i < end && (text[i] == '+' || text[i] == '-')) {
    if (text[i] == '-') norm.push_back('-');
    ++i;
  }
  int digits = 0;
  while (i < end && text[i] >= '0' && text[i] <= '9') norm.push_back(text[i++]), ++digits;
  if (i < end && text[i] == fs.DecimalSeparator) {
    norm.push_back('.');
    ++i;
    while (i < end && text[i] >= '0' && text[i] <= '9') norm.push_back(text[i++]), ++digits;
  }
  if (digits == 0) return false;
  if (i < end && (text[i] == 'e' || text[i] == 'E')) {
    norm.push_back('e');
    ++i;
    if (i < end && (text[i] == '+' || text[i] == '-')) norm.push_back(text[i++]);
    int expDigits = 0;
    while (i < end && text[i] >= '0' && text[i] <= '9') norm.push_back(text[i++]), ++expDigits;
    if (expDigits == 0) return false;
  }
  if (i != end) return false;
  double v = 0;
  const auto res = std::from_chars(norm.data(), norm.data() + norm.size(), v);
  if (res.ec == std::errc::result_out_of_range) {
    // Too small to hold is zero; too large is an error.
    if (norm.find("e-") != std::string::npos) {
      out = 0;
      return true;
    }
    return false;
  }
  if (res.ec != std::errc() || res.ptr != norm.data() + norm.size()) return false;
  out = v;
  return true;
}

double StrToFloat(std::string_view text, const TFormatSettings& fs) {
  double v;
  if (!TryStrToFloat(text, v, fs))
    throw EConvertError("'" + AnsiString(text) + "' is not a valid floating point value");
  return v;
}
