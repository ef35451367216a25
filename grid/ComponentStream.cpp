#include "grid/ComponentStream.h"

#include <algorithm>
#include <cmath>

#include "core/ByteIO.h"
#include "core/Exception.h"
#include "core/ScopeGuard.h"

namespace {

const char* const kInvalidStream = "Invalid stream format";
const char* const kInvalidValue = "Invalid property value";

[[noreturn]] void Invalid() { throw EReadError(kInvalidStream); }

bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return (x >= 'a' && x <= 'z' ? x - 32 : x) == (y >= 'a' && y <= 'z' ? y - 32 : y);
         });
}

// UTF-16LE bytes to UTF-8; unpaired surrogates become U+FFFD.
std::string Utf16LeToUtf8(std::string_view bytes) {
  std::string out;
  auto unit = [&](size_t i) -> uint32_t { return LoadLE<uint16_t>(bytes.data() + 2 * i); };
  const size_t n = bytes.size() / 2;
  for (size_t i = 0; i < n; ++i) {
    uint32_t c = unit(i);
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < n && unit(i + 1) >= 0xDC00 && unit(i + 1) < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (unit(++i) - 0xDC00);
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | c >> 6));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | c >> 12));
      out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | c >> 18));
      out.push_back(static_cast<char>(0x80 | (c >> 12 & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

class Reader {
 public:
  explicit Reader(std::string_view bytes) : r_(bytes.data(), bytes.size()) {}

  size_t Pos() const { return r_.Pos(); }

  void Signature() {
    if (r_.View(4) != "TPF0") Invalid();
  }

  TComponentData Component(int depth) {
    if (depth > kComponentMaxDepth) Invalid();
    TComponentData c;
    uint8_t first = Peek();
    if ((first & 0xF0) == 0xF0) {
      r_.U8();
      c.Flags = first & 0x0F;
      if (c.Flags & ffChildPos) {
        const TPropValue pos = Value(depth + 1);
        c.ChildPos = static_cast<int32_t>(pos.AsInteger());
      }
    }
    c.ClassName = ShortString();
    c.Name = ShortString();
    Properties(c.Properties, depth);
    while (Peek() != 0) c.Children.push_back(Component(depth + 1));
    r_.U8();
    return c;
  }

 private:
  uint8_t Peek() {
    const uint8_t b = r_.U8();
    r_.Seek(r_.Pos() - 1);
    return b;
  }

  AnsiString ShortString() { return r_.Bytes(r_.U8()); }

  // Properties up to the empty name that ends the list.
  void Properties(std::vector<TComponentProperty>& out, int depth) {
    for (;;) {
      AnsiString name = ShortString();
      if (name.empty()) return;
      TPropValue v = Value(depth + 1);
      // Event handlers belong to the form that wrote them; nothing here can bind them.
      if (v.Type == TValueType::vaIdent && name.size() > 2 && SameText(name.substr(0, 2), "On")) continue;
      out.push_back({std::move(name), std::move(v)});
    }
  }

  TPropValue Value(int depth) {
    if (depth > kComponentMaxDepth) Invalid();
    TPropValue v;
    const uint8_t type = r_.U8();
    if (type > static_cast<uint8_t>(TValueType::vaUTF8String)) Invalid();
    v.Type = static_cast<TValueType>(type);
    switch (v.Type) {
      case TValueType::vaNull:
      case TValueType::vaFalse:
      case TValueType::vaTrue:
      case TValueType::vaNil:
        break;
      case TValueType::vaList:
        while (Peek() != 0) v.List.push_back(Value(depth + 1));
        r_.U8();
        break;
      case TValueType::vaInt8:
        v.Int = r_.I8();
        break;
      case TValueType::vaInt16:
        v.Int = r_.I16();
        break;
      case TValueType::vaInt32:
        v.Int = r_.I32();
        break;
      case TValueType::vaInt64:
      case TValueType::vaCurrency:
        v.Int = r_.I64();
        break;
      case TValueType::vaExtended:
        v.Float = r_.F80();
        break;
      case TValueType::vaSingle:
        v.Float = r_.F32();
        break;
      case TValueType::vaDate:
        v.Float = r_.F64();
        break;
      case TValueType::vaString:
      case TValueType::vaIdent:
        v.Str = ShortString();
        break;
      case TValueType::vaLString:
      case TValueType::vaBinary:
      case TValueType::vaUTF8String:
        v.Str = r_.Bytes(r_.U32());  // checked against what is left before allocating
        break;
      case TValueType::vaWString:
        v.Str = r_.Bytes(static_cast<size_t>(r_.U32()) * 2);
        break;
      case TValueType::vaSet:
        for (;;) {
          AnsiString name = ShortString();
          if (name.empty()) break;
          v.Set.push_back(std::move(name));
        }
        break;
      case TValueType::vaCollection:
        while (Peek() != 0) v.Collection.push_back(CollectionItem(depth + 1));
        r_.U8();
        break;
    }
    return v;
  }

  TCollectionItemData CollectionItem(int depth) {
    if (depth > kComponentMaxDepth) Invalid();
    TCollectionItemData item;
    const uint8_t t = Peek();
    if (t == static_cast<uint8_t>(TValueType::vaInt8) || t == static_cast<uint8_t>(TValueType::vaInt16) ||
        t == static_cast<uint8_t>(TValueType::vaInt32))
      item.Order = Value(depth + 1).AsInteger();
    if (r_.U8() != static_cast<uint8_t>(TValueType::vaList)) Invalid();
    Properties(item.Properties, depth);
    return item;
  }

  ByteReader r_;
};

class Writer {
 public:
  void Signature() { w_.Bytes("TPF0"); }

  void Component(const TComponentData& c) {
    if (c.Flags) {
      w_.U8(0xF0 | (c.Flags & 0x0F));
      if (c.Flags & ffChildPos) Value(TPropValue::Integer(c.ChildPos));
    }
    ShortString(c.ClassName);
    ShortString(c.Name);
    Properties(c.Properties);
    for (const auto& child : c.Children) Component(child);
    w_.U8(0);
  }

  std::string Take() { return w_.Take(); }

 private:
  void ShortString(const AnsiString& s) {
    if (s.size() > 255) throw EWriteError("Name too long for a component stream: " + s.substr(0, 40));
    w_.U8(static_cast<uint8_t>(s.size()));
    w_.Bytes(s);
  }

  void LongBytes(const std::string& s) {
    if (s.size() > UINT32_MAX) throw EWriteError();
    w_.U32(static_cast<uint32_t>(s.size()));
    w_.Bytes(s);
  }

  void Properties(const std::vector<TComponentProperty>& props) {
    for (const auto& p : props) {
      if (p.Name.empty()) throw EWriteError("A property without a name would end the list");
      ShortString(p.Name);
      Value(p.Value);
    }
    w_.U8(0);
  }

  void Value(const TPropValue& v) {
    TValueType t = v.Type;
    if (t == TValueType::vaString && v.Str.size() > 255) t = TValueType::vaLString;
    w_.U8(static_cast<uint8_t>(t));
    switch (t) {
      case TValueType::vaNull:
      case TValueType::vaFalse:
      case TValueType::vaTrue:
      case TValueType::vaNil:
        break;
      case TValueType::vaList:
        for (const auto& item : v.List) Value(item);
        w_.U8(0);
        break;
      case TValueType::vaInt8:
        w_.I8(static_cast<int8_t>(v.Int));
        break;
      case TValueType::vaInt16:
        w_.I16(static_cast<int16_t>(v.Int));
        break;
      case TValueType::vaInt32:
        w_.I32(static_cast<int32_t>(v.Int));
        break;
      case TValueType::vaInt64:
      case TValueType::vaCurrency:
        w_.I64(v.Int);
        break;
      case TValueType::vaExtended:
        w_.F80(v.Float);
        break;
      case TValueType::vaSingle:
        w_.F32(static_cast<float>(v.Float));
        break;
      case TValueType::vaDate:
        w_.F64(v.Float);
        break;
      case TValueType::vaString:
      case TValueType::vaIdent:
        ShortString(v.Str);
        break;
      case TValueType::vaLString:
      case TValueType::vaBinary:
      case TValueType::vaUTF8String:
        LongBytes(v.Str);
        break;
      case TValueType::vaWString:
        w_.U32(static_cast<uint32_t>(v.Str.size() / 2));
        w_.Bytes(v.Str.data(), v.Str.size() / 2 * 2);
        break;
      case TValueType::vaSet:
        for (const auto& name : v.Set) {
          if (name.empty()) throw EWriteError("An empty set element would end the set");
          ShortString(name);
        }
        w_.U8(0);
        break;
      case TValueType::vaCollection:
        for (const auto& item : v.Collection) {
          if (item.Order) Value(TPropValue::Integer(*item.Order));
          w_.U8(static_cast<uint8_t>(TValueType::vaList));
          Properties(item.Properties);
        }
        w_.U8(0);
        break;
    }
  }

  ByteWriter w_;
};

[[noreturn]] void WrongType() { throw EReadError(kInvalidValue); }

}  // namespace

// ---- values ----

TPropValue TPropValue::Integer(int64_t v) {
  TPropValue p;
  p.Int = v;
  if (v >= INT8_MIN && v <= INT8_MAX)
    p.Type = TValueType::vaInt8;
  else if (v >= INT16_MIN && v <= INT16_MAX)
    p.Type = TValueType::vaInt16;
  else if (v >= INT32_MIN && v <= INT32_MAX)
    p.Type = TValueType::vaInt32;
  else
    p.Type = TValueType::vaInt64;
  return p;
}

TPropValue TPropValue::String(const AnsiString& s) {
  TPropValue p;
  p.Type = s.size() <= 255 ? TValueType::vaString : TValueType::vaLString;
  p.Str = s;
  return p;
}

TPropValue TPropValue::Ident(const AnsiString& s) {
  TPropValue p;
  if (SameText(s, "False"))
    p.Type = TValueType::vaFalse;
  else if (SameText(s, "True"))
    p.Type = TValueType::vaTrue;
  else if (SameText(s, "nil"))
    p.Type = TValueType::vaNil;
  else if (SameText(s, "Null"))
    p.Type = TValueType::vaNull;
  else {
    p.Type = TValueType::vaIdent;
    p.Str = s;
  }
  return p;
}

TPropValue TPropValue::Boolean(bool v) {
  TPropValue p;
  p.Type = v ? TValueType::vaTrue : TValueType::vaFalse;
  return p;
}

TPropValue TPropValue::Extended(double v) {
  TPropValue p;
  p.Type = TValueType::vaExtended;
  p.Float = v;
  return p;
}

TPropValue TPropValue::Binary(std::string bytes) {
  TPropValue p;
  p.Type = TValueType::vaBinary;
  p.Str = std::move(bytes);
  return p;
}

TPropValue TPropValue::MakeSet(std::vector<AnsiString> names) {
  TPropValue p;
  p.Type = TValueType::vaSet;
  p.Set = std::move(names);
  return p;
}

TPropValue TPropValue::MakeList(std::vector<TPropValue> items) {
  TPropValue p;
  p.Type = TValueType::vaList;
  p.List = std::move(items);
  return p;
}

int64_t TPropValue::AsInteger() const {
  switch (Type) {
    case TValueType::vaInt8:
    case TValueType::vaInt16:
    case TValueType::vaInt32:
    case TValueType::vaInt64:
      return Int;
    default:
      WrongType();
  }
}

double TPropValue::AsFloat() const {
  switch (Type) {
    case TValueType::vaExtended:
    case TValueType::vaSingle:
    case TValueType::vaDate:
      return Float;
    case TValueType::vaCurrency:
      return static_cast<double>(Int) / 10000.0;
    default:
      return static_cast<double>(AsInteger());
  }
}

AnsiString TPropValue::AsString() const {
  switch (Type) {
    case TValueType::vaString:
    case TValueType::vaLString:
      return Str;
    case TValueType::vaUTF8String:
      return Utf8ToCp936(Str);
    case TValueType::vaWString:
      return Utf8ToCp936(Utf16LeToUtf8(Str));
    default:
      WrongType();
  }
}

AnsiString TPropValue::AsIdent() const {
  switch (Type) {
    case TValueType::vaIdent:
      return Str;
    case TValueType::vaFalse:
      return "False";
    case TValueType::vaTrue:
      return "True";
    case TValueType::vaNil:
      return "nil";
    case TValueType::vaNull:
      return "Null";
    default:
      WrongType();
  }
}

bool TPropValue::AsBoolean() const {
  if (Type == TValueType::vaTrue) return true;
  if (Type == TValueType::vaFalse) return false;
  if (Type == TValueType::vaIdent) {
    if (SameText(Str, "True")) return true;
    if (SameText(Str, "False")) return false;
  }
  WrongType();
}

const std::string& TPropValue::AsBinary() const {
  if (Type != TValueType::vaBinary) WrongType();
  return Str;
}

const std::vector<AnsiString>& TPropValue::AsSet() const {
  if (Type != TValueType::vaSet) WrongType();
  return Set;
}

bool TPropValue::operator==(const TPropValue& o) const {
  const bool sameFloat = Float == o.Float || (std::isnan(Float) && std::isnan(o.Float));
  return Type == o.Type && Int == o.Int && sameFloat && Str == o.Str && Set == o.Set && List == o.List &&
         Collection == o.Collection;
}

// ---- components ----

const TPropValue* TComponentData::Find(std::string_view name) const {
  for (const auto& p : Properties)
    if (SameText(p.Name, name)) return &p.Value;
  return nullptr;
}

void TComponentData::AddInteger(const AnsiString& name, int64_t v, std::optional<int64_t> def) {
  if (def && *def == v) return;
  Add(name, TPropValue::Integer(v));
}

void TComponentData::AddString(const AnsiString& name, const AnsiString& v, std::optional<AnsiString> def) {
  if (def && *def == v) return;
  Add(name, TPropValue::String(v));
}

void TComponentData::AddBoolean(const AnsiString& name, bool v, std::optional<bool> def) {
  if (def && *def == v) return;
  Add(name, TPropValue::Boolean(v));
}

void TComponentData::AddIdent(const AnsiString& name, const AnsiString& v, std::optional<AnsiString> def) {
  if (def && *def == v) return;
  Add(name, TPropValue::Ident(v));
}

void TComponentData::AddSet(const AnsiString& name, std::vector<AnsiString> v,
                            std::optional<std::vector<AnsiString>> def) {
  if (def && *def == v) return;
  Add(name, TPropValue::MakeSet(std::move(v)));
}

TComponentData ReadComponentStream(std::string_view bytes) {
  Reader r(bytes);
  r.Signature();
  return r.Component(0);
}

TComponentData ReadComponentStream(TStream& stream) {
  const int64_t start = stream.Position();
  const std::string rest = stream.ReadRest();
  Reader r(rest);
  const auto rewind = ScopeFail([&] { stream.SetPosition(start); });
  r.Signature();
  TComponentData c = r.Component(0);
  stream.SetPosition(start + static_cast<int64_t>(r.Pos()));
  return c;
}

std::string ComponentStreamBytes(const TComponentData& component) {
  Writer w;
  w.Signature();
  w.Component(component);
  return w.Take();
}

void WriteComponentStream(TStream& stream, const TComponentData& component) {
  const std::string bytes = ComponentStreamBytes(component);
  stream.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
}
