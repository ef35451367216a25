#include "grid/XLCells.h"

#include <algorithm>
#include <cstring>

#include "core/ByteIO.h"
#include "core/DateParse.h"
#include "core/DateTime.h"
#include "core/EditMask.h"
#include "core/FloatFormat.h"
#include "core/ScopeGuard.h"
#include "core/SysUtils.h"
#include "grid/XLSections.h"
#include "grid/XLSheet.h"
#include "grid/XLStyles.h"

namespace {
template <class T>
std::unique_ptr<TXLCell> Make() {
  return std::make_unique<T>();
}
}  // namespace

const TXLCellClass XLCellClass("TXLCell", nullptr, nullptr);
const TXLCellClass XLCStringClass("TXLCString", &XLCellClass, &Make<TXLCString>);
const TXLCellClass XLCStringsClass("TXLCStrings", &XLCStringClass, &Make<TXLCStrings>);
const TXLCellClass XLCUrlClass("TXLCUrl", &XLCStringClass, &Make<TXLCUrl>);
const TXLCellClass XLCNumberClass("TXLCNumber", &XLCellClass, nullptr);
const TXLCellClass XLCIntegerClass("TXLCInteger", &XLCNumberClass, &Make<TXLCInteger>);
const TXLCellClass XLCDoubleClass("TXLCDouble", &XLCNumberClass, &Make<TXLCDouble>);
const TXLCellClass XLCCurrencyClass("TXLCCurrency", &XLCNumberClass, &Make<TXLCCurrency>);
const TXLCellClass XLCDateTimeClass("TXLCDateTime", &XLCellClass, &Make<TXLCDateTime>);
const TXLCellClass XLCBooleanClass("TXLCBoolean", &XLCellClass, &Make<TXLCBoolean>);
const TXLCellClass XLCPictureClass("TXLCPicture", &XLCellClass, &Make<TXLCPicture>);
const TXLCellClass XLCGroupClass("TXLCGroup", &XLCellClass, &Make<TXLCGroup>);
const TXLCellClass XLCFormulaClass("TXLCFormula", &XLCDoubleClass, &Make<TXLCFormula>);

namespace {
// The editors' class references; the editors themselves live with the grid view, which
// finds them by these names. Their order fixes the Editor indexes stored in streams.
const TXLClass kPickEdit("TXLPickEdit");
const TXLClass kMemo("TXLMemo");
const TXLClass kMaskEdit("TXLMaskEdit");
const TXLClass kComboBox("TXLComboBox");
const TXLClass kNumEdit("TXLNumEdit");
const TXLClass kDateTimeEdit("TXLDateTimeEdit");
}  // namespace

void XLRegisterCellClasses() {
  TXLManager& m = XLManager();
  if (m.IndexOfClass(&XLCStringClass) >= 0) return;
  m.RegisterClasses({&XLCStringClass, &XLCStringsClass, &XLCIntegerClass, &XLCDoubleClass, &XLCCurrencyClass,
                     &XLCDateTimeClass, &XLCBooleanClass, &XLCPictureClass, &XLCUrlClass});
  m.RegisterClasses({&XLCGroupClass, &XLCFormulaClass});
  auto formats = [&](const TXLCellClass& cls, std::vector<AnsiString> list) { *m.Formats(&cls) = std::move(list); };
  formats(XLCStringClass, {""});
  formats(XLCIntegerClass, {"0", "0|s"});
  formats(XLCDoubleClass, {"0", "0|s", "0.00", "0.00|s", "#,##0", "#,##0|s", "#,##0.00", "#,##0.00|s", "0.##%",
                           "0.##%|s", "0.00%", "0.00%|s"});
  formats(XLCCurrencyClass, {"$# ##0", "$# ##0|s", "$# ##0.00", "$# ##0.00|s"});
  formats(XLCDateTimeClass, {"DD/MM/YYYY|c", "DD/MM/YY|c", "DD/MM|c", "MM/YYYY|c", "HH:MM:SS", "h:nn am/pm",
                             "h:nn:ss am/pm", "h:nn", "h:nn:ss", "DD/MM/YYYY h:nn"});
  formats(XLCBooleanClass, {"True;False", "Yes;No"});
  formats(XLCGroupClass, {"0"});
  formats(XLCUrlClass, {""});
  formats(XLCFormulaClass, {"0", "0|c", "0.00", "0.00|c", "#,##0", "#,##0|c", "#,##0.00", "#,##0.00|c", "0.##%",
                            "0.##%|c", "0.00%", "0.00%|c"});
  m.RegisterEditors({&XLCStringClass}, {&kPickEdit, &kMemo, &kMaskEdit});
  m.RegisterEditors({&XLCStringsClass}, {&kMemo, &kPickEdit, &kComboBox});
  m.RegisterEditors({&XLCIntegerClass, &XLCDoubleClass, &XLCCurrencyClass, &XLCFormulaClass}, {&kNumEdit});
  m.RegisterEditors({&XLCDateTimeClass}, {&kDateTimeEdit});
}

// ---- shared helpers ----

TRect PlaceObject(const TRect& rect, TSize size, TXLHorzAlign ha, TXLVertAlign va, TXLWrapMode fit) {
  if (fit == wmWrapWords) return rect;
  int32_t w = size.cx, h = size.cy;
  if (fit == wmEllipsis && w > 0 && h > 0) {
    // The limiting axis fills the rectangle; the other keeps the aspect.
    const int64_t rw = rect.Width(), rh = rect.Height();
    if (rw * h <= rh * w) {
      h = int32_t(int64_t(h) * rw / w);
      w = int32_t(rw);
    } else {
      w = int32_t(int64_t(w) * rh / h);
      h = int32_t(rh);
    }
  }
  TRect r;
  switch (ha) {
    case haRight: r.Left = rect.Right - w; break;
    case haCenter: r.Left = rect.Left + (rect.Width() - w) / 2; break;
    default: r.Left = rect.Left; break;
  }
  switch (va) {
    case vaBottom: r.Top = rect.Bottom - h; break;
    case vaCenter: r.Top = rect.Top + (rect.Height() - h) / 2; break;
    default: r.Top = rect.Top; break;
  }
  r.Right = r.Left + w;
  r.Bottom = r.Top + h;
  return r;
}

AnsiString FormatNumberText(const AnsiString& mask, double value) {
  if (mask.find('%') == AnsiString::npos) return FormatFloat(mask, value);
  AnsiString m;
  for (char c : mask)
    if (c != '%') m += c;
  return FormatFloat(m, value * 100) + "%";
}

namespace {
AnsiString MaskText(const AnsiString& mask, const AnsiString& text) {
  return mask.empty() ? text : FormatMaskText(mask, text);
}

std::vector<AnsiString> SplitLines(const AnsiString& text) {
  std::vector<AnsiString> lines;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') continue;
    lines.push_back(text.substr(start, i - start));
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}
}  // namespace

// ---- TXLCString ----

void TXLCString::SetAsString(const AnsiString& v) {
  if (Unchanged(v == value_)) return;
  value_ = v;
  ValueStored();
}

AnsiString TXLCString::GetDisplayText() { return MaskText(GetFormatMask(), value_); }

// ---- TXLCStrings ----

AnsiString TXLCStrings::ItemsText() const {
  AnsiString text;
  for (size_t i = 0; i < items_.size(); ++i) {
    if (i) text += "\r\n";
    text += items_[i];
  }
  return text;
}

void TXLCStrings::Stored() { ValueStored(); }

void TXLCStrings::SetAsInteger(int32_t v) {
  if (Unchanged(v == itemIndex_)) return;
  itemIndex_ = v;
  Stored();
}

void TXLCStrings::SetAsString(const AnsiString& v) {
  if (Unchanged(v == ItemsText())) return;
  items_ = SplitLines(v);
  Stored();
}

void TXLCStrings::SetAsObject(void* v) {
  if (!v) return;
  items_ = *static_cast<const std::vector<AnsiString>*>(v);
  Stored();
}

void TXLCStrings::SetText(const AnsiString& v) {
  if (Unchanged(v == value_)) return;
  value_ = v;
  Stored();
}

AnsiString TXLCStrings::GetDisplayText() {
  if (itemIndex_ < 0 || size_t(itemIndex_) >= items_.size()) return {};
  return MaskText(GetFormatMask(), items_[size_t(itemIndex_)]);
}

void TXLCStrings::ReadTail(TXLReader& r) {
  value_ = r.ReadString();
  itemIndex_ = r.ReadInt();
  items_ = SplitLines(r.ReadString());
}

void TXLCStrings::WriteTail(TXLWriter& w) const {
  w.WriteString(value_);
  w.WriteInt(itemIndex_);
  // Each line ends with a line break, as the item list's text always has.
  AnsiString text;
  for (const AnsiString& line : items_) text += line + "\r\n";
  w.WriteString(text);
}

// ---- TXLCUrl ----

std::function<void(const AnsiString&)>& TXLCUrl::ShellOpen() {
  static std::function<void(const AnsiString&)> open;
  return open;
}

AnsiString TXLCUrl::Link() const {
  const size_t bar = Format().find('|');
  if (bar != AnsiString::npos && bar + 1 < Format().size()) return Format().substr(bar + 1);
  return GetAsString();
}

bool TXLCUrl::IsOpenableLink(const AnsiString& link) {
  const AnsiString lower = AnsiLowerCase(Trim(link));
  for (const char* scheme : {"http://", "https://", "ftp://", "mailto:"})
    if (lower.rfind(scheme, 0) == 0 && lower.size() > std::strlen(scheme)) return true;
  return false;
}

void TXLCUrl::Execute() {
  // The link comes from a server document: hand only web and mail addresses to the shell.
  const AnsiString link = Trim(Link());
  if (!IsOpenableLink(link) || !ShellOpen()) return;
  ShellOpen()(link);
}

// ---- numbers ----

void TXLCInteger::SetAsInteger(int32_t v) {
  if (Unchanged(v == value_)) return;
  value_ = v;
  ValueStored();
}

void TXLCDouble::StoreFloat(double v) {
  if (Unchanged(v == value_)) return;
  value_ = v;
  ValueStored();
}

void TXLCDouble::SetAsFloat(double v) { StoreFloat(v); }

void TXLCCurrency::SetAsCurrency(int64_t v) {
  if (Unchanged(v == value_)) return;
  value_ = v;
  ValueStored();
}

// ---- TXLCDateTime ----

void TXLCDateTime::SetAsDateTime(TDateTime v) {
  if (Unchanged(v == value_)) return;
  value_ = v;
  ValueStored();
}

void TXLCDateTime::SetAsString(const AnsiString& v) { SetAsDateTime(StrToDateTime(v)); }

void TXLCDateTime::SetValue(const TXLVariant& v) {
  if (v.IsString()) {
    SetAsString(v.AsString());
    return;
  }
  SetAsDateTime(v.AsFloat());
}

AnsiString TXLCDateTime::GetDisplayText() {
  const AnsiString mask = GetFormatMask();
  const size_t semi = mask.find(';');
  AnsiString part;
  if (value_ == 0) {
    if (semi == AnsiString::npos) return {};
    part = mask.substr(semi + 1);
  } else {
    part = semi == AnsiString::npos ? mask : mask.substr(0, semi);
  }
  return FormatDateTime(part, value_);
}

// ---- TXLCBoolean ----

void TXLCBoolean::SetAsBoolean(bool v) {
  if (Unchanged(v == value_)) return;
  value_ = v;
  ValueStored();
}

AnsiString TXLCBoolean::GetDisplayText() {
  const AnsiString mask = GetFormatMask();
  const size_t semi = mask.find(';');
  if (value_) return semi == AnsiString::npos ? mask : mask.substr(0, semi);
  return semi == AnsiString::npos ? AnsiString() : mask.substr(semi + 1);
}

bool TXLCBoolean::CanEdit() const {
  if (Styles() & (CellStyleBit(csReadOnly) | CellStyleBit(csProtect))) return false;
  TXLSheet* sheet = GetSheet();
  return !(sheet && sheet->ReadOnly());
}

void TXLCBoolean::Execute() {
  if (CanEdit()) SetAsBoolean(!value_);
}

void TXLCBoolean::KeyPress(char& key) {
  if (key != ' ') return;
  Execute();
  key = 0;
}

void TXLCBoolean::Draw(IXLCanvas& canvas, const TRect& rect) {
  if (!Format().empty()) {
    TXLCell::Draw(canvas, rect);
    return;
  }
  const int32_t side = 13 * canvas.Scale() / 100;
  const TXLLayout l = Layout();
  canvas.DrawCheckBox(PlaceObject(rect, TSize{side, side}, l.HorzAlign, l.VertAlign, wmClip), value_);
}

// ---- TXLCPicture ----

TSize TXLPicture::Size() const {
  // A stored bitmap is its byte count, then the file header, then the info header with
  // the width and height (16-bit in the old core header, 32-bit otherwise).
  constexpr size_t kInfo = 4 + 14;
  if (GraphicClass != "TBitmap" || Data.size() < kInfo + 16) return TSize{};
  const uint8_t* p = reinterpret_cast<const uint8_t*>(Data.data()) + kInfo;
  if (LoadLE<int32_t>(p) == 12) return TSize{LoadLE<uint16_t>(p + 4), LoadLE<uint16_t>(p + 6)};
  const int64_t w = LoadLE<int32_t>(p + 4), h = LoadLE<int32_t>(p + 8);
  // Rows stored top-down have a negative height.
  return TSize{int32_t(std::min<int64_t>(std::abs(w), 65535)), int32_t(std::min<int64_t>(std::abs(h), 65535))};
}

void TXLCPicture::SetPicture(const TXLPicture& p) {
  picture_ = p;
  ValueStored();
}

void TXLCPicture::SetAsObject(void* v) {
  if (v) SetPicture(*static_cast<const TXLPicture*>(v));
}

void TXLCPicture::ReadTail(TXLReader& r) {
  picture_ = TXLPicture{};
  if (r.ReadU8() != 1) return;
  picture_.GraphicClass = r.ReadShortString();
  // The graphic's own data runs to the end of the cell's block.
  picture_.Data = r.ReadBytes(r.Remaining());
}

void TXLCPicture::WriteTail(TXLWriter& w) const {
  if (picture_.Empty()) {
    w.WriteU8(0);
    return;
  }
  w.WriteU8(1);
  w.WriteShortString(picture_.GraphicClass);
  w.WriteBytes(picture_.Data);
}

void TXLCPicture::Draw(IXLCanvas& canvas, const TRect& rect) {
  if (picture_.Empty() || picture_.Data.empty()) return;
  TSize size = picture_.Size();
  size.cx = size.cx * canvas.Scale() / 100;
  size.cy = size.cy * canvas.Scale() / 100;
  const TXLLayout l = Layout();
  const TXLWrapMode fit = picture_.GraphicClass == "TIcon" ? wmClip : l.WrapMode;
  // Without a known size the graphic fills the cell.
  const TRect target =
      size.cx > 0 && size.cy > 0 ? PlaceObject(rect, size, l.HorzAlign, l.VertAlign, fit) : rect;
  canvas.DrawGraphic(picture_.GraphicClass, picture_.Data, target);
}

TSize TXLCPicture::GetTextExtent(IXLCanvas&) {
  if (WrapMode() != wmClip) return TSize{};
  const TSize s = picture_.Size();
  return TSize{s.cx + Indent(), s.cy};
}

// ---- TXLCGroup ----

void TXLCGroup::SetAsBoolean(bool v) {
  if (v == value_) {
    if (Styles() & CellStyleBit(csWriteNotify)) ValueStored();
    return;
  }
  value_ = v;
  Apply();
  ValueStored();
}

void TXLCGroup::ReadTail(TXLReader& r) {
  const bool v = r.ReadInt() != 0;
  // Reading goes through the setter so that a loaded group applies itself.
  SetFlag(xfQuiet, false);
  SetAsBoolean(v);
  SetFlag(xfQuiet, true);
}

void TXLCGroup::Apply() {
  TXLSection* s = GetSection();
  TXLSheet* sheet = s ? s->Sheet() : nullptr;
  // A bar inside its own area, or two bars governing each other, must not recurse.
  if (!sheet || applying_) return;
  applying_ = true;
  const auto done = ScopeExit([&] { applying_ = false; });
  {
    const TRect bar = GetRect();
    const bool horizontal = bar.Width() >= bar.Height();
    TRect cell;
    TRect governed;
    if (horizontal) {
      const TPoint below{bar.Left, bar.Bottom};
      const TXLUnion* u = s->FindUnionAt(below, true);
      cell = u ? u->Rect : TRect{below.X, below.Y, below.X + 1, below.Y + 1};
      governed = TRect{cell.Right, 0, bar.Right, s->RowCount()};
      for (int32_t x = cell.Right; x < bar.Right; ++x)
        sheet->SetVisible(s->ToSheet(TPoint{x, 0}).X, sCols, value_);
    } else {
      const TPoint right{bar.Right, bar.Top};
      const TXLUnion* u = s->FindUnionAt(right, true);
      cell = u ? u->Rect : TRect{right.X, right.Y, right.X + 1, right.Y + 1};
      governed = TRect{0, cell.Bottom, s->ColCount(), bar.Bottom};
      for (int32_t y = cell.Bottom; y < bar.Bottom; ++y)
        sheet->SetVisible(s->ToSheet(TPoint{0, y}).Y, sRows, value_);
    }
    if (!value_) {
      s->ForEachCell(governed, false, [&](TXLCell* c) {
        if (auto* g = dynamic_cast<TXLCGroup*>(c); g && g != this) g->Apply();
        return true;
      });
    }
  }
}

void TXLCGroup::Draw(IXLCanvas& canvas, const TRect& rect) {
  TXLCell::Draw(canvas, rect);
  const TRect bar = GetRect();
  if (bar.Width() == 1 && bar.Height() == 1) return;
  const bool horizontal = bar.Width() >= bar.Height();
  if (!value_ && Format().empty()) {
    if (horizontal) {
      const int32_t y = (rect.Top + rect.Bottom) / 2;
      canvas.Line(TPoint{rect.Left + 3, y}, TPoint{rect.Right - 3, y}, clBlack, 2);
    } else {
      const int32_t x = (rect.Left + rect.Right) / 2;
      canvas.Line(TPoint{x, rect.Top + 3}, TPoint{x, rect.Bottom - 3}, clBlack, 2);
    }
  }
  const int32_t side = horizontal ? rect.Height() : rect.Width();
  const TRect box{rect.Left, rect.Top, rect.Left + side, rect.Top + side};
  canvas.DrawEdge(box, value_ ? TXLEdge::RaisedInner : TXLEdge::SunkenOuter, true);
  TRect text = box;
  canvas.DrawText(value_ ? "+" : "-", text, DT_CENTER | DT_NOPREFIX | DT_NOCLIP);
}

TSize TXLCGroup::GetTextExtent(IXLCanvas&) {
  TXLSheet* sheet = GetSheet();
  const int32_t side = sheet ? sheet->GetDefSize(sRows) : 0;
  return TSize{side, side};
}

// ---- TXLCFormula ----

const char* TXLCFormula::ErrorText(uint8_t kind) {
  switch (kind) {
    case ekValue: return "#VALUE!";
    case ekName: return "#NAME!";
    case ekDivZero: return "#DIV/0!";
    case ekCircular: return "#CIRCULAR!";
    default: return "";
  }
}

AnsiString TXLCFormula::GetAsString() const {
  if (!formula_.empty()) return "=" + formula_;
  return TXLVariant(RawFloat()).AsString();
}

void TXLCFormula::SetFormula(AnsiString text) {
  formula_ = std::move(text);
  code_.reset();
}

std::shared_ptr<const TXLFormulaCode> TXLCFormula::Code() {
  if (!code_ || code_->DecimalSeparator() != DefaultFormatSettings().DecimalSeparator)
    code_ = TXLCalculator::Compile(formula_);
  return code_;
}

void TXLCFormula::SetAsString(const AnsiString& text) {
  if (text == formula_) return;
  size_t start = 0;
  while (start < text.size() && text[start] == '=') ++start;
  SetFormula(text.substr(start));
  MarkTextStale();
  Recalc();
}

void TXLCFormula::SetValue(const TXLVariant& v) {
  if (v.IsString()) {
    SetAsString(v.AsString());
    return;
  }
  SetAsFloat(v.AsFloat());
}

void TXLCFormula::SetAsFloat(double v) {
  const bool hadFormula = !formula_.empty();
  SetFormula({});
  errorKind_ = ekNone;
  error_ = nullptr;
  if (hadFormula) MarkTextStale();
  StoreFloat(v);
}

void TXLCFormula::GetValue(TXLVariant& v) const {
  TXLSheet* sheet = GetSheet();
  if (!formula_.empty() && sheet && sheet->Evaluation().Evaluating())
    XLReadFormulaCell(sheet->Evaluation(), const_cast<TXLCFormula&>(*this));
  v = TXLVariant(RawFloat());
}

void TXLCFormula::Recalc() {
  errorKind_ = ekNone;
  error_ = nullptr;
  SetFlag(xfRecalcPending, false);
  TXLSheet* sheet = GetSheet();
  if (formula_.empty() || !sheet) return;
  try {
    TXLVariant result;
    sheet->Calculate(formula_, this, result, false);
    StoreFloat(result.AsFloat());
  } catch (const EZeroDivide&) {
    errorKind_ = ekDivZero;
    error_ = std::current_exception();
  } catch (const EXLCircular&) {
    errorKind_ = ekCircular;
    error_ = std::current_exception();
  } catch (const EXLUnknown&) {
    errorKind_ = ekName;
    error_ = std::current_exception();
  } catch (const Exception&) {
    errorKind_ = ekValue;
    error_ = std::current_exception();
  }
  pass_ = sheet->Evaluation().pass;
  if (errorKind_ != ekNone) ValueStored();
}

AnsiString TXLCFormula::GetDisplayText() {
  if (!formula_.empty() && errorKind_ != ekNone) return ErrorText(errorKind_);
  return TXLCNumber::GetDisplayText();
}

void TXLCFormula::ReadTail(TXLReader& r) {
  TXLCDouble::ReadTail(r);
  SetFormula(r.ReadString());
  errorKind_ = ekNone;
  error_ = nullptr;
  pass_ = 0;
}

void TXLCFormula::WriteTail(TXLWriter& w) const {
  TXLCDouble::WriteTail(w);
  w.WriteString(formula_);
}
