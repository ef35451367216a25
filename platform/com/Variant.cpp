#include "platform/com/Variant.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "core/Rounding.h"
#include "core/SysUtils.h"
#include "platform/com/Dispatch.h"

namespace {

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

constexpr char32_t kReplacement = 0xFFFD;

[[noreturn]] void CastError(VARTYPE from, VARTYPE to) {
  throw EVariantTypeCastError(VariantCastErrorText(VarTypeName(from), VarTypeName(to)));
}

[[noreturn]] void OverflowError(VARTYPE from, VARTYPE to) {
  throw EVariantOverflowError(VariantOverflowErrorText(VarTypeName(from), VarTypeName(to)));
}

std::string TrimAscii(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return std::string(s.substr(b, e - b));
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

// Number text as the framework reads it: an integer (with sign or "$" hex), else a
// decimal number. False when the text is no number.
bool ParseNumber(const std::u16string& text, double& out) {
  std::string s = TrimAscii(Utf16ToUtf8(text));
  if (s.empty()) return false;
  int32_t i;
  if (TryStrToInt(s, i)) {
    out = i;
    return true;
  }
  for (char c : s)
    if (!(std::isdigit(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '+' || c == 'e' ||
          c == 'E'))
      return false;
  // The point is '.', whatever the C library's locale says.
  const char* first = s.c_str();
  const char* last = first + s.size();
  if (*first == '+' && last - first > 1 && first[1] != '-') ++first;
  double d = 0;
  const auto [end, err] = std::from_chars(first, last, d);
  if (err != std::errc() || end != last || !std::isfinite(d)) return false;
  out = d;
  return true;
}

int64_t ToInteger(const Variant& v, VARTYPE to, int64_t lo, int64_t hi) {
  int64_t r = 0;
  VARTYPE from = v.Vt();
  switch (from) {
    case VT_EMPTY: return 0;
    case VT_BOOL: return v.AsBool() ? -1 : 0;
    case VT_I2:
    case VT_I4: r = v.AsI4(); break;
    case VT_BSTR: {
      double d;
      if (!ParseNumber(v.AsBstr(), d)) CastError(from, to);
      d = RoundHalfEven(d);
      if (d < static_cast<double>(lo) || d > static_cast<double>(hi)) OverflowError(from, to);
      return static_cast<int64_t>(d);
    }
    default: CastError(from, to);
  }
  if (r < lo || r > hi) OverflowError(from, to);
  return r;
}

}  // namespace

std::u16string Utf8ToUtf16(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    unsigned char b = static_cast<unsigned char>(s[i]);
    char32_t c;
    size_t len;
    if (b < 0x80) {
      c = b;
      len = 1;
    } else if (b >= 0xC2 && b <= 0xDF) {
      c = b & 0x1F;
      len = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
      c = b & 0x0F;
      len = 3;
    } else if (b >= 0xF0 && b <= 0xF4) {
      c = b & 0x07;
      len = 4;
    } else {
      out += static_cast<char16_t>(kReplacement);
      ++i;
      continue;
    }
    size_t k = 1;
    for (; k < len && i + k < s.size(); ++k) {
      unsigned char t = static_cast<unsigned char>(s[i + k]);
      if ((t & 0xC0) != 0x80) break;
      c = (c << 6) | (t & 0x3F);
    }
    bool bad = k != len || (len == 3 && c < 0x800) || (len == 4 && (c < 0x10000 || c > 0x10FFFF)) ||
               (c >= 0xD800 && c <= 0xDFFF);
    if (bad) {
      out += static_cast<char16_t>(kReplacement);
      i += k;
      continue;
    }
    if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (c >> 10));
      out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
    i += len;
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    char32_t c = s[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = kReplacement;
    }
    AppendUtf8(out, c);
  }
  return out;
}

BSTR AnsiToBstr(std::string_view cp936) { return Utf8ToUtf16(Cp936ToUtf8(cp936)); }
AnsiString BstrToAnsi(std::u16string_view s) { return Utf8ToCp936(Utf16ToUtf8(s)); }

const char* VarTypeName(VARTYPE vt) {
  switch (vt & ~VT_BYREF) {
    case VT_EMPTY: return "Empty";
    case VT_NULL: return "Null";
    case VT_I2: return "Smallint";
    case VT_I4: return "Integer";
    case VT_BSTR: return "OleStr";
    case VT_DISPATCH: return "Dispatch";
    case VT_BOOL: return "Boolean";
    case VT_VARIANT: return "Variant";
    default: return "Unknown";
  }
}

Variant::Variant(const ComPtr<IDispatch>& d) : v_(ComPtr<IUnknown>(static_cast<IUnknown*>(d.Get()))) {}

Variant Variant::Null() {
  Variant v;
  v.v_ = NullTag{};
  return v;
}

Variant Variant::ByRef(int16_t* target) {
  if (!target) throw EVariantError("Invalid variant operation");
  Variant v;
  v.v_ = target;
  return v;
}

Variant Variant::ByRef(Variant* target) {
  if (!target) throw EVariantError("Invalid variant operation");
  Variant v;
  v.v_ = target;
  return v;
}

VARTYPE Variant::Vt() const {
  switch (v_.index()) {
    case 0: return VT_EMPTY;
    case 1: return VT_NULL;
    case 2: return VT_BOOL;
    case 3: return VT_I2;
    case 4: return VT_I4;
    case 5: return VT_BSTR;
    case 6: return VT_DISPATCH;
    case 7: return VT_I2 | VT_BYREF;
    default: return VT_VARIANT | VT_BYREF;
  }
}

Variant Variant::Deref() const {
  const Variant* v = this;
  // A chain of variant references deeper than this is a cycle.
  for (int depth = 0; depth < 16; ++depth) {
    if (auto p = std::get_if<int16_t*>(&v->v_)) return Variant(**p);
    auto r = std::get_if<Variant*>(&v->v_);
    if (!r) return *v;
    v = *r;
  }
  throw EVariantError("Invalid variant operation");
}

bool Variant::AsBool() const {
  if (IsByRef()) return Deref().AsBool();
  switch (v_.index()) {
    case 0: return false;
    case 2: return std::get<bool>(v_);
    case 3: return std::get<int16_t>(v_) != 0;
    case 4: return std::get<int32_t>(v_) != 0;
    case 5: {
      const BSTR& s = std::get<BSTR>(v_);
      std::string t = TrimAscii(Utf16ToUtf8(s));
      if (EqualsNoCase(t, "true")) return true;
      if (EqualsNoCase(t, "false")) return false;
      double d;
      if (ParseNumber(s, d)) return d != 0;
      CastError(VT_BSTR, VT_BOOL);
    }
    default: CastError(Vt(), VT_BOOL);
  }
}

int16_t Variant::AsI2() const {
  if (IsByRef()) return Deref().AsI2();
  if (auto p = std::get_if<int16_t>(&v_)) return *p;
  return static_cast<int16_t>(ToInteger(*this, VT_I2, std::numeric_limits<int16_t>::min(),
                                        std::numeric_limits<int16_t>::max()));
}

int32_t Variant::AsI4() const {
  if (IsByRef()) return Deref().AsI4();
  if (auto p = std::get_if<int32_t>(&v_)) return *p;
  if (auto p = std::get_if<int16_t>(&v_)) return *p;
  return static_cast<int32_t>(ToInteger(*this, VT_I4, std::numeric_limits<int32_t>::min(),
                                        std::numeric_limits<int32_t>::max()));
}

BSTR Variant::AsBstr() const {
  if (IsByRef()) return Deref().AsBstr();
  switch (v_.index()) {
    case 0: return BSTR();
    case 2: return std::get<bool>(v_) ? u"True" : u"False";
    case 3: return Utf8ToUtf16(IntToStr(std::get<int16_t>(v_)));
    case 4: return Utf8ToUtf16(IntToStr(std::get<int32_t>(v_)));
    case 5: return std::get<BSTR>(v_);
    default: CastError(Vt(), VT_BSTR);
  }
}

ComPtr<IDispatch> Variant::AsDispatch() const {
  if (IsByRef()) return Deref().AsDispatch();
  if (IsEmpty()) return nullptr;
  if (auto p = std::get_if<ComPtr<IUnknown>>(&v_)) return ComPtr<IDispatch>(static_cast<IDispatch*>(p->Get()));
  CastError(Vt(), VT_DISPATCH);
}

HRESULT Variant::ChangeType(VARTYPE vt, Variant& out) const noexcept {
  try {
    if (vt & VT_BYREF) {
      if (Vt() != vt) return DISP_E_TYPEMISMATCH;
      out = *this;
      return S_OK;
    }
    switch (vt) {
      case VT_EMPTY: out = Variant(); break;
      case VT_NULL:
        if (Deref().Vt() != VT_NULL) return DISP_E_TYPEMISMATCH;
        out = Null();
        break;
      case VT_BOOL: out = Variant(AsBool()); break;
      case VT_I2: out = Variant(AsI2()); break;
      case VT_I4: out = Variant(AsI4()); break;
      case VT_BSTR: out = Variant(AsBstr()); break;
      case VT_DISPATCH: out = Variant(AsDispatch()); break;
      case VT_VARIANT: out = Deref(); break;
      default: return DISP_E_BADVARTYPE;
    }
    return S_OK;
  } catch (const EVariantOverflowError&) {
    return DISP_E_OVERFLOW;
  } catch (const EVariantError&) {
    return DISP_E_TYPEMISMATCH;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

void Variant::SetRefValue(const Variant& v) const {
  if (auto p = std::get_if<int16_t*>(&v_)) {
    **p = v.AsI2();
    return;
  }
  if (auto p = std::get_if<Variant*>(&v_)) {
    **p = v.Deref();
    return;
  }
  throw EVariantTypeCastError("Invalid variant operation");
}

int16_t* Variant::I2Ref() const {
  auto p = std::get_if<int16_t*>(&v_);
  return p ? *p : nullptr;
}

Variant* Variant::VariantRef() const {
  auto p = std::get_if<Variant*>(&v_);
  return p ? *p : nullptr;
}

bool Variant::operator==(const Variant& o) const { return v_ == o.v_; }
