#pragma once
// What a person sees on the screen and how they reach it: the places one can click in
// the visible windows, found through Qt's widgets (classes, texts, object names) and its
// accessibility (what the product's own painted widgets tell of themselves), and input
// sent through the X server itself (XTest by way of xdotool), so it passes the window
// system, focus and Qt's modality as a person's does.
#include <QAccessible>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QWidget>
#include <random>
#include <vector>

namespace walk {

struct Target {
  QPointer<QWidget> widget;
  QPoint at;          // in widget coordinates
  QString what;       // how the action log names it
  bool item = false;  // a list item, a cell or a chart: worth a double or a right click
  int weight = 1;     // how much more a person goes for it: buttons and menus draw the eye
};

// One child of a widget's accessible interface, as read at one moment.
struct Seen {
  QAccessible::Role role = QAccessible::NoRole;
  QString name, value, description;
  QRect rect;  // global
  QAccessible::State state;
};

// The children of the widget's accessible interface, at most `max`.
std::vector<Seen> AccessibleChildren(QWidget* w, int max = 2000);
QString AccessibleText(QWidget* w, QAccessible::Text t);
// A sheet's pane: a painted table, not one of Qt's item views.
bool IsSheetPane(QWidget* w);
// The widget is of the named class or derives from it (as far as Qt knows its classes).
bool IsA(const QWidget* w, const char* className);

// Every place worth a click in the visible windows; those of the active modal window
// (and open menus) only, when one is up and `onlyActive` is set. Where a widget offers
// more places than are worth listing (a sheet's cells, a chart), rng picks a few.
std::vector<Target> VisibleTargets(bool onlyActive, std::mt19937_64& rng);

// The visible windows, in an order that does not depend on the run.
std::vector<QWidget*> VisibleWindows();

// A short description of a widget for the action log: class, object name, caption.
QString Describe(const QWidget* w);

// Input through the X server. Each call returns once the X server has taken the input;
// the application sees it when its event loop next reads the connection.
bool XClick(QPoint global, int button = 1, int count = 1);
bool XKey(const char* keysym);
bool XType(const QString& text);
// Two hosts on one screen take it in turn, one action at a time, and each brings its own
// windows up before its input, or its clicks and keys land in the other's windows.
void ShareScreen(bool shared);
class ScreenTurn {
 public:
  ScreenTurn();
  ~ScreenTurn();
  ScreenTurn(const ScreenTurn&) = delete;
  ScreenTurn& operator=(const ScreenTurn&) = delete;

 private:
  bool held_ = false;
};

// Asks the window to close as a window manager's close button does (WM_DELETE_WINDOW).
bool XCloseWindow(QWidget* window);

}  // namespace walk

namespace walk {
// A click with a key held down ("shift", "ctrl"), as a person adds to a selection.
bool XClickHolding(QPoint global, const char* key);
}  // namespace walk
