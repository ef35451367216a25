#pragma once
// The value that travels through dispatch calls and events. Text is UTF-16 at the
// interface (BSTR) and code page 936 inside the system; FromAnsi/AsAnsi convert between
// them through core's pair. Conversions follow the class framework's rules and raise its
// errors (EVariantTypeCastError, EVariantOverflowError).
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "core/AnsiString.h"
#include "core/Exception.h"
#include "platform/com/ComPtr.h"

using VARTYPE = uint16_t;
constexpr VARTYPE VT_EMPTY = 0;
constexpr VARTYPE VT_NULL = 1;
constexpr VARTYPE VT_I2 = 2;
constexpr VARTYPE VT_I4 = 3;
constexpr VARTYPE VT_BSTR = 8;
constexpr VARTYPE VT_DISPATCH = 9;
constexpr VARTYPE VT_BOOL = 11;
constexpr VARTYPE VT_VARIANT = 12;
constexpr VARTYPE VT_BYREF = 0x4000;

using VARIANT_BOOL = int16_t;
constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;

using BSTR = std::u16string;

class IDispatch;

class EVariantError : public Exception {
 public:
  using Exception::Exception;
};
// "Could not convert variant of type (OleStr) into type (Integer)"
class EVariantTypeCastError : public EVariantError {
 public:
  using EVariantError::EVariantError;
};
// "Overflow while converting variant of type (Integer) into type (Smallint)"
class EVariantOverflowError : public EVariantError {
 public:
  using EVariantError::EVariantError;
};

// UTF-8 <-> UTF-16 without loss for valid text; invalid sequences and lone surrogates
// become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);
// BSTR <-> code page 936.
BSTR AnsiToBstr(std::string_view cp936);
AnsiString BstrToAnsi(std::u16string_view s);

// The framework's name of a variant type ("Smallint", "OleStr", ...), used in messages.
const char* VarTypeName(VARTYPE vt);

class Variant {
 public:
  Variant() = default;  // VT_EMPTY
  Variant(bool v) : v_(v) {}
  Variant(int16_t v) : v_(v) {}
  Variant(int32_t v) : v_(v) {}
  Variant(BSTR v) : v_(std::move(v)) {}
  Variant(const char16_t* v) : v_(BSTR(v)) {}
  // Ambiguous: say which encoding (FromAnsi or FromUtf8).
  Variant(const char*) = delete;
  // Any other pointer would silently become a Boolean; by-reference values use ByRef.
  template <class T>
  Variant(T*) = delete;
  Variant(const ComPtr<IDispatch>& d);

  static Variant Null();
  static Variant FromAnsi(std::string_view cp936) { return Variant(AnsiToBstr(cp936)); }
  static Variant FromUtf8(std::string_view utf8) { return Variant(Utf8ToUtf16(utf8)); }
  // By-reference values point at storage the caller keeps alive for the call.
  static Variant ByRef(int16_t* target);
  static Variant ByRef(Variant* target);

  VARTYPE Vt() const;
  bool IsEmpty() const { return Vt() == VT_EMPTY; }
  bool IsByRef() const { return (Vt() & VT_BYREF) != 0; }

  // The value behind any by-reference indirection (a copy).
  Variant Deref() const;

  bool AsBool() const;
  VARIANT_BOOL AsVariantBool() const { return AsBool() ? VARIANT_TRUE : VARIANT_FALSE; }
  int16_t AsI2() const;
  int32_t AsI4() const;
  BSTR AsBstr() const;
  AnsiString AsAnsi() const { return BstrToAnsi(AsBstr()); }
  std::string AsUtf8() const { return Utf16ToUtf8(AsBstr()); }
  ComPtr<IDispatch> AsDispatch() const;

  // Converts to vt (VT_VARIANT: the dereferenced value); DISP_E_TYPEMISMATCH or
  // DISP_E_OVERFLOW instead of an exception.
  HRESULT ChangeType(VARTYPE vt, Variant& out) const noexcept;

  // Stores v through a by-reference value (converted to the target's type); raises
  // EVariantTypeCastError when this value is not by reference.
  void SetRefValue(const Variant& v) const;
  int16_t* I2Ref() const;
  Variant* VariantRef() const;

  // Same type and same value (by-reference values compare their targets' addresses).
  bool operator==(const Variant& o) const;

 private:
  struct NullTag {
    bool operator==(const NullTag&) const { return true; }
  };
  using Storage = std::variant<std::monostate, NullTag, bool, int16_t, int32_t, BSTR,
                               ComPtr<IUnknown>, int16_t*, Variant*>;
  Storage v_;
};
