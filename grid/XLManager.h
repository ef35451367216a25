#pragma once
// The grid library's registry and its small shared pieces: error classes, the sheet
// stream's primitives, cell names and rectangle helpers.
#include <array>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "core/AnsiString.h"
#include "core/Exception.h"
#include "core/Streams.h"
#include "grid/Variant.h"
#include "grid/XLCanvas.h"

// ---- errors ----

class EXLGridError : public Exception {
 public:
  using Exception::Exception;
};

// A formula error, with the character position in the formula text where it was found.
class EXLFormula : public EXLGridError {
 public:
  EXLFormula(const AnsiString& message, int32_t position) : EXLGridError(message), position_(position) {}
  // Each "%s" in the format takes the next argument, in order.
  EXLFormula(std::string_view format, std::initializer_list<AnsiString> args, int32_t position);
  int32_t Position() const { return position_; }

 private:
  int32_t position_;
};

class EXLSyntax : public EXLFormula {
 public:
  using EXLFormula::EXLFormula;
};
class EXLUnknown : public EXLFormula {
 public:
  using EXLFormula::EXLFormula;
};
class EXLCircular : public EXLFormula {
 public:
  using EXLFormula::EXLFormula;
};

// A second entry under a name in a list that allows no duplicates.
class EStringListError : public Exception {
 public:
  using Exception::Exception;
};

inline constexpr const char* SXLManagerDestroyed = "XLManager has been already destroyed!";
inline constexpr const char* SXLUnknownIdentifier = "Unknown identifier!";
inline constexpr const char* SXLStreamTruncated = "XLGrid stream is truncated!";
inline constexpr const char* SXLStreamCorrupt = "XLGrid stream is corrupt!";
inline constexpr const char* SDuplicateString = "String list does not allow duplicates";

// ---- class references ----

// Stands in for the framework's class references: cell classes and editor classes are
// registered, counted and found by name through these.
class TXLClass {
 public:
  explicit TXLClass(AnsiString name, const TXLClass* parent = nullptr)
      : name_(std::move(name)), parent_(parent) {}
  virtual ~TXLClass() = default;
  TXLClass(const TXLClass&) = delete;
  TXLClass& operator=(const TXLClass&) = delete;

  const AnsiString& ClassName() const { return name_; }
  const TXLClass* ClassParent() const { return parent_; }
  bool InheritsFrom(const TXLClass* other) const {
    for (const TXLClass* c = this; c; c = c->parent_)
      if (c == other) return true;
    return false;
  }

 private:
  AnsiString name_;
  const TXLClass* parent_;
};

// ---- what the manager asks of a sheet ----

// The part of a sheet that formula name lookup and the page metrics reach. The sheet
// derives from it; routines receive it as their sheet.
class TXLSheetHooks {
 public:
  using TXLFunctionEvent =
      std::function<void(TXLSheetHooks* sender, const AnsiString& name, const TXLVariant& params, TXLVariant& result)>;
  using TXLVariableEvent = std::function<void(TXLSheetHooks* sender, const AnsiString& name, TXLVariant& result)>;

  virtual ~TXLSheetHooks() = default;

  TXLFunctionEvent OnFunction;
  TXLVariableEvent OnVariable;

  // The sheet's own last-resort lookups (the base does nothing).
  virtual void FunctionLookup(const AnsiString& name, const TXLVariant& params, TXLVariant& result) {}
  // True when the name is the sheet's own (a cell of it), even when its value is empty.
  virtual bool VariableLookup(const AnsiString& name, TXLVariant& result) { return false; }
  // The printer page changed: lay the pages out again.
  virtual void PageMetricsChanged() {}
};

using TXLFunctionRoutine = std::function<void(TXLSheetHooks* sheet, const TXLVariant& params, TXLVariant& result)>;
using TXLVariableRoutine = std::function<void(TXLSheetHooks* sheet, TXLVariant& result)>;

// What the printer reports; none when no printer is installed.
struct TXLPrinterInfo {
  int32_t DpiX = 600;
  int32_t DpiY = 600;
  int32_t PageWidth = 4676;   // printer pixels
  int32_t PageHeight = 6744;
};

class TXLGrid;

// ---- the manager ----

class TXLManager {
 public:
  static constexpr int32_t ScreenPPI = 96;

  TXLManager();
  ~TXLManager();
  TXLManager(const TXLManager&) = delete;
  TXLManager& operator=(const TXLManager&) = delete;

  // Cell classes. Registration order fixes the editor and format indexes stored in streams.
  int32_t RegisterClass(const TXLClass* cls);
  void RegisterClasses(std::initializer_list<const TXLClass*> classes);
  void RegisterEditors(std::initializer_list<const TXLClass*> classes, std::initializer_list<const TXLClass*> editors);
  int32_t ClassCount() const { return static_cast<int32_t>(classes_.size()); }
  const TXLClass* ClassAt(int32_t index) const;
  int32_t IndexOfClass(const TXLClass* cls) const;
  // The sum of the bytes of the class name: what the sheet stream stores.
  static int32_t ClassId(const TXLClass* cls);
  const TXLClass* ClassById(int32_t id) const;
  int32_t EditorCount(const TXLClass* cls) const;
  const TXLClass* EditorClass(const TXLClass* cls, int32_t index) const;
  // The class's display formats (the cells unit fills them); nullptr when unregistered.
  std::vector<AnsiString>* Formats(const TXLClass* cls);

  // Formula names, looked up without regard to case.
  void RegisterFunction(const AnsiString& name, TXLFunctionRoutine routine);
  void RegisterVariable(const AnsiString& name, TXLVariableRoutine routine);
  bool CallFunction(TXLSheetHooks* sheet, const AnsiString& name, const TXLVariant& params, TXLVariant& result);
  bool GetVariable(TXLSheetHooks* sheet, const AnsiString& name, TXLVariant& result);

  TXLGrid* ActiveGrid() const { return activeGrid_; }
  void SetActiveGrid(TXLGrid* grid) { activeGrid_ = grid; }

  // Sheets that follow the page metrics.
  void AddSheet(TXLSheetHooks* sheet);
  void RemoveSheet(TXLSheetHooks* sheet);

  // Page metrics: where the printer is asked (none = no printer installed).
  using TPrinterQuery = std::function<std::optional<TXLPrinterInfo>()>;
  void SetPrinterQuery(TPrinterQuery query) { printerQuery_ = std::move(query); }
  // Reads the printer again and tells every sheet.
  void Update();
  const TRect& PageRect() const { return pageRect_; }  // screen pixels
  int32_t PrinterDpiX() const { return printerDpiX_; }
  int32_t PrinterDpiY() const { return printerDpiY_; }
  int32_t PrinterPageWidth() const { return printerPageWidth_; }
  int32_t PrinterPageHeight() const { return printerPageHeight_; }

 private:
  void ReadPrinter();

  struct ClassEntry {
    const TXLClass* cls;
    std::vector<const TXLClass*> editors;
    std::vector<AnsiString> formats;
  };
  std::vector<ClassEntry> classes_;
  std::map<AnsiString, TXLFunctionRoutine> functions_;  // keys upper-cased
  std::map<AnsiString, TXLVariableRoutine> variables_;
  std::vector<TXLSheetHooks*> sheets_;
  TXLGrid* activeGrid_ = nullptr;
  TPrinterQuery printerQuery_;
  TRect pageRect_;
  int32_t printerDpiX_ = 600, printerDpiY_ = 600;
  int32_t printerPageWidth_ = 4676, printerPageHeight_ = 6744;
};

// Holds the one manager: not yet made, alive, or destroyed for good.
class TXLManagerHolder {
 public:
  TXLManagerHolder() = default;
  ~TXLManagerHolder() { Finalize(); }
  TXLManager& Get();
  void Finalize();
  bool Destroyed() const { return destroyed_; }

 private:
  std::unique_ptr<TXLManager> manager_;
  bool destroyed_ = false;
};

// The manager, made on first use; raises EXLGridError once the library has shut down.
TXLManager& XLManager();

// ---- stream primitives (little-endian; every read checked against the bytes present) ----

int32_t ReadInt(TStream& stream);
void WriteInt(TStream& stream, int32_t value);
double ReadDouble(TStream& stream);
void WriteDouble(TStream& stream, double value);
uint8_t ReadByte(TStream& stream);
void WriteByte(TStream& stream, uint8_t value);
uint16_t ReadWord(TStream& stream);
void WriteWord(TStream& stream, uint16_t value);
// int32 length n, then n bytes; n <= 0 is the empty string.
AnsiString ReadString(TStream& stream);
void WriteString(TStream& stream, const AnsiString& value);
// Raises the truncation error unless n more bytes are present.
void NeedBytes(TStream& stream, int64_t n);
// What a grid stream raises when a read would pass the bytes present or its block.
[[noreturn]] void RaiseXLStreamTruncated();

// ---- cell names: columns in bijective base 26, rows from 1 ----

AnsiString ColName(int32_t index);  // 0 "A", 25 "Z", 26 "AA"; empty for a negative index
AnsiString CellName(int32_t col, int32_t row);
// Raises EXLGridError "Unknown identifier!" for text that names no cell.
TPoint ParseCellName(std::string_view text);
bool TryParseCellName(std::string_view text, TPoint& cell);

// ---- rectangles (right and bottom exclusive) ----

TRect RectFromPoints(TPoint a, TPoint b);
bool PointInCells(int32_t x, int32_t y, const TRect& r);  // both ends inclusive
// The strips that changed between two selections; two disjoint rectangles come back as
// themselves in the first two entries. Unused entries are empty.
std::array<TRect, 4> RectDifference(const TRect& oldRect, const TRect& newRect);
AnsiString TextBefore(std::string_view text, char c);
AnsiString TextAfter(std::string_view text, char c);
// End points of a diagonal side line: kind 0 runs from the top-left corner to the bottom
// right (sBias1), kind 1 from the bottom-left to the top right (sBias2); kinds 2 and 3
// are the same lines drawn the other way.
std::pair<TPoint, TPoint> SideBounds(int kind, const TRect& r);
// The arrow head of a line from `from` to `to`: the triangle (0,0) (-6,-3) (-6,3) turned
// along the line with its tip at `to`.
std::array<TPoint, 3> ArrowHead(TPoint from, TPoint to);
