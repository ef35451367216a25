#pragma once
// A grid on a sheet that went through the sheet stream, shown offscreen and driven with
// real key and mouse events.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QTest>
#include <functional>
#include <memory>

#include "core/DateTime.h"
#include "core/Streams.h"
#include "grid/XLCells.h"
#include "grid/XLSections.h"
#include "grid/XLSheet.h"
#include "grid/ui/XLEdit.h"
#include "grid/ui/XLGridView.h"

inline QApplication& ViewApp() {
  static int argc = 1;
  static char name[] = "grid_view_tests";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

struct GridView : ::testing::Test {
  std::unique_ptr<TXLSheet> sheet;
  std::unique_ptr<TXLGrid> grid;

  // A 6 x 20 sheet of 60 x 20 cells; build fills it before it goes through the stream.
  void Make(const std::function<void(TXLSheet&)>& build, TXLOptions options = XLDefaultOptions) {
    ViewApp();
    XLRegisterCellClasses();
    DefaultFormatSettings().ShortDateFormat = "yyyy-MM-dd";
    DefaultFormatSettings().DateSeparator = '-';
    TXLSheet source;
    source.SetCount(sCols, 6);
    source.SetCount(sRows, 20);
    source.SetDefSize(sCols, 60);
    source.SetDefSize(sRows, 20);
    build(source);
    TMemoryStream stream;
    source.SaveToStream(stream);
    stream.SetPosition(0);
    sheet = std::make_unique<TXLSheet>();
    sheet->LoadFromStream(stream);
    grid = std::make_unique<TXLGrid>();
    grid->SetOptions(options);
    grid->setGeometry(100, 200, 400, 300);  // room for hints above
    grid->SetSheet(sheet.get());
    grid->show();
    QApplication::setActiveWindow(grid.get());
    ASSERT_TRUE(QTest::qWaitForWindowExposed(grid.get()));
    grid->setFocus();
  }
  void TearDown() override {
    grid.reset();
    sheet.reset();
  }
  TXLSection& Client() { return *sheet->Section(sClient); }
  TXLView* Pane() { return grid->View(sClient); }
  QWidget* Focus() { return QApplication::focusWidget() ? QApplication::focusWidget() : grid.get(); }
  void Key(int key, Qt::KeyboardModifiers mods = {}) { QTest::keyClick(Focus(), Qt::Key(key), mods); }
  void Type(const char* text) {
    for (const char* c = text; *c; ++c) QTest::keyClick(Focus(), *c);
  }
  TPoint Cur() { return grid->GetCurCell(); }
  QPoint CellCentre(int col, int row) { return Pane()->CellRect(TPoint{col, row}).center(); }
  void Click(QWidget* w, QPoint p, Qt::KeyboardModifiers mods = {}) { QTest::mouseClick(w, Qt::LeftButton, mods, p); }
  // A click as a person makes it: through the window, so that the toolkit finds the widget.
  void ClickThroughWindow(QWidget* w, QPoint p, Qt::KeyboardModifiers mods = {}) {
    QTest::mouseClick(w->window()->windowHandle(), Qt::LeftButton, mods, w->mapTo(w->window(), p));
  }
  TXLInplaceEditor* Editor() { return grid->Editor()->EditorControl(); }
};
