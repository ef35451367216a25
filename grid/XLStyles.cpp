#include "grid/XLStyles.h"

#include <algorithm>

#include "core/ScopeGuard.h"
#include "core/SysUtils.h"
#include "grid/XLCells.h"
#include "grid/XLSections.h"
#include "grid/XLSheet.h"

// ---- TXLProStyle ----

TXLProStyle::TXLProStyle() {
  XLRegisterCellClasses();
  SetFlag(xfForce, true);
  cellClass_ = dynamic_cast<const TXLCellClass*>(XLManager().ClassAt(0));
  if (const auto* formats = XLManager().Formats(cellClass_); formats && !formats->empty())
    SetFormatRaw(formats->front());
}

int32_t TXLProStyle::GetItem(int item, bool& uniform) const {
  uniform = true;
  return item >= 0 && item < XLItemCount ? items_[item] : 0;
}

void TXLProStyle::SetItem(int item, int32_t value) {
  if (item < 0 || item >= XLItemCount) return;
  if (items_[item] == value && !Forced()) return;
  items_[item] = value;
  // Layout changes are marked by the layout setters.
  if (item != itLayout) Changed(ItemProp(item), 0);
}

void TXLProStyle::SetCellClass(const TXLCellClass* cls) {
  if (!cls || (cls == cellClass_ && !Forced())) return;
  cellClass_ = cls;
  SetEditorRaw(0);
  Changed(prControl, 0);
}

void TXLProStyle::ReadData(TXLReader& r) {
  TXLPersistent::ReadData(r);
  int32_t items[XLItemCount];
  for (int32_t& v : items) v = r.ReadInt();
  for (int i = 0; i < XLItemCount; ++i) items_[i] = items[i];
}

void TXLProStyle::WriteData(TXLWriter& w) const {
  TXLPersistent::WriteData(w);
  for (int32_t v : items_) w.WriteInt(v);
}

// ---- TXLBaseStyle ----

TXLBaseStyle::TXLBaseStyle(TXLSheet* sheet, bool isClient) : sheet_(sheet), isClient_(isClient) {
  SetPropsRaw(XLAllProps);
  SetFlag(xfQuiet, true);
  Font();
  if (isClient) {
    SetItemRaw(itColor, clWindow);
    SetItemRaw(itLayout, PackLayout(TXLLayout{haLeft, vaBottom, 0, wmWrapWords}));
    linesColor_ = clBtnFace;
  } else {
    SetItemRaw(itColor, clBtnFace);
    SetItemRaw(itFrame, frFlatUp);
    SetItemRaw(itLayout, PackLayout(TXLLayout{haCenter, vaCenter, 0, wmClip}));
    linesColor_ = 0;
  }
}

void TXLBaseStyle::RepaintSectors() {
  if (!sheet_) return;
  if (isClient_) {
    sheet_->SectorChanged(sClient);
    return;
  }
  for (TXLSector s : {sCols, sRows, sTitle}) sheet_->SectorChanged(s);
}

void TXLBaseStyle::SetItem(int item, int32_t value) {
  TXLProStyle::SetItem(item, value);
  if (!sheet_ || item < 0 || item >= XLItemCount) return;
  const int list = ItemList(item);
  // The line lists carry no default; only lists 2-7 follow the base style.
  if (list < ilBias1) return;
  for (int s = 0; s < 4; ++s) {
    if ((s == sClient) != isClient_) continue;
    if (TXLSection* section = sheet_->Section(TXLSector(s))) section->SetListDefault(list, value);
  }
}

void TXLBaseStyle::Changed(TXLProp prop, int mask) {
  // Base styles hold every group for good; a change is never "marked", only passed on.
  if (!sheet_) return;
  if (!sheet_->Loading()) sheet_->SetModified(true);
  if (prop == prColor || prop == prBorder || prop == prFrame) return;
  for (int s = 0; s < 4; ++s) {
    if ((s == sClient) != isClient_) continue;
    if (TXLSection* section = sheet_->Section(TXLSector(s))) section->ForEachStyled(prop, nullptr);
  }
  RepaintSectors();
}

void TXLBaseStyle::SetErrorColor(TColor v) {
  if (v == errorColor_) return;
  errorColor_ = v;
  RepaintSectors();
}

void TXLBaseStyle::SetLinesColor(TColor v) {
  if (v == linesColor_) return;
  linesColor_ = v;
  RepaintSectors();
}

AnsiString TXLBaseStyle::GetNamePath() const {
  const AnsiString sheet = sheet_ ? sheet_->Name : AnsiString();
  return sheet + (isClient_ ? ".BaseClientStyle" : ".BaseTitleStyle");
}

void TXLBaseStyle::ReadData(TXLReader& r) {
  TXLProStyle::ReadData(r);
  errorColor_ = r.ReadInt();
  linesColor_ = r.ReadInt();
}

void TXLBaseStyle::WriteData(TXLWriter& w) const {
  TXLProStyle::WriteData(w);
  w.WriteInt(errorColor_);
  w.WriteInt(linesColor_);
}

// ---- TXLStyle ----

TXLStyle::TXLStyle(TXLStyler* styler) : styler_(styler) {}

TXLStyle::~TXLStyle() = default;

void TXLStyle::SetAlias(const AnsiString& alias) {
  if (alias == alias_) return;
  if (styler_) {
    for (const auto& other : styler_->styles_)
      if (other.get() != this && other->alias_ == alias)
        throw EXLGridError(::Format("Style named \"%s\" already exists!", alias.c_str()));
  }
  alias_ = alias;
  if (styler_) styler_->Changed();
}

int32_t TXLStyle::Index() const {
  if (!styler_) return -1;
  for (size_t i = 0; i < styler_->styles_.size(); ++i)
    if (styler_->styles_[i].get() == this) return int32_t(i);
  return -1;
}

AnsiString TXLStyle::GetNamePath() const {
  return (styler_ ? styler_->Name : AnsiString()) + ".Styles[" + std::to_string(Index()) + "]";
}

void TXLStyle::Changed(TXLProp prop, int mask) {
  TXLPersistent::Changed(prop, mask);
  if (!styler_) return;
  for (TXLSheet* sheet : styler_->sheets_)
    for (int s = 0; s < 4; ++s)
      if (TXLSection* section = sheet->Section(TXLSector(s))) section->ForEachStyled(prop, this);
  styler_->Changed();
}

void TXLStyle::ReadData(TXLReader& r) {
  TXLProStyle::ReadData(r);
  alias_ = r.ReadString();
}

void TXLStyle::WriteData(TXLWriter& w) const {
  TXLProStyle::WriteData(w);
  w.WriteString(alias_);
}

// ---- TXLStyler ----

TXLStyler::~TXLStyler() {
  destroying_ = true;
  while (!sheets_.empty()) sheets_.back()->SetStyler(nullptr);
  while (!styles_.empty()) styles_.pop_back();
}

TXLStyle* TXLStyler::FindByAlias(const AnsiString& name) const {
  for (const auto& s : styles_)
    if (s->Alias() == name) return s.get();
  return nullptr;
}

TXLStyle* TXLStyler::Add() {
  styles_.push_back(std::make_unique<TXLStyle>(this));
  return styles_.back().get();
}

void TXLStyler::Delete(TXLStyle* style) {
  auto it = std::find_if(styles_.begin(), styles_.end(), [&](const auto& p) { return p.get() == style; });
  if (it == styles_.end()) return;
  std::unique_ptr<TXLStyle> owned = std::move(*it);
  styles_.erase(it);
  for (TXLSheet* sheet : sheets_)
    for (int s = 0; s < 4; ++s)
      if (TXLSection* section = sheet->Section(TXLSector(s))) section->RemoveStyle(style);
  Changed();
}

void TXLStyler::Changed() {
  if (OnChange) OnChange();
  SetModified(true);
}

void TXLStyler::SetModified(bool v) {
  if (v == modified_) return;
  modified_ = v;
  if (OnModified) OnModified();
}

void TXLStyler::ReadStyles(TStream& stream) {
  TXLReader r(stream);
  // The smallest style is its Props, the item table and an empty alias.
  const int32_t count = r.ReadCount(2 + 4 * XLItemCount + 4);
  // A stream broken off part way adds nothing: the styles read so far go again.
  const size_t before = styles_.size();
  {
    const auto dropRead = ScopeFail([&] {
      while (styles_.size() > before) styles_.pop_back();
    });
    for (int32_t i = 0; i < count; ++i) Add()->ReadData(r);
  }
  SetModified(false);
}

void TXLStyler::WriteStyles(TStream& stream) const {
  TXLWriter w(stream);
  w.WriteInt(StyleCount());
  for (const auto& s : styles_) s->WriteData(w);
  const_cast<TXLStyler*>(this)->SetModified(false);
}

void TXLStyler::AddSheet(TXLSheet* sheet) {
  if (std::find(sheets_.begin(), sheets_.end(), sheet) == sheets_.end()) sheets_.push_back(sheet);
}

void TXLStyler::RemoveSheet(TXLSheet* sheet) { std::erase(sheets_, sheet); }
