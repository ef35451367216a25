#include "uikit/TFlatControl.h"

#include <QEvent>

#include "uikit/FlatUtilitys.h"

TFlatControl::TFlatControl(QWidget* parent) : QWidget(parent) {}

TColor TFlatControl::Color() const {
  if (parentColor_ && parentWidget()) return WidgetColor(parentWidget());
  return color_;
}

void TFlatControl::SetColor(TColor c) {
  const bool changed = c != color_ || parentColor_;
  color_ = c;
  parentColor_ = false;
  if (!changed) return;
  ApplyPalette();
  ParentColorChanged();
}

void TFlatControl::SetParentColor(bool v) {
  if (v == parentColor_) return;
  parentColor_ = v;
  ApplyPalette();
  ParentColorChanged();
}

void TFlatControl::ApplyPalette() {
  // Children (a button on a flat panel) read this control's colour as theirs.
  settingPalette_ = true;
  if (parentColor_) {
    setPalette(QPalette());
  } else {
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColorOf(color_));
    setPalette(pal);
  }
  settingPalette_ = false;
}

void TFlatControl::EndLoad() {
  loading_ = false;
  Loaded();
}

void TFlatControl::changeEvent(QEvent* e) {
  QWidget::changeEvent(e);
  if ((e->type() == QEvent::PaletteChange || e->type() == QEvent::ParentChange) &&
      !settingPalette_ && parentColor_)
    ParentColorChanged();
}
