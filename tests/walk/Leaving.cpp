#include "Leaving.h"

#include <dlfcn.h>
#include <link.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>

#include "Screen.h"

namespace walk {
namespace {

std::string S(const QString& s) { return s.toStdString(); }

// The window whose cell refused its text, once the box saying so is answered: the person
// clicks into the cell's editor and takes the text back with Escape.
QPointer<QWidget> refusedIn;
int takeBackClicks = 0;

// The editor open over a sheet of the window, with text in it.
QLineEdit* OpenEditor(QWidget* window) {
  if (!window) return nullptr;
  for (QWidget* pane : window->findChildren<QWidget*>())
    if (pane->isVisible() && IsSheetPane(pane))
      for (QLineEdit* e : pane->findChildren<QLineEdit*>())
        if (e->isVisible() && !e->text().isEmpty()) return e;
  return nullptr;
}

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
      if (box->text().contains(QString::fromUtf8("不是有效的")) && box->parentWidget()) {
        refusedIn = box->parentWidget()->window();
        takeBackClicks = 0;
      }
      return "click " + S(b->text().remove('&')) + " on " + S(Describe(box));
    }
    XKey("Escape");
    return "key Escape on " + S(Describe(box));
  }
  if (QLineEdit* editor = OpenEditor(refusedIn)) {
    if (!editor->hasFocus() && ++takeBackClicks <= 3) {
      XClick(editor->mapToGlobal(editor->rect().center()));
      return "click into the editor of the cell that refused \"" + S(editor->text()) + "\"";
    }
    refusedIn = nullptr;
    XKey("Escape");
    return "key Escape in the editor of the cell that refused \"" + S(editor->text()) + "\"";
  }
  refusedIn = nullptr;
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
