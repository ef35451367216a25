#include "grid/XLManager.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "core/ByteIO.h"
#include "core/Rounding.h"
#include "core/SysUtils.h"
#include "grid/XLLists.h"

// ---- errors ----

EXLFormula::EXLFormula(std::string_view format, std::initializer_list<AnsiString> args, int32_t position)
    : EXLGridError(""), position_(position) {
  // Plain substitution: formula text must never be read as format directives.
  AnsiString out;
  auto arg = args.begin();
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == 's' && arg != args.end()) {
      out += *arg++;
      ++i;
    } else {
      out.push_back(format[i]);
    }
  }
  SetMessage(out);
}

// ---- the manager ----

namespace {

void BuiltIn(TXLManager& m, const char* name, TXLVariant (*convert)(const TXLVariant&)) {
  m.RegisterFunction(name, [convert](TXLSheetHooks*, const TXLVariant& params, TXLVariant& result) {
    result = convert(params.Item(0));
  });
}

}  // namespace

TXLManager::TXLManager() {
  BuiltIn(*this, "String", [](const TXLVariant& v) { return TXLVariant(v.AsString()); });
  BuiltIn(*this, "Integer", [](const TXLVariant& v) { return TXLVariant(v.AsInteger()); });
  BuiltIn(*this, "Boolean", [](const TXLVariant& v) { return TXLVariant(v.AsBoolean()); });
  BuiltIn(*this, "Currency", [](const TXLVariant& v) { return TXLVariant::FromCurrency(v.AsCurrency()); });
  BuiltIn(*this, "DateTime", [](const TXLVariant& v) { return TXLVariant::FromDate(v.AsDateTime()); });
  BuiltIn(*this, "Double", [](const TXLVariant& v) { return TXLVariant(v.AsFloat()); });
  ReadPrinter();
}

TXLManager::~TXLManager() = default;

int32_t TXLManager::IndexOfClass(const TXLClass* cls) const {
  for (size_t i = 0; i < classes_.size(); ++i)
    if (classes_[i].cls == cls) return static_cast<int32_t>(i);
  return -1;
}

int32_t TXLManager::RegisterClass(const TXLClass* cls) {
  const int32_t i = IndexOfClass(cls);
  if (i >= 0) return i;
  classes_.push_back({cls, {}, {}});
  return static_cast<int32_t>(classes_.size() - 1);
}

void TXLManager::RegisterClasses(std::initializer_list<const TXLClass*> classes) {
  for (const TXLClass* c : classes) RegisterClass(c);
}

void TXLManager::RegisterEditors(std::initializer_list<const TXLClass*> classes,
                                 std::initializer_list<const TXLClass*> editors) {
  for (const TXLClass* c : classes) {
    auto& list = classes_[RegisterClass(c)].editors;
    for (const TXLClass* e : editors)
      if (std::find(list.begin(), list.end(), e) == list.end()) list.push_back(e);
  }
}

const TXLClass* TXLManager::ClassAt(int32_t index) const {
  if (index < 0 || index >= ClassCount()) return nullptr;
  return classes_[index].cls;
}

int32_t TXLManager::ClassId(const TXLClass* cls) {
  if (!cls) return 0;
  int32_t sum = 0;
  for (unsigned char c : cls->ClassName()) sum += c;
  return sum;
}

const TXLClass* TXLManager::ClassById(int32_t id) const {
  for (const auto& e : classes_)
    if (ClassId(e.cls) == id) return e.cls;
  return nullptr;
}

int32_t TXLManager::EditorCount(const TXLClass* cls) const {
  const int32_t i = IndexOfClass(cls);
  return i < 0 ? 0 : static_cast<int32_t>(classes_[i].editors.size());
}

const TXLClass* TXLManager::EditorClass(const TXLClass* cls, int32_t index) const {
  const int32_t i = IndexOfClass(cls);
  if (i < 0 || index < 0 || index >= static_cast<int32_t>(classes_[i].editors.size())) return nullptr;
  return classes_[i].editors[index];
}

std::vector<AnsiString>* TXLManager::Formats(const TXLClass* cls) {
  const int32_t i = IndexOfClass(cls);
  return i < 0 ? nullptr : &classes_[i].formats;
}

void TXLManager::RegisterFunction(const AnsiString& name, TXLFunctionRoutine routine) {
  if (!functions_.emplace(AnsiUpperCase(name), std::move(routine)).second) throw EStringListError(SDuplicateString);
}

void TXLManager::RegisterVariable(const AnsiString& name, TXLVariableRoutine routine) {
  if (!variables_.emplace(AnsiUpperCase(name), std::move(routine)).second) throw EStringListError(SDuplicateString);
}

bool TXLManager::CallFunction(TXLSheetHooks* sheet, const AnsiString& name, const TXLVariant& params,
                              TXLVariant& result) {
  auto it = functions_.find(AnsiUpperCase(name));
  if (it != functions_.end()) {
    it->second(sheet, params, result);
    return true;
  }
  if (!sheet) return false;
  result.Clear();
  if (sheet->OnFunction) sheet->OnFunction(sheet, name, params, result);
  if (result.IsEmpty()) sheet->FunctionLookup(name, params, result);
  return !result.IsEmpty();
}

bool TXLManager::GetVariable(TXLSheetHooks* sheet, const AnsiString& name, TXLVariant& result) {
  auto it = variables_.find(AnsiUpperCase(name));
  if (it != variables_.end()) {
    it->second(sheet, result);
    return true;
  }
  if (!sheet) return false;
  result.Clear();
  if (sheet->OnVariable) sheet->OnVariable(sheet, name, result);
  if (!result.IsEmpty()) return true;
  return sheet->VariableLookup(name, result);
}

void TXLManager::AddSheet(TXLSheetHooks* sheet) {
  if (std::find(sheets_.begin(), sheets_.end(), sheet) == sheets_.end()) sheets_.push_back(sheet);
}

void TXLManager::RemoveSheet(TXLSheetHooks* sheet) { std::erase(sheets_, sheet); }

void TXLManager::ReadPrinter() {
  TXLPrinterInfo info;  // the no-printer fallback
  if (printerQuery_)
    if (auto p = printerQuery_()) info = *p;
  // A printer that reports nonsense resolution would divide by zero below.
  if (info.DpiX < 1 || info.DpiY < 1) info = TXLPrinterInfo{};
  printerDpiX_ = info.DpiX;
  printerDpiY_ = info.DpiY;
  printerPageWidth_ = info.PageWidth;
  printerPageHeight_ = info.PageHeight;
  // Screen pixels of the page, truncated as the sheets' page layout is.
  auto toScreen = [](int32_t printerPixels, int32_t dpi) {
    return int32_t(int64_t(printerPixels) * ScreenPPI / dpi);
  };
  pageRect_ = TRect{0, 0, toScreen(info.PageWidth, info.DpiX), toScreen(info.PageHeight, info.DpiY)};
}

void TXLManager::Update() {
  ReadPrinter();
  // A sheet may leave the list while it is told.
  const std::vector<TXLSheetHooks*> sheets = sheets_;
  for (TXLSheetHooks* s : sheets)
    if (std::find(sheets_.begin(), sheets_.end(), s) != sheets_.end()) s->PageMetricsChanged();
}

TXLManager& TXLManagerHolder::Get() {
  if (destroyed_) throw EXLGridError(SXLManagerDestroyed);
  if (!manager_) manager_ = std::make_unique<TXLManager>();
  return *manager_;
}

void TXLManagerHolder::Finalize() {
  manager_.reset();
  destroyed_ = true;
}

TXLManager& XLManager() {
  static TXLManagerHolder holder;
  return holder.Get();
}

// ---- stream primitives ----

void RaiseXLStreamTruncated() { throw EXLGridError(SXLStreamTruncated); }

namespace {

ByteReader In(TStream& stream) { return ByteReader(stream, RaiseXLStreamTruncated); }

template <typename T>
void Put(TStream& stream, T v) {
  uint8_t b[sizeof(T)];
  StoreLE(b, v);
  stream.WriteBuffer(b, sizeof(T));
}

}  // namespace

void NeedBytes(TStream& stream, int64_t n) {
  if (n < 0 || !In(stream).Has(static_cast<size_t>(n))) RaiseXLStreamTruncated();
}

int32_t ReadInt(TStream& stream) { return In(stream).I32(); }
void WriteInt(TStream& stream, int32_t value) { Put(stream, value); }
uint8_t ReadByte(TStream& stream) { return In(stream).U8(); }
void WriteByte(TStream& stream, uint8_t value) { Put(stream, value); }
uint16_t ReadWord(TStream& stream) { return In(stream).U16(); }
void WriteWord(TStream& stream, uint16_t value) { Put(stream, value); }
double ReadDouble(TStream& stream) { return In(stream).F64(); }
void WriteDouble(TStream& stream, double value) { Put(stream, std::bit_cast<uint64_t>(value)); }

AnsiString ReadString(TStream& stream) {
  ByteReader in = In(stream);
  const int32_t n = in.I32();
  if (n <= 0) return {};
  return in.Bytes(static_cast<size_t>(n));
}

void WriteString(TStream& stream, const AnsiString& value) {
  WriteInt(stream, static_cast<int32_t>(value.size()));
  if (!value.empty()) stream.WriteBuffer(value.data(), static_cast<int64_t>(value.size()));
}

// ---- cell names ----

AnsiString ColName(int32_t index) {
  if (index < 0) return {};
  AnsiString s;
  int64_t n = static_cast<int64_t>(index) + 1;
  while (n > 0) {
    --n;
    s.insert(s.begin(), static_cast<char>('A' + n % 26));
    n /= 26;
  }
  return s;
}

AnsiString CellName(int32_t col, int32_t row) { return ColName(col) + IntToStr(static_cast<int64_t>(row) + 1); }

bool TryParseCellName(std::string_view text, TPoint& cell) {
  size_t i = 0;
  int64_t col = 0;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    if (c < 'A' || c > 'Z') break;
    col = col * 26 + (c - 'A' + 1);
    // Past the last addressable column no longer letter can bring it back.
    if (col - 1 > XLMaxIndex) return false;
  }
  if (i == 0 || i == text.size()) return false;
  int64_t n = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c < '0' || c > '9') return false;
    n = n * 10 + (c - '0');
    if (n - 1 > XLMaxIndex) return false;
  }
  if (n < 1) return false;
  cell = TPoint{static_cast<int32_t>(col - 1), static_cast<int32_t>(n - 1)};
  return true;
}

TPoint ParseCellName(std::string_view text) {
  TPoint p;
  if (!TryParseCellName(text, p)) throw EXLGridError(SXLUnknownIdentifier);
  return p;
}

// ---- rectangles ----

TRect RectFromPoints(TPoint a, TPoint b) {
  return TRect{std::min(a.X, b.X), std::min(a.Y, b.Y), std::max(a.X, b.X) + 1, std::max(a.Y, b.Y) + 1};
}

bool PointInCells(int32_t x, int32_t y, const TRect& r) {
  return r.Left <= x && x <= r.Right && r.Top <= y && y <= r.Bottom;
}

std::array<TRect, 4> RectDifference(const TRect& o, const TRect& n) {
  std::array<TRect, 4> out{};
  const bool overlap = std::max(o.Left, n.Left) < std::min(o.Right, n.Right) &&
                       std::max(o.Top, n.Top) < std::min(o.Bottom, n.Bottom);
  if (!overlap) {
    out[0] = o;
    out[1] = n;
    return out;
  }
  const int32_t left = std::min(o.Left, n.Left), right = std::max(o.Right, n.Right);
  const int32_t midTop = std::max(o.Top, n.Top), midBottom = std::min(o.Bottom, n.Bottom);
  // Top and bottom strips span the union's width; side strips fill the band between them.
  out[0] = TRect{left, std::min(o.Top, n.Top), right, midTop};
  out[1] = TRect{left, midBottom, right, std::max(o.Bottom, n.Bottom)};
  out[2] = TRect{left, midTop, std::max(o.Left, n.Left), midBottom};
  out[3] = TRect{std::min(o.Right, n.Right), midTop, right, midBottom};
  for (auto& r : out)
    if (r.IsEmpty()) r = TRect{};
  return out;
}

AnsiString TextBefore(std::string_view text, char c) {
  const size_t p = text.find(c);
  return AnsiString(p == std::string_view::npos ? text : text.substr(0, p));
}

AnsiString TextAfter(std::string_view text, char c) {
  const size_t p = text.find(c);
  return p == std::string_view::npos ? AnsiString() : AnsiString(text.substr(p + 1));
}

std::pair<TPoint, TPoint> SideBounds(int kind, const TRect& r) {
  const TPoint tl{r.Left, r.Top}, br{r.Right - 1, r.Bottom - 1};
  const TPoint bl{r.Left, r.Bottom - 1}, tr{r.Right - 1, r.Top};
  switch (kind & 3) {
    case 0:
      return {tl, br};
    case 1:
      return {bl, tr};
    case 2:
      return {br, tl};
    default:
      return {tr, bl};
  }
}

std::array<TPoint, 3> ArrowHead(TPoint from, TPoint to) {
  const double dx = to.X - from.X, dy = to.Y - from.Y;
  double angle;
  if (dx == 0)
    angle = dy >= 0 ? M_PI / 2 : -M_PI / 2;
  else {
    angle = std::atan(dy / dx);
    if (dx < 0) angle += dy >= 0 ? M_PI : -M_PI;
  }
  const double c = std::cos(angle), s = std::sin(angle);
  auto place = [&](double x, double y) {
    return TPoint{to.X + static_cast<int32_t>(RoundHalfAway(x * c - y * s)),
                  to.Y + static_cast<int32_t>(RoundHalfAway(x * s + y * c))};
  };
  return {place(0, 0), place(-6, -3), place(-6, 3)};
}
