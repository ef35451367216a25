#include "grid/XLSheet.h"

#include <algorithm>

#include "core/ScopeGuard.h"
#include "grid/XLCells.h"
#include "grid/XLSections.h"
#include "grid/XLStream.h"
#include "grid/XLStyles.h"

namespace {
constexpr int32_t kMinPrintScale = 25;
constexpr int32_t kMaxPrintScale = 500;
const char* const kUnknownFormat = "Unknown XLGrid stream format!";

// Size lists in the order of the stream's mask bits: title columns, title rows, client
// columns, client rows.
constexpr struct {
  TXLAxis axis;
  int part;
} kMaskLists[4] = {{sCols, 0}, {sRows, 0}, {sCols, 1}, {sRows, 1}};
}  // namespace

TXLSheet::TXLSheet() {
  XLRegisterCellClasses();
  for (auto& l : sizes_) l = std::make_unique<TXLSizeList>();
  for (auto& l : saved_) l = std::make_unique<TXLSizeList>();
  for (int s = 0; s < 4; ++s) sections_[s] = std::make_unique<TXLSection>(this, TXLSector(s));
  baseClient_ = std::make_unique<TXLBaseStyle>(this, true);
  baseTitle_ = std::make_unique<TXLBaseStyle>(this, false);
  XLManager().AddSheet(this);
  loading_ = true;  // the defaults are no change to report
  SetDefSize(sCols, 60);
  SetDefSize(sRows, 15);
  SetCount(sCols, 5);
  SetCount(sRows, 5);
  SetTitleCount(sCols, 1);
  SetTitleCount(sRows, 1);
  loading_ = false;
  UpdatePageMetrics(false);
}

TXLSheet::~TXLSheet() {
  destroying_ = true;
  for (IXLSheetUser* u : std::vector<IXLSheetUser*>(users_)) u->SheetDetached();
  users_.clear();
  SetStyler(nullptr);
  for (auto& s : sections_) s.reset();
  // The manager may already be gone when the library shuts down.
  try {
    XLManager().RemoveSheet(this);
  } catch (const Exception&) {
  }
}

// ---- cells ----

bool TXLSheet::Locate(int32_t col, int32_t row, TXLSection*& section, TPoint& local) const {
  const int32_t tc = TitleCols(), tr = TitleRows();
  // Below the first title line there is no section to hold a cell.
  if (col < -tc || row < -tr) return false;
  const TXLSector sector = col >= 0 ? (row >= 0 ? sClient : sCols) : (row >= 0 ? sRows : sTitle);
  section = sections_[sector].get();
  local = TPoint{col < 0 ? col + tc : col, row < 0 ? row + tr : row};
  return true;
}

TXLCell* TXLSheet::GetCell(int32_t col, int32_t row) {
  TXLSection* s;
  TPoint p;
  return Locate(col, row, s, p) ? s->GetCell(p) : nullptr;
}

TXLCell* TXLSheet::FindCell(int32_t col, int32_t row) const {
  TXLSection* s;
  TPoint p;
  return Locate(col, row, s, p) ? s->FindCell(p) : nullptr;
}

AnsiString TXLSheet::GetAsString(int32_t col, int32_t row) const {
  TXLCell* c = FindCell(col, row);
  return c ? c->GetAsString() : AnsiString();
}

void TXLSheet::SetAsString(int32_t col, int32_t row, const AnsiString& text) {
  TXLCell* c = GetCell(col, row);
  if (!c) throw EXLGridError("Value out of range!");
  c->SetAsString(text);
}

TXLVariant TXLSheet::GetValue(int32_t col, int32_t row) const {
  TXLCell* c = FindCell(col, row);
  return c ? c->Value() : TXLVariant();
}

void TXLSheet::SetValue(int32_t col, int32_t row, const TXLVariant& v) {
  TXLCell* c = GetCell(col, row);
  if (!c) throw EXLGridError("Value out of range!");
  c->SetValue(v);
}

// ---- counts and sizes ----

int32_t TXLSheet::GetCount(TXLAxis axis) const { return SizeList(axis, 1).Count(); }
int32_t TXLSheet::GetTitleCount(TXLAxis axis) const { return SizeList(axis, 0).Count(); }

void TXLSheet::TruncateSections(TXLAxis axis, bool title, int32_t count) {
  // Client columns live in sCols and sClient, client rows in sRows and sClient; title
  // columns in sRows and sTitle, title rows in sCols and sTitle.
  TXLSector a, b;
  if (axis == sCols) {
    a = title ? sRows : sCols;
    b = title ? sTitle : sClient;
  } else {
    a = title ? sCols : sRows;
    b = title ? sTitle : sClient;
  }
  const int along = axis == sCols ? 0 : 1;
  sections_[a]->Truncate(along, count);
  sections_[b]->Truncate(along, count);
}

void TXLSheet::SetCount(TXLAxis axis, int32_t n) { SetLineCount(axis, false, n); }

void TXLSheet::SetTitleCount(TXLAxis axis, int32_t n) { SetLineCount(axis, true, n); }

void TXLSheet::SetLineCount(TXLAxis axis, bool titles, int32_t n) {
  // Lines beyond the last index a sparse list can hold cannot exist.
  n = std::clamp(n, 0, XLMaxIndex + 1);
  const int part = titles ? 0 : 1;
  TXLSizeList& list = SizeList(axis, part);
  if (n != list.Count()) {
    if (n < list.Count()) TruncateSections(axis, titles, n);
    list.SetCount(n);
    ForEachUser([&](IXLSheetUser* u) { u->CountChanged(AxisBit(axis), 1); });
  }
  SavedList(axis, part).SetCount(n);
}

int32_t TXLSheet::GetDefSize(TXLAxis axis) const { return SizeList(axis, 1).Default(); }

void TXLSheet::SetDefSize(TXLAxis axis, int32_t size) {
  for (int part = 0; part < 2; ++part) {
    TXLSizeList& list = SizeList(axis, part);
    if (list.Default() == size && list.IsEmpty()) continue;
    list.SetDefault(size);
    // Hidden lines stay hidden: the new default must not bring them back.
    SavedList(axis, part).ForEach([&](int32_t i, int32_t) {
      list.Put(i, 0);
      return 0;
    });
    ForEachUser([&](IXLSheetUser* u) { u->CountChanged(AxisBit(axis), part); });
  }
}

void TXLSheet::SetMaxSize(TXLAxis axis, int32_t value) {
  int32_t& max = axis == sCols ? colMaxWidth_ : rowMaxHeight_;
  if (value == max) return;
  max = value;
  if (value <= 0) return;
  if (value >= GetDefSize(axis)) {
    for (int32_t i = -GetTitleCount(axis); i < GetCount(axis); ++i)
      if (GetRealSize(i, axis) > value) SetSize(i, axis, value);
  } else {
    SetDefSize(axis, value);
  }
}

TXLSizeList& TXLSheet::ListFor(int32_t index, TXLAxis axis, int& part, int32_t& local) const {
  part = index < 0 ? 0 : 1;
  local = index < 0 ? index + GetTitleCount(axis) : index;
  return SizeList(axis, part);
}

int32_t TXLSheet::GetSize(int32_t index, TXLAxis axis) const {
  int part;
  int32_t local;
  TXLSizeList& list = ListFor(index, axis, part, local);
  return local < 0 ? 0 : list.Get(local);
}

bool TXLSheet::IsVisible(int32_t index, TXLAxis axis) const {
  int part;
  int32_t local;
  ListFor(index, axis, part, local);
  return local < 0 || SavedList(axis, part).Get(local) == 0;
}

int32_t TXLSheet::GetRealSize(int32_t index, TXLAxis axis) const {
  if (IsVisible(index, axis)) return GetSize(index, axis);
  int part;
  int32_t local;
  ListFor(index, axis, part, local);
  return SavedList(axis, part).Get(local);
}

void TXLSheet::SizingStep(int32_t index, TXLAxis axis, int32_t size, IXLSheetUser* from) {
  int part;
  int32_t local;
  TXLSizeList& list = ListFor(index, axis, part, local);
  if (OnSizing) OnSizing(this, axis, index, size);
  const int32_t max = GetMaxSize(axis);
  if (max > 0 && size > max) size = max;
  if (local < 0 || local >= list.Count() || list.Get(local) == size) return;
  list.Put(local, size);
  ForEachUser([&](IXLSheetUser* u) {
    if (u != from) u->SizeChanged(axis, part, index);
  });
}

void TXLSheet::SetSize(int32_t index, TXLAxis axis, int32_t size, IXLSheetUser* from) {
  if (size == -1) size = BestFitSize(index, axis);
  // A size below 1 would break every offset computed from the list.
  if (size < 1) size = 1;
  if (IsVisible(index, axis)) {
    SizingStep(index, axis, size, from);
    return;
  }
  int part;
  int32_t local;
  ListFor(index, axis, part, local);
  SavedList(axis, part).Put(local, size);
}

void TXLSheet::SetVisible(int32_t index, TXLAxis axis, bool visible) {
  if (IsVisible(index, axis) == visible) return;
  int part;
  int32_t local;
  TXLSizeList& list = ListFor(index, axis, part, local);
  if (local < 0 || local >= list.Count()) return;
  TXLSizeList& saved = SavedList(axis, part);
  if (visible) {
    const int32_t size = saved.Get(local);
    saved.Put(local, 0);
    SizingStep(index, axis, size, nullptr);
    return;
  }
  const int32_t size = GetSize(index, axis);
  SizingStep(index, axis, 0, nullptr);
  saved.Put(local, size > 0 ? size : GetDefSize(axis));
}

void TXLSheet::InsertLines(TXLAxis axis, int32_t index, int32_t count) {
  if (count > 0) ShiftLines(axis, index, count);
}

void TXLSheet::DeleteLines(TXLAxis axis, int32_t index, int32_t count) {
  if (count > 0) ShiftLines(axis, index, -count);
}

void TXLSheet::ShiftLines(TXLAxis axis, int32_t index, int32_t delta) {
  int part;
  int32_t local;
  TXLSizeList& sizes = ListFor(index, axis, part, local);
  const int32_t n = sizes.Count();
  if (local < 0 || local > n) return;
  if (delta > 0) {
    delta = std::min(delta, XLMaxIndex + 1 - n);
  } else {
    if (local >= n) return;
    delta = -std::min(-delta, n - local);
  }
  if (delta == 0) return;
  BeginUpdate();
  auto end = ScopeExit([&] { EndUpdate(); });
  // Client columns live in sCols and sClient, client rows in sRows and sClient; title
  // columns in sRows and sTitle, title rows in sCols and sTitle.
  const bool title = part == 0;
  const TXLSector holders[2] = {axis == sCols ? (title ? sRows : sCols) : (title ? sCols : sRows),
                                title ? sTitle : sClient};
  for (TXLSector sec : holders) sections_[sec]->ShiftLines(axis == sCols ? 0 : 1, local, delta);
  TXLSizeList& saved = SavedList(axis, part);
  sizes.Shift(local, delta);
  sizes.SetCount(n + delta);
  saved.Shift(local, delta);
  saved.SetCount(n + delta);
  ForEachUser([&](IXLSheetUser* u) { u->LinesInserted(axis, part, delta, index); });
  changed_ = true;
  SetModified(true);
}

int32_t TXLSheet::BestFitSize(int32_t index, TXLAxis axis) {
  const int32_t fallback = GetDefSize(axis);
  if (!Measurer) return fallback;
  int32_t best[2] = {0, 0};  // title lines, client lines
  const TXLAxis other = axis == sCols ? sRows : sCols;
  for (int32_t i = -GetTitleCount(other); i < GetCount(other); ++i) {
    const int32_t col = axis == sCols ? index : i;
    const int32_t row = axis == sCols ? i : index;
    TXLCell* cell = FindCell(col, row);
    if (!cell || !IsVisible(i, other)) continue;
    const TRect r = cell->GetRect();
    if ((axis == sCols ? r.Width() : r.Height()) > 1) continue;
    const int part = i < 0 ? 0 : 1;
    Measurer->SetFont((part ? BaseClientStyle() : BaseTitleStyle())->Font());
    const TSize sz = cell->GetTextExtent(*Measurer);
    best[part] = std::max(best[part], axis == sCols ? sz.cx : sz.cy);
  }
  const int32_t result = std::max(best[0], best[1]);
  return result ? result : fallback;
}

// ---- styler ----

void TXLSheet::SetStyler(TXLStyler* styler) {
  if (styler == styler_) return;
  if (styler_ && styler && !loading_) {
    // Cells keep their named styles across stylers, matched by alias.
    std::vector<std::pair<TXLCell*, AnsiString>> links;
    for (auto& s : sections_)
      s->ForEachStored([&](TXLCell* c) {
        if (!c->GetBasedOn()) return;
        links.emplace_back(c, c->GetBasedOn()->Alias());
        c->SetBasedOn(nullptr);
      });
    styler_->RemoveSheet(this);
    styler_ = styler;
    styler_->AddSheet(this);
    for (auto& [cell, alias] : links)
      if (TXLStyle* st = styler->FindByAlias(alias)) cell->SetBasedOn(st);
  } else {
    if (!destroying_)
      for (auto& s : sections_) s->RemoveStyle(nullptr);
    if (styler_) styler_->RemoveSheet(this);
    styler_ = styler;
    if (styler_) styler_->AddSheet(this);
  }
  if (OnStylerChanged) OnStylerChanged(this);
}

// ---- users and notifications ----

void TXLSheet::ForEachUser(const std::function<void(IXLSheetUser*)>& fn) {
  for (IXLSheetUser* u : std::vector<IXLSheetUser*>(users_)) fn(u);
}

bool TXLSheet::Deferred() {
  if (updateCount_ <= 0) return false;
  changed_ = true;
  return true;
}

void TXLSheet::AddUser(IXLSheetUser* user) {
  if (!user || std::find(users_.begin(), users_.end(), user) != users_.end()) return;
  users_.push_back(user);
  if (updateCount_ > 0) user->BeginUpdate();
}

void TXLSheet::RemoveUser(IXLSheetUser* user) {
  auto it = std::find(users_.begin(), users_.end(), user);
  if (it == users_.end()) return;
  users_.erase(it);
  if (updateCount_ > 0) user->EndUpdate();
}

void TXLSheet::BeginUpdate() {
  if (updateCount_ == 0) {
    changed_ = false;
    ForEachUser([](IXLSheetUser* u) { u->BeginUpdate(); });
  }
  ++updateCount_;
}

void TXLSheet::EndUpdate() {
  // An unbalanced call must not leave the bracketing off for good.
  if (updateCount_ <= 0) return;
  if (--updateCount_ > 0) {
    changed_ = true;
    return;
  }
  ForEachUser([](IXLSheetUser* u) { u->EndUpdate(); });
  if (changed_) {
    changed_ = false;
    ForEachUser([](IXLSheetUser* u) { u->SheetChanged(); });
  }
}

void TXLSheet::CellChanged(TXLSector sector, const TRect& rect, bool whole) {
  if (destroying_ || Deferred()) return;
  ForEachUser([&](IXLSheetUser* u) { u->CellChanged(sector, rect, whole); });
}

void TXLSheet::SectorChanged(TXLSector sector) {
  if (destroying_ || Deferred()) return;
  ForEachUser([&](IXLSheetUser* u) { u->SectorChanged(sector); });
}

void TXLSheet::AreaChanged(TXLSector sector, const TRect* rect) {
  if (destroying_ || Deferred()) return;
  ForEachUser([&](IXLSheetUser* u) { u->AreaChanged(sector, rect); });
}

void TXLSheet::NotifySheetChanged() {
  if (destroying_ || Deferred()) return;
  ForEachUser([](IXLSheetUser* u) { u->SheetChanged(); });
}

void TXLSheet::CellReleased(TXLCell* cell) {
  if (destroying_) return;
  ForEachUser([&](IXLSheetUser* u) { u->CellReleased(cell); });
}

void TXLSheet::RefreshEditor(TXLCell* cell) {
  // The view refreshes its editor when told the linked cell changed.
  TXLSection* s = cell->GetSection();
  if (s) CellChanged(s->Sector(), cell->GetRect(), true);
}

void TXLSheet::SetModified(bool v) {
  if (v == modified_) return;
  modified_ = v;
  if (OnModified) OnModified(this);
}

void TXLSheet::Clear() {
  BeginUpdate();
  for (auto& l : sizes_) l->Clear();
  for (auto& l : saved_) l->Clear();
  for (auto& s : sections_) s->Clear();
  changed_ = true;
  EndUpdate();
}

// ---- formulas ----

void TXLSheet::RecalcFormulas() {
  if (evaluation_.Evaluating()) return;
  std::vector<TXLCFormula*> formulas;
  for (int32_t c = 0; c < ColCount(); ++c)
    for (int32_t r = 0; r < RowCount(); ++r)
      if (auto* f = dynamic_cast<TXLCFormula*>(FindCell(c, r)); f && !f->Formula().empty()) formulas.push_back(f);
  if (formulas.empty()) return;
  // One pass: a formula read by another is evaluated once, not once per reader.
  TXLRecalcBatch batch(evaluation_);
  for (TXLCFormula* f : formulas)
    if (f->EvaluatedPass() != evaluation_.pass) f->Recalc();
}

void TXLSheet::Calculate(const AnsiString& text, TXLCell* cell, TXLVariant& result, bool checkOnly) {
  XLCalculate(*this, evaluation_, text, cell, result, checkOnly);
}

// A blank cell of the sheet answers with an empty value, which operators take as 0: a form's
// total over fields not yet filled shows a number, not "#NAME!".
bool TXLSheet::VariableLookup(const AnsiString& name, TXLVariant& result) {
  TPoint p;
  if (!TryParseCellName(name, p)) return false;
  if (p.X >= ColCount() || p.Y >= RowCount()) return false;
  result = GetValue(p.X, p.Y);
  return true;
}

// ---- print settings ----

void TXLSheet::SetTitle(const AnsiString& v) {
  if (v == title_) return;
  title_ = v;
  if (!loading_) SetModified(true);
}

void TXLSheet::SetAuthor(const AnsiString& v) {
  if (v == author_) return;
  author_ = v;
  if (!loading_) SetModified(true);
}

void TXLSheet::SetPrintMargin(int side, int32_t v) {
  if (side < 0 || side > 3) return;
  v = std::max(v, 0);
  if (v == margins_[side]) return;
  margins_[side] = v;
  UpdatePageMetrics(true);
}

void TXLSheet::SetPrintScale(int32_t v) {
  // Stored in 16 bits: keep to the range the type allows.
  v = std::clamp(v, kMinPrintScale, kMaxPrintScale);
  if (v == printScale_) return;
  printMode_ = v == 100 ? pmNormal : pmCustom;
  printScale_ = v;
  UpdatePageMetrics(true);
}

void TXLSheet::SetPrintMode(TXLPrintMode v) {
  if (printMode_ == pmNormal) SetPrintScale(100);
  printMode_ = v;
}

void TXLSheet::SetPrintHidden(bool v) {
  if (v == printHidden_) return;
  printHidden_ = v;
  UpdatePageMetrics(true);
}

void TXLSheet::SetPrintTitles(TXLAxes v) {
  if (v == printTitles_) return;
  printTitles_ = v;
  UpdatePageMetrics(true);
}

void TXLSheet::SetPrintGridLines(bool v) {
  if (v == printGridLines_) return;
  printGridLines_ = v;
  UpdatePageMetrics(true);
}

void TXLSheet::UpdatePageMetrics(bool notify) {
  // The manager's page is in screen pixels, and so are the margins: printing scales the
  // whole rectangle to printer pixels once.
  const TRect& page = XLManager().PageRect();
  pageRect_.Left = margins_[0];
  pageRect_.Top = margins_[1];
  pageRect_.Right = page.Right - margins_[2];
  pageRect_.Bottom = page.Bottom - margins_[3];
  if (notify) ForEachUser([](IXLSheetUser* u) { u->PageSetupChanged(); });
}

void TXLSheet::SetBackground(const std::string& data) {
  if (data == background_) return;
  background_ = data;
  SectorChanged(sClient);
}

// ---- the sheet stream ----

void TXLSheet::ReadXLData(TStream& stream) {
  // A stream that fails part way must not leave half a sheet: keep what was there.
  const bool wasModified = modified_;
  const std::string backup = XLData();
  int32_t counts[4];
  for (int i = 0; i < 4; ++i) counts[i] = sizes_[i]->Count();
  try {
    ReadXLDataOnce(stream);
  } catch (const EXLGridError& e) {
    if (e.Message() == kUnknownFormat) throw;  // nothing was touched
    RestoreXLData(backup, counts);
    SetModified(wasModified);
    throw;
  } catch (const Exception&) {
    RestoreXLData(backup, counts);
    SetModified(wasModified);
    throw;
  }
}

void TXLSheet::RestoreXLData(const std::string& backup, const int32_t counts[4]) {
  const bool wasLoading = loading_;
  loading_ = true;
  for (int i = 0; i < 4; ++i) {
    sizes_[i]->SetCount(counts[i]);
    saved_[i]->SetCount(counts[i]);
  }
  TMemoryStream m(backup);
  const auto check = ScopeExit([this, was = checkSizes_] { checkSizes_ = was; });
  checkSizes_ = false;  // what the sheet held, even sizes a program set beyond the readers' limits
  ReadXLDataOnce(m);
  loading_ = wasLoading;
}

void TXLSheet::ReadXLDataOnce(TStream& stream) {
  const int64_t start = stream.Position();
  char sig[4] = {};
  if (stream.Size() - start < 4 || stream.Read(sig, 4) != 4 || sig[0] != 'X' || sig[1] != 'L' || sig[2] != 'G') {
    stream.SetPosition(start);
    throw EXLGridError(kUnknownFormat);
  }
  const bool wasLoading = loading_;
  loading_ = true;
  BeginUpdate();
  {
    auto undo = ScopeFail([&] {
      loading_ = wasLoading;
      EndUpdate();
    });
    // The contents go; counts and default sizes stay.
    for (auto& l : sizes_) l->Clear();
    for (auto& l : saved_) l->Clear();
    for (auto& s : sections_) s->Clear();
    TXLReader r(stream);
    r.ReadBlock([&] { baseClient_->ReadData(r); });
    r.ReadBlock([&] { baseTitle_->ReadData(r); });
    const uint8_t mask = r.ReadU8();
    for (int bit = 0; bit < 8; ++bit) {
      if (!(mask & (1 << bit))) continue;
      const auto& which = kMaskLists[bit % 4];
      TXLSizeList& list = bit < 4 ? SizeList(which.axis, which.part) : SavedList(which.axis, which.part);
      list.ReadFrom(r.In());
      if (list.Count() > XLMaxIndex + 1) list.SetCount(XLMaxIndex + 1);
    }
    CheckLineSizes();
    for (int s = 0; s < 4; ++s) {
      TXLSection& section = *sections_[s];
      if (section.ColCount() > 0 && section.RowCount() > 0) section.ReadRecord(r);
    }
    for (auto& s : sections_) {
      s->ApplyDefaults();
      s->ResolveStyles();
    }
  }
  loading_ = wasLoading;
  ForEachUser([](IXLSheetUser* u) {
    u->CountChanged(0, 1);
    u->ViewsChanged(1);
  });
  changed_ = true;
  EndUpdate();
  SetModified(false);
}

void TXLSheet::CheckLineSizes() const {
  if (!checkSizes_) return;
  auto fits = [](int32_t size) { return size >= 0 && size <= XLMaxLineSize; };
  for (TXLAxis axis : {sCols, sRows}) {
    int64_t extent = 0;
    for (int part = 0; part < 2; ++part) {
      const TXLSizeList& sizes = SizeList(axis, part);
      const TXLSizeList& saved = SavedList(axis, part);
      const int32_t count = sizes.Count(), def = sizes.Default();
      if (!fits(def) || !fits(saved.Default())) TXLReader::Fail();
      extent += int64_t(def) * count;
      // A hidden line has size 0 and its size in the saved list: the two add up to it.
      const bool bad = sizes.ForEach([&](int32_t i, int32_t raw) {
        const int32_t size = xllists_detail::WrapAdd(raw, def);
        if (!fits(size)) return 1;
        if (i < count) extent += int64_t(size) - def;
        return 0;
      }) || saved.ForEach([&](int32_t i, int32_t raw) {
        const int32_t size = xllists_detail::WrapAdd(raw, saved.Default());
        if (!fits(size)) return 1;
        if (i < count) extent += size;
        return 0;
      });
      if (bad) TXLReader::Fail();
    }
    if (extent > XLMaxExtent) TXLReader::Fail();
  }
}

void TXLSheet::WriteXLData(TStream& stream) const {
  TXLWriter w(stream);
  w.WriteBytes(std::string("XLG\x16", 4));
  w.WriteBlock([&] { baseClient_->WriteData(w); });
  w.WriteBlock([&] { baseTitle_->WriteData(w); });
  uint8_t mask = 0;
  for (int bit = 0; bit < 8; ++bit) {
    const auto& which = kMaskLists[bit % 4];
    const TXLSizeList& list = bit < 4 ? SizeList(which.axis, which.part) : SavedList(which.axis, which.part);
    if (!list.IsEmpty()) mask |= uint8_t(1 << bit);
  }
  w.WriteU8(mask);
  for (int bit = 0; bit < 8; ++bit) {
    if (!(mask & (1 << bit))) continue;
    const auto& which = kMaskLists[bit % 4];
    (bit < 4 ? SizeList(which.axis, which.part) : SavedList(which.axis, which.part)).SaveToStream(stream);
  }
  for (int s = 0; s < 4; ++s) {
    const TXLSection& section = *sections_[s];
    if (section.ColCount() > 0 && section.RowCount() > 0) section.WriteRecord(w);
  }
  // What has just been written is saved: the sheet is no longer modified.
  const_cast<TXLSheet*>(this)->SetModified(false);
}

std::string TXLSheet::XLData() const {
  TMemoryStream m;
  WriteXLData(m);
  return m.TakeData();
}

// ---- the component stream ----

namespace {
constexpr const char* kMarginNames[4] = {"PrintMarginLeft", "PrintMarginTop", "PrintMarginRight",
                                         "PrintMarginBottom"};

TXLAxes AxesFromSet(const std::vector<AnsiString>& names) {
  TXLAxes axes = 0;
  for (const AnsiString& n : names) {
    if (n == "sCols") axes |= AxisBit(sCols);
    if (n == "sRows") axes |= AxisBit(sRows);
  }
  return axes;
}
}  // namespace

void TXLSheet::ResetProperties() {
  title_.clear();
  author_.clear();
  for (int32_t& m : margins_) m = 0;
  printMode_ = pmNormal;
  printScale_ = 100;
  printHidden_ = false;
  printTitles_ = AxisBit(sCols) | AxisBit(sRows);
  printGridLines_ = false;
  readOnly_ = false;
  background_.clear();
  colMaxWidth_ = rowMaxHeight_ = 0;
  SetDefSize(sCols, 60);
  SetDefSize(sRows, 15);
  SetCount(sCols, 5);
  SetCount(sRows, 5);
  SetTitleCount(sCols, 1);
  SetTitleCount(sRows, 1);
}

void TXLSheet::ApplyProperty(const AnsiString& name, const TPropValue& v) {
  if (name == "Author") return SetAuthor(v.AsString());
  if (name == "Title") return SetTitle(v.AsString());
  for (int i = 0; i < 4; ++i)
    if (name == kMarginNames[i]) return SetPrintMargin(i, int32_t(v.AsInteger()));
  if (name == "PrintMode") return SetPrintMode(v.AsIdent() == "pmCustom" ? pmCustom : pmNormal);
  if (name == "PrintScale") return SetPrintScale(int32_t(std::clamp<int64_t>(v.AsInteger(), 0, kMaxPrintScale)));
  if (name == "PrintHidden") return SetPrintHidden(v.AsBoolean());
  if (name == "PrintTitles") return SetPrintTitles(AxesFromSet(v.AsSet()));
  if (name == "PrintGridLines") return SetPrintGridLines(v.AsBoolean());
  auto count = [&] { return int32_t(std::clamp<int64_t>(v.AsInteger(), 0, XLMaxIndex + 1)); };
  auto size = [&] { return int32_t(std::clamp<int64_t>(v.AsInteger(), INT32_MIN, INT32_MAX)); };
  // A default line size no window could show is no sheet of ours.
  auto lineSize = [&] {
    const int64_t n = v.AsInteger();
    if (n < 0 || n > XLMaxLineSize) TXLReader::Fail();
    return int32_t(n);
  };
  if (name == "ColCount") return SetCount(sCols, count());
  if (name == "RowCount") return SetCount(sRows, count());
  if (name == "TitleCols") return SetTitleCount(sCols, count());
  if (name == "TitleRows") return SetTitleCount(sRows, count());
  if (name == "ColDefWidth") return SetDefSize(sCols, lineSize());
  if (name == "RowDefHeight") return SetDefSize(sRows, lineSize());
  if (name == "ColMaxWidth") return SetMaxSize(sCols, size());
  if (name == "RowMaxHeight") return SetMaxSize(sRows, size());
  if (name == "ReadOnly") return SetReadOnly(v.AsBoolean());
  if (name == "Background.Data") return SetBackground(v.AsBinary());
  if (name == "XLData") {
    TMemoryStream m(v.AsBinary());
    ReadXLDataOnce(m);
  }
  // Anything else (the styler reference, properties of newer writers) is passed over.
}

void TXLSheet::LoadFromStream(TStream& stream) {
  const bool wasModified = modified_;
  TMemoryStream backup;
  SaveToStream(backup);
  try {
    LoadFromStreamOnce(stream);
  } catch (const Exception&) {
    // Put back what the sheet held; our own stream always loads.
    backup.SetPosition(0);
    const auto check = ScopeExit([this, was = checkSizes_] { checkSizes_ = was; });
    checkSizes_ = false;
    LoadFromStreamOnce(backup);
    SetModified(wasModified);
    throw;
  }
}

void TXLSheet::LoadFromStreamOnce(TStream& stream) {
  TComponentData data;
  try {
    data = ReadComponentStream(stream);
  } catch (const EReadError& e) {
    throw EXLGridError(e.Message());
  }
  BeginUpdate();
  const bool wasLoading = loading_;
  loading_ = true;
  {
    auto undo = ScopeFail([&] {
      loading_ = wasLoading;
      EndUpdate();
    });
    try {
      Name = data.Name;
      for (auto& s : sections_) s->Clear();
      for (auto& l : sizes_) l->Clear();
      for (auto& l : saved_) l->Clear();
      ResetProperties();
      for (const TComponentProperty& p : data.Properties) ApplyProperty(p.Name, p.Value);
      // Counts and sizes may come in any order: the whole must fit the windows.
      CheckLineSizes();
    } catch (const EReadError& e) {
      throw EXLGridError(e.Message());
    }
  }
  loading_ = wasLoading;
  changed_ = true;
  EndUpdate();
  SetModified(false);
}

void TXLSheet::SaveToStream(TStream& stream) const {
  TComponentData c;
  c.ClassName = "TXLSheet";
  c.Name = Name;
  c.AddString("Author", author_, AnsiString());
  c.AddString("Title", title_, AnsiString());
  for (int i = 0; i < 4; ++i) c.AddInteger(kMarginNames[i], margins_[i], 0);
  c.AddIdent("PrintMode", printMode_ == pmCustom ? "pmCustom" : "pmNormal", AnsiString("pmNormal"));
  c.AddInteger("PrintScale", printScale_, 100);
  c.AddBoolean("PrintHidden", printHidden_, false);
  std::vector<AnsiString> titles;
  if (printTitles_ & AxisBit(sCols)) titles.push_back("sCols");
  if (printTitles_ & AxisBit(sRows)) titles.push_back("sRows");
  c.AddSet("PrintTitles", titles, std::vector<AnsiString>{"sCols", "sRows"});
  c.AddBoolean("PrintGridLines", printGridLines_, false);
  // The link is written by name; a reader resolves it against its own form.
  if (styler_) c.AddIdent("Styler", styler_->Name);
  c.AddInteger("ColCount", ColCount(), 5);
  c.AddInteger("ColDefWidth", GetDefSize(sCols), 60);
  c.AddInteger("ColMaxWidth", colMaxWidth_, 0);
  c.AddInteger("RowCount", RowCount(), 5);
  c.AddInteger("RowDefHeight", GetDefSize(sRows), 15);
  c.AddInteger("RowMaxHeight", rowMaxHeight_, 0);
  c.AddInteger("TitleCols", TitleCols(), 1);
  c.AddInteger("TitleRows", TitleRows(), 1);
  if (!background_.empty()) c.Add("Background.Data", TPropValue::Binary(background_));
  c.AddBoolean("ReadOnly", readOnly_, false);
  c.Add("XLData", TPropValue::Binary(XLData()));
  WriteComponentStream(stream, c);
}
