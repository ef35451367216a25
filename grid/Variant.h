#pragma once
// The value that cells, formulas and their functions pass around: empty, integer, double,
// currency, date, Boolean, text or an array (function arguments). Conversions and
// operators follow the rules in Variant.md; text is code page 936.
#include <cstdint>
#include <memory>
#include <vector>

#include "core/AnsiString.h"
#include "core/DateTime.h"
#include "core/Exception.h"

enum class TXLVarType : uint16_t {
  Empty = 0,
  Integer = 3,
  Double = 5,
  Currency = 6,
  Date = 7,
  Boolean = 11,
  String = 0x100,
  Array = 0x200C,
};

// The framework's name of a type, as its messages show it ("Double", "String").
const char* XLVarTypeName(TXLVarType t);

// "Could not convert variant of type (String) into type (Double)" and
// "Overflow while converting variant of type (Double) into type (Integer)".
class EXLVariantError : public Exception {
 public:
  using Exception::Exception;
};

// Division of a number by zero; formula cells show it as "#DIV/0!".
class EZeroDivide : public Exception {
 public:
  using Exception::Exception;
};

class TXLVariant {
 public:
  TXLVariant() = default;
  TXLVariant(int32_t v) : type_(TXLVarType::Integer), int_(v) {}
  TXLVariant(double v) : type_(TXLVarType::Double), dbl_(v) {}
  TXLVariant(bool v) : type_(TXLVarType::Boolean), int_(v ? 1 : 0) {}
  TXLVariant(AnsiString v) : type_(TXLVarType::String), str_(std::move(v)) {}
  TXLVariant(const char* v) : type_(TXLVarType::String), str_(v) {}
  // Currency is held as value x 10000.
  static TXLVariant FromCurrency(int64_t scaled);
  static TXLVariant FromDate(TDateTime d);
  static TXLVariant FromArray(std::vector<TXLVariant> items);

  TXLVarType VarType() const { return type_; }
  bool IsEmpty() const { return type_ == TXLVarType::Empty; }
  bool IsString() const { return type_ == TXLVarType::String; }
  void Clear() { *this = TXLVariant(); }

  // Conversions; a failure raises EXLVariantError.
  int32_t AsInteger(const TFormatSettings& fs = DefaultFormatSettings()) const;
  double AsFloat(const TFormatSettings& fs = DefaultFormatSettings()) const;
  int64_t AsCurrency(const TFormatSettings& fs = DefaultFormatSettings()) const;
  TDateTime AsDateTime(const TFormatSettings& fs = DefaultFormatSettings()) const;
  bool AsBoolean(const TFormatSettings& fs = DefaultFormatSettings()) const;
  AnsiString AsString(const TFormatSettings& fs = DefaultFormatSettings()) const;
  // The items of an array; a value that is no array is its own single item.
  std::vector<TXLVariant> AsArray() const;
  // Item i of an array argument list, empty when absent.
  TXLVariant Item(size_t i) const;
  size_t ItemCount() const;

  // Same type and same value: what "unchanged" means for a cell setter.
  bool operator==(const TXLVariant& o) const;

 private:
  TXLVarType type_ = TXLVarType::Empty;
  int64_t int_ = 0;  // Integer, Boolean (0/1) and Currency (x 10000)
  double dbl_ = 0;   // Double and Date
  AnsiString str_;
  std::shared_ptr<const std::vector<TXLVariant>> arr_;

};

// Operators of the formula language.
TXLVariant VarAdd(const TXLVariant& a, const TXLVariant& b);
TXLVariant VarSub(const TXLVariant& a, const TXLVariant& b);
TXLVariant VarMul(const TXLVariant& a, const TXLVariant& b);
TXLVariant VarDiv(const TXLVariant& a, const TXLVariant& b);     // "/": always Double
TXLVariant VarIntDiv(const TXLVariant& a, const TXLVariant& b);  // DIV
TXLVariant VarMod(const TXLVariant& a, const TXLVariant& b);
TXLVariant VarAnd(const TXLVariant& a, const TXLVariant& b);
TXLVariant VarOr(const TXLVariant& a, const TXLVariant& b);
TXLVariant VarXor(const TXLVariant& a, const TXLVariant& b);
TXLVariant VarShl(const TXLVariant& a, const TXLVariant& b);
TXLVariant VarShr(const TXLVariant& a, const TXLVariant& b);
TXLVariant VarNeg(const TXLVariant& a);
TXLVariant VarNot(const TXLVariant& a);
// -1, 0 or 1.
int VarCompare(const TXLVariant& a, const TXLVariant& b);
