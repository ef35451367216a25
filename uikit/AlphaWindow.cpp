#include "uikit/AlphaWindow.h"

#include <QBitmap>
#include <QImage>
#include <QWidget>

#include "uikit/FlatUtilitys.h"

namespace {
bool layeredAvailable = true;
}

bool TAlphaWindow::LayeredWindowsAvailable() { return layeredAvailable; }
void TAlphaWindow::SetLayeredWindowsAvailable(bool v) { layeredAvailable = v; }

TAlphaWindow::TAlphaWindow(QObject* owner) : QObject(owner) {
  if (owner && owner->isWidgetType()) alphaWin_ = static_cast<QWidget*>(owner);
}

TAlphaWindow::~TAlphaWindow() {
  // Leave the window as it was found.
  if (enabled_) Restore();
}

void TAlphaWindow::SetEnabled(bool v) {
  if (!layeredAvailable || !alphaWin_) {
    enabled_ = false;
    return;
  }
  if (v == enabled_) return;
  enabled_ = v;
  if (v) {
    savedOpacity_ = alphaWin_->windowOpacity();
    hadMask_ = !alphaWin_->mask().isEmpty();
    Apply();
  } else {
    Restore();
    alphaWin_->update();
  }
}

void TAlphaWindow::Restore() {
  if (!alphaWin_) return;
  alphaWin_->setWindowOpacity(savedOpacity_);
  if (!hadMask_) alphaWin_->clearMask();
}

void TAlphaWindow::Apply() {
  if (!enabled_ || !alphaWin_) return;
  alphaWin_->setWindowOpacity((flag_ & AlphaFlag(awAlpha)) ? alpha_ / 255.0 : 1.0);
  if (!(flag_ & AlphaFlag(awColorRef))) {
    if (!hadMask_) alphaWin_->clearMask();
    return;
  }
  // The key colour becomes fully transparent: the window keeps only the other pixels.
  const QImage face = alphaWin_->grab().toImage().convertToFormat(QImage::Format_RGB32);
  const QRgb key = QColorOf(keyColor_).rgb();
  const QImage mask = face.createMaskFromColor(key, Qt::MaskInColor);
  alphaWin_->setMask(QBitmap::fromImage(mask));
}

void TAlphaWindow::SetAlpha(uint8_t v) {
  if (v == alpha_) return;
  alpha_ = v;
  Apply();
}

void TAlphaWindow::SetKeyColor(TColor c) {
  if (c == keyColor_) return;
  keyColor_ = c;
  Apply();
}

void TAlphaWindow::SetFlag(TAlphaWindowFlag f) {
  if (f == flag_) return;
  flag_ = f;
  Apply();
}

void TAlphaWindow::SetAlphaWin(QWidget* w) {
  if (w == alphaWin_) return;
  const bool wasEnabled = enabled_;
  SetEnabled(false);
  alphaWin_ = w;
  SetEnabled(wasEnabled);
  Apply();
}
