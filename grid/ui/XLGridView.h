#pragma once
// The window that shows and edits one sheet: four panes (column titles, row titles, title
// corner, client cells) with zoom, scrolling, the current cell and selection, the keyboard,
// mouse, hints and the in-place editing host.
#include <QMenu>
#include <QPixmap>
#include <QPointer>
#include <QWidget>
#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "grid/XLPaint.h"
#include "grid/XLSheet.h"

class QScrollBar;
class TXLEdit;
class TXLGrid;
class TXLHintMemo;
class TXLHintWindow;
class TXLSection;

enum TXLOption : uint8_t {
  oTitleCols,
  oTitleRows,
  oVertLines,
  oHorzLines,
  oColSizing,
  oRowSizing,
  oDrawFocus,
  oTitle3D,
  oEdit3D,
  oPermEdit,
  oPageBreak,
  oReadOnly,
  oRowSelect,
  oRangeSelect,
  oTabKeys,
  oWrapKeys,
  oFixScale,
};
using TXLOptions = uint32_t;
constexpr TXLOptions OptionBit(TXLOption o) { return TXLOptions(1u << o); }
constexpr TXLOptions XLDefaultOptions = OptionBit(oTitleCols) | OptionBit(oTitleRows) | OptionBit(oVertLines) |
                                        OptionBit(oHorzLines) | OptionBit(oDrawFocus) | OptionBit(oTitle3D) |
                                        OptionBit(oRangeSelect);

enum TXLScroll : uint8_t { sHorizontal, sVertical, sTracking, sFlat };
using TXLScrolls = uint8_t;
constexpr TXLScrolls ScrollBit(TXLScroll s) { return TXLScrolls(1u << s); }

enum TXLDirection : uint8_t { dNone, dRight, dDown, dLeft, dUp, dAuto };
TXLDirection ReverseDirection(TXLDirection d);

// Pixel sizes of one part of one axis at the grid's zoom, with their running starts. Lines
// of one size in a row share one run, so a sheet of default sizes costs the same at any length.
class TXLScaledLines {
 public:
  void Build(const TXLSheet* sheet, TXLAxis axis, int part, int32_t scale);
  int32_t Count() const { return count_; }
  int32_t Size(int32_t i) const { return i < 0 || i >= count_ ? 0 : RunOf(i).size; }
  int64_t Start(int32_t i) const;
  int64_t Total() const { return Start(count_); }
  // The line that holds pixel pos (zero-size lines skipped); Count() beyond the end, -1 before.
  int32_t IndexAt(int64_t pos) const;
  void SetSize(int32_t i, int32_t size);
  size_t MemoryBytes() const { return sizeof(*this) + runs_.capacity() * sizeof(TRun); }

 private:
  struct TRun {
    int32_t first;  // first line of the run; it ends where the next begins
    int32_t size;
    int64_t start;  // pixel start of its first line
  };
  const TRun& RunOf(int32_t i) const;
  void Append(int32_t size);
  void Restart();  // recomputes run starts and joins neighbours of one size
  std::vector<TRun> runs_;
  int32_t count_ = 0;
};

// One pane: a sector of the sheet with its own origin, current cell and selection.
class TXLView : public QWidget {
  Q_OBJECT

 public:
  TXLView(TXLGrid* grid, TXLSector sector);
  ~TXLView() override;

  TXLGrid* Grid() const { return grid_; }
  TXLSector Sector() const { return sector_; }
  TXLSection* Section() const { return section_; }
  void SetSection(TXLSection* section);
  const TXLScaledLines& Cols() const;
  const TXLScaledLines& Rows() const;
  int32_t ColCount() const { return Cols().Count(); }
  int32_t RowCount() const { return Rows().Count(); }

  // Scroll origin in pixels; the client pane carries its title panes along.
  QPoint Origin() const { return origin_; }
  void SetOrigin(QPoint origin);
  QPoint MaxOrigin() const;
  TPoint CurCell() const { return cur_; }
  TRect Selection() const { return sel_; }

  // Pixel rectangle of a cell (merged areas whole) in pane coordinates.
  QRect CellRect(TPoint cell) const;
  QRect CellsRect(const TRect& cells) const;
  // The cell under a point, false outside the data.
  bool CellAt(QPoint p, TPoint& cell) const;
  // 0 outside the data, 1 in a cell, 2 on a column's right border, 3 on a row's bottom border.
  int HitZone(QPoint p, int32_t& line) const;
  // Visible cell range of a pixel rectangle of the pane.
  TRect RangeOf(const QRect& pixels) const;
  void InvalidateCells(const TRect& cells);

  // Paints the damaged area (pane pixels) on any painter: the pane and benchmarks use it.
  void PaintTo(QPainter& painter, const QRect& damaged);

  void BeginUpdate() { ++updateCount_; }
  void EndUpdate();
  void Redraw();

 protected:
  void paintEvent(QPaintEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void mouseDoubleClickEvent(QMouseEvent* e) override;
  bool event(QEvent* e) override;

 private:
  friend class TXLGrid;
  void PaintPageBreaks(QPainter& painter, TXLSheet& sheet);
  TXLGrid* grid_;
  TXLSector sector_;
  TXLSection* section_ = nullptr;
  QPoint origin_;
  TPoint cur_;
  TRect sel_{0, 0, 1, 1};
  int updateCount_ = 0;
  bool redrawPending_ = false;
  // A column boundary being dragged in the client pane, drawn inverted; -1 when none.
  int sizingMark_ = -1;
  TXLAxis sizingMarkAxis_ = sCols;
};

class TXLGrid : public QWidget, public IXLSheetUser {
 public:
  explicit TXLGrid(QWidget* parent = nullptr);
  ~TXLGrid() override;

  TXLSheet* Sheet() const { return sheet_; }
  void SetSheet(TXLSheet* sheet);
  int32_t Scale() const { return scale_; }
  void SetScale(int32_t scale);
  TXLOptions Options() const { return options_; }
  void SetOptions(TXLOptions options);
  bool HasOption(TXLOption o) const { return (options_ & OptionBit(o)) != 0; }
  TXLScrolls Scrolls() const { return scrolls_; }
  void SetScrolls(TXLScrolls scrolls);
  // Cell hints: their red corner marks and the hint window. Off unless a program turns it on.
  bool ShowHint() const { return showHint_; }
  void SetShowHint(bool v);
  bool AnyCellSelect() const { return anyCellSelect_; }
  void SetAnyCellSelect(bool v);
  // Opens when the right button is released inside the data area.
  void SetPopupMenu(QMenu* menu) { popupMenu_ = menu; }
  QMenu* PopupMenu() const { return popupMenu_; }
  TXLDirection EnterDir = dAuto;
  TXLDirection LastDir = dDown;
  TXLDirection EffectiveEnterDir() const { return EnterDir == dAuto ? LastDir : EnterDir; }
  TXLGrid* HorzLink() const { return horzLink_; }
  TXLGrid* VertLink() const { return vertLink_; }
  void SetHorzLink(TXLGrid* grid);
  void SetVertLink(TXLGrid* grid);

  TXLView* View(TXLSector sector) const { return views_[sector]; }
  // The pane that holds the editor and the current cell.
  TXLView* EditPane() const;
  TXLEdit* Editor() const { return edit_; }
  const TXLScaledLines& Lines(TXLAxis axis, int part) const { return lines_[axis * 2 + part]; }
  QScrollBar* ScrollBar(Qt::Orientation o) const;

  // The current cell in sheet coordinates; moving it stores the open editor first and
  // stays put when the editor refuses its text.
  TPoint GetCurCell() const;
  int32_t GetCurRow() const { return GetCurCell().Y; }
  bool SetCurCell(int32_t col, int32_t row);
  TRect SelectionRect() const;
  // Re-reads the editor's cell (after the program changed it).
  void RefreshEditor();
  // 0 closed, 1 shown for browsing, 2 shown with the caret.
  void SetEditMode(int mode);
  int EditMode() const;
  bool CanSelect(const TXLView* pane, TPoint cell) const;
  bool CanEdit(const TXLView* pane, TPoint cell) const;
  // Moves the current cell one step; false when nothing can be reached that way.
  bool MoveCur(TXLDirection dir);
  void ScrollToCell(TXLView* pane, TPoint cell);
  // One line or one page up/down/left/right on the client pane (the scroll requests).
  void ScrollLines(Qt::Orientation o, int lines);
  void ScrollPage(Qt::Orientation o, int pages);
  // The pane's pixel size of a sheet-unit size and back.
  int32_t Scaled(int32_t size) const { return XLScaleSize(size, scale_); }
  int32_t Unscaled(int32_t pixels) const { return int32_t(int64_t(pixels) * 100 / scale_); }

  // Events.
  TXLGridEvent OnCellClick, OnCellDblClick, OnColDblClick, OnRowDblClick, OnSheetChanged, OnEditModeChanged;
  std::function<void(TXLGrid*)> OnSelChanged, OnCurChanged, OnScaleChanged, OnChange;

  // IXLSheetUser.
  TXLSheet* GetSheet() override { return sheet_; }
  void CellChanged(TXLSector sector, const TRect& cells, bool whole) override;
  void SectorChanged(TXLSector sector) override;
  void SheetChanged() override;
  void PageSetupChanged() override;
  void CountChanged(TXLAxes axes, int part) override;
  void LinesInserted(TXLAxis axis, int part, int32_t count, int32_t index) override;
  void SizeChanged(TXLAxis axis, int part, int32_t index) override;
  void AreaChanged(TXLSector sector, const TRect* rect) override;
  void SheetDetached() override;
  void CellReleased(TXLCell* cell) override;
  void ViewsChanged(int flag) override;
  void BeginUpdate() override;
  void EndUpdate() override;

  // Key handling of the editing pane (the editing host passes navigation keys here).
  bool HandleKey(int key, Qt::KeyboardModifiers mods);
  // Enter, Escape and characters typed while no editor takes them.
  void HandleChar(const QString& text, Qt::KeyboardModifiers mods);
  TXLHintWindow* HintWindow() const { return hint_; }
  // Names cells (sheet coordinates) for screen readers and UI automation; a cell named
  // nothing is read out by its address.
  using TCellNamer = std::function<QString(TPoint)>;
  void SetCellNamer(TCellNamer namer) { cellNamer_ = std::move(namer); }
  const TCellNamer& CellNamer() const { return cellNamer_; }
  // Counts what the sheet reported changed, so readers of the panes know to look again.
  uint64_t ChangeCount() const { return changes_; }
  // Opens the hint memo on the current cell (ending editing first); nullptr when the cell
  // cannot be current or the editor keeps it.
  TXLHintMemo* EditHint();
  // The open hint memo or nullptr.
  TXLHintMemo* HintMemo() const;

 protected:
  void resizeEvent(QResizeEvent*) override { AlignControls(); }
  void keyPressEvent(QKeyEvent* e) override;
  void inputMethodEvent(QInputMethodEvent* e) override;
  void wheelEvent(QWheelEvent* e) override;
  void focusInEvent(QFocusEvent* e) override;
  void timerEvent(QTimerEvent* e) override;
  bool focusNextPrevChild(bool) override { return false; }

 private:
  friend class TXLView;
  friend class TXLEdit;
  friend class TXLHintMemo;
  void AlignControls();
  void RebuildLines(TXLAxes axes);
  void UpdateScrollBars();
  void SyncTitlePanes();
  // False when a handler freed the grid on the way: the caller returns at once.
  bool SetCur(TXLView* pane, TPoint cell, bool extend);
  TPoint Search(const TXLView* pane, TPoint from, TXLDirection dir, bool includeStart) const;
  TPoint Step(const TXLView* pane, TPoint from, TXLDirection dir, bool& wrapped) const;
  void CopyPositionToLinks();
  void InvalidateAll();
  // Mouse, called by the panes.
  void PaneMousePress(TXLView* pane, QMouseEvent* e);
  void PaneMouseMove(TXLView* pane, QMouseEvent* e);
  void PaneMouseRelease(TXLView* pane, QMouseEvent* e);
  void PaneDoubleClick(TXLView* pane, QMouseEvent* e);
  bool PaneToolTip(TXLView* pane, QPoint pos);
  void ApplySizing(TXLView* pane, int pixelPos, bool final);
  void EndMouse();
  void ShowEditorIfPerm();
  // Links the panes to the sheet's sections afresh, the editor back in the client pane.
  void LinkSections();
  // Moves the editor (and with it the current cell) to another pane; false when the editor's
  // text does not convert.
  bool MoveEditor(TXLView* pane);
  // The sheet's background picture, decoded once per picture.
  const QPixmap& BackgroundTile();

  TXLSheet* sheet_ = nullptr;
  TCellNamer cellNamer_;
  uint64_t changes_ = 0;
  std::array<TXLView*, 4> views_{};
  QScrollBar* hbar_;
  QScrollBar* vbar_;
  TXLEdit* edit_ = nullptr;
  TXLHintWindow* hint_ = nullptr;
  QPointer<TXLHintMemo> hintMemo_;
  std::string backgroundData_;
  QPixmap backgroundTile_;
  std::array<TXLScaledLines, 4> lines_;  // [axis * 2 + part]
  int32_t scale_ = 100;
  TXLOptions options_ = XLDefaultOptions;
  TXLScrolls scrolls_ = ScrollBit(sHorizontal) | ScrollBit(sVertical) | ScrollBit(sTracking);
  bool anyCellSelect_ = false;
  bool showHint_ = false;
  QPointer<QMenu> popupMenu_;
  bool rightPressed_ = false;
  TXLGrid* horzLink_ = nullptr;
  TXLGrid* vertLink_ = nullptr;
  bool copyingLinks_ = false;
  bool syncingBars_ = false;
  // Mouse operation: 0 idle, 1 down, 2 moving, 3 up, 4 cancelled.
  int mouseState_ = 0;
  enum { mhNone, mhSizing, mhSelect } mouseHandler_ = mhNone;
  TXLView* mousePane_ = nullptr;
  struct {
    TXLAxis Axis = sCols;
    int Part = 1;
    int32_t Line = 0;
    int32_t LineStart = 0;
    int32_t StartSize = 0;
    int32_t Size = 0;
    QPoint PressPos;
    bool Moved = false;
  } sizing_;
  TPoint pressCell_;
  int autoScrollTimer_ = 0;
};
