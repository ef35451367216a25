#include "flowchart/FcStream.h"

#include "core/ByteIO.h"
#include "core/ScopeGuard.h"

namespace {

constexpr size_t kObjectRecord = 40;
constexpr size_t kConnectionRecord = 28;
// A record, its two strings and nothing else: the least an object or connection takes.
constexpr size_t kMinObject = kObjectRecord + 4;
constexpr size_t kMinConnection = kConnectionRecord + 2;

void Need(const ByteReader& r, size_t n, const char* what) {
  if (!r.Has(n)) throw EFcStreamError(AnsiString(what) + " runs past the end");
}

AnsiString ReadString(ByteReader& r) {
  Need(r, 2, "string length");
  uint16_t len = r.U16();
  Need(r, len, "string");
  return r.Bytes(len);
}

void WriteString(ByteWriter& w, const AnsiString& s) {
  size_t len = std::min<size_t>(s.size(), 0xFFFF);
  w.U16(static_cast<uint16_t>(len));
  w.Bytes(std::string_view(s).substr(0, len));
}

TFcFontRec ReadFont(ByteReader& r) {
  Need(r, 9, "font block");
  TFcFontRec f;
  f.Height = r.I16();
  f.Color = r.U32();
  f.Pitch = r.U8();
  f.Style = r.U8();
  f.Charset = r.U8();
  f.Name = ReadString(r);
  return f;
}

void WriteFont(ByteWriter& w, const TFcFontRec& f, const AnsiString& chartFontName) {
  w.I16(f.Height);
  w.U32(f.Color);
  w.U8(f.Pitch);
  w.U8(f.Style);
  w.U8(f.Charset);
  WriteString(w, f.Name == chartFontName ? AnsiString() : f.Name);
}

TFcArrowRec ReadArrow(ByteReader& r) {
  TFcArrowRec a;
  a.ArrowType = r.U8();
  a.Width = r.U8();
  a.Height = r.U8();
  a.Color = r.U32();
  return a;
}

void WriteArrow(ByteWriter& w, const TFcArrowRec& a) {
  w.U8(a.ArrowType);
  w.U8(a.Width);
  w.U8(a.Height);
  w.U32(a.Color);
}

TFcObjectRec ReadObject(ByteReader& r) {
  Need(r, kObjectRecord, "object record");
  TFcObjectRec o;
  o.Left = r.I32();
  o.Top = r.I32();
  o.Width = r.U16();
  o.Height = r.U16();
  o.EdgeFlags = r.U16();
  o.BorderFlags = r.U16();
  o.HorzTextPos = r.U8();
  o.VertTextPos = r.U8();
  o.HorzImagePos = r.U8();
  o.VertImagePos = r.U8();
  o.BkColor = r.U32();
  o.ShapeColor = r.U32();
  o.Tag = r.U32();
  uint16_t children = r.U16();
  o.ImageIndex = r.I16();
  o.ShapeType = r.U8();
  o.LineWidth = r.U8();
  o.ParentFont = r.U8();
  o.Transparent = r.U8();
  Need(r, size_t{children} * 2, "union child list");
  o.Children.resize(children);
  for (uint16_t& c : o.Children) c = r.U16();
  if (o.ParentFont == 0) o.Font = ReadFont(r);
  o.Text = ReadString(r);
  o.StepId = ReadString(r);
  return o;
}

void WriteObject(ByteWriter& w, const TFcObjectRec& o, const AnsiString& fontName) {
  w.I32(o.Left);
  w.I32(o.Top);
  w.U16(o.Width);
  w.U16(o.Height);
  w.U16(o.EdgeFlags);
  w.U16(o.BorderFlags);
  w.U8(o.HorzTextPos);
  w.U8(o.VertTextPos);
  w.U8(o.HorzImagePos);
  w.U8(o.VertImagePos);
  w.U32(o.BkColor);
  w.U32(o.ShapeColor);
  w.U32(o.Tag);
  size_t children = std::min<size_t>(o.Children.size(), 0xFFFF);
  w.U16(static_cast<uint16_t>(children));
  w.I16(o.ImageIndex);
  w.U8(o.ShapeType);
  w.U8(o.LineWidth);
  w.U8(o.ParentFont);
  w.U8(o.Transparent);
  for (size_t i = 0; i < children; ++i) w.U16(o.Children[i]);
  if (o.ParentFont == 0) WriteFont(w, o.Font, fontName);
  WriteString(w, o.Text);
  WriteString(w, o.StepId);
}

TFcConnectionRec ReadConnection(ByteReader& r) {
  Need(r, kConnectionRecord, "connection record");
  TFcConnectionRec c;
  c.Source = r.U16();
  c.Dest = r.U16();
  uint16_t points = r.U16();
  c.Color = r.U32();
  uint8_t b10 = r.U8(), b11 = r.U8();
  c.SourcePoint = b10 & 0x0F;
  c.PenStyle = b10 >> 4;
  c.DestPoint = b11 & 0x7F;
  c.Back = (b11 & 0x80) != 0;
  c.Style = r.U8();
  c.ParentFont = r.U8();
  c.SourceArrow = ReadArrow(r);
  c.DestArrow = ReadArrow(r);
  Need(r, size_t{points} * 8, "connection point list");
  c.Points.resize(points);
  for (TPoint& p : c.Points) {
    p.x = r.I32();
    p.y = r.I32();
  }
  if (c.ParentFont == 0) c.Font = ReadFont(r);
  c.Text = ReadString(r);
  return c;
}

void WriteConnection(ByteWriter& w, const TFcConnectionRec& c, const AnsiString& fontName) {
  w.U16(c.Source);
  w.U16(c.Dest);
  size_t points = std::min<size_t>(c.Points.size(), 0xFFFF);
  w.U16(static_cast<uint16_t>(points));
  w.U32(c.Color);
  w.U8(static_cast<uint8_t>((c.SourcePoint & 0x0F) | (c.PenStyle << 4)));
  w.U8(static_cast<uint8_t>((c.DestPoint & 0x7F) | (c.Back ? 0x80 : 0)));
  w.U8(c.Style);
  w.U8(c.ParentFont);
  WriteArrow(w, c.SourceArrow);
  WriteArrow(w, c.DestArrow);
  for (size_t i = 0; i < points; ++i) {
    w.I32(c.Points[i].x);
    w.I32(c.Points[i].y);
  }
  if (c.ParentFont == 0) WriteFont(w, c.Font, fontName);
  WriteString(w, c.Text);
}

}  // namespace

std::string WriteChartData(const TFcChartData& data, const AnsiString& chartFontName) {
  ByteWriter w;
  size_t objects = std::min<size_t>(data.Objects.size(), 0xFFFF);
  w.U16(static_cast<uint16_t>(objects));
  for (size_t i = 0; i < objects; ++i) WriteObject(w, data.Objects[i], chartFontName);
  size_t connections = std::min<size_t>(data.Connections.size(), 0xFFFF);
  w.U16(static_cast<uint16_t>(connections));
  for (size_t i = 0; i < connections; ++i) WriteConnection(w, data.Connections[i], chartFontName);
  return w.Take();
}

TFcChartData ReadChartData(std::string_view bytes, size_t* consumed) {
  ByteReader r(bytes);
  TFcChartData d;
  Need(r, 2, "object count");
  uint16_t objects = r.U16();
  Need(r, size_t{objects} * kMinObject, "object list");
  d.Objects.reserve(objects);
  for (uint16_t i = 0; i < objects; ++i) d.Objects.push_back(ReadObject(r));
  Need(r, 2, "connection count");
  uint16_t connections = r.U16();
  Need(r, size_t{connections} * kMinConnection, "connection list");
  d.Connections.reserve(connections);
  for (uint16_t i = 0; i < connections; ++i) d.Connections.push_back(ReadConnection(r));
  if (consumed) *consumed = r.Pos();
  return d;
}

TFcChartData ReadChartData(TStream& stream) {
  int64_t start = stream.Position();
  std::string rest = stream.ReadRest();
  size_t used = 0;
  const auto rewind = ScopeFail([&] { stream.SetPosition(start); });
  TFcChartData d = ReadChartData(rest, &used);
  stream.SetPosition(start + static_cast<int64_t>(used));
  return d;
}

void WriteChartData(TStream& stream, const TFcChartData& data, const AnsiString& chartFontName) {
  stream.WriteString(WriteChartData(data, chartFontName));
}
