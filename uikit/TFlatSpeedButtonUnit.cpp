#include "uikit/TFlatSpeedButtonUnit.h"

#include <QAction>
#include <QPainter>
#include <QPointer>

namespace {
TFlatHoverClass speedButtonClass;
constexpr int ActionImageSize = 16;
}  // namespace

TFlatSpeedButton::TFlatSpeedButton(QWidget* parent)
    : TFlatButtonBase(speedButtonClass, parent) {
  setFocusPolicy(Qt::NoFocus);
}

void TFlatSpeedButton::SetAction(QAction* a) {
  if (action_ == a) return;
  if (action_) action_->disconnect(this);
  action_ = a;
  if (!a) return;
  connect(a, &QAction::changed, this, &TFlatSpeedButton::ActionChanged);
  ActionChanged();
}

void TFlatSpeedButton::ActionChanged() {
  if (!action_) return;
  SetCaption(action_->text());
  setEnabled(action_->isEnabled());
  if (Glyph().isNull() && !action_->icon().isNull()) {
    QImage g(ActionImageSize, ActionImageSize, QImage::Format_RGB32);
    g.fill(QColor(0xFF, 0x00, 0xFF));
    QPainter p(&g);
    action_->icon().paint(&p, QRect(0, 0, ActionImageSize, ActionImageSize));
    p.end();
    SetGlyph(g);
  }
}

bool TFlatSpeedButton::Click() {
  if (!TFlatButtonBase::Click()) return false;
  if (!action_) return true;
  const QPointer<TFlatSpeedButton> alive(this);
  action_->trigger();
  return !alive.isNull();
}

void TFlatSpeedButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  PaintFace(p, false, false);
}
