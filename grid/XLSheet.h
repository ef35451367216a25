#pragma once
// The spreadsheet document: four sections, line counts and sizes with their hidden state,
// the two base styles, the styler link, print settings and the formula hooks. It holds no
// window; the grids that show it listen through IXLSheetUser.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/Streams.h"
#include "grid/ComponentStream.h"
#include "grid/XLCalc.h"
#include "grid/XLGrids.h"
#include "grid/XLLists.h"
#include "grid/XLPrint.h"

class TXLSection;
class TXLStyler;

class IXLSheetUser {
 public:
  virtual ~IXLSheetUser() = default;
  virtual TXLSheet* GetSheet() = 0;
  virtual void CellChanged(TXLSector sector, const TRect& cells, bool whole) = 0;
  virtual void SectorChanged(TXLSector sector) = 0;
  virtual void SheetChanged() = 0;
  virtual void PageSetupChanged() = 0;
  virtual void CountChanged(TXLAxes axes, int part) = 0;
  // count > 0: lines inserted before index; count < 0: -count lines deleted from index on.
  // index is the sheet's line number (title lines negative).
  virtual void LinesInserted(TXLAxis axis, int part, int32_t count, int32_t index) = 0;
  virtual void SizeChanged(TXLAxis axis, int part, int32_t index) = 0;
  virtual void AreaChanged(TXLSector sector, const TRect* rect) = 0;
  virtual void SheetDetached() = 0;
  virtual void CellReleased(TXLCell* cell) = 0;
  virtual void ViewsChanged(int flag) = 0;
  virtual void BeginUpdate() = 0;
  virtual void EndUpdate() = 0;
};

// Sizes of the columns or rows of one part of an axis.
class TXLSizeList : public TZeroSList {};

// What a stored sheet may ask of the windows that show it: a line of at most XLMaxLineSize
// pixels, and along each axis at most XLMaxExtent pixels in all, so that even at the largest
// zoom (500) every position in a view is a 32-bit coordinate. The readers refuse more.
constexpr int32_t XLMaxLineSize = 32767;
constexpr int64_t XLMaxExtent = INT32_MAX / 5;

enum TXLPrintMode : uint8_t { pmNormal, pmCustom };

using TXLGridEvent = std::function<void(TXLSheet*, TPoint)>;
using TXLCellTextEvent = std::function<void(TXLSheet*, TPoint, AnsiString&)>;
using TXLSizingEvent = std::function<void(TXLSheet*, TXLAxis, int32_t, int32_t&)>;

class TXLSheet : public TXLSheetHooks {
 public:
  TXLSheet();
  ~TXLSheet() override;
  TXLSheet(const TXLSheet&) = delete;
  TXLSheet& operator=(const TXLSheet&) = delete;

  // Cell access by sheet position (title lines are negative).
  TXLCell* GetCell(int32_t col, int32_t row);
  TXLCell* FindCell(int32_t col, int32_t row) const;
  AnsiString GetAsString(int32_t col, int32_t row) const;
  void SetAsString(int32_t col, int32_t row, const AnsiString& text);
  TXLVariant GetValue(int32_t col, int32_t row) const;
  void SetValue(int32_t col, int32_t row, const TXLVariant& v);
  // The section and local position of a sheet position; false when it lies outside every
  // part of the sheet that can hold cells.
  bool Locate(int32_t col, int32_t row, TXLSection*& section, TPoint& local) const;
  TXLSection* Section(TXLSector sector) const { return sections_[sector].get(); }

  // Counts and sizes.
  int32_t GetCount(TXLAxis axis) const;
  void SetCount(TXLAxis axis, int32_t n);
  int32_t GetTitleCount(TXLAxis axis) const;
  void SetTitleCount(TXLAxis axis, int32_t n);
  int32_t ColCount() const { return GetCount(sCols); }
  int32_t RowCount() const { return GetCount(sRows); }
  int32_t TitleCols() const { return GetTitleCount(sCols); }
  int32_t TitleRows() const { return GetTitleCount(sRows); }
  int32_t GetDefSize(TXLAxis axis) const;
  void SetDefSize(TXLAxis axis, int32_t size);
  int32_t GetMaxSize(TXLAxis axis) const { return axis == sCols ? colMaxWidth_ : rowMaxHeight_; }
  void SetMaxSize(TXLAxis axis, int32_t size);
  int32_t GetSize(int32_t index, TXLAxis axis) const;
  void SetSize(int32_t index, TXLAxis axis, int32_t size, IXLSheetUser* from = nullptr);
  bool IsVisible(int32_t index, TXLAxis axis) const;
  void SetVisible(int32_t index, TXLAxis axis, bool visible);
  int32_t GetRealSize(int32_t index, TXLAxis axis) const;
  // Inserts or deletes lines before or from index (title lines by their negative numbers).
  // Cells, merged areas, line and item lists, sizes and hidden state move with the lines;
  // a merged area that spans the place grows or shrinks. Users get LinesInserted.
  void InsertLines(TXLAxis axis, int32_t index, int32_t count);
  void DeleteLines(TXLAxis axis, int32_t index, int32_t count);
  int32_t BestFitSize(int32_t index, TXLAxis axis);
  // Size lists: part 0 title lines, part 1 client lines; saved sizes of hidden lines.
  TXLSizeList& SizeList(TXLAxis axis, int part) const { return *sizes_[axis * 2 + part]; }
  TXLSizeList& SavedList(TXLAxis axis, int part) const { return *saved_[axis * 2 + part]; }
  // Measures texts for best fit; without one, best fit keeps the default size.
  IXLCanvas* Measurer = nullptr;

  TXLBaseStyle* BaseClientStyle() const { return baseClient_.get(); }
  TXLBaseStyle* BaseTitleStyle() const { return baseTitle_.get(); }
  TXLBaseStyle* BaseStyleOf(TXLSector sector) const {
    return sector == sClient ? BaseClientStyle() : BaseTitleStyle();
  }
  TXLStyler* Styler() const { return styler_; }
  void SetStyler(TXLStyler* styler);

  // Users and notifications.
  void AddUser(IXLSheetUser* user);
  void RemoveUser(IXLSheetUser* user);
  void BeginUpdate();
  void EndUpdate();
  int32_t UpdateCount() const { return updateCount_; }
  void CellChanged(TXLSector sector, const TRect& rect, bool whole = false);
  void SectorChanged(TXLSector sector);
  void AreaChanged(TXLSector sector, const TRect* rect);
  void CellReleased(TXLCell* cell);
  void RefreshEditor(TXLCell* cell);
  void NotifySheetChanged();
  bool Modified() const { return modified_; }
  void SetModified(bool v);
  bool Loading() const { return loading_; }
  // Set while OnCellChanged runs, so a handler's own writes do not nest it.
  bool NotifyingCellChanged = false;
  bool Destroying() const { return destroying_; }

  void Clear();

  // Formula hooks.
  void Calculate(const AnsiString& text, TXLCell* cell, TXLVariant& result, bool checkOnly);
  bool VariableLookup(const AnsiString& name, TXLVariant& result) override;
  void PageMetricsChanged() override { UpdatePageMetrics(true); }
  TXLEvaluationState& Evaluation() { return evaluation_; }
  // Brings every formula cell's result up to date with the values it reads (after an
  // edit stored a value); the formulas themselves stay as they are.
  void RecalcFormulas();

  // Print settings.
  const AnsiString& Title() const { return title_; }
  void SetTitle(const AnsiString& v);
  const AnsiString& Author() const { return author_; }
  void SetAuthor(const AnsiString& v);
  int32_t PrintMargin(int side) const { return margins_[side]; }
  void SetPrintMargin(int side, int32_t v);
  TXLPrintMode PrintMode() const { return printMode_; }
  void SetPrintMode(TXLPrintMode v);
  int32_t PrintScale() const { return printScale_; }
  void SetPrintScale(int32_t v);
  bool PrintHidden() const { return printHidden_; }
  void SetPrintHidden(bool v);
  // Title sectors repeated on every printed page: sCols the title rows above the columns,
  // sRows the title columns beside the rows.
  TXLAxes PrintTitles() const { return printTitles_; }
  void SetPrintTitles(TXLAxes v);
  bool PrintGridLines() const { return printGridLines_; }
  void SetPrintGridLines(bool v);
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool v) { readOnly_ = v; }
  // Printable rectangle in screen pixels: the printer's page less the margins.
  const TRect& PageRect() const { return pageRect_; }
  void UpdatePageMetrics(bool notify);
  TXLPageLayout PageLayout() const;
  // Prints every page on the printer that PrinterFactory makes.
  void Print();
  // Pages first to last (numbered from 1, column strips outermost; last -1: to the end).
  // With a canvas every page is painted on it; without one, on a new printer job.
  void PrintPages(int32_t first, int32_t last, IXLCanvas* canvas = nullptr);
  void PrintPages(int32_t first, int32_t last, IXLPrinter& printer);
  // Makes the print job of Print; the toolkit side installs the process's printer
  // (XLUseSystemPrinter), and without one Print raises.
  static std::function<std::unique_ptr<IXLPrinter>()>& PrinterFactory();
  // Picture data of the background, kept as stored (graphic class name, then its data).
  const std::string& Background() const { return background_; }
  void SetBackground(const std::string& data);

  // The sheet stream ("XLData") and the component stream that carries the whole sheet.
  // A stream that fails to load raises EXLGridError and leaves the sheet as it was.
  void ReadXLData(TStream& stream);
  void WriteXLData(TStream& stream) const;
  std::string XLData() const;
  void LoadFromStream(TStream& stream);
  void SaveToStream(TStream& stream) const;
  // Name of the sheet component in the streams it writes.
  AnsiString Name = "XLSheet";

  // Events.
  TXLSizingEvent OnSizing;
  std::function<void(TXLSheet*)> OnModified;
  std::function<void(TXLSheet*)> OnStylerChanged;
  TXLGridEvent OnCellClick, OnCellDblClick, OnCellChanged;
  TXLCellTextEvent OnGetCellHint, OnSetCellHint;

 private:
  void ReadXLDataOnce(TStream& stream);
  // Refuses line sizes (default and per line, hidden lines' saved sizes too) outside
  // 0..XLMaxLineSize and an axis longer than XLMaxExtent, as a corrupt stream.
  void CheckLineSizes() const;
  void ShiftLines(TXLAxis axis, int32_t index, int32_t delta);
  void PrintPagesOn(int32_t first, int32_t last, IXLCanvas* canvas, IXLPrinter* printer);
  void PaintPage(const TXLPageLayout& layout, int32_t colStrip, int32_t rowStrip, IXLCanvas& canvas);
  void RestoreXLData(const std::string& backup, const int32_t counts[4]);
  void LoadFromStreamOnce(TStream& stream);
  void ResetProperties();
  void ApplyProperty(const AnsiString& name, const TPropValue& value);
  void SizingStep(int32_t index, TXLAxis axis, int32_t size, IXLSheetUser* from);
  TXLSizeList& ListFor(int32_t index, TXLAxis axis, int& part, int32_t& local) const;
  void TruncateSections(TXLAxis axis, bool title, int32_t count);
  void SetLineCount(TXLAxis axis, bool titles, int32_t n);
  void ForEachUser(const std::function<void(IXLSheetUser*)>& fn);
  bool Deferred();

  std::vector<IXLSheetUser*> users_;
  std::unique_ptr<TXLBaseStyle> baseClient_, baseTitle_;
  TXLStyler* styler_ = nullptr;
  std::unique_ptr<TXLSizeList> sizes_[4];  // [axis * 2 + part]
  std::unique_ptr<TXLSizeList> saved_[4];
  std::unique_ptr<TXLSection> sections_[4];
  int32_t colMaxWidth_ = 0, rowMaxHeight_ = 0;
  std::string background_;
  bool readOnly_ = false;
  bool modified_ = false;
  int32_t updateCount_ = 0;
  bool changed_ = false;
  bool loading_ = false;
  bool destroying_ = false;
  bool checkSizes_ = true;  // off while the sheet reloads what it held itself
  AnsiString title_, author_;
  TRect pageRect_;
  int32_t margins_[4] = {0, 0, 0, 0};
  bool printGridLines_ = false, printHidden_ = false;
  TXLAxes printTitles_ = AxisBit(sCols) | AxisBit(sRows);
  TXLPrintMode printMode_ = pmNormal;
  int32_t printScale_ = 100;
  TXLEvaluationState evaluation_;
};
