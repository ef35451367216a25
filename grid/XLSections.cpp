#include "grid/XLSections.h"

#include <algorithm>

#include "core/ScopeGuard.h"
#include "grid/XLSheet.h"
#include "grid/XLStyles.h"

int ListItem(int list) {
  static const int kItems[XLItemListCount] = {0, 1, 4, 5, 8, 9, 10, 11};
  return list >= 0 && list < XLItemListCount ? kItems[list] : 0;
}

int ItemList(int item) {
  switch (item) {
    case sLeft:
    case sRight:
    case sVInside: return ilVertLines;
    case sTop:
    case sBottom:
    case sHInside: return ilHorzLines;
    case sBias1: return ilBias1;
    case sBias2: return ilBias2;
    case itColor: return ilColor;
    case itFrame: return ilFrame;
    case itStyles: return ilStyles;
    default: return ilLayout;
  }
}

TXLSection::TXLSection(TXLSheet* sheet, TXLSector sector) : sheet_(sheet), sector_(sector) {
  for (auto& l : lines_) l = std::make_unique<LineLists>();
  for (int k = 0; k < 6; ++k) {
    const int list = k + ilBias1;
    // New rows start from the base style's value, not from 0.
    items_[k] = std::make_unique<ItemListT>([this, list] {
      auto sub = std::make_unique<TDefSList>();
      if (TXLBaseStyle* base = BaseStyle()) sub->SetDefault(base->GetItem(ListItem(list)));
      return sub;
    });
  }
}

TXLSection::~TXLSection() {
  unions_.clear();
  rows_.clear();
}

TXLBaseStyle* TXLSection::BaseStyle() const { return sheet_ ? sheet_->BaseStyleOf(sector_) : nullptr; }

int32_t TXLSection::ColCount() const {
  if (!sheet_) return 0;
  return sector_ == sCols || sector_ == sClient ? sheet_->ColCount() : sheet_->TitleCols();
}

int32_t TXLSection::RowCount() const {
  if (!sheet_) return 0;
  return sector_ == sRows || sector_ == sClient ? sheet_->RowCount() : sheet_->TitleRows();
}

TPoint TXLSection::ToSheet(TPoint pos) const {
  if (!sheet_) return pos;
  if (sector_ == sCols || sector_ == sTitle) pos.Y -= sheet_->TitleRows();
  if (sector_ == sRows || sector_ == sTitle) pos.X -= sheet_->TitleCols();
  return pos;
}

// ---- cells ----

namespace {
// The last column before an exclusive right edge.
int32_t LastOf(int32_t right) { return right == INT32_MIN ? INT32_MIN : right - 1; }
}  // namespace

TPoint TXLSection::ResolvePos(TPoint pos) const {
  if (TXLUnion* u = FindUnionAt(pos, false)) return TPoint{u->Rect.Left, u->Rect.Top};
  return pos;
}

TXLRow* TXLSection::FindRow(int32_t row) const {
  auto it = rows_.find(row);
  return it == rows_.end() ? nullptr : it->second.get();
}

TXLRow* TXLSection::GetRow(int32_t row) {
  if (row < 0 || row > XLMaxIndex) return nullptr;
  auto& slot = rows_[row];
  if (!slot) slot = std::make_unique<TXLRow>(this, row);
  return slot.get();
}

TXLCell* TXLSection::FindCell(TPoint pos) const {
  const TPoint p = ResolvePos(pos);
  TXLRow* row = FindRow(p.Y);
  return row ? row->Get(p.X) : nullptr;
}

TXLCell* TXLSection::GetCell(TPoint pos) {
  if (TXLCell* c = FindCell(pos)) return c;
  TXLBaseStyle* base = BaseStyle();
  return PutCell(pos, base ? base->GetCellClass() : nullptr);
}

TXLCell* TXLSection::PutCell(TPoint pos, const TXLCellClass* cls) {
  if (!cls || cls->Abstract()) return nullptr;
  const TPoint p = ResolvePos(pos);
  if (p.X < 0 || p.X > XLMaxIndex || p.Y < 0 || p.Y > XLMaxIndex) return nullptr;
  TXLRow* row = GetRow(p.Y);
  TXLCell* old = row->Get(p.X);
  if (old && old->GetCellClass() == cls) return old;
  std::unique_ptr<TXLCell> oldOwned = old ? row->Take(p.X) : nullptr;
  std::unique_ptr<TXLCell> made = cls->Create();
  TXLCell* cell = made.get();
  row->Put(p.X, std::move(made));
  cell->Attach(this, p);
  if (oldOwned) {
    // A replacement keeps what a person set on the old cell, its hint (a field name) too.
    cell->SetFlag(xfQuiet, true);
    if (oldOwned->HasProp(prFont)) cell->Font().Assign(oldOwned->Font());
    try {
      cell->SetValue(oldOwned->Value());
    } catch (const Exception&) {
      // A value the new class cannot hold is dropped, not the cell.
    }
    cell->hint_ = oldOwned->hint_;
    cell->basedOn_ = oldOwned->basedOn_;
    cell->SetPropsRaw(oldOwned->Props() & TXLProps(~PropBit(prControl)));
    cell->SetFlag(xfQuiet, false);
    cell->SetFlag(xfTextStale, true);
  }
  return cell;
}

const TXLCellClass* TXLSection::GetCellClass(TPoint pos) const {
  if (TXLCell* c = FindCell(pos)) return c->GetCellClass();
  TXLBaseStyle* base = BaseStyle();
  return base ? base->GetCellClass() : nullptr;
}

void TXLSection::SetCellClass(TPoint pos, const TXLCellClass* cls) {
  if (cls && GetCellClass(pos) != cls) PutCell(pos, cls);
}

void TXLSection::ClearCells(const TRect& rect) {
  for (auto it = rows_.lower_bound(rect.Top); it != rows_.end() && it->first < rect.Bottom;) {
    TXLRow* row = it->second.get();
    std::vector<int32_t> cols;
    row->ForEachIn(rect.Left, LastOf(rect.Right), [&](int32_t col, TXLCell*) { cols.push_back(col); });
    for (int32_t col : cols) row->Remove(col);
    if (row->IsEmpty())
      it = rows_.erase(it);
    else
      ++it;
  }
}

void TXLSection::ForEachPosition(const TRect& rect, const std::function<bool(TPoint)>& callback) const {
  const TRect r = IntersectRect(rect, TRect{0, 0, XLMaxIndex + 1, XLMaxIndex + 1});
  for (int32_t y = r.Top; y < r.Bottom; ++y)
    for (int32_t x = r.Left; x < r.Right; ++x) {
      const TPoint p{x, y};
      if (FindUnionAt(p, false)) continue;
      if (!callback(p)) return;
    }
}

void TXLSection::ForEachCell(const TRect& rect, bool create, const std::function<bool(TXLCell*)>& callback) {
  if (create) {
    ForEachPosition(rect, [&](TPoint p) {
      TXLCell* c = GetCell(p);
      return c ? callback(c) : true;
    });
    return;
  }
  // Only stored cells: walk what exists instead of every position.
  std::vector<TXLCell*> cells;
  for (auto it = rows_.lower_bound(rect.Top); it != rows_.end() && it->first < rect.Bottom; ++it)
    it->second->ForEachIn(rect.Left, LastOf(rect.Right), [&](int32_t x, TXLCell* c) {
      if (!FindUnionAt(TPoint{x, it->first}, false)) cells.push_back(c);
    });
  for (TXLCell* c : cells)
    if (!callback(c)) return;
}

void TXLSection::ForEachStored(const std::function<void(TXLCell*)>& callback) const {
  std::vector<TXLCell*> cells;
  for (const auto& [y, row] : rows_) row->ForEachIn(0, row->Last(), [&](int32_t, TXLCell* c) { cells.push_back(c); });
  for (TXLCell* c : cells) callback(c);
}

int32_t TXLSection::CellCount() const {
  int32_t n = 0;
  for (const auto& [y, row] : rows_) n += row->CellCount();
  return n;
}

void TXLSection::ForEachStyled(TXLProp prop, TXLStyle* only) {
  ForEachStored([&](TXLCell* c) {
    if (!only || c->GetBasedOn() == only) c->Inherit(prop, 0);
  });
}

void TXLSection::RemoveStyle(TXLStyle* style) {
  ForEachStored([&](TXLCell* c) {
    if (c->GetBasedOn() && (!style || c->GetBasedOn() == style)) c->SetBasedOn(nullptr);
  });
}

void TXLSection::ResolveStyles() {
  TXLStyler* styler = sheet_ ? sheet_->Styler() : nullptr;
  ForEachStored([&](TXLCell* c) {
    if (!c->HasProp(prBasedOn)) return;
    const int32_t index = c->PendingStyleIndex();
    if (!styler || index < 0 || index >= styler->StyleCount()) {
      c->DropStyleLink();
      return;
    }
    c->SetBasedOnRaw(styler->Styles(index));
    c->pendingStyle_ = -1;
    for (int p = prControl; p <= prStyles; ++p)
      if (!c->HasProp(TXLProp(p))) c->Inherit(TXLProp(p), 0);
  });
}

// ---- item lists ----

TDefSList* TXLSection::SubList(int list, int32_t row, bool create) const {
  if (list < ilBias1 || list >= XLItemListCount) return nullptr;
  ItemListT& l = *items_[list - ilBias1];
  return create ? l.GetList(row) : l.Get(row);
}

TSList* TXLSection::LineList(int list, int32_t line, bool create) const {
  if (list != ilVertLines && list != ilHorzLines) return nullptr;
  LineLists& l = *lines_[list];
  return create ? l.GetList(line) : l.Get(line);
}

int32_t TXLSection::GetItem(int list, int32_t col, int32_t row) const {
  if (list == ilVertLines) {
    TSList* l = LineList(list, col, false);
    return l ? l->Get(row) : 0;
  }
  if (list == ilHorzLines) {
    TSList* l = LineList(list, row, false);
    return l ? l->Get(col) : 0;
  }
  if (TDefSList* sub = SubList(list, row, false)) return sub->Get(col);
  TXLBaseStyle* base = BaseStyle();
  return base ? base->GetItem(ListItem(list)) : 0;
}

void TXLSection::SetItems(int list, const TRect& rect, int32_t value) {
  if (list < ilBias1 || list >= XLItemListCount) return;
  TXLBaseStyle* base = BaseStyle();
  if (list == ilColor && value == clNone && base) value = base->GetItem(itColor);
  const int32_t def = base ? base->GetItem(ListItem(list)) : 0;
  const TRect r = IntersectRect(rect, TRect{0, 0, XLMaxIndex + 1, XLMaxIndex + 1});
  for (int32_t y = r.Top; y < r.Bottom; ++y) {
    TDefSList* sub = SubList(list, y, value != def);
    if (!sub) continue;
    for (int32_t x = r.Left; x < r.Right; ++x) sub->Put(x, value);
  }
  if (sheet_) {
    sheet_->CellChanged(sector_, rect);
    sheet_->AreaChanged(sector_, &rect);
  }
}

void TXLSection::SetLines(int list, int32_t line, int32_t value, int32_t from, int32_t to) {
  TSList* l = LineList(list, line, value != 0);
  if (!l) return;
  for (int32_t i = std::max(from, 0); i <= to; ++i) l->Put(i, value);
}

int32_t TXLSection::GetLines(int list, int32_t line, int32_t from, int32_t to, bool& same) const {
  same = true;
  if (from > to) return 0;
  TSList* l = LineList(list, line, false);
  if (!l) return 0;
  const int32_t v = l->Get(from);
  for (int32_t i = from + 1; i <= to; ++i)
    if (l->Get(i) != v) {
      same = false;
      break;
    }
  return v;
}

void TXLSection::SetListDefault(int list, int32_t value) {
  if (list < ilBias1 || list >= XLItemListCount) return;
  items_[list - ilBias1]->ForEach([&](int32_t, TDefSList* sub) {
    sub->SetDefault(value);
    return 0;
  });
  if (sheet_) sheet_->SectorChanged(sector_);
}

void TXLSection::ApplyDefaults() {
  TXLBaseStyle* base = BaseStyle();
  if (!base) return;
  for (int list = ilBias1; list < XLItemListCount; ++list) {
    const int32_t value = base->GetItem(ListItem(list));
    items_[list - ilBias1]->ForEach([&](int32_t, TDefSList* sub) {
      sub->SetDefault(value);
      return 0;
    });
  }
}

TXLCellStyles TXLSection::GetCellStyles(TPoint pos) const {
  return TXLCellStyles(GetItem(ilStyles, pos.X, pos.Y));
}

int32_t TXLSection::GetLayout(TPoint pos) const { return GetItem(ilLayout, pos.X, pos.Y); }

bool TXLSection::ListEmpty(int list) const {
  auto anyFilled = [](const auto& l) {
    return l.ForEach([](int32_t, auto* sub) { return sub->IsEmpty() ? 0 : 1; }) != 0;
  };
  if (list == ilVertLines || list == ilHorzLines) return !anyFilled(*lines_[list]);
  if (list < XLItemListCount) return !anyFilled(*items_[list - ilBias1]);
  return true;
}

// ---- merged areas ----

TXLUnion* TXLSection::FindUnionAt(TPoint pos, bool includeHead) const {
  for (auto it = unions_.rbegin(); it != unions_.rend(); ++it) {
    const TRect& r = (*it)->Rect;
    if (!PointInRect(pos, r)) continue;
    if (!includeHead && pos.X == r.Left && pos.Y == r.Top) continue;
    return it->get();
  }
  return nullptr;
}

TXLUnion* TXLSection::FindUnionOfCell(const TXLCell* cell) const {
  for (const auto& u : unions_)
    if (u->Cell == cell) return u.get();
  return nullptr;
}

TXLUnion* TXLSection::FindIntersecting(const TRect& rect, const TXLUnion* except) const {
  for (const auto& u : unions_)
    if (u.get() != except && RectsIntersect(u->Rect, rect)) return u.get();
  return nullptr;
}

bool TXLSection::IsUnionRect(const TRect& rect) const {
  for (const auto& u : unions_)
    if (u->Rect == rect) return true;
  return false;
}

bool TXLSection::Merge(const TRect& rect) {
  const TRect r = IntersectRect(rect, Bounds());
  if (r.IsEmpty() || (r.Width() == 1 && r.Height() == 1)) return false;
  while (TXLUnion* u = FindIntersecting(r, nullptr)) DeleteUnion(u);
  TXLRow* row = FindRow(r.Top);
  TXLUnion* u = AddUnion(r, row ? row->Get(r.Left) : nullptr);
  NormalizeUnion(u);
  if (sheet_) sheet_->AreaChanged(sector_, &r);
  return true;
}

TXLUnion* TXLSection::AddUnion(const TRect& rect, TXLCell* cell) {
  unions_.push_back(std::make_unique<TXLUnion>(rect, cell));
  if (cell) cell->SetFlag(xfUnionHead, true);
  CellChanged(rect);
  return unions_.back().get();
}

void TXLSection::DeleteUnion(TXLUnion* area) {
  auto it = std::find_if(unions_.begin(), unions_.end(), [&](const auto& p) { return p.get() == area; });
  if (it == unions_.end()) return;
  CellChanged(area->Rect);
  unions_.erase(it);
}

void TXLSection::NormalizeUnion(TXLUnion* area) {
  const TRect r = area->Rect;
  bool same = true;
  for (int32_t x = r.Left + 1; x < r.Right; ++x) SetLines(ilVertLines, x, 0, r.Top, r.Bottom - 1);
  for (int32_t y = r.Top + 1; y < r.Bottom; ++y) SetLines(ilHorzLines, y, 0, r.Left, r.Right - 1);
  for (int32_t x : {r.Left, r.Right}) {
    GetLines(ilVertLines, x, r.Top, r.Bottom - 1, same);
    if (!same) SetLines(ilVertLines, x, 0, r.Top, r.Bottom - 1);
  }
  for (int32_t y : {r.Top, r.Bottom}) {
    GetLines(ilHorzLines, y, r.Left, r.Right - 1, same);
    if (!same) SetLines(ilHorzLines, y, 0, r.Left, r.Right - 1);
  }
  for (int list = ilBias1; list < XLItemListCount; ++list) {
    const int32_t head = GetItem(list, r.Left, r.Top);
    int32_t value = head;
    if (list == ilBias1 || list == ilBias2) {
      for (int32_t y = r.Top; y < r.Bottom && value; ++y)
        for (int32_t x = r.Left; x < r.Right; ++x)
          if (GetItem(list, x, y) != head) {
            value = 0;
            break;
          }
    }
    TXLBaseStyle* base = BaseStyle();
    const int32_t def = base ? base->GetItem(ListItem(list)) : 0;
    for (int32_t y = r.Top; y < r.Bottom; ++y) {
      TDefSList* sub = SubList(list, y, value != def);
      if (!sub) continue;
      for (int32_t x = r.Left; x < r.Right; ++x) sub->Put(x, value);
    }
  }
}

void TXLSection::NormalizeIntersecting(const TRect& rect) {
  for (const auto& u : unions_)
    if (RectsIntersect(u->Rect, rect)) NormalizeUnion(u.get());
}

TRect TXLSection::ExpandRect(TRect rect) const {
  for (bool grown = true; grown;) {
    grown = false;
    for (const auto& u : unions_) {
      if (!RectsIntersect(u->Rect, rect)) continue;
      const TRect g{std::min(rect.Left, u->Rect.Left), std::min(rect.Top, u->Rect.Top),
                    std::max(rect.Right, u->Rect.Right), std::max(rect.Bottom, u->Rect.Bottom)};
      if (!(g == rect)) {
        rect = g;
        grown = true;
      }
    }
  }
  return rect;
}

void TXLSection::Truncate(int axis, int32_t count) {
  if (count < 0) count = 0;
  if (axis == 1) {
    while (!rows_.empty() && std::prev(rows_.end())->first >= count) rows_.erase(std::prev(rows_.end()));
  } else {
    for (auto it = rows_.begin(); it != rows_.end();) {
      it->second->TruncateFrom(count);
      if (it->second->IsEmpty())
        it = rows_.erase(it);
      else
        ++it;
    }
  }
  for (size_t i = 0; i < unions_.size();) {
    if (unions_[i]->Truncate(axis, count)) {
      unions_.erase(unions_.begin() + std::ptrdiff_t(i));
      continue;
    }
    ++i;
  }
}

void TXLSection::ShiftLines(int axis, int32_t index, int32_t delta) {
  if (delta == 0 || index < 0 || index > XLMaxIndex) return;
  // Areas first: a head cell that goes must not be found through its area while freed.
  ShiftUnions(axis, index, delta);
  if (axis == 1) {
    ShiftRows(index, delta);
    lines_[ilHorzLines]->Shift(index, delta);
    lines_[ilVertLines]->ForEach([&](int32_t, TSList* l) {
      l->Shift(index, delta);
      return 0;
    });
    for (auto& items : items_) items->Shift(index, delta);
  } else {
    for (auto it = rows_.begin(); it != rows_.end();) {
      it->second->Shift(index, delta);
      if (it->second->IsEmpty())
        it = rows_.erase(it);
      else
        ++it;
    }
    lines_[ilVertLines]->Shift(index, delta);
    lines_[ilHorzLines]->ForEach([&](int32_t, TSList* l) {
      l->Shift(index, delta);
      return 0;
    });
    for (auto& items : items_)
      items->ForEach([&](int32_t, TDefSList* l) {
        l->Shift(index, delta);
        return 0;
      });
  }
  // An area whose head line went gets the cell now at its top-left corner as head.
  for (auto& u : unions_) {
    if (u->Cell) continue;
    TXLRow* row = FindRow(u->Rect.Top);
    if ((u->Cell = row ? row->Get(u->Rect.Left) : nullptr)) u->Cell->SetFlag(xfUnionHead, true);
  }
}

void TXLSection::ShiftUnions(int axis, int32_t index, int32_t delta) {
  // Where a line boundary goes: lines before index stay, deleted ones collapse onto index.
  auto start = [&](int32_t p) {
    if (p < index) return p;
    return delta > 0 ? std::min(p + delta, XLMaxIndex + 1) : std::max(index, p + delta);
  };
  auto end = [&](int32_t p) {
    if (p <= index) return p;
    return delta > 0 ? std::min(p + delta, XLMaxIndex + 1) : std::max(index, p + delta);
  };
  for (size_t i = 0; i < unions_.size();) {
    TRect& r = unions_[i]->Rect;
    int32_t& a = axis == 0 ? r.Left : r.Top;
    int32_t& b = axis == 0 ? r.Right : r.Bottom;
    a = start(a);
    b = end(b);
    // What is left of the area may be a single cell or nothing: no longer a merged area.
    if (r.IsEmpty() || (r.Width() == 1 && r.Height() == 1)) {
      unions_.erase(unions_.begin() + std::ptrdiff_t(i));
      continue;
    }
    ++i;
  }
}

void TXLSection::ShiftRows(int32_t index, int32_t delta) {
  if (delta < 0) {
    // Out of the map before they are freed, so nothing finds a row being destroyed.
    std::vector<std::unique_ptr<TXLRow>> gone;
    for (auto it = rows_.lower_bound(index); it != rows_.end() && it->first < index - int64_t(delta);)
      gone.push_back(std::move(rows_.extract(it++).mapped()));
    gone.clear();
  }
  std::vector<int32_t> moving;
  for (auto it = rows_.lower_bound(index); it != rows_.end(); ++it) moving.push_back(it->first);
  // Rows move into places already vacated: from the far end when inserting.
  if (delta > 0) std::reverse(moving.begin(), moving.end());
  for (int32_t y : moving) {
    std::unique_ptr<TXLRow> old = std::move(rows_.extract(y).mapped());
    const int64_t to = int64_t(y) + delta;
    if (to > XLMaxIndex) continue;  // pushed past the last row a list can hold
    TXLRow* row = GetRow(int32_t(to));
    std::vector<int32_t> cols;
    old->ForEachIn(0, old->Last(), [&](int32_t x, TXLCell*) { cols.push_back(x); });
    for (int32_t x : cols) row->Put(x, old->Take(x));
  }
}

// ---- hints and notifications ----

AnsiString TXLSection::HintAt(TPoint pos) const {
  TXLCell* cell = FindCell(pos);
  AnsiString text = cell ? cell->Hint() : AnsiString();
  if (text.empty() && (GetCellStyles(pos) & CellStyleBit(csExtHint)) && sheet_ && sheet_->OnGetCellHint)
    sheet_->OnGetCellHint(sheet_, ToSheet(pos), text);
  return text;
}

void TXLSection::CellValueChanged(TXLCell* cell) {
  if (!sheet_ || sheet_->Loading() || !sheet_->OnCellChanged || sheet_->NotifyingCellChanged) return;
  if (!(GetCellStyles(cell->Pos()) & CellStyleBit(csNotify))) return;
  sheet_->NotifyingCellChanged = true;
  auto done = ScopeExit([this] { sheet_->NotifyingCellChanged = false; });
  sheet_->OnCellChanged(sheet_, ToSheet(cell->Pos()));
}

void TXLSection::CellChanged(const TRect& rect) {
  if (sheet_) sheet_->CellChanged(sector_, rect);
}

void TXLSection::Clear() {
  unions_.clear();
  rows_.clear();
  ClearLists();
}

void TXLSection::ClearLists() {
  for (auto& l : lines_) l->Clear();
  for (auto& l : items_) l->Clear();
}

// ---- the section record ----

void TXLSection::WriteRecord(TXLWriter& w) const {
  int32_t flags = 0;
  if (!unions_.empty()) flags |= 1;
  if (CellCount() > 0) flags |= 2;
  for (int n = 0; n < XLItemListCount; ++n)
    if (!ListEmpty(n)) flags |= 1 << (2 + n);
  w.WriteInt(flags);
  if (flags & 1) {
    w.WriteInt(int32_t(unions_.size()));
    for (const auto& u : unions_) {
      w.WriteInt(u->Rect.Left);
      w.WriteInt(u->Rect.Top);
      w.WriteInt(u->Rect.Right);
      w.WriteInt(u->Rect.Bottom);
    }
  }
  if (flags & 2) WriteCells(w);
  for (int n = 0; n < XLItemListCount; ++n) {
    if (!(flags & (1 << (2 + n)))) continue;
    if (n < ilBias1)
      lines_[n]->SaveToStream(w.Stream());
    else
      items_[n - ilBias1]->SaveToStream(w.Stream());
  }
}

void TXLSection::WriteCells(TXLWriter& w) const {
  for (const auto& [y, row] : rows_) {
    if (row->IsEmpty()) continue;
    w.WriteInt(y);
    row->ForEachIn(0, row->Last(), [&](int32_t x, const TXLCell* cell) {
      w.WriteInt(x);
      w.WriteInt(TXLManager::ClassId(cell->GetCellClass()));
      w.WriteBlock([&] { cell->WriteData(w); });
    });
    w.WriteInt(-1);
  }
  w.WriteInt(-1);
}

void TXLSection::ReadRecord(TXLReader& r) {
  Clear();
  const int32_t flags = r.ReadInt();
  if (flags & 1) ReadUnions(r);
  if (flags & 2) ReadCells(r);
  for (int n = 0; n < XLItemListCount; ++n) {
    if (!(flags & (1 << (2 + n)))) continue;
    if (n < ilBias1)
      ReadItemList(r, [&](int32_t index) -> TCustomSList* { return lines_[n]->GetList(index); });
    else
      ReadItemList(r, [&](int32_t index) -> TCustomSList* { return items_[n - ilBias1]->GetList(index); });
  }
}

void TXLSection::ReadItemList(TXLReader& r, const std::function<TCustomSList*(int32_t)>& getList) {
  // The smallest sub-list record: its index and an empty list form.
  const int32_t n = r.ReadCount(4 + 9);
  for (int32_t k = 0; k < n; ++k) {
    const int32_t index = r.ReadIndex(XLMaxIndex);
    TCustomSList* list = getList(index);
    // One sub-list's table is bounded by the page numbers it can name; what the whole
    // stream makes is charged as each is read.
    list->ReadFrom(r.In());
    r.ChargePageTable(list->PageCount());
  }
}

void TXLSection::ReadUnions(TXLReader& r) {
  const int32_t count = r.ReadCount(16);
  for (int32_t i = 0; i < count; ++i) {
    TRect rect;
    rect.Left = r.ReadInt();
    rect.Top = r.ReadInt();
    rect.Right = r.ReadInt();
    rect.Bottom = r.ReadInt();
    // Areas outside the sheet's lines are clipped; what is left of nothing is dropped.
    rect = IntersectRect(rect, Bounds());
    if (rect.IsEmpty()) continue;
    AddUnion(rect, nullptr);
  }
}

void TXLSection::ReadCells(TXLReader& r) {
  for (;;) {
    const int32_t y = r.ReadInt();
    if (y == -1) break;
    if (y < 0 || y > XLMaxIndex) TXLReader::Fail();
    for (;;) {
      const int32_t x = r.ReadInt();
      if (x == -1) break;
      if (x < 0 || x > XLMaxIndex) TXLReader::Fail();
      const TXLCellClass* cls = CellClassById(r.ReadInt());
      if (!cls || cls->Abstract()) {
        // No class to make: the block is passed over by its size.
        r.ReadBlock([] {});
        continue;
      }
      // Cells are placed where they were stored, even inside a merged area, so that a
      // hidden cell never overwrites its area's head.
      TXLRow* row = GetRow(y);
      TXLCell* cell = row->Get(x);
      if (!cell || cell->GetCellClass() != cls) {
        row->Remove(x);
        std::unique_ptr<TXLCell> made = cls->Create();
        cell = made.get();
        row->Put(x, std::move(made));
        cell->Attach(this, TPoint{x, y});
      }
      r.ReadBlock([&] { cell->ReadData(r); });
    }
  }
}
