#pragma once
// The class framework's binary component format, in which sheets travel inside document
// replies: the signature "TPF0", then a component: class name and instance name as short
// strings, its properties (name, typed value) ending with an empty name, then its child
// components ending with a zero byte. Read into a tree that the owner maps onto itself;
// written from the same tree, leaving out what the owner left out (its default values).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/AnsiString.h"
#include "core/Streams.h"

enum class TValueType : uint8_t {
  vaNull = 0,
  vaList = 1,
  vaInt8 = 2,
  vaInt16 = 3,
  vaInt32 = 4,
  vaExtended = 5,
  vaString = 6,
  vaIdent = 7,
  vaFalse = 8,
  vaTrue = 9,
  vaBinary = 10,
  vaSet = 11,
  vaLString = 12,
  vaNil = 13,
  vaCollection = 14,
  vaSingle = 15,
  vaCurrency = 16,
  vaDate = 17,
  vaWString = 18,
  vaInt64 = 19,
  vaUTF8String = 20,
};

// Header flags of a component in a stream.
enum : uint8_t { ffInherited = 1, ffChildPos = 2, ffInline = 4 };

struct TComponentProperty;
struct TCollectionItemData;

struct TPropValue {
  TValueType Type = TValueType::vaNull;
  int64_t Int = 0;                            // integers; currency as value x 10000
  double Float = 0;                           // extended, single, date
  AnsiString Str;                             // strings, identifiers, binary data
  std::vector<AnsiString> Set;                // set element names
  std::vector<TPropValue> List;               // vaList items
  std::vector<TCollectionItemData> Collection;

  // Values as the framework's writer would choose their types.
  static TPropValue Integer(int64_t v);  // smallest of vaInt8/16/32, else vaInt64
  static TPropValue String(const AnsiString& s);  // vaString up to 255 bytes, else vaLString
  static TPropValue Ident(const AnsiString& s);   // "True", "False", "nil", "Null" get their own types
  static TPropValue Boolean(bool v);
  static TPropValue Extended(double v);
  static TPropValue Binary(std::string bytes);
  static TPropValue MakeSet(std::vector<AnsiString> names);
  static TPropValue MakeList(std::vector<TPropValue> items);

  // Typed reads; a value of another type raises EReadError "Invalid property value".
  int64_t AsInteger() const;
  double AsFloat() const;      // also from integers
  AnsiString AsString() const;  // code page 936, whatever string type was stored
  AnsiString AsIdent() const;   // also "True"/"False"/"nil"/"Null" from their own types
  bool AsBoolean() const;
  const std::string& AsBinary() const;
  const std::vector<AnsiString>& AsSet() const;

  bool operator==(const TPropValue&) const;
};

struct TComponentProperty {
  AnsiString Name;  // may be dotted ("Font.Name")
  TPropValue Value;
  bool operator==(const TComponentProperty&) const = default;
};

struct TCollectionItemData {
  std::optional<int64_t> Order;
  std::vector<TComponentProperty> Properties;
  bool operator==(const TCollectionItemData&) const = default;
};

struct TComponentData {
  uint8_t Flags = 0;
  int32_t ChildPos = 0;  // with ffChildPos
  AnsiString ClassName;
  AnsiString Name;
  std::vector<TComponentProperty> Properties;
  std::vector<TComponentData> Children;

  const TPropValue* Find(std::string_view name) const;
  void Add(const AnsiString& name, TPropValue value) { Properties.push_back({name, std::move(value)}); }
  // Adds the property unless it holds its default, as the framework's writer does.
  void AddInteger(const AnsiString& name, int64_t v, std::optional<int64_t> def = std::nullopt);
  void AddString(const AnsiString& name, const AnsiString& v, std::optional<AnsiString> def = std::nullopt);
  void AddBoolean(const AnsiString& name, bool v, std::optional<bool> def = std::nullopt);
  void AddIdent(const AnsiString& name, const AnsiString& v, std::optional<AnsiString> def = std::nullopt);
  void AddSet(const AnsiString& name, std::vector<AnsiString> v,
              std::optional<std::vector<AnsiString>> def = std::nullopt);

  bool operator==(const TComponentData&) const = default;
};

// Limits that keep a hostile stream from driving the reader into deep recursion.
constexpr int kComponentMaxDepth = 64;

// Raises EReadError: "Invalid stream format" for a wrong signature, an unknown value type
// or nesting deeper than the limit; "Stream read error" for anything cut short. Event
// bindings (an identifier value of a property named On...) are left out of the tree.
// The stream ends up just past the component.
TComponentData ReadComponentStream(TStream& stream);
TComponentData ReadComponentStream(std::string_view bytes);

void WriteComponentStream(TStream& stream, const TComponentData& component);
std::string ComponentStreamBytes(const TComponentData& component);
