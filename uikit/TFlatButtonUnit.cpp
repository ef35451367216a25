#include "uikit/TFlatButtonUnit.h"

#include <QKeyEvent>
#include <QPainter>
#include <QPixmap>

namespace {
TFlatHoverClass flatButtonClass;
}

TFlatButton::TFlatButton(QWidget* parent) : TFlatButtonBase(flatButtonClass, parent) {
  setFocusPolicy(Qt::ClickFocus);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void TFlatButton::SetDefault(bool v) {
  default_ = v;
  update();
}

void TFlatButton::DialogChar() {
  if (GroupIndex() != 0) SetDown(true);
  Click();
}

void TFlatButton::SetTabStop(bool v) { setFocusPolicy(v ? Qt::StrongFocus : Qt::ClickFocus); }

void TFlatButton::paintEvent(QPaintEvent*) {
  QPixmap face(size());
  {
    QPainter off(&face);
    PaintFace(off, true, default_);
  }
  QPainter p(this);
  p.drawPixmap(0, 0, face);
}

void TFlatButton::mousePressEvent(QMouseEvent* e) {
  TFlatButtonBase::mousePressEvent(e);
  if (dragging_) setFocus(Qt::MouseFocusReason);
}

void TFlatButton::keyPressEvent(QKeyEvent* e) {
  if (e->key() != Qt::Key_Space) return TFlatButtonBase::keyPressEvent(e);
  if (e->isAutoRepeat()) return;
  if (GroupIndex() != 0)
    SetDown(true);
  else
    state_ = bsDown;
  update();
}

void TFlatButton::keyReleaseEvent(QKeyEvent* e) {
  if (e->key() != Qt::Key_Space) return TFlatButtonBase::keyReleaseEvent(e);
  if (e->isAutoRepeat()) return;
  if (GroupIndex() != 0)
    SetDown(false);
  else
    state_ = bsUp;
  if (Click()) update();
}

void TFlatButton::focusInEvent(QFocusEvent* e) {
  TFlatButtonBase::focusInEvent(e);
  if (isEnabled()) {
    hover_ = true;
    update();
  }
}

void TFlatButton::focusOutEvent(QFocusEvent* e) {
  TFlatButtonBase::focusOutEvent(e);
  MouseLeave();
}

void TFlatButton::resizeEvent(QResizeEvent* e) {
  TFlatButtonBase::resizeEvent(e);
  if (TransparentMode() != tmNone) update();
}

void TFlatButton::moveEvent(QMoveEvent* e) {
  TFlatButtonBase::moveEvent(e);
  if (TransparentMode() != tmNone) update();
}
