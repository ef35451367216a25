#include "Leaving.h"

#include <dlfcn.h>
#include <link.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMenu>
#include <QMessageBox>

#include "Screen.h"

namespace walk {
namespace {

std::string S(const QString& s) { return s.toStdString(); }

// Set once the box refusing a cell's text is answered; the Escape that takes the text back
// goes to the cell after the box has gone and given the cell its focus again.
bool takeBack = false;

bool ClickButton(QAbstractButton* b) {
  return b && b->isVisible() && XClick(b->mapToGlobal(b->rect().center()));
}

// Mesa unloads its driver as the display closes, before the leak checker looks at exit,
// and what the driver's globals still held would read as leaked from a nameless module.
// Held mapped to the end, its globals are looked through as they are for any library.
void HoldGraphicsDrivers() {
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void*) {
        const std::string name = info->dlpi_name ? info->dlpi_name : "";
        if (name.find("/dri/") != std::string::npos || name.find("libgallium") != std::string::npos)
          dlopen(name.c_str(), RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE);
        return 0;
      },
      nullptr);
}

}  // namespace

std::string LeaveStep(QWidget* page) {
  static const bool held = (HoldGraphicsDrivers(), true);
  (void)held;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (qobject_cast<QMenu*>(w) && w->isVisible()) {
      XKey("Escape");
      return "key Escape on a menu";
    }
  QWidget* top = QApplication::activeModalWidget();
  if (auto* box = qobject_cast<QMessageBox*>(top)) {
    // Leaving means not keeping what was not saved: 否 where the box asks to save, 是
    // where it asks to give the changes up, else the button that only closes it.
    const bool asksToDiscard = box->text().contains(QString::fromUtf8("放弃"));
    QAbstractButton* b = box->button(asksToDiscard ? QMessageBox::Yes : QMessageBox::No);
    if (!b) b = box->button(QMessageBox::Ok);
    if (!b) b = box->escapeButton();
    if (ClickButton(b)) {
      // Text a cell will not take stays in its editor, and the window with it: the person
      // takes it back (Escape in the cell) to leave.
      if (box->text().contains(QString::fromUtf8("不是有效的"))) takeBack = true;
      return "click " + S(b->text().remove('&')) + " on " + S(Describe(box));
    }
    XKey("Escape");
    return "key Escape on " + S(Describe(box));
  }
  if (takeBack) {
    takeBack = false;
    if (QWidget* cell = QApplication::focusWidget(); cell && cell->window()->isActiveWindow()) {
      XKey("Escape");
      return "key Escape in " + S(Describe(cell)) + " to take back what it would not take";
    }
  }
  if (!top) {
    // The page goes last; any other window first (viewers, the popup, a form not modal).
    for (QWidget* w : VisibleWindows())
      if (w != page && !qobject_cast<QMenu*>(w)) {
        top = w;
        break;
      }
  }
  if (top) {
    XCloseWindow(top);
    return "close window " + S(Describe(top));
  }
  if (page) {
    XCloseWindow(page);
    return "close the page";
  }
  // Nothing left to close and the host still runs: it is told to quit, as its last
  // window closing would.
  QCoreApplication::quit();
  return "quit (no window left)";
}

}  // namespace walk
