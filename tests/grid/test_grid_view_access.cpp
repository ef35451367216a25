// The grid's panes as screen readers and UI automation read them through Qt's accessibility.
#include <QAccessible>
#include <QAccessibleInterface>

#include "core/AnsiString.h"
#include "test_grid_view_support.h"

namespace {

TXLCell* Put(TXLSheet& s, int col, int row, const char* utf8) {
  TXLCell* c = s.Section(sClient)->PutCell(TPoint{col, row}, &XLCStringClass);
  c->SetAsString(Utf8ToCp936(utf8));
  return c;
}

QAccessibleInterface* Table(TXLView* pane) { return QAccessible::queryAccessibleInterface(pane); }

QStringList Names(QAccessibleInterface* table) {
  QStringList out;
  for (int i = 0; i < table->childCount(); ++i)
    if (table->child(i)->role() == QAccessible::Cell) out << table->child(i)->text(QAccessible::Name);
  return out;
}

QAccessibleInterface* ChildNamed(QAccessibleInterface* table, const QString& name) {
  for (int i = 0; i < table->childCount(); ++i)
    if (table->child(i)->text(QAccessible::Name) == name) return table->child(i);
  return nullptr;
}

QRect Global(TXLView* pane, QRect r) { return QRect(pane->mapToGlobal(r.topLeft()), r.size()); }

}  // namespace

QWidget* MakeWidgetWithoutTypeInfo(QWidget* parent);

namespace {

}  // namespace

TEST_F(GridView, ThePaneReadsAsATableOfTheShownCellsWithNamesValuesRectsAndStates) {
  Make([](TXLSheet& s) {
    Put(s, 1, 1, "金额");
    Put(s, 2, 2, "merged");
    s.Section(sClient)->Merge(TRect{2, 2, 4, 4});
    Put(s, 4, 0, "fixed")->SetStyles(CellStyleBit(csReadOnly));
  });
  grid->SetCellNamer([](TPoint at) { return at == TPoint{1, 1} ? QStringLiteral("amount") : QString(); });
  QAccessibleInterface* table = Table(Pane());
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(table->role(), QAccessible::Table);

  const int rowsShown = (Pane()->height() + 19) / 20;
  ASSERT_LT(rowsShown, 20);
  const QStringList names = Names(table);
  EXPECT_EQ(names.size(), 6 * rowsShown - 3);  // the merged area once
  EXPECT_EQ(names.mid(0, 7), (QStringList{"A1", "B1", "C1", "D1", "E1", "F1", "A2"}));
  EXPECT_EQ(names.mid(12, 6), (QStringList{"A3", "B3", "C3", "E3", "F3", "A4"}));
  EXPECT_FALSE(names.contains("D3") || names.contains("C4") || names.contains("D4") || names.contains("B2"));

  QAccessibleInterface* amount = ChildNamed(table, "amount");
  ASSERT_NE(amount, nullptr);
  EXPECT_EQ(amount->role(), QAccessible::Cell);
  EXPECT_EQ(amount->text(QAccessible::Value), QString::fromUtf8("金额"));
  EXPECT_EQ(amount->rect(), Global(Pane(), Pane()->CellRect(TPoint{1, 1})));
  EXPECT_EQ(amount->parent(), table);
  EXPECT_EQ(table->indexOfChild(amount), 7);
  EXPECT_FALSE(amount->state().readOnly);
  EXPECT_FALSE(amount->state().focused);

  QAccessibleInterface* merged = ChildNamed(table, "C3");
  ASSERT_NE(merged, nullptr);
  EXPECT_EQ(merged->text(QAccessible::Value), "merged");
  EXPECT_EQ(merged->rect().size(), QSize(120, 40));
  EXPECT_EQ(table->childAt(merged->rect().right() - 2, merged->rect().bottom() - 2), merged);
  QAccessibleTableInterface* grid2d = table->tableInterface();
  ASSERT_NE(grid2d, nullptr);
  EXPECT_EQ(grid2d->rowCount(), 20);
  EXPECT_EQ(grid2d->columnCount(), 6);
  EXPECT_EQ(grid2d->cellAt(3, 3), merged);  // D4 lies in C3:D4
  ASSERT_NE(merged->tableCellInterface(), nullptr);
  EXPECT_EQ(merged->tableCellInterface()->rowExtent(), 2);
  EXPECT_EQ(merged->tableCellInterface()->columnExtent(), 2);
  EXPECT_EQ(grid2d->cellAt(19, 5)->text(QAccessible::Name), "F20");  // out of sight, still there

  EXPECT_TRUE(ChildNamed(table, "E1")->state().readOnly);
  EXPECT_TRUE(ChildNamed(table, "A1")->state().focused);
  Click(Pane(), CellCentre(1, 1));
  EXPECT_TRUE(amount->state().focused);
  EXPECT_FALSE(ChildNamed(table, "A1")->state().focused);

  // What the sheet changes later is read, not what was first seen.
  Client().FindCell(TPoint{1, 1})->SetAsString("42");
  EXPECT_EQ(amount->text(QAccessible::Value), "42");

  // The open editor follows the cells as a child of its own.
  grid->SetEditMode(2);
  const int last = table->childCount() - 1;
  ASSERT_EQ(last, 6 * rowsShown - 3);
  QAccessibleInterface* editor = table->child(last);
  ASSERT_NE(editor, nullptr);
  EXPECT_NE(editor->role(), QAccessible::Cell);
  EXPECT_EQ(table->indexOfChild(editor), last);
  EXPECT_EQ(table->childAt(amount->rect().center().x(), amount->rect().center().y()), editor);
}

TEST_F(GridView, AScrolledPaneListsOnlyWhatShowsAndCutsPartlyShownCells) {
  Make([](TXLSheet& s) {
    s.Section(sClient)->Merge(TRect{0, 4, 2, 6});  // A5:B6, its head scrolled away
  });
  ASSERT_GE(Pane()->MaxOrigin().y(), 110);
  Pane()->SetOrigin(QPoint(30, 110));  // half of A and of row 6 gone
  QAccessibleInterface* table = Table(Pane());
  const QStringList names = Names(table);
  ASSERT_FALSE(names.isEmpty());
  EXPECT_EQ(names.first(), "A5");  // the merged area by its head, where it shows
  EXPECT_EQ(names.mid(1, 3), (QStringList{"C6", "D6", "E6"}));
  EXPECT_FALSE(names.contains("A1") || names.contains("A6") || names.contains("B6") || names.contains("C5"));
  EXPECT_EQ(table->child(0)->rect(), Global(Pane(), QRect(0, 0, 90, 10)));
  const int bottom = 110 + Pane()->height(), last = (bottom - 1) / 20;
  EXPECT_EQ(names.last(), "F" + QString::number(last + 1));
  EXPECT_EQ(ChildNamed(table, names.last())->rect().height(), bottom - 20 * last);
}

TEST_F(GridView, CellInterfacesOutliveTheirSheetAndGoWithTheirPane) {
  Make([](TXLSheet& s) { Put(s, 0, 0, "x"); });
  QAccessibleInterface* table = Table(Pane());
  QAccessibleInterface* cell = table->child(0);
  ASSERT_NE(cell, nullptr);
  const QAccessible::Id id = QAccessible::uniqueId(cell);
  EXPECT_EQ(cell->text(QAccessible::Value), "x");
  sheet.reset();  // freed under the grid
  ASSERT_EQ(QAccessible::accessibleInterface(id), cell);
  EXPECT_FALSE(cell->isValid());
  EXPECT_TRUE(cell->text(QAccessible::Value).isEmpty());
  EXPECT_TRUE(cell->text(QAccessible::Name).isEmpty());
  EXPECT_TRUE(cell->rect().isEmpty());
  EXPECT_TRUE(cell->state().invalid);
  EXPECT_TRUE(Names(table).isEmpty());
  grid.reset();
  EXPECT_EQ(QAccessible::accessibleInterface(id), nullptr);
}

// Qt asks every installed factory about every object it is asked about, the web engine's
// widgets too, which are built without type information.
TEST_F(GridView, APaneAnswersOnlyForItselfBesideWidgetsWithoutTypeInformation) {
  Make([](TXLSheet& s) { Put(s, 0, 0, "x"); });
  QWidget holder;  // deletes it from the toolkit's code, which does not check types
  QAccessibleInterface* other = QAccessible::queryAccessibleInterface(MakeWidgetWithoutTypeInfo(&holder));
  ASSERT_NE(other, nullptr);
  EXPECT_NE(other->role(), QAccessible::Table);
  QAccessibleInterface* table = Table(Pane());
  EXPECT_EQ(table->indexOfChild(other), -1);
  EXPECT_EQ(table->indexOfChild(table->child(0)), 0);
}
