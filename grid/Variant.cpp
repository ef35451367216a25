#include "grid/Variant.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "core/DateParse.h"
#include "core/FloatFormat.h"
#include "core/Rounding.h"
#include "core/SysUtils.h"

const char* XLVarTypeName(TXLVarType t) {
  switch (t) {
    case TXLVarType::Empty:
      return "Empty";
    case TXLVarType::Integer:
      return "Integer";
    case TXLVarType::Double:
      return "Double";
    case TXLVarType::Currency:
      return "Currency";
    case TXLVarType::Date:
      return "Date";
    case TXLVarType::Boolean:
      return "Boolean";
    case TXLVarType::String:
      return "String";
    case TXLVarType::Array:
      return "Array Variant";
  }
  return "Unknown";
}

namespace {

[[noreturn]] void CastError(TXLVarType from, TXLVarType to) {
  throw EXLVariantError(VariantCastErrorText(XLVarTypeName(from), XLVarTypeName(to)));
}

[[noreturn]] void Overflow(TXLVarType from, TXLVarType to) {
  throw EXLVariantError(VariantOverflowErrorText(XLVarTypeName(from), XLVarTypeName(to)));
}

constexpr double kMaxCurrency = 922337203685477.5807;

int64_t CurrencyFromDouble(double v, TXLVarType from) {
  const double scaled = RoundHalfEven(v * 10000.0);
  if (!std::isfinite(scaled) || std::fabs(v) > kMaxCurrency || std::fabs(scaled) >= 9.2233720368547758e18)
    Overflow(from, TXLVarType::Currency);
  return static_cast<int64_t>(scaled);
}

int32_t IntegerFromDouble(double v, TXLVarType from) {
  const double r = RoundHalfEven(v);
  if (!(r >= -2147483648.0 && r <= 2147483647.0)) Overflow(from, TXLVarType::Integer);
  return static_cast<int32_t>(r);
}

// Currency to whole units, half to even, in integers so large values stay exact.
int64_t CurrencyToWhole(int64_t scaled) {
  int64_t q = scaled / 10000, r = scaled % 10000;
  const int64_t ar = r < 0 ? -r : r;
  if (ar > 5000 || (ar == 5000 && (q & 1))) q += r < 0 ? -1 : 1;
  return q;
}

bool SameTextAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x -= 32;
    if (y >= 'a' && y <= 'z') y -= 32;
    if (x != y) return false;
  }
  return true;
}

}  // namespace


TXLVariant TXLVariant::FromCurrency(int64_t scaled) {
  TXLVariant v;
  v.type_ = TXLVarType::Currency;
  v.int_ = scaled;
  return v;
}

TXLVariant TXLVariant::FromDate(TDateTime d) {
  TXLVariant v;
  v.type_ = TXLVarType::Date;
  v.dbl_ = d;
  return v;
}

TXLVariant TXLVariant::FromArray(std::vector<TXLVariant> items) {
  TXLVariant v;
  v.type_ = TXLVarType::Array;
  v.arr_ = std::make_shared<const std::vector<TXLVariant>>(std::move(items));
  return v;
}

int32_t TXLVariant::AsInteger(const TFormatSettings& fs) const {
  switch (type_) {
    case TXLVarType::Empty:
      return 0;
    case TXLVarType::Integer:
      return static_cast<int32_t>(int_);
    case TXLVarType::Boolean:
      return int_ ? -1 : 0;
    case TXLVarType::Double:
    case TXLVarType::Date:
      return IntegerFromDouble(dbl_, type_);
    case TXLVarType::Currency: {
      const int64_t w = CurrencyToWhole(int_);
      if (w < INT32_MIN || w > INT32_MAX) Overflow(type_, TXLVarType::Integer);
      return static_cast<int32_t>(w);
    }
    case TXLVarType::String: {
      int32_t i;
      if (TryStrToInt(str_, i)) return i;
      double d;
      if (TryStrToFloat(str_, d, fs)) return IntegerFromDouble(d, type_);
      CastError(type_, TXLVarType::Integer);
    }
    case TXLVarType::Array:
      break;
  }
  CastError(type_, TXLVarType::Integer);
}

double TXLVariant::AsFloat(const TFormatSettings& fs) const {
  switch (type_) {
    case TXLVarType::Empty:
      return 0;
    case TXLVarType::Integer:
      return static_cast<double>(int_);
    case TXLVarType::Boolean:
      return int_ ? -1 : 0;
    case TXLVarType::Double:
    case TXLVarType::Date:
      return dbl_;
    case TXLVarType::Currency:
      return static_cast<double>(int_) / 10000.0;
    case TXLVarType::String: {
      double d;
      if (TryStrToFloat(str_, d, fs)) return d;
      CastError(type_, TXLVarType::Double);
    }
    case TXLVarType::Array:
      break;
  }
  CastError(type_, TXLVarType::Double);
}

int64_t TXLVariant::AsCurrency(const TFormatSettings& fs) const {
  switch (type_) {
    case TXLVarType::Currency:
      return int_;
    case TXLVarType::Integer:
    case TXLVarType::Boolean:
    case TXLVarType::Empty:
      return static_cast<int64_t>(AsInteger(fs)) * 10000;
    case TXLVarType::Array:
      CastError(type_, TXLVarType::Currency);
    case TXLVarType::String: {
      double d;
      if (!TryStrToFloat(str_, d, fs)) CastError(type_, TXLVarType::Currency);
      return CurrencyFromDouble(d, type_);
    }
    default:
      return CurrencyFromDouble(AsFloat(fs), type_);
  }
}

TDateTime TXLVariant::AsDateTime(const TFormatSettings& fs) const {
  if (type_ == TXLVarType::String) {
    TDateTime d;
    if (TryStrToDateTime(str_, d, fs)) return d;
    if (TryStrToFloat(str_, d, fs)) return d;
    CastError(type_, TXLVarType::Date);
  }
  if (type_ == TXLVarType::Array) CastError(type_, TXLVarType::Date);
  return AsFloat(fs);
}

bool TXLVariant::AsBoolean(const TFormatSettings& fs) const {
  switch (type_) {
    case TXLVarType::Empty:
      return false;
    case TXLVarType::Boolean:
    case TXLVarType::Integer:
    case TXLVarType::Currency:
      return int_ != 0;
    case TXLVarType::Double:
    case TXLVarType::Date:
      return dbl_ != 0;
    case TXLVarType::String: {
      const AnsiString t = Trim(str_);
      if (SameTextAscii(t, "True")) return true;
      if (SameTextAscii(t, "False")) return false;
      int32_t i;
      if (TryStrToInt(t, i)) return i != 0;
      double d;
      if (TryStrToFloat(t, d, fs)) return d != 0;
      break;
    }
    case TXLVarType::Array:
      break;
  }
  CastError(type_, TXLVarType::Boolean);
}

AnsiString TXLVariant::AsString(const TFormatSettings& fs) const {
  switch (type_) {
    case TXLVarType::Empty:
      return "";
    case TXLVarType::Integer:
      return IntToStr(int_);
    case TXLVarType::Boolean:
      return int_ ? "True" : "False";
    case TXLVarType::Double:
      return FloatToStr(dbl_, fs);
    case TXLVarType::Date:
      return DateTimeToStr(dbl_, fs);
    case TXLVarType::Currency:
      return CurrToStr(int_, fs);
    case TXLVarType::String:
      return str_;
    case TXLVarType::Array:
      break;
  }
  CastError(type_, TXLVarType::String);
}

std::vector<TXLVariant> TXLVariant::AsArray() const {
  if (type_ == TXLVarType::Array) return *arr_;
  return {*this};
}

size_t TXLVariant::ItemCount() const { return type_ == TXLVarType::Array ? arr_->size() : 1; }

TXLVariant TXLVariant::Item(size_t i) const {
  if (type_ != TXLVarType::Array) return i == 0 ? *this : TXLVariant();
  return i < arr_->size() ? (*arr_)[i] : TXLVariant();
}

bool TXLVariant::operator==(const TXLVariant& o) const {
  if (type_ != o.type_) return false;
  switch (type_) {
    case TXLVarType::Empty:
      return true;
    case TXLVarType::Double:
    case TXLVarType::Date:
      return dbl_ == o.dbl_;
    case TXLVarType::String:
      return str_ == o.str_;
    case TXLVarType::Array:
      return *arr_ == *o.arr_;
    default:
      return int_ == o.int_;
  }
}

// ---- operators ----

namespace {

enum class NK { Int, Dbl, Cur, Date };

struct Num {
  NK k;
  int64_t i = 0;  // Int, Cur (x 10000)
  double d = 0;   // Dbl, Date
  double Value() const { return k == NK::Int ? double(i) : k == NK::Cur ? double(i) / 10000.0 : d; }
};

Num ToNum(const TXLVariant& v) {
  switch (v.VarType()) {
    case TXLVarType::Empty:
      return {NK::Int, 0};
    case TXLVarType::Integer:
    case TXLVarType::Boolean:
      return {NK::Int, v.AsInteger()};
    case TXLVarType::Currency:
      return {NK::Cur, v.AsCurrency()};
    case TXLVarType::Date:
      return {NK::Date, 0, v.AsDateTime()};
    default:
      return {NK::Dbl, 0, v.AsFloat()};  // text converts or raises
  }
}

TXLVariant FromInt64(int64_t r) {
  if (r >= INT32_MIN && r <= INT32_MAX) return TXLVariant(static_cast<int32_t>(r));
  return TXLVariant(static_cast<double>(r));
}

TXLVariant Arith(char op, const TXLVariant& a, const TXLVariant& b) {
  if (op == '+' && a.IsString() && (b.IsString() || b.IsEmpty())) return TXLVariant(a.AsString() + b.AsString());
  if (op == '+' && a.IsEmpty() && b.IsString()) return b;
  const Num x = ToNum(a), y = ToNum(b);
  auto apply = [op](double p, double q) { return op == '+' ? p + q : op == '-' ? p - q : p * q; };
  if (x.k == NK::Date || y.k == NK::Date) {
    const double r = apply(x.Value(), y.Value());
    if (op == '*' || (op == '-' && x.k == NK::Date && y.k == NK::Date)) return TXLVariant(r);
    return TXLVariant::FromDate(r);
  }
  if (x.k == NK::Dbl || y.k == NK::Dbl) return TXLVariant(apply(x.Value(), y.Value()));
  if (x.k == NK::Cur || y.k == NK::Cur) {
    // Scaled integers keep sums exact; products go through long double.
    const long double xs = x.k == NK::Cur ? x.i : x.i * 10000.0L;
    const long double ys = y.k == NK::Cur ? y.i : y.i * 10000.0L;
    long double r = op == '+' ? xs + ys : op == '-' ? xs - ys : xs * ys / 10000.0L;
    r = RoundHalfEven(r);
    if (!(std::fabs(r) < 9.2233720368547758e18L)) Overflow(TXLVarType::Currency, TXLVarType::Currency);
    return TXLVariant::FromCurrency(static_cast<int64_t>(r));
  }
  const int64_t r = op == '+' ? x.i + y.i : op == '-' ? x.i - y.i : x.i * y.i;
  return FromInt64(r);
}

// Operands of DIV, MOD and the bitwise operators.
int32_t IntOperand(const TXLVariant& v) { return v.AsInteger(); }

}  // namespace

TXLVariant VarAdd(const TXLVariant& a, const TXLVariant& b) { return Arith('+', a, b); }
TXLVariant VarSub(const TXLVariant& a, const TXLVariant& b) { return Arith('-', a, b); }
TXLVariant VarMul(const TXLVariant& a, const TXLVariant& b) { return Arith('*', a, b); }

TXLVariant VarDiv(const TXLVariant& a, const TXLVariant& b) {
  const double x = ToNum(a).Value(), y = ToNum(b).Value();
  if (y == 0) throw EZeroDivide("Floating point division by zero");
  return TXLVariant(x / y);
}

TXLVariant VarIntDiv(const TXLVariant& a, const TXLVariant& b) {
  const int64_t x = IntOperand(a), y = IntOperand(b);
  if (y == 0) throw EZeroDivide("Division by zero");
  return FromInt64(x / y);
}

TXLVariant VarMod(const TXLVariant& a, const TXLVariant& b) {
  const int64_t x = IntOperand(a), y = IntOperand(b);
  if (y == 0) throw EZeroDivide("Division by zero");
  return FromInt64(x % y);
}

namespace {
bool BothBoolean(const TXLVariant& a, const TXLVariant& b) {
  return a.VarType() == TXLVarType::Boolean && b.VarType() == TXLVarType::Boolean;
}
}  // namespace

TXLVariant VarAnd(const TXLVariant& a, const TXLVariant& b) {
  if (BothBoolean(a, b)) return TXLVariant(a.AsBoolean() && b.AsBoolean());
  return TXLVariant(IntOperand(a) & IntOperand(b));
}

TXLVariant VarOr(const TXLVariant& a, const TXLVariant& b) {
  if (BothBoolean(a, b)) return TXLVariant(a.AsBoolean() || b.AsBoolean());
  return TXLVariant(IntOperand(a) | IntOperand(b));
}

TXLVariant VarXor(const TXLVariant& a, const TXLVariant& b) {
  if (BothBoolean(a, b)) return TXLVariant(a.AsBoolean() != b.AsBoolean());
  return TXLVariant(IntOperand(a) ^ IntOperand(b));
}

TXLVariant VarShl(const TXLVariant& a, const TXLVariant& b) {
  const uint32_t x = static_cast<uint32_t>(IntOperand(a));
  return TXLVariant(static_cast<int32_t>(x << (static_cast<uint32_t>(IntOperand(b)) & 31u)));
}

TXLVariant VarShr(const TXLVariant& a, const TXLVariant& b) {
  const uint32_t x = static_cast<uint32_t>(IntOperand(a));
  return TXLVariant(static_cast<int32_t>(x >> (static_cast<uint32_t>(IntOperand(b)) & 31u)));
}

TXLVariant VarNeg(const TXLVariant& a) {
  switch (a.VarType()) {
    case TXLVarType::Double:
      return TXLVariant(-a.AsFloat());
    case TXLVarType::Date:
      return TXLVariant::FromDate(-a.AsDateTime());
    case TXLVarType::Currency: {
      const int64_t c = a.AsCurrency();
      if (c == INT64_MIN) Overflow(TXLVarType::Currency, TXLVarType::Currency);
      return TXLVariant::FromCurrency(-c);
    }
    case TXLVarType::Empty:
    case TXLVarType::Integer:
    case TXLVarType::Boolean:
      return FromInt64(-static_cast<int64_t>(a.AsInteger()));
    default:
      return TXLVariant(-a.AsFloat());
  }
}

TXLVariant VarNot(const TXLVariant& a) {
  if (a.VarType() == TXLVarType::Boolean) return TXLVariant(!a.AsBoolean());
  return TXLVariant(~IntOperand(a));
}

int VarCompare(const TXLVariant& a, const TXLVariant& b) {
  if ((a.IsString() || a.IsEmpty()) && (b.IsString() || b.IsEmpty()) && (a.IsString() || b.IsString())) {
    const int c = a.AsString().compare(b.AsString());
    return c < 0 ? -1 : c > 0 ? 1 : 0;
  }
  const Num x = ToNum(a), y = ToNum(b);
  if (x.k == y.k && (x.k == NK::Int || x.k == NK::Cur)) return x.i < y.i ? -1 : x.i > y.i ? 1 : 0;
  const double p = x.Value(), q = y.Value();
  return p < q ? -1 : p > q ? 1 : 0;
}
