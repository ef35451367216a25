#pragma once
// Flat push button: focusable, answers the space bar, can be a form's default
// button, paints its face off-screen and copies it in one step.
#include "uikit/FlatButtonBase.h"

class TFlatButton : public TFlatButtonBase {
  Q_OBJECT
 public:
  explicit TFlatButton(QWidget* parent = nullptr);

  // Drawn with a double border only; Enter does not press it.
  bool Default() const { return default_; }
  void SetDefault(bool v);
  bool TabStop() const { return focusPolicy() & Qt::TabFocus; }
  void SetTabStop(bool v);

 protected:
  void DialogChar() override;
  void paintEvent(QPaintEvent*) override;
  void mousePressEvent(QMouseEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void keyReleaseEvent(QKeyEvent* e) override;
  void focusInEvent(QFocusEvent* e) override;
  void focusOutEvent(QFocusEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  void moveEvent(QMoveEvent* e) override;

 private:
  bool default_ = false;
};
