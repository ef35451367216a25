#pragma once
// Drives modal windows in tests. WhenModal<T>(act) polls for the active modal window of
// type T and calls act on it, again and again while it stays up, so an accept() that did not
// close the window is retried. If the window is still up at the deadline, the test fails and
// every modal window is closed, so exec() returns and the test ends instead of hanging.
// The returned guard stops the polling when it goes out of scope.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

class ModalScript {
 public:
  ModalScript(std::function<bool()> step, std::chrono::milliseconds deadline, std::string what)
      : timer_(std::make_unique<QTimer>()) {
    clock_.start();
    QObject::connect(timer_.get(), &QTimer::timeout, [this, step = std::move(step), deadline, what] {
      if (done_) return;
      const bool acted = step();
      if (acted) acted_ = true;
      if (acted_ && !acted) return Finish();  // it was up and is gone now
      if (clock_.elapsed() < deadline.count()) return;
      ADD_FAILURE() << (acted_ ? "modal window did not close in time: " : "modal window never appeared: ") << what;
      CloseAllModal();
      Finish();
    });
    timer_->start(20);
  }
  // The poll captures this object, so it stays where it was made.
  ModalScript(const ModalScript&) = delete;
  ModalScript& operator=(const ModalScript&) = delete;

  bool Acted() const { return acted_; }

  // A dialog ends without its own close handling: a window that asks before it closes
  // (a save question) would otherwise open a new modal loop nobody answers.
  static void CloseAllModal() {
    for (int guard = 0; guard < 16; ++guard) {
      QWidget* w = QApplication::activeModalWidget();
      if (!w) return;
      if (auto* d = qobject_cast<QDialog*>(w)) {
        d->done(QDialog::Rejected);
      } else {
        w->close();
      }
      w->hide();
    }
  }

 private:
  void Finish() {
    done_ = true;
    timer_->stop();
  }

  std::unique_ptr<QTimer> timer_;
  QElapsedTimer clock_;
  bool acted_ = false;
  bool done_ = false;
};

// act runs on the modal window of type T each poll while it is the active modal window.
template <class T>
[[nodiscard]] ModalScript WhenModal(std::function<void(T*)> act,
                                    std::chrono::milliseconds deadline = std::chrono::seconds(10)) {
  auto step = [act = std::move(act)]() -> bool {
    QPointer<T> w = qobject_cast<T*>(QApplication::activeModalWidget());
    if (!w) return false;
    act(w.data());
    return true;
  };
  return ModalScript(std::move(step), deadline, T::staticMetaObject.className());
}

// Sends a request with start, runs act once on the modal T it brings up, and returns once
// no modal window is left: false when act never ran or a window stayed past closeMs.
template <class T>
bool ActOnceOnModal(const std::function<void()>& start, const std::function<void(T&)>& act,
                    std::chrono::milliseconds deadline, int closeMs) {
  bool acted = false;
  auto script = WhenModal<T>(
      [&](T* w) {
        if (acted) return;
        acted = true;
        act(*w);
      },
      deadline);
  start();
  QElapsedTimer clock;
  clock.start();
  while (!(acted && !QApplication::activeModalWidget()) && clock.elapsed() < closeMs)
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  return acted && !QApplication::activeModalWidget();
}

// Runs script once the dialog's modal loop is up and returns exec()'s result. A dialog still
// up at the deadline fails the test and is rejected, so the call always returns.
inline int ExecWithScript(QDialog& dialog, std::function<void()> script,
                          std::chrono::milliseconds deadline = std::chrono::seconds(10)) {
  QTimer::singleShot(0, &dialog, std::move(script));
  QTimer watchdog;
  watchdog.setSingleShot(true);
  QObject::connect(&watchdog, &QTimer::timeout, [] {
    ADD_FAILURE() << "modal window did not close in time";
    ModalScript::CloseAllModal();
  });
  watchdog.start(static_cast<int>(deadline.count()));
  return dialog.exec();
}
