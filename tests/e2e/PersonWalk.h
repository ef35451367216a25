#pragma once
// A person at the windows: clicks and keys through the windows (as WindowInput.h sends
// them), and a walk of steps in order, each waiting until its window is up and then
// acting in it.
//
// Every poll of a walk is a fresh single-shot timer. A click that opens a modal window does
// not return until that window closes; the steps that work inside it go on from the polls
// that window's own loop runs. The input an act sends runs the event loop too; a poll that
// comes then, while no window is on top that came up after the act began, waits for the act
// to end: a person finishes one step (and sees its window closed) before the next. A step not ready by its deadline
// fails the test and closes every modal window, so the walk always ends.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ModalDriver.h"
#include "E2eSupport.h"

class QTabWidget;
class QTreeWidget;
class QTreeWidgetItem;
class QWidget;
class TfrmTemplate;

namespace person {

// A left click at w's centre, through its window.
void Click(QWidget* w);
// A page's tab; it must be in sight to be clicked.
void ClickTab(QTabWidget* pages, int index);
// A tree item, scrolled to and unfolded first as the person would.
void ClickItem(QTreeWidget* tree, QTreeWidgetItem* item);
// Types ASCII text into a document field's cell: a click on the cell, the keys, Enter.
void TypeInto(TfrmTemplate* f, const char* field, const char* text);

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
    std::vector<QPointer<QWidget>> acting;  // the window on top when each running act began
    size_t next = 0;
    bool done = false;
    std::chrono::milliseconds deadline{};
    QElapsedTimer clock;
  };

  static QWidget* Top() {
    QWidget* popup = QApplication::activePopupWidget();
    return popup ? popup : QApplication::activeModalWidget();
  }

  static void Poll(const std::shared_ptr<State>& s) {
    if (s->done) return;
    if (s->next == s->steps.size()) {
      s->done = true;
      return;
    }
    // The next poll is on its way before this step acts: the act may run a modal loop.
    QTimer::singleShot(20, [s] { Poll(s); });
    if (!s->acting.empty() && std::find(s->acting.begin(), s->acting.end(), Top()) != s->acting.end())
      return;  // still inside a running act's own input
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
    s->acting.push_back(Top());
    act();
    s->acting.pop_back();
  }

  std::shared_ptr<State> state_;
};

// Runs the walk to its end (the windows' own loops run it) and waits for the last window
// to go; false, with a failure said, when it did not get there.
inline bool RunWalk(Walk& walk, int timeoutMs) {
  walk.Start();
  const bool ended = PumpUntil([&] { return walk.Done(); }, timeoutMs);
  EXPECT_TRUE(ended) << "stuck at: " << walk.Waiting();
  EXPECT_TRUE(walk.Finished()) << "stopped at: " << walk.Waiting();
  EXPECT_TRUE(PumpUntil([] { return !QApplication::activeModalWidget(); }, 10000));
  return ended && walk.Finished();
}

// Closes what a failed walk left up, answering what the closing asks, for up to 10 s.
inline void CloseLeftWindows() {
  ModalScript closer(
      [] {
        if (!QApplication::activeModalWidget()) return false;
        ModalScript::CloseAllModal();
        return true;
      },
      std::chrono::seconds(10), "windows left by the walk");
  PumpUntil([] { return !QApplication::activeModalWidget(); }, 10000);
}

}  // namespace person
