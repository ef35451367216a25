// The wait box shown while a request is on the wire.
#pragma once

#include <QPointer>
#include <QWidget>

#include "core/AnsiString.h"

class QLabel;

class TfrmWaitFor : public QWidget {
  Q_OBJECT
 public:
  explicit TfrmWaitFor(QWidget* owner = nullptr);

  // When set at show time it replaces the label's caption; closing clears it.
  void SetWaitText(const AnsiString& text) { waitText_ = text; }
  const AnsiString& WaitText() const { return waitText_; }
  QLabel* lbl1() const { return lbl1_; }

  // Shows the box (modeless) centred over the given window.
  void ShowCentredOn(QWidget* mainForm);

 protected:
  bool eventFilter(QObject* watched, QEvent* e) override;
  void showEvent(QShowEvent* e) override;
  void hideEvent(QHideEvent* e) override;
  void closeEvent(QCloseEvent* e) override;

 private:
  void Centre();
  QLabel* lbl1_;
  QPointer<QWidget> anchor_;
  AnsiString waitText_;
};
