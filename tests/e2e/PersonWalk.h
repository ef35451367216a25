#pragma once
// A person at the windows: clicks and keys go to the top-level window a widget stands in,
// at the widget's place, so Qt's modality decides as for a real hand whether they arrive;
// and a walk of steps in order, each waiting until its window is up and then acting in it.
//
// Every poll of a walk is a fresh single-shot timer. A click that opens a modal window does
// not return until that window closes; the steps that work inside it go on from the polls
// that window's own loop runs. A step not ready by its deadline fails the test and closes
// every modal window, so the walk always ends.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QWindow>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ModalDriver.h"
#include "grid/ui/XLGridView.h"

namespace person {

inline QWindow* WindowOf(QWidget* w) { return w->window()->windowHandle(); }

// A left click at `at` in w (its centre by default), through w's window.
inline void Click(QWidget* w, QPoint at = QPoint(-1, -1)) {
  if (at.x() < 0) at = w->rect().center();
  QTest::mouseClick(WindowOf(w), Qt::LeftButton, Qt::NoModifier, w->mapTo(w->window(), at));
}

// A key into the window w stands in (to its focused widget, as a keyboard does).
inline void Press(QWidget* w, Qt::Key key) { QTest::keyClick(WindowOf(w), key); }

// ASCII text typed key by key into w's window.
inline void Type(QWidget* w, const char* text) {
  for (const char* c = text; *c; ++c) QTest::keyClick(WindowOf(w), *c);
}

// A page's tab; it must be in sight to be clicked.
inline void ClickTab(QTabWidget* pages, int index) {
  QTabBar* bar = pages->tabBar();
  const QRect tab = bar->tabRect(index);
  EXPECT_TRUE(bar->rect().contains(tab)) << "tab " << index << " is out of sight";
  Click(bar, tab.center());
}

inline void ClickItem(QTreeWidget* tree, QTreeWidgetItem* item) {
  tree->scrollToItem(item);  // as the person scrolls and unfolds the tree to it
  Click(tree->viewport(), tree->visualItemRect(item).center());
}

inline void ClickCell(TXLGrid* grid, TPoint cell) {
  TXLView* pane = grid->View(sClient);
  Click(pane, pane->CellRect(cell).center());
}

// The active modal window when it is a T.
template <class T>
T* Modal() {
  return qobject_cast<T*>(QApplication::activeModalWidget());
}

class Walk {
 public:
  explicit Walk(std::chrono::milliseconds stepDeadline = std::chrono::seconds(30))
      : state_(std::make_shared<State>()) {
    state_->deadline = stepDeadline;
  }
  ~Walk() { state_->done = true; }
  Walk(const Walk&) = delete;
  Walk& operator=(const Walk&) = delete;

  // act runs once ready() holds.
  Walk& Then(std::string what, std::function<bool()> ready, std::function<void()> act) {
    state_->steps.push_back({std::move(what), std::move(ready), std::move(act)});
    return *this;
  }
  // act runs on the active modal T once it is up and ready(it) holds.
  template <class T>
  Walk& In(std::string what, std::function<void(T*)> act, std::function<bool(T*)> ready = {}) {
    return Then(
        std::move(what),
        [ready] {
          T* w = Modal<T>();
          return w && w->isVisible() && (!ready || ready(w));
        },
        [act] {
          if (T* w = Modal<T>()) act(w);
        });
  }

  void Start() {
    state_->clock.start();
    Poll(state_);
  }
  bool Done() const { return state_->done; }
  bool Finished() const { return state_->next == state_->steps.size(); }
  // The step the walk waits for (or failed at).
  std::string Waiting() const {
    return state_->next < state_->steps.size() ? state_->steps[state_->next].what : std::string("end");
  }

 private:
  struct Step {
    std::string what;
    std::function<bool()> ready;
    std::function<void()> act;
  };
  struct State {
    std::vector<Step> steps;
    size_t next = 0;
    bool done = false;
    std::chrono::milliseconds deadline{};
    QElapsedTimer clock;
  };

  static void Poll(const std::shared_ptr<State>& s) {
    if (s->done) return;
    if (s->next == s->steps.size()) {
      s->done = true;
      return;
    }
    // The next poll is on its way before this step acts: the act may run a modal loop.
    QTimer::singleShot(20, [s] { Poll(s); });
    Step& step = s->steps[s->next];
    if (!step.ready()) {
      if (s->clock.elapsed() < s->deadline.count()) return;
      ADD_FAILURE() << "the walk waited in vain for: " << step.what;
      s->done = true;
      ModalScript::CloseAllModal();
      return;
    }
    ++s->next;
    s->clock.restart();
    const auto act = step.act;  // the steps may not be touched once the act has begun
    act();
  }

  std::shared_ptr<State> state_;
};

}  // namespace person
