#include "grid/ui/XLGridAccess.h"

#include <QAccessibleWidget>
#include <QPointer>
#include <QWindow>
#include <set>
#include <tuple>
#include <utility>
#include <vector>

#include "grid/XLManager.h"
#include "grid/XLSections.h"
#include "grid/ui/XLGridView.h"
#include "platform/AccessibleChildren.h"
#include "platform/QtText.h"

namespace {

constexpr size_t kMaxCells = 2000;

// The part of a pane's cell that shows, in pane pixels.
QRect VisibleRect(const TXLView& view, TPoint cell) { return view.CellRect(cell).intersected(view.rect()); }

// The cells of the pane that show at least in part, row by row, a merged area once as its
// first cell at the place where it first shows.
std::vector<TPoint> VisibleCells(const TXLView& view) {
  std::vector<TPoint> out;
  const TXLSection* section = view.Section();
  if (!section || view.width() <= 0 || view.height() <= 0) return out;
  const TRect range = view.RangeOf(view.rect());
  std::set<const TXLUnion*> listed;
  for (int32_t y = range.Top; y < range.Bottom && out.size() < kMaxCells; ++y)
    for (int32_t x = range.Left; x < range.Right && out.size() < kMaxCells; ++x) {
      TPoint p{x, y};
      if (const TXLUnion* u = section->FindUnionAt(p, true)) {
        if (!listed.insert(u).second) continue;
        p = TPoint{u->Rect.Left, u->Rect.Top};
      }
      if (VisibleRect(view, p).isEmpty()) continue;
      out.push_back(p);
    }
  return out;
}

class TXLCellAccessible : public TAccessibleItem<TXLView>, public QAccessibleTableCellInterface {
 public:
  TXLCellAccessible(TXLView* view, TPoint cell) : TAccessibleItem(view, QAccessible::Cell), section_(view->Section()), cell_(cell) {}

  // The pane still shows the section this cell came from and the cell is inside it. The
  // section is only compared, never read, until the pane confirms it is its own.
  bool isValid() const override {
    return owner_ && section_ && owner_->Section() == section_ && owner_->Grid()->Sheet() && cell_.X >= 0 &&
           cell_.Y >= 0 && cell_.X < owner_->ColCount() && cell_.Y < owner_->RowCount();
  }

  QString text(QAccessible::Text t) const override {
    if (!isValid()) return {};
    const TPoint at = owner_->Section()->ToSheet(cell_);
    if (t == QAccessible::Name) {
      if (const auto& namer = owner_->Grid()->CellNamer()) {
        const QString name = namer(at);
        if (!name.isEmpty()) return name;
      }
      return at.X >= 0 && at.Y >= 0 ? ToQString(CellName(at.X, at.Y)) : QString();
    }
    if (t == QAccessible::Value) {
      TXLCell* cell = owner_->Section()->FindCell(cell_);
      return cell ? ToQString(cell->GetText()) : QString();
    }
    return {};
  }

  QRect rect() const override {
    if (!isValid()) return {};
    const QRect r = VisibleRect(*owner_, cell_);
    if (r.isEmpty()) return {};
    return QRect(owner_->mapToGlobal(r.topLeft()), r.size());
  }

  TRect Extent() const {
    if (isValid())
      if (const TXLUnion* u = owner_->Section()->FindUnionAt(cell_, true)) return u->Rect;
    return TRect{cell_.X, cell_.Y, cell_.X + 1, cell_.Y + 1};
  }

  QAccessible::State state() const override {
    QAccessible::State s;
    if (!isValid()) {
      s.invalid = true;
      return s;
    }
    const TXLGrid* grid = owner_->Grid();
    s.readOnly = !grid->CanEdit(owner_, cell_);
    s.focusable = grid->CanSelect(owner_, cell_);
    s.selectable = s.focusable;
    s.focused = grid->EditPane() == owner_ && owner_->CurCell() == cell_;
    s.selected = PointInRect(cell_, owner_->Selection());
    if (VisibleRect(*owner_, cell_).isEmpty()) s.invisible = s.offscreen = true;
    return s;
  }

  void* interface_cast(QAccessible::InterfaceType t) override {
    return t == QAccessible::TableCellInterface ? static_cast<QAccessibleTableCellInterface*>(this) : nullptr;
  }
  // The cell's place in the pane's rows and columns, merged areas by their whole extent.
  bool isSelected() const override { return isValid() && PointInRect(cell_, owner_->Selection()); }
  QList<QAccessibleInterface*> columnHeaderCells() const override { return {}; }
  QList<QAccessibleInterface*> rowHeaderCells() const override { return {}; }
  int columnIndex() const override { return cell_.X; }
  int rowIndex() const override { return cell_.Y; }
  int columnExtent() const override { return Extent().Right - Extent().Left; }
  int rowExtent() const override { return Extent().Bottom - Extent().Top; }
  QAccessibleInterface* table() const override { return parent(); }

 private:
  const TXLSection* section_;
  TPoint cell_;
};

class TXLViewAccessible : public QAccessibleWidget, public QAccessibleTableInterface {
 public:
  explicit TXLViewAccessible(TXLView* view) : QAccessibleWidget(view, QAccessible::Table) {}

  void* interface_cast(QAccessible::InterfaceType t) override {
    if (t == QAccessible::TableInterface) return static_cast<QAccessibleTableInterface*>(this);
    return QAccessibleWidget::interface_cast(t);
  }

  // The pane's whole rows and columns, in the section's own coordinates.
  QAccessibleInterface* caption() const override { return nullptr; }
  QAccessibleInterface* summary() const override { return nullptr; }
  int columnCount() const override { return View()->Section() ? View()->ColCount() : 0; }
  int rowCount() const override { return View()->Section() ? View()->RowCount() : 0; }
  QAccessibleInterface* cellAt(int row, int column) const override {
    const TXLSection* section = View()->Section();
    if (!section || row < 0 || column < 0 || row >= rowCount() || column >= columnCount()) return nullptr;
    TPoint cell{column, row};
    if (const TXLUnion* u = section->FindUnionAt(cell, false)) cell = TPoint{u->Rect.Left, u->Rect.Top};
    return Cell(cell);
  }
  QString columnDescription(int column) const override { return ToQString(ColName(column)); }
  QString rowDescription(int row) const override { return QString::number(row + 1); }
  int selectedCellCount() const override { return int(SelectedCells().size()); }
  QList<QAccessibleInterface*> selectedCells() const override {
    QList<QAccessibleInterface*> out;
    for (const TPoint& p : SelectedCells()) out << Cell(p);
    return out;
  }
  int selectedColumnCount() const override { return 0; }
  int selectedRowCount() const override { return 0; }
  QList<int> selectedColumns() const override { return {}; }
  QList<int> selectedRows() const override { return {}; }
  bool isColumnSelected(int) const override { return false; }
  bool isRowSelected(int) const override { return false; }
  bool selectRow(int) override { return false; }
  bool selectColumn(int) override { return false; }
  bool unselectRow(int) override { return false; }
  bool unselectColumn(int) override { return false; }
  void modelChange(QAccessibleTableModelChangeEvent*) override {}

  // The shown cells, then the pane's own widgets (the in-place editor while it is open).
  int childCount() const override { return int(Cells().size()) + QAccessibleWidget::childCount(); }

  QAccessibleInterface* child(int index) const override {
    const std::vector<TPoint>& cells = Cells();
    if (index < 0) return nullptr;
    if (size_t(index) >= cells.size()) return QAccessibleWidget::child(index - int(cells.size()));
    return Cell(cells[size_t(index)]);
  }

  int indexOfChild(const QAccessibleInterface* child) const override {
    // By address, not by cast: the child may come from code built without type information.
    const std::vector<TPoint>& cells = Cells();
    for (size_t i = 0; i < cells.size(); ++i)
      if (Cell(cells[i]) == child) return child->isValid() ? int(i) : -1;
    const int i = QAccessibleWidget::indexOfChild(child);
    return i < 0 ? -1 : int(cells.size()) + i;
  }

  QAccessibleInterface* childAt(int x, int y) const override {
    // The editor lies on top of its cell.
    for (int i = QAccessibleWidget::childCount() - 1; i >= 0; --i) {
      QAccessibleInterface* w = QAccessibleWidget::child(i);
      if (w && w->isValid() && !w->state().invisible && w->rect().contains(x, y)) return w;
    }
    const TXLView* v = View();
    TPoint cell;
    if (!v->CellAt(v->mapFromGlobal(QPoint(x, y)), cell)) return nullptr;
    const std::vector<TPoint>& cells = Cells();
    for (size_t i = 0; i < cells.size(); ++i)
      if (cells[i] == cell) return child(int(i));
    return nullptr;
  }

 private:
  TXLView* View() const { return static_cast<TXLView*>(widget()); }

  QAccessibleInterface* Cell(TPoint cell) const {
    TXLView* v = View();
    // Cells asked for by place need not show: they are freed again past a bound.
    if (children_.Size() > 4 * kMaxCells) {
      std::set<std::pair<int32_t, int32_t>> shown;
      for (const TPoint& p : Cells()) shown.insert({p.X, p.Y});
      children_.Prune(shown, 0);
    }
    return children_.Get({cell.X, cell.Y}, [v, cell] { return new TXLCellAccessible(v, cell); });
  }

  // The selected cells that show; a whole selected sheet is not listed cell by cell.
  std::vector<TPoint> SelectedCells() const {
    std::vector<TPoint> out;
    const TRect sel = View()->Selection();
    for (const TPoint& p : Cells())
      if (PointInRect(p, sel)) out.push_back(p);
    return out;
  }

  // The shown cells, worked out again only when the pane scrolled, resized or the sheet
  // reported a change.
  const std::vector<TPoint>& Cells() const {
    const TXLView* v = View();
    const TXLSection* s = v->Section();
    const Key key{s,
                  v->Origin(),
                  v->size(),
                  v->Cols().Total(),
                  v->Rows().Total(),
                  v->ColCount(),
                  v->RowCount(),
                  s ? s->UnionCount() : 0,
                  v->Grid()->ChangeCount()};
    if (key == key_ && valid_) return cells_;
    key_ = key;
    valid_ = true;
    cells_ = VisibleCells(*v);
    std::set<std::pair<int32_t, int32_t>> shown;
    for (const TPoint& p : cells_) shown.insert({p.X, p.Y});
    children_.Prune(shown, 2 * kMaxCells);
    return cells_;
  }

  struct Key {
    const TXLSection* section = nullptr;
    QPoint origin;
    QSize size;
    int64_t width = 0, height = 0;
    int32_t cols = 0, rows = 0, unions = 0;
    uint64_t changes = 0;
    bool operator==(const Key&) const = default;
  };
  mutable Key key_;
  mutable bool valid_ = false;
  mutable std::vector<TPoint> cells_;
  mutable TAccessibleChildren<std::pair<int32_t, int32_t>> children_;
};

QAccessibleInterface* XLViewAccessibleFactory(const QString&, QObject* object) {
  // Qt asks about every object, some from code built without type information (the web
  // engine's): only the meta-object may be asked.
  auto* view = qobject_cast<TXLView*>(object);
  return view ? new TXLViewAccessible(view) : nullptr;
}

TAccessibleFactoryUse paneFactory(XLViewAccessibleFactory);

}  // namespace

void XLViewAccessibleAdded() { paneFactory.Add(); }
void XLViewAccessibleRemoved() { paneFactory.Remove(); }
