#include "grid/XLGrids.h"

#include <algorithm>

#include "core/ScopeGuard.h"
#include "grid/XLSections.h"
#include "grid/XLSheet.h"
#include "grid/XLStyles.h"

// ---- encodings ----

namespace {
constexpr uint32_t kLineStyleBits = 0x60000000u;

// System colours keep bit 31 and their index; the style bits that a packed line takes from
// them are given back, so every system colour reads as the framework stores it.
TColor RestoreSystemBits(uint32_t c) {
  if (c & 0x80000000u) c |= kLineStyleBits;
  return TColor(c);
}
}  // namespace

int32_t PackLine(const TXLLine& line) {
  if (line.Color == clNone || line.Style <= 0) return 0;
  const uint32_t style = uint32_t(std::min(line.Style, 3)) << 29;
  return int32_t((uint32_t(line.Color) & ~kLineStyleBits) | style);
}

TXLLine UnpackLine(int32_t packed) {
  if (packed == 0) return TXLLine{};
  const uint32_t u = uint32_t(packed);
  return TXLLine{int32_t((u >> 29) & 3), RestoreSystemBits(u & ~kLineStyleBits)};
}

TColor ColorFromItem(int32_t value) {
  if (value == 0) return clNone;
  const uint32_t u = uint32_t(value);
  if (u & 0x80000000u) return value;
  return TColor(u & ~kLineStyleBits);
}

int32_t PackLayout(const TXLLayout& l) {
  return int32_t(uint32_t(l.Indent) | (uint32_t(l.HorzAlign & 0xF) << 16) |
                 (uint32_t(l.VertAlign & 0xF) << 20) | (uint32_t(l.WrapMode & 0xF) << 24));
}

TXLLayout UnpackLayout(int32_t packed) {
  const uint32_t u = uint32_t(packed);
  TXLLayout l;
  l.Indent = uint16_t(u & 0xFFFF);
  l.HorzAlign = TXLHorzAlign((u >> 16) & 0xF);
  l.VertAlign = TXLVertAlign((u >> 20) & 0xF);
  l.WrapMode = TXLWrapMode((u >> 24) & 0xF);
  return l;
}

TXLProp ItemProp(int item) {
  if (item < 8) return prBorder;
  switch (item) {
    case itColor: return prColor;
    case itFrame: return prFrame;
    case itStyles: return prStyles;
    default: return prLayout;
  }
}

const TXLCellClass* CellClassById(int32_t id) {
  return dynamic_cast<const TXLCellClass*>(XLManager().ClassById(id));
}

// ---- rectangles ----

bool RectsIntersect(const TRect& a, const TRect& b) {
  return a.Left < b.Right && b.Left < a.Right && a.Top < b.Bottom && b.Top < a.Bottom;
}

TRect IntersectRect(const TRect& a, const TRect& b) {
  TRect r{std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right),
          std::min(a.Bottom, b.Bottom)};
  if (r.IsEmpty()) return TRect{};
  return r;
}

bool PointInRect(const TPoint& p, const TRect& r) {
  return p.X >= r.Left && p.X < r.Right && p.Y >= r.Top && p.Y < r.Bottom;
}

// ---- TFont ----

void TFont::SetName(const AnsiString& v) {
  if (v == name_) return;
  name_ = v;
  Changed();
}
void TFont::SetCharset(int32_t v) {
  if (v == charset_) return;
  charset_ = v;
  Changed();
}
void TFont::SetStyle(int32_t v) {
  if (v == style_) return;
  style_ = v;
  Changed();
}
void TFont::SetHeight(int32_t v) {
  if (v == height_) return;
  height_ = v;
  Changed();
}
void TFont::SetColor(TColor v) {
  if (v == color_) return;
  color_ = v;
  Changed();
}
void TFont::Assign(const TFont& other) {
  if (SameAs(other)) return;
  CopyFrom(other);
  Changed();
}

// ---- TXLPersistent ----

TXLPersistent::~TXLPersistent() = default;

TFont& TXLPersistent::Font() {
  if (!font_) {
    font_ = std::make_unique<TFont>();
    font_->OnChange = [this] { Changed(prFont, 0); };
  }
  return *font_;
}

void TXLPersistent::SetLine(TXLSide side, const TXLLine& line) { SetItem(side, PackLine(line)); }

void TXLPersistent::SetLines(TXLSides sides, const TXLLine& line) {
  for (int s = 0; s < 8; ++s)
    if (sides & (1u << s)) SetLine(TXLSide(s), line);
}

TXLSides TXLPersistent::Sides() const {
  TXLSides sides = 0;
  for (int s = 0; s < 8; ++s) {
    bool uniform = true;
    if (GetItem(s, uniform) != 0 && uniform) sides |= SideBit(TXLSide(s));
  }
  return sides;
}

void TXLPersistent::SetSides(TXLSides sides) {
  const TXLSides old = Sides();
  for (int s = 0; s < 8; ++s) {
    const bool want = sides & (1u << s), had = old & (1u << s);
    if (want && !had) SetLine(TXLSide(s), TXLLine{1, 0});
    if (!want && had) SetItem(s, 0);
  }
}

void TXLPersistent::SetLayout(const TXLLayout& layout) {
  if (!Forced() && Layout() == layout) return;
  SetItem(itLayout, PackLayout(layout));
  Changed(prLayout, 0);
}

void TXLPersistent::SetHorzAlign(TXLHorzAlign v) {
  TXLLayout l = Layout();
  if (!Forced() && l.HorzAlign == v) return;
  l.HorzAlign = v;
  SetItem(itLayout, PackLayout(l));
  Changed(prLayout, pmLayoutHorzAlign);
}

void TXLPersistent::SetVertAlign(TXLVertAlign v) {
  TXLLayout l = Layout();
  if (!Forced() && l.VertAlign == v) return;
  l.VertAlign = v;
  SetItem(itLayout, PackLayout(l));
  Changed(prLayout, pmLayoutVertAlign);
}

void TXLPersistent::SetIndent(uint16_t v) {
  TXLLayout l = Layout();
  if (!Forced() && l.Indent == v) return;
  l.Indent = v;
  SetItem(itLayout, PackLayout(l));
  Changed(prLayout, pmLayoutIndent);
}

void TXLPersistent::SetWrapMode(TXLWrapMode v) {
  TXLLayout l = Layout();
  if (!Forced() && l.WrapMode == v) return;
  l.WrapMode = v;
  SetItem(itLayout, PackLayout(l));
  Changed(prLayout, pmLayoutWrapMode);
}

void TXLPersistent::SetEditor(int32_t v) {
  const int32_t count = XLManager().EditorCount(GetCellClass());
  if (v < 0 || v >= count) v = 0;
  if (!Forced() && v == editor_) return;
  editor_ = v;
  Changed(prControl, pmControlEditor);
}

void TXLPersistent::SetFormat(const AnsiString& v) {
  if (!Forced() && v == Format()) return;
  format_.Set(v);
  MarkTextStale();
  Changed(prControl, pmControlFormat);
}

AnsiString TXLPersistent::GetFormatMask() const {
  const AnsiString& f = Format();
  const size_t bar = f.find('|');
  return bar == AnsiString::npos ? f : f.substr(0, bar);
}

AnsiString TXLPersistent::GetFormatSuffix() const {
  const AnsiString& f = Format();
  const size_t bar = f.find('|');
  return bar == AnsiString::npos ? AnsiString() : AnsiLowerCase(f.substr(bar + 1));
}

const TXLEditorClass* TXLPersistent::GetEditorClass() const {
  return XLManager().EditorClass(GetCellClass(), editor_);
}

void TXLPersistent::SetProps(TXLProps v) {
  const TXLProps old = props_;
  if (!Forced() && old == v) return;
  props_ = v;
  for (int p = 0; p < XLPropCount; ++p)
    if ((old ^ v) & (1u << p)) Inherit(TXLProp(p), 0);
}

void TXLPersistent::Changed(TXLProp prop, int mask) {
  if (!Quiet()) props_ |= PropBit(prop);
}

TXLPersistent* TXLPersistent::FindPropOwner(TXLProp prop) {
  if (HasProp(prop)) return this;
  if (TXLStyle* style = GetBasedOn()) return style->FindPropOwner(prop);
  return nullptr;
}

void TXLPersistent::Inherit(TXLProp prop, int mask) {
  TXLPersistent* owner = FindPropOwner(prop);
  if (!owner || owner == this) return;
  const bool wasQuiet = Quiet();
  SetFlag(xfQuiet, true);
  const auto restore = ScopeExit([&] { SetFlag(xfQuiet, wasQuiet); });
  AssignProp(owner, prop, mask);
}

void TXLPersistent::AssignFontMasked(const TFont& src, int mask) {
  TFont& f = Font();
  if (mask == 0) {
    f.Assign(src);
    return;
  }
  const int32_t styleBits = mask & pmFontStyleBits;
  const int32_t style = (f.Style() & ~styleBits) | (src.Style() & styleBits);
  f.SetStyle(style);
  if (mask & pmFontName) f.SetName(src.Name());
  if (mask & pmFontHeight) f.SetHeight(src.Height());
  if (mask & pmFontColor) f.SetColor(src.Color());
  if (mask & pmFontCharset) f.SetCharset(src.Charset());
}

void TXLPersistent::AssignProp(TXLPersistent* source, TXLProp prop, int mask) {
  switch (prop) {
    case prBasedOn:
      SetBasedOn(source->GetBasedOn());
      break;
    case prControl: {
      if (mask == 0 || (mask & pmControlClass)) SetCellClass(source->GetCellClass());
      const bool same = GetCellClass() == source->GetCellClass();
      if (same && (mask == 0 || (mask & pmControlEditor))) SetEditor(source->Editor());
      if (same && (mask == 0 || (mask & pmControlFormat))) SetFormat(source->Format());
      break;
    }
    case prLayout: {
      const TXLLayout s = source->Layout();
      if (mask == 0) {
        SetLayout(s);
        break;
      }
      if (mask & pmLayoutHorzAlign) SetHorzAlign(s.HorzAlign);
      if (mask & pmLayoutVertAlign) SetVertAlign(s.VertAlign);
      if (mask & pmLayoutIndent) SetIndent(s.Indent);
      if (mask & pmLayoutWrapMode) SetWrapMode(s.WrapMode);
      break;
    }
    case prColor:
      SetColor(source->Color());
      break;
    case prFrame:
      SetFrame(source->Frame());
      break;
    case prStyles:
      SetStyles(source->Styles());
      break;
    case prFont:
      AssignFontMasked(source->Font(), mask);
      break;
    case prBorder:
      if (auto* style = dynamic_cast<TXLProStyle*>(source)) {
        const TXLSides sides = style->Sides();
        for (int s = 0; s < 8; ++s)
          if (sides & (1u << s)) SetLine(TXLSide(s), style->GetLine(TXLSide(s)));
      }
      break;
    default:
      break;
  }
}

void TXLPersistent::Assign(TXLPersistent* source) {
  if (!source) return;
  props_ = 0;
  for (int p = 0; p < XLPropCount; ++p) AssignProp(source, TXLProp(p), 0);
}

void TXLPersistent::ReadFont(TXLReader& r) {
  TFont f;
  f.SetName(r.ReadString());
  f.SetCharset(r.ReadInt());
  f.SetStyle(r.ReadInt());
  f.SetHeight(r.ReadInt());
  f.SetColor(r.ReadInt());
  Font().Assign(f);
}

void TXLPersistent::WriteFont(TXLWriter& w) const {
  const TFont& f = Font();
  w.WriteString(f.Name());
  w.WriteInt(f.Charset());
  w.WriteInt(f.Style());
  w.WriteInt(f.Height());
  w.WriteInt(f.Color());
}

void TXLPersistent::ReadControl(TXLReader& r) {
  if (Forced()) {
    // An unknown class keeps the current one rather than losing the object.
    if (const TXLCellClass* cls = CellClassById(r.ReadInt())) SetCellClass(cls);
  }
  SetEditor(r.ReadInt());
  const int32_t index = r.ReadInt();
  if (index == -1) {
    SetFormat(r.ReadString());
    return;
  }
  const auto* formats = XLManager().Formats(GetCellClass());
  if (index >= 0 && formats && size_t(index) < formats->size())
    SetFormat((*formats)[size_t(index)]);
  else
    SetFormat(AnsiString());
}

void TXLPersistent::WriteControl(TXLWriter& w) const {
  const TXLCellClass* cls = GetCellClass();
  if (Forced()) w.WriteInt(XLManager().ClassId(cls));
  w.WriteInt(editor_);
  int32_t index = -1;
  if (const auto* formats = XLManager().Formats(cls)) {
    // Exact match: a format differing only in case is a different format.
    for (size_t i = 0; i < formats->size(); ++i)
      if ((*formats)[i] == Format()) {
        index = int32_t(i);
        break;
      }
  }
  w.WriteInt(index);
  if (index == -1) w.WriteString(Format());
}

void TXLPersistent::ReadData(TXLReader& r) {
  // What is read is this object's own; it is not a change to mark or report.
  const bool wasQuiet = Quiet();
  SetFlag(xfQuiet, true);
  const auto restore = ScopeExit([&] { SetFlag(xfQuiet, wasQuiet); });
  props_ = r.ReadU16();
  if (HasProp(prFont)) ReadFont(r);
  if (HasProp(prControl)) ReadControl(r);
}

void TXLPersistent::WriteData(TXLWriter& w) const {
  w.WriteU16(props_);
  if (HasProp(prFont)) WriteFont(w);
  if (HasProp(prControl)) WriteControl(w);
}

// ---- TXLValue ----

double TXLValue::GetAsFloat() const { return Value().AsFloat(); }
TDateTime TXLValue::GetAsDateTime() const { return Value().AsDateTime(); }
int32_t TXLValue::GetAsInteger() const { return Value().AsInteger(); }
AnsiString TXLValue::GetAsString() const { return Value().AsString(); }
bool TXLValue::GetAsBoolean() const { return Value().AsBoolean(); }
int64_t TXLValue::GetAsCurrency() const { return Value().AsCurrency(); }
void TXLValue::SetAsFloat(double v) { SetValue(TXLVariant(v)); }
void TXLValue::SetAsDateTime(TDateTime v) { SetValue(TXLVariant::FromDate(v)); }
void TXLValue::SetAsInteger(int32_t v) { SetValue(TXLVariant(v)); }
void TXLValue::SetAsString(const AnsiString& v) { SetValue(TXLVariant(v)); }
void TXLValue::SetAsBoolean(bool v) { SetValue(TXLVariant(v)); }
void TXLValue::SetAsCurrency(int64_t v) { SetValue(TXLVariant::FromCurrency(v)); }

void TXLValue::SetValue(const TXLVariant&) {
  MarkTextStale();
  Changed(prValue, 0);
}

const AnsiString& TXLValue::GetText() {
  if (HasFlag(xfTextStale) || text_.empty()) {
    text_ = GetDisplayText();
    SetFlag(xfTextStale, false);
  }
  return text_;
}

void TXLValue::AssignProp(TXLPersistent* source, TXLProp prop, int mask) {
  if (prop != prValue) {
    TXLPersistent::AssignProp(source, prop, mask);
    return;
  }
  auto* src = dynamic_cast<TXLValue*>(source);
  if (!src) return;
  SetValue(src->Value());
  if (GetCellClass() == src->GetCellClass()) SetAsObject(src->GetAsObject());
}

void TXLValue::DrawText(const TXLDrawParams& params, TRect rect) {
  const AnsiString& text = GetText();
  if (text.empty() || !params.Canvas) return;
  uint32_t flags = DT_EXPANDTABS | DT_NOCLIP | DT_NOPREFIX;
  if (params.HorzAlign == haRight) flags |= DT_RIGHT;
  if (params.HorzAlign == haCenter) flags |= DT_CENTER;
  if (params.WrapMode == wmEllipsis) flags |= DT_END_ELLIPSIS;
  if (params.WrapMode == wmWrapWords) flags |= DT_WORDBREAK;
  if (params.VertAlign == vaBottom || params.VertAlign == vaCenter) {
    TRect calc{rect.Left, 0, rect.Right, 65535};
    const int32_t h = params.Canvas->DrawText(text, calc, flags | DT_CALCRECT);
    if (params.VertAlign == vaBottom)
      rect.Top = rect.Bottom - h;
    else
      rect.Top = (rect.Top + rect.Bottom - h) / 2;
  }
  params.Canvas->DrawText(text, rect, flags);
}

// ---- TXLProCell ----

TXLSheet* TXLProCell::GetSheet() const {
  TXLSection* s = GetSection();
  return s ? s->Sheet() : nullptr;
}

void TXLProCell::SetWidth(int32_t w) {
  TRect r = GetRect();
  r.Right = r.Left + w;
  SetRect(r);
}

void TXLProCell::SetHeight(int32_t h) {
  TRect r = GetRect();
  r.Bottom = r.Top + h;
  SetRect(r);
}

int32_t TXLProCell::GetItem(int item, bool& uniform) const {
  uniform = true;
  TXLSection* s = GetSection();
  if (!s) return 0;
  const TRect r = GetRect();
  bool same = true;
  int32_t v = 0;
  switch (item) {
    case sLeft: v = s->GetLines(ilVertLines, r.Left, r.Top, r.Bottom - 1, same); break;
    case sRight: v = s->GetLines(ilVertLines, r.Right, r.Top, r.Bottom - 1, same); break;
    case sTop: v = s->GetLines(ilHorzLines, r.Top, r.Left, r.Right - 1, same); break;
    case sBottom: v = s->GetLines(ilHorzLines, r.Bottom, r.Left, r.Right - 1, same); break;
    case sHInside:
    case sVInside: {
      const int list = item == sHInside ? ilHorzLines : ilVertLines;
      const int32_t first = item == sHInside ? r.Top + 1 : r.Left + 1;
      const int32_t last = item == sHInside ? r.Bottom - 1 : r.Right - 1;
      const int32_t from = item == sHInside ? r.Left : r.Top;
      const int32_t to = item == sHInside ? r.Right - 1 : r.Bottom - 1;
      bool any = false;
      for (int32_t line = first; line <= last; ++line) {
        bool lineSame = true;
        const int32_t lv = s->GetLines(list, line, from, to, lineSame);
        if (!lineSame || (any && lv != v)) same = false;
        v = any ? v : lv;
        any = true;
      }
      break;
    }
    default: {
      const int list = ItemList(item);
      v = s->GetItem(list, r.Left, r.Top);
      // A range reports whether all its positions agree.
      if (r.Width() > 1 || r.Height() > 1) {
        for (int32_t y = r.Top; y < r.Bottom && same; ++y)
          for (int32_t x = r.Left; x < r.Right; ++x)
            if (s->GetItem(list, x, y) != v) {
              same = false;
              break;
            }
      }
      break;
    }
  }
  uniform = same;
  return v;
}

void TXLProCell::SetItem(int item, int32_t value) {
  TXLSection* s = GetSection();
  if (!s || item < 0 || item >= XLItemCount) return;
  if (item == itColor && value == clNone) value = s->BaseStyle()->GetItem(itColor);
  bool uniform = true;
  if (!Forced() && GetItem(item, uniform) == value && uniform) return;
  const TRect r = GetRect();
  switch (item) {
    case sLeft: s->SetLines(ilVertLines, r.Left, value, r.Top, r.Bottom - 1); break;
    case sRight: s->SetLines(ilVertLines, r.Right, value, r.Top, r.Bottom - 1); break;
    case sTop: s->SetLines(ilHorzLines, r.Top, value, r.Left, r.Right - 1); break;
    case sBottom: s->SetLines(ilHorzLines, r.Bottom, value, r.Left, r.Right - 1); break;
    case sHInside:
      for (int32_t y = r.Top + 1; y < r.Bottom; ++y) s->SetLines(ilHorzLines, y, value, r.Left, r.Right - 1);
      break;
    case sVInside:
      for (int32_t x = r.Left + 1; x < r.Right; ++x) s->SetLines(ilVertLines, x, value, r.Top, r.Bottom - 1);
      break;
    default:
      s->SetItems(ItemList(item), r, value);
      break;
  }
  s->NormalizeIntersecting(r);
  if (item <= sBottom)
    s->CellChanged(TRect{r.Left - 1, r.Top - 1, r.Right + 1, r.Bottom + 1});
  else
    s->CellChanged(r);
  if (item != itLayout) Changed(ItemProp(item), 0);
}

void TXLProCell::Assign(TXLPersistent* source) {
  if (auto* range = dynamic_cast<TXLProRange*>(source)) SetRect(range->GetRect());
  TXLPersistent::Assign(source);
}

AnsiString TXLProCell::GetNamePath() const {
  TXLSection* s = GetSection();
  const TRect r = GetRect();
  TPoint a{r.Left, r.Top}, b{r.Right - 1, r.Bottom - 1};
  if (s) {
    a = s->ToSheet(a);
    b = s->ToSheet(b);
  }
  if (IsSingleCell()) return "Cell [" + std::to_string(a.X) + ", " + std::to_string(a.Y) + "]";
  return "Cells [" + std::to_string(a.X) + ", " + std::to_string(a.Y) + " : " + std::to_string(b.X) +
         ", " + std::to_string(b.Y) + "]";
}

bool TXLProCell::IsSingleCell() const {
  const TRect r = GetRect();
  if (r.Width() == 1 && r.Height() == 1) return true;
  TXLSection* s = GetSection();
  return s && s->IsUnionRect(r);
}

// ---- TXLProRange ----

TXLProRange::TXLProRange(TXLSection* section, const TRect& rect) : section_(section), rect_(rect) {
  SetFlag(xfForce, true);
  prevFont_ = Font();
}

TXLProRange::~TXLProRange() = default;

TXLStyle* TXLProRange::GetBasedOn() const {
  TXLCell* c = section_ ? section_->FindCell(TPoint{rect_.Left, rect_.Top}) : nullptr;
  return c ? c->GetBasedOn() : nullptr;
}

void TXLProRange::SetBasedOn(TXLStyle* style) {
  if (!section_) return;
  if (TXLCell* c = section_->GetCell(TPoint{rect_.Left, rect_.Top})) c->SetBasedOn(style);
  Changed(prBasedOn, 0);
}

const TXLCellClass* TXLProRange::GetCellClass() const {
  if (pendingClass_) return pendingClass_;
  return section_ ? section_->GetCellClass(TPoint{rect_.Left, rect_.Top}) : dynamic_cast<const TXLCellClass*>(XLManager().ClassAt(0));
}

void TXLProRange::SetCellClass(const TXLCellClass* cls) {
  if (!section_ || !cls) return;
  pendingClass_ = cls;
  section_->SetCellClass(TPoint{rect_.Left, rect_.Top}, cls);
  Changed(prControl, pmControlClass);
  pendingClass_ = nullptr;
}

void TXLProRange::GetValue(TXLVariant& v) const {
  TXLCell* c = section_ ? section_->FindCell(TPoint{rect_.Left, rect_.Top}) : nullptr;
  if (c)
    c->GetValue(v);
  else
    v = TXLVariant();
}

void TXLProRange::SetValue(const TXLVariant& v) {
  if (!section_) return;
  if (TXLCell* c = section_->GetCell(TPoint{rect_.Left, rect_.Top})) c->SetValue(v);
  Changed(prValue, 0);
}

void TXLProRange::ApplyToCells(TXLProp prop, int mask) {
  section_->ForEachCell(rect_, true, [&](TXLCell* cell) {
    cell->SetFlag(xfRepaint, true);
    cell->AssignProp(this, prop, mask);
    return true;
  });
}

void TXLProRange::Changed(TXLProp prop, int mask) {
  TXLPersistent::Changed(prop, mask);
  if (Quiet() || !section_) return;
  section_->CellChanged(rect_);
  switch (prop) {
    case prControl:
      if (mask == 0 || (mask & 1)) {
        const TXLCellClass* cls = GetCellClass();
        section_->ForEachPosition(rect_, [&](TPoint p) {
          section_->SetCellClass(p, cls);
          return true;
        });
      }
      ApplyToCells(prop, mask);
      break;
    case prFont: {
      const TFont& f = Font();
      int m = 0;
      for (int bit = 0; bit < 4; ++bit)
        if ((f.Style() ^ prevFont_.Style()) & (1 << bit)) m |= 1 << bit;
      if (f.Name() != prevFont_.Name()) m |= 0x10;
      if (f.Height() != prevFont_.Height()) m |= 0x20;
      if (f.Color() != prevFont_.Color()) m |= 0x40;
      if (f.Charset() != prevFont_.Charset()) m |= 0x80;
      // No difference means the font was touched as a whole: every cell takes all of it.
      ApplyToCells(prFont, m);
      prevFont_ = f;
      break;
    }
    case prHint:
      section_->ForEachCell(rect_, false, [](TXLCell* cell) {
        cell->SetFlag(xfRepaint, true);
        cell->SetHint(AnsiString());
        return true;
      });
      break;
    default:
      break;
  }
}

void TXLProRange::Assign(TXLPersistent* source) {
  TXLProCell::Assign(source);
  prevFont_ = Font();
}

bool TXLProRange::Merge(bool across) {
  if (!section_) return false;
  bool done = false;
  if (across) {
    for (int32_t y = rect_.Top; y < rect_.Bottom; ++y)
      done |= section_->Merge(TRect{rect_.Left, y, rect_.Right, y + 1});
    return done;
  }
  if (IsSingleCell()) return false;
  return section_->Merge(rect_);
}

bool TXLProRange::Clear(int what) {
  if (!section_) return false;
  if (what & rcValues) section_->ClearCells(rect_);
  if (what & rcFormats) {
    SetColor(clNone);
    Changed(prFont, 0);
    SetLines(XLAllSides, TXLLine{});
  }
  if ((what & rcHints) && !(what & rcValues)) Changed(prHint, 0);
  return what != 0;
}

// ---- TXLSelection ----

void TXLSelection::Changed(TXLProp prop, int mask) {
  TXLProRange::Changed(prop, mask);
  Tell();
}
void TXLSelection::SetLine(TXLSide side, const TXLLine& line) {
  TXLProRange::SetLine(side, line);
  Tell();
}
void TXLSelection::SetLines(TXLSides sides, const TXLLine& line) {
  TXLProRange::SetLines(sides, line);
  Tell();
}
void TXLSelection::SetItem(int item, int32_t value) {
  TXLProRange::SetItem(item, value);
  if (item >= itColor && item <= itStyles) Tell();
}
bool TXLSelection::Merge(bool across) {
  const bool done = TXLProRange::Merge(across);
  if (done) Tell();
  return done;
}
bool TXLSelection::Clear(int what) {
  const bool done = TXLProRange::Clear(what);
  if (done) Tell();
  return done;
}

// ---- TXLCell ----

TXLCell::TXLCell() { SetFlag(xfTextStale, true); }

TXLCell::~TXLCell() {
  TXLSection* s = GetSection();
  if (!s) return;
  if (TXLSheet* sheet = s->Sheet()) {
    sheet->CellReleased(this);
    if (!row_->Clearing() && !sheet->Destroying()) sheet->CellChanged(s->Sector(), GetRect());
  }
  if (TXLUnion* u = s->FindUnionOfCell(this)) u->Cell = nullptr;
}

void TXLCell::Attach(TXLSection* section, TPoint pos) {
  (void)pos;
  AfterCreate();
  SetFlag(xfTextStale, true);
  TXLBaseStyle* base = section->BaseStyle();
  if (base && base->GetCellClass() == GetCellClass()) SetFormatRaw(base->Format());
  if (TXLUnion* u = section->FindUnionAt(Pos(), true)) {
    if (u->Rect.Left == col_ && u->Rect.Top == Row()) {
      u->Cell = this;
      SetFlag(xfUnionHead, true);
    }
  }
  if (!HasFlag(xfRepaint)) {
    SetFlag(xfRepaint, true);
    section->CellChanged(GetRect());
  }
}

TXLSection* TXLCell::GetSection() const { return row_ ? row_->Section() : nullptr; }

int32_t TXLCell::Row() const { return row_ ? row_->Row() : -1; }

TRect TXLCell::GetRect() const {
  if (HasFlag(xfUnionHead)) {
    if (TXLSection* s = GetSection())
      if (TXLUnion* u = s->FindUnionOfCell(this)) return u->Rect;
  }
  return TRect{col_, Row(), col_ + 1, Row() + 1};
}

void TXLCell::SetRect(const TRect& rect) {
  TXLSection* s = GetSection();
  if (!s) return;
  TRect r{col_, Row(), col_ + rect.Width(), Row() + rect.Height()};
  const TRect clipped = IntersectRect(r, s->Bounds());
  TXLUnion* u = s->FindUnionOfCell(this);
  const bool accept = clipped == r && (r.Width() >= 2 || r.Height() >= 2);
  if (accept) {
    if (u) {
      s->CellChanged(u->Rect);
      u->Rect = r;
      s->NormalizeUnion(u);
    } else {
      s->AddUnion(r, this);
    }
    SetFlag(xfUnionHead, true);
    s->CellChanged(r);
  } else {
    if (u) s->DeleteUnion(u);
    SetFlag(xfUnionHead, false);
  }
}

void TXLCell::SetBasedOn(TXLStyle* style) {
  TXLSheet* sheet = GetSheet();
  if (style && (!sheet || style->Styler() != sheet->Styler()))
    throw EXLGridError("Cannot use Style from disconnected Styler!");
  if (style == basedOn_ && !Forced()) return;
  basedOn_ = style;
  Changed(prBasedOn, 0);
}

void TXLCell::DropStyleLink() {
  pendingStyle_ = -1;
  basedOn_ = nullptr;
  SetPropsRaw(Props() & TXLProps(~PropBit(prBasedOn)));
}

void TXLCell::Changed(TXLProp prop, int mask) {
  if (Quiet()) return;
  TXLPersistent::Changed(prop, mask);
  TXLSection* s = GetSection();
  if (!s) return;
  TXLSheet* sheet = s->Sheet();
  if (prop == prBasedOn) {
    if (!basedOn_) SetPropsRaw(Props() & (PropBit(prValue) | PropBit(prHint)));
    // Pull from the new owner too, so attaching a style shows its groups.
    for (int p = prControl; p <= prStyles; ++p)
      if (!HasProp(TXLProp(p))) Inherit(TXLProp(p), 0);
  }
  if (prop != prColor && prop != prBorder && prop != prFrame && !HasFlag(xfRepaint)) {
    SetFlag(xfRepaint, true);
    s->CellChanged(GetRect());
  }
  if ((prop == prControl || prop == prLayout || prop == prFont) && GetLinked()) RefreshEditor();
  if (prop == prValue) s->CellValueChanged(this);
  if (sheet && !sheet->Loading()) sheet->SetModified(true);
}

void TXLCell::AssignProp(TXLPersistent* source, TXLProp prop, int mask) {
  if (prop != prHint) {
    TXLValue::AssignProp(source, prop, mask);
    return;
  }
  if (auto* cell = dynamic_cast<TXLCell*>(source)) SetHint(cell->Hint());
}

TXLPersistent* TXLCell::FindPropOwner(TXLProp prop) {
  if (HasProp(prop)) return this;
  if (basedOn_)
    if (TXLPersistent* owner = basedOn_->FindPropOwner(prop)) return owner;
  TXLSection* s = GetSection();
  return s ? static_cast<TXLPersistent*>(s->BaseStyle()) : nullptr;
}

AnsiString TXLCell::Hint() const { return HasProp(prHint) ? hint_.Get() : AnsiString(); }

void TXLCell::SetHint(const AnsiString& value) {
  AnsiString text = value;
  TXLSheet* sheet = GetSheet();
  if (sheet && sheet->OnSetCellHint) {
    TXLSection* s = GetSection();
    sheet->OnSetCellHint(sheet, s->ToSheet(Pos()), text);
  }
  if (Styles() & CellStyleBit(csExtHint)) return;
  if (!text.empty()) {
    if (text == hint_.Get() && HasProp(prHint) && !Forced()) return;
    hint_.Set(text);
    Changed(prHint, 0);
    return;
  }
  const bool had = HasProp(prHint) && !hint_.Empty();
  hint_.Set(AnsiString());
  if (had) Changed(prHint, 0);
  SetPropsRaw(Props() & TXLProps(~PropBit(prHint)));
}

void TXLCell::RefreshEditor() {
  if (!GetLinked()) return;
  if (TXLSheet* sheet = GetSheet()) sheet->RefreshEditor(this);
}

TSize TXLCell::GetTextExtent(IXLCanvas& canvas) {
  const AnsiString text = GetText();
  if (text.empty()) return TSize{};
  if (HasProp(prFont)) canvas.SetFont(Font());
  const TSize sz = canvas.TextExtent(text);
  return TSize{sz.cx + 2 + 2 * Indent(), sz.cy + 2};
}

void TXLCell::Draw(IXLCanvas& canvas, const TRect& rect) {
  const TXLLayout l = Layout();
  TXLDrawParams p{&canvas, l.HorzAlign, l.VertAlign, l.WrapMode};
  DrawText(p, rect);
}

void TXLCell::ReadData(TXLReader& r) {
  TXLPersistent::ReadData(r);
  if (HasProp(prHint)) hint_.Set(r.ReadString());
  if (HasProp(prBasedOn)) pendingStyle_ = r.ReadInt();
  const bool wasQuiet = Quiet();
  SetFlag(xfQuiet, true);
  {
    const auto restore = ScopeExit([&] { SetFlag(xfQuiet, wasQuiet); });
    ReadTail(r);
  }
  SetFlag(xfTextStale, true);
}

void TXLCell::WriteData(TXLWriter& w) const {
  // A style link is stored only while the cell has a style that its styler can index.
  int32_t styleIndex = basedOn_ ? basedOn_->Index() : -1;
  TXLProps props = Props();
  if (styleIndex < 0) props &= TXLProps(~PropBit(prBasedOn));
  else props |= PropBit(prBasedOn);
  w.WriteU16(props);
  if (props & PropBit(prFont)) WriteFont(w);
  if (props & PropBit(prControl)) WriteControl(w);
  if (props & PropBit(prHint)) w.WriteString(hint_.Get());
  if (props & PropBit(prBasedOn)) w.WriteInt(styleIndex);
  WriteTail(w);
}

// ---- TXLRow ----

void TXLRow::Put(int32_t col, std::unique_ptr<TXLCell> cell) {
  if (col < 0 || col > XLMaxIndex || !cell) return;
  std::unique_ptr<TXLCell> old = Take(col);
  cell->row_ = this;
  cell->col_ = col;
  TObjectSList<TXLCell>::Put(col, cell.release());
}

std::unique_ptr<TXLCell> TXLRow::Take(int32_t col) {
  TXLCell* cell = Get(col);
  TObjectSList<TXLCell>::Put(col, nullptr);
  return std::unique_ptr<TXLCell>(cell);
}

void TXLRow::Clear() {
  clearing_ = true;
  // Each cell leaves the row before it is freed, so nothing finds a cell being freed.
  std::vector<int32_t> cols;
  ForEachIn(0, Last(), [&](int32_t col, TXLCell*) { cols.push_back(col); });
  for (int32_t col : cols) Take(col).reset();
  TObjectSList<TXLCell>::Clear();
  clearing_ = false;
}

int32_t TXLRow::CellCount() const {
  int32_t n = 0;
  ForEachIn(0, Last(), [&](int32_t, TXLCell*) { ++n; });
  return n;
}

void TXLRow::TruncateFrom(int32_t col) {
  while (Last() >= std::max(col, 0)) Take(Last()).reset();
}

void TXLRow::Changed(int32_t first, int32_t last) {
  ForEachIn(first, last, [](int32_t i, TXLCell* c) { c->col_ = i; });
}

// ---- TXLUnion ----

TXLUnion::~TXLUnion() {
  if (!Cell) return;
  Cell->SetFlag(xfUnionHead, false);
  Cell->RefreshEditor();
}

bool TXLUnion::Truncate(int axis, int32_t limit) {
  if (axis == 0) {
    if (Rect.Left >= limit) return true;
    Rect.Right = std::min(Rect.Right, limit);
  } else {
    if (Rect.Top >= limit) return true;
    Rect.Bottom = std::min(Rect.Bottom, limit);
  }
  return false;
}
