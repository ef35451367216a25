#include "Screen.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractScrollArea>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QTabBar>
#include <QTextEdit>
#include <QTreeView>
#include <QDir>
#include <QWindow>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

// After Qt: Xlib's macros would spoil Qt's headers.
#include <X11/Xlib.h>

namespace walk {
namespace {

QString Plain(QString s) {
  s.remove('&');
  s.replace('\n', ' ');
  return s.left(24);
}

// The point is on screen, and on the part of the widget nothing covers.
bool Reachable(QWidget* w, QPoint at) {
  if (!w->visibleRegion().contains(at)) return false;
  const QScreen* screen = QGuiApplication::primaryScreen();
  return screen && screen->geometry().contains(w->mapToGlobal(at));
}

void Add(std::vector<Target>& out, QWidget* w, QPoint at, const QString& what, bool item = false, int weight = 1) {
  if (Reachable(w, at)) out.push_back({w, at, what, item, weight});
}

void AddItems(std::vector<Target>& out, QAbstractItemView* view) {
  QAbstractItemModel* model = view->model();
  if (!model) return;
  auto* tree = qobject_cast<QTreeView*>(view);
  QWidget* port = view->viewport();
  int budget = 60;
  // Depth first through what is unfolded; only what is in sight counts.
  std::vector<QModelIndex> stack{view->rootIndex()};
  while (!stack.empty() && budget > 0) {
    const QModelIndex parent = stack.back();
    stack.pop_back();
    const int rows = std::min(model->rowCount(parent), 200);
    const int cols = std::min(model->columnCount(parent), 6);
    for (int r = 0; r < rows && budget > 0; ++r) {
      for (int c = 0; c < cols && budget > 0; ++c) {
        const QModelIndex i = model->index(r, c, parent);
        const QRect rect = view->visualRect(i).intersected(port->rect());
        if (rect.isEmpty()) continue;
        --budget;
        Add(out, port, rect.center(), QString("item \"%1\" of %2").arg(Plain(i.data().toString()), Describe(view)),
            true);
      }
      const QModelIndex first = model->index(r, 0, parent);
      if (tree && model->hasChildren(first) && tree->isExpanded(first)) stack.push_back(first);
    }
  }
}

// A few of the cells a sheet pane shows.
void AddCells(std::vector<Target>& out, QWidget* pane, std::mt19937_64& rng) {
  std::vector<Seen> cells = AccessibleChildren(pane);
  // The pane's own widgets (its editor, scroll bars) come after the cells.
  std::erase_if(cells, [](const Seen& c) { return c.role != QAccessible::Cell; });
  if (cells.empty()) return;
  for (int n = 0; n < 12; ++n) {
    const Seen& c = cells[size_t(rng() % cells.size())];
    const QRect rect = QRect(pane->mapFromGlobal(c.rect.topLeft()), c.rect.size()).intersected(pane->rect());
    if (!rect.isEmpty()) Add(out, pane, rect.center(), QString("cell %1 of the sheet").arg(Plain(c.name)), true);
  }
}

void AddWidget(std::vector<Target>& out, QWidget* w, std::mt19937_64& rng) {
  if (auto* menu = qobject_cast<QMenu*>(w)) {
    for (QAction* a : menu->actions())
      if (!a->isSeparator() && a->isVisible() && a->isEnabled())
        Add(out, menu, menu->actionGeometry(a).center(), QString("menu item \"%1\"").arg(Plain(a->text())), false, 4);
    return;
  }
  if (auto* bar = qobject_cast<QMenuBar*>(w)) {
    for (QAction* a : bar->actions())
      if (!a->isSeparator() && a->isVisible() && !bar->actionGeometry(a).isEmpty())
        Add(out, bar, bar->actionGeometry(a).center(), QString("menu \"%1\"").arg(Plain(a->text())));
    return;
  }
  if (auto* tabs = qobject_cast<QTabBar*>(w)) {
    for (int i = 0; i < tabs->count(); ++i)
      Add(out, tabs, tabs->tabRect(i).center(), QString("tab \"%1\"").arg(Plain(tabs->tabText(i))));
    return;
  }
  if (auto* view = qobject_cast<QAbstractItemView*>(w)) {
    AddItems(out, view);
    return;
  }
  if (IsSheetPane(w)) {
    AddCells(out, w, rng);
    return;
  }
  if (auto* chart = qobject_cast<QAbstractScrollArea*>(w); chart && IsA(w, "TCustomFlowChart")) {
    QWidget* port = chart->viewport();
    for (int n = 0; n < 4; ++n) {
      const QPoint p(int(rng() % uint64_t(std::max(1, port->width()))), int(rng() % uint64_t(std::max(1, port->height()))));
      Add(out, port, p, QString("chart at %1,%2").arg(p.x()).arg(p.y()), true);
    }
    // Its steps, where it tells of them.
    for (const Seen& step : AccessibleChildren(w, 40)) {
      if (step.role != QAccessible::ListItem) continue;
      const QPoint p = port->mapFromGlobal(step.rect.center());
      if (!step.rect.isEmpty()) Add(out, port, p, QString("step \"%1\" of the chart").arg(Plain(step.name)), true, 2);
    }
    return;
  }
  if (qobject_cast<QAbstractButton*>(w) || IsA(w, "TFlatButtonBase")) {
    // The buttons that save draw a person who has typed something.
    const QString caption = qobject_cast<QAbstractButton*>(w) ? qobject_cast<QAbstractButton*>(w)->text()
                                                              : AccessibleText(w, QAccessible::Name);
    static const QRegularExpression saves(QString::fromUtf8("暂存|保存|发送|提交|存盘"));
    Add(out, w, w->rect().center(), Describe(w), false, caption.contains(saves) ? 12 : 4);
    return;
  }
  if (qobject_cast<QComboBox*>(w) || qobject_cast<QLineEdit*>(w) || qobject_cast<QAbstractSpinBox*>(w)) {
    Add(out, w, w->rect().center(), Describe(w));
    return;
  }
  if (auto* edit = qobject_cast<QTextEdit*>(w)) {
    Add(out, edit->viewport(), edit->viewport()->rect().center(), Describe(w));
    return;
  }
  if (auto* edit = qobject_cast<QPlainTextEdit*>(w)) {
    Add(out, edit->viewport(), edit->viewport()->rect().center(), Describe(w));
    return;
  }
  // Anything else that takes a click and has nothing inside it: the product's own
  // flat buttons and panels.
  if (w->focusPolicy() & Qt::ClickFocus && w->findChildren<QWidget*>(Qt::FindDirectChildrenOnly).isEmpty())
    Add(out, w, w->rect().center(), Describe(w));
}

void Collect(std::vector<Target>& out, QWidget* top, std::mt19937_64& rng) {
  AddWidget(out, top, rng);
  for (QWidget* w : top->findChildren<QWidget*>()) {
    if (!w->isVisible() || !w->isEnabled() || w->isWindow()) continue;
    AddWidget(out, w, rng);
  }
}

}  // namespace

std::vector<Seen> AccessibleChildren(QWidget* w, int max) {
  std::vector<Seen> out;
  QAccessibleInterface* iface = w ? QAccessible::queryAccessibleInterface(w) : nullptr;
  if (!iface || !iface->isValid()) return out;
  const int n = std::min(iface->childCount(), max);
  for (int i = 0; i < n; ++i) {
    QAccessibleInterface* c = iface->child(i);
    if (!c || !c->isValid()) continue;
    out.push_back({c->role(), c->text(QAccessible::Name), c->text(QAccessible::Value), c->text(QAccessible::Description),
                   c->rect(), c->state()});
  }
  return out;
}

QString AccessibleText(QWidget* w, QAccessible::Text t) {
  QAccessibleInterface* iface = w ? QAccessible::queryAccessibleInterface(w) : nullptr;
  return iface && iface->isValid() ? iface->text(t) : QString();
}

bool IsSheetPane(QWidget* w) {
  if (qobject_cast<QAbstractItemView*>(w)) return false;
  QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(w);
  return iface && iface->isValid() && iface->role() == QAccessible::Table;
}

bool IsA(const QWidget* w, const char* className) { return w && w->inherits(className); }

std::vector<QWidget*> VisibleWindows() {
  std::vector<QWidget*> out;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->isVisible() && w->windowHandle()) out.push_back(w);
  // Qt keeps them in no particular order; a replay must see them in the same one.
  auto key = [](const QWidget* w) {
    return std::make_tuple(QString(w->metaObject()->className()), w->windowTitle(), w->x(), w->y(), w->width());
  };
  std::stable_sort(out.begin(), out.end(), [&](QWidget* a, QWidget* b) { return key(a) < key(b); });
  return out;
}

QString Describe(const QWidget* w) {
  if (!w) return "gone";
  QString s = w->metaObject()->className();
  if (!w->objectName().isEmpty()) s += "#" + w->objectName();
  QString caption;
  if (auto* b = qobject_cast<const QAbstractButton*>(w)) caption = b->text();
  else if (IsA(w, "TFlatButtonBase")) caption = AccessibleText(const_cast<QWidget*>(w), QAccessible::Name);
  else if (w->isWindow()) caption = w->windowTitle();
  else if (!w->accessibleName().isEmpty()) caption = w->accessibleName();
  if (!caption.isEmpty()) s += " \"" + Plain(caption) + "\"";
  // A question is known by what it asks.
  if (auto* box = qobject_cast<const QMessageBox*>(w)) s += " asking \"" + Plain(box->text()).left(40) + "\"";
  return s;
}

std::vector<Target> VisibleTargets(bool onlyActive, std::mt19937_64& rng) {
  std::vector<Target> out;
  QWidget* modal = QApplication::activeModalWidget();
  for (QWidget* top : VisibleWindows()) {
    if (onlyActive && modal && top != modal && !qobject_cast<QMenu*>(top)) continue;
    Collect(out, top, rng);
  }
  return out;
}

namespace {
bool Xdotool(const QStringList& args) {
  // xdotool reads its text through the C library's locale: without a UTF-8 one it types no Chinese.
  QProcess p;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("LC_ALL", "C.UTF-8");
  p.setProcessEnvironment(env);
  p.start("xdotool", args);
  return p.waitForFinished(-1) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}
}  // namespace

namespace {
bool sharedScreen = false;
int turnFd = -1;

// Brings this host's windows up, its page first and whatever takes input last, and gives
// the keyboard to the one the input is for.
void BringUp(QWidget* target) {
  if (!sharedScreen) return;
  Display* d = XOpenDisplay(nullptr);
  if (!d) return;
  std::vector<QWidget*> order;
  for (QWidget* w : VisibleWindows())
    if (!w->isModal() && !w->windowFlags().testFlag(Qt::Popup)) order.push_back(w);
  for (QWidget* w : {QApplication::activeModalWidget(), QApplication::activePopupWidget(),
                     target ? target->window() : nullptr})
    if (w && w->isVisible()) order.push_back(w);
  for (QWidget* w : order) XRaiseWindow(d, static_cast<Window>(w->winId()));
  if (!order.empty())
    XSetInputFocus(d, static_cast<Window>(order.back()->winId()), RevertToParent, CurrentTime);
  XSync(d, False);
  XCloseDisplay(d);
}

QWidget* KeyTarget() {
  if (QWidget* w = QApplication::activePopupWidget()) return w;
  if (QWidget* w = QApplication::activeModalWidget()) return w;
  if (QWidget* w = QApplication::focusWidget()) return w;
  return QApplication::activeWindow();
}
}  // namespace

void ShareScreen(bool shared) { sharedScreen = shared; }

ScreenTurn::ScreenTurn() {
  if (!sharedScreen) return;
  // The hosts of one walk share its temporary folder.
  if (turnFd < 0) turnFd = ::open((QDir::tempPath() + "/walk-screen.lock").toLocal8Bit().constData(),
                                  O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (turnFd >= 0) held_ = ::flock(turnFd, LOCK_EX) == 0;
}

ScreenTurn::~ScreenTurn() {
  if (held_) ::flock(turnFd, LOCK_UN);
}

bool XClick(QPoint g, int button, int count) {
  BringUp(QApplication::widgetAt(g));
  return Xdotool({"mousemove", QString::number(g.x()), QString::number(g.y()), "click", "--repeat",
                  QString::number(count), "--delay", "60", QString::number(button)});
}

bool XKey(const char* keysym) {
  BringUp(KeyTarget());
  return Xdotool({"key", "--clearmodifiers", keysym});
}

namespace {
// xdotool puts a character the keyboard lacks on a spare key only while it types it. The host
// sits blocked in XType meanwhile, and when it reads the keys the map is back as it was, so
// every Chinese character was lost. The walk keeps its characters on spare keys instead.
void KeepOnKeys(const QString& text) {
  static std::vector<KeyCode> spare;
  static size_t next = 0;
  Display* d = nullptr;
  for (const char32_t c : text.toStdU32String()) {
    if (c < 0x80) continue;
    if (!d && !(d = XOpenDisplay(nullptr))) return;
    KeySym sym = c < 0x100 ? KeySym(c) : KeySym(0x1000000 | c);
    if (XKeysymToKeycode(d, sym) != 0) continue;
    if (spare.empty()) {
      int low = 0, high = 0, per = 0;
      XDisplayKeycodes(d, &low, &high);
      KeySym* map = XGetKeyboardMapping(d, KeyCode(low), high - low + 1, &per);
      for (int k = low; map && k <= high; ++k) {
        bool empty = true;
        for (int i = 0; i < per; ++i) empty = empty && map[(k - low) * per + i] == NoSymbol;
        if (empty) spare.push_back(KeyCode(k));
      }
      if (map) XFree(map);
      if (spare.empty()) break;
    }
    KeySym both[2] = {sym, sym};
    XChangeKeyboardMapping(d, spare[next++ % spare.size()], 2, both, 1);
    XSync(d, False);
  }
  if (d) XCloseDisplay(d);
}
}  // namespace

bool XType(const QString& text) {
  KeepOnKeys(text);
  BringUp(KeyTarget());
  return Xdotool({"type", "--delay", "15", "--", text});
}

bool XCloseWindow(QWidget* window) {
  if (!window || !window->windowHandle()) return false;
  Display* d = XOpenDisplay(nullptr);
  if (!d) return false;
  XEvent e{};
  e.xclient.type = ClientMessage;
  e.xclient.window = static_cast<Window>(window->winId());
  e.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
  e.xclient.format = 32;
  e.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False));
  e.xclient.data.l[1] = CurrentTime;
  const bool sent = XSendEvent(d, e.xclient.window, False, NoEventMask, &e) != 0;
  XCloseDisplay(d);
  return sent;
}

}  // namespace walk

namespace walk {

bool XClickHolding(QPoint g, const char* key) {
  BringUp(QApplication::widgetAt(g));
  return Xdotool({"mousemove", QString::number(g.x()), QString::number(g.y()), "keydown", key, "click", "1", "keyup", key});
}

}  // namespace walk
