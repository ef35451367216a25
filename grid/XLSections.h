#pragma once
// One sector of a sheet: its cells by row, merged areas, and eight sparse item lists (side
// lines, diagonals, colour, frame, cell styles, layout); plus the section record of the
// sheet stream.
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "grid/XLGrids.h"
#include "grid/XLLists.h"

constexpr int XLItemListCount = 8;
// Item lists: 0 vertical lines (outer index the line x), 1 horizontal lines (outer index
// the line y); 2-7 by row then column: bias 1, bias 2, colour, frame, cell styles, layout.
enum : int {
  ilVertLines = 0,
  ilHorzLines = 1,
  ilBias1 = 2,
  ilBias2 = 3,
  ilColor = 4,
  ilFrame = 5,
  ilStyles = 6,
  ilLayout = 7,
};
// The base style item that gives an item list its default.
int ListItem(int list);
// The item list an item is stored in.
int ItemList(int item);

struct TXLPaintContext;

class TXLSection {
 public:
  TXLSection(TXLSheet* sheet, TXLSector sector);
  ~TXLSection();
  TXLSection(const TXLSection&) = delete;
  TXLSection& operator=(const TXLSection&) = delete;

  TXLSheet* Sheet() const { return sheet_; }
  TXLSector Sector() const { return sector_; }
  TXLBaseStyle* BaseStyle() const;
  int32_t ColCount() const;
  int32_t RowCount() const;
  TRect Bounds() const { return TRect{0, 0, ColCount(), RowCount()}; }
  // Sheet position of a section position.
  TPoint ToSheet(TPoint pos) const;

  // Cells.
  TPoint ResolvePos(TPoint pos) const;
  TXLCell* FindCell(TPoint pos) const;
  TXLCell* GetCell(TPoint pos);
  TXLCell* PutCell(TPoint pos, const TXLCellClass* cls);
  const TXLCellClass* GetCellClass(TPoint pos) const;
  void SetCellClass(TPoint pos, const TXLCellClass* cls);
  void ClearCells(const TRect& rect);
  // Walks the rectangle row by row, skipping positions covered by a merged area other than
  // its head; the callback returns false to stop.
  void ForEachCell(const TRect& rect, bool create, const std::function<bool(TXLCell*)>& callback);
  void ForEachPosition(const TRect& rect, const std::function<bool(TPoint)>& callback) const;
  // Every stored cell in row and column order.
  void ForEachStored(const std::function<void(TXLCell*)>& callback) const;
  void ForEachStyled(TXLProp prop, TXLStyle* only);
  void RemoveStyle(TXLStyle* style);
  void ResolveStyles();
  TXLRow* FindRow(int32_t row) const;
  TXLRow* GetRow(int32_t row);
  int32_t CellCount() const;

  // Item lists.
  int32_t GetItem(int list, int32_t col, int32_t row) const;
  void SetItems(int list, const TRect& rect, int32_t value);
  void SetLines(int list, int32_t line, int32_t value, int32_t from, int32_t to);
  int32_t GetLines(int list, int32_t line, int32_t from, int32_t to, bool& same) const;
  void SetListDefault(int list, int32_t value);
  TXLCellStyles GetCellStyles(TPoint pos) const;
  int32_t GetLayout(TPoint pos) const;
  bool ListEmpty(int list) const;

  // Merged areas.
  TXLUnion* FindUnionAt(TPoint pos, bool includeHead) const;
  TXLUnion* FindUnionOfCell(const TXLCell* cell) const;
  TXLUnion* FindIntersecting(const TRect& rect, const TXLUnion* except) const;
  bool IsUnionRect(const TRect& rect) const;
  bool Merge(const TRect& rect);
  TXLUnion* AddUnion(const TRect& rect, TXLCell* cell);
  void DeleteUnion(TXLUnion* area);
  void NormalizeUnion(TXLUnion* area);
  void NormalizeIntersecting(const TRect& rect);
  TRect ExpandRect(TRect rect) const;
  int32_t UnionCount() const { return int32_t(unions_.size()); }
  const TXLUnion* Union(int32_t i) const { return unions_.at(size_t(i)).get(); }
  // Drops lines (axis 1) or columns (axis 0) from count on.
  void Truncate(int axis, int32_t count);
  // Inserts (delta > 0) or deletes (delta < 0) columns (axis 0) or rows (axis 1) at index:
  // cells, their hints, merged areas and every item list move with their lines.
  void ShiftLines(int axis, int32_t index, int32_t delta);

  // Paints the context's visible range of this sector.
  void Paint(const TXLPaintContext& ctx);

  // Hints.
  AnsiString HintAt(TPoint pos) const;

  // Called by cells.
  void CellValueChanged(TXLCell* cell);
  void CellChanged(const TRect& rect);

  void Clear();
  void ClearLists();
  // Gives every item sub-list the base style's defaults again.
  void ApplyDefaults();

  // The section record of the sheet stream.
  void ReadRecord(TXLReader& reader);
  void WriteRecord(TXLWriter& writer) const;

 private:
  friend class TXLCell;
  using LineLists = TListSList<TSList>;
  using ItemListT = TListSList<TDefSList>;
  TDefSList* SubList(int list, int32_t row, bool create) const;
  TSList* LineList(int list, int32_t line, bool create) const;
  void ReadCells(TXLReader& reader);
  void WriteCells(TXLWriter& writer) const;
  void ReadUnions(TXLReader& reader);
  void ShiftUnions(int axis, int32_t index, int32_t delta);
  void ShiftRows(int32_t index, int32_t delta);
  void ReadItemList(TXLReader& reader, const std::function<TCustomSList*(int32_t)>& getList);

  TXLSheet* sheet_;
  TXLSector sector_;
  std::map<int32_t, std::unique_ptr<TXLRow>> rows_;
  std::vector<std::unique_ptr<TXLUnion>> unions_;
  std::unique_ptr<LineLists> lines_[2];
  std::unique_ptr<ItemListT> items_[6];
  bool notifying_ = false;
};
