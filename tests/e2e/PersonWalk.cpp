#include "PersonWalk.h"

#include <QTabBar>
#include <QTabWidget>
#include <QTreeWidget>

#include "WindowInput.h"
#include "control/form/TemplateFields.h"
#include "control/form/frm_Template.h"
#include "grid/ui/XLGridView.h"

namespace person {

void Click(QWidget* w) { ClickThroughWindow(w); }

void ClickTab(QTabWidget* pages, int index) {
  QTabBar* bar = pages->tabBar();
  const QRect tab = bar->tabRect(index);
  EXPECT_TRUE(bar->rect().contains(tab)) << "tab " << index << " is out of sight";
  ClickThroughWindow(bar, tab.center());
}

void ClickItem(QTreeWidget* tree, QTreeWidgetItem* item) {
  tree->scrollToItem(item);
  ClickThroughWindow(tree->viewport(), tree->visualItemRect(item).center());
}

void TypeInto(TfrmTemplate* f, const char* field, const char* text) {
  for (const TFieldEntry& e : f->Doc().Fields) {
    if (e.name != Cp936(field)) continue;
    TXLView* pane = f->Grid()->View(sClient);
    ClickThroughWindow(pane, pane->CellRect(TPoint{e.col, e.row}).center());
    TypeThroughWindow(pane, text);
    KeyThroughWindow(pane, Qt::Key_Return);
    return;
  }
  ADD_FAILURE() << "no field " << field;
}

}  // namespace person
