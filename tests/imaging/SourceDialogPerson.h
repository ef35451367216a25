#pragma once
// A person at the scanner's own dialog: once it is up, acts on it (through its window, as
// the act chooses). A dialog still up at the deadline fails the test and is rejected, so
// the scanner's loop ends instead of waiting for ever.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTimer>
#include <functional>

inline QDialog* VisibleScanSourceDialog() {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    auto* d = qobject_cast<QDialog*>(w);
    if (d && d->isVisible() && d->windowTitle() == QString::fromUtf8("扫描")) return d;
  }
  return nullptr;
}

inline QPushButton* DialogButton(QDialog* d, const QString& text) {
  for (QPushButton* b : d->findChildren<QPushButton*>())
    if (b->text() == text) return b;
  return nullptr;
}

class SourceDialogPerson {
 public:
  explicit SourceDialogPerson(std::function<void(QDialog*)> act, int deadlineMs = 15000) {
    clock_.start();
    QObject::connect(&timer_, &QTimer::timeout, [this, act = std::move(act), deadlineMs] {
      QDialog* d = VisibleScanSourceDialog();
      if (clock_.elapsed() > deadlineMs) {
        timer_.stop();
        ADD_FAILURE() << "the source dialog did not answer the person";
        if (d) d->reject();
        return;
      }
      if (d && !acted) {
        acted = true;
        act(d);
      }
    });
    timer_.start(50);
  }
  SourceDialogPerson(const SourceDialogPerson&) = delete;
  SourceDialogPerson& operator=(const SourceDialogPerson&) = delete;

  bool acted = false;

 private:
  QTimer timer_;
  QElapsedTimer clock_;
};
