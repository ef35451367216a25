#include "uikit/TFlatProgressBarUnit.h"

#include <QEvent>
#include <QPainter>
#include <algorithm>

int TProgressBlocks::SnapLength(int length, int elementSize) {
  const int n = (length - 3) / (elementSize + 1);
  const int snapped = n * (elementSize + 1) + 3;
  return length < 12 || snapped < 12 ? 12 : snapped;
}

int TProgressBlocks::Total(int clientLength, int elementSize) {
  return std::max(0, (clientLength - 3) / (elementSize + 1));
}

int TProgressBlocks::Filled(int position, int min, int max, int total) {
  // An empty or inverted range (a zero-length reply sets Max = Min) has no bar.
  if (max <= min || total <= 0) return 0;
  const double perBlock = (double(max) - min) / total;
  const double filled = (double(position) - min) / perBlock + 0.00000001;
  if (filled <= 0) return 0;
  return std::min(total, static_cast<int>(filled));
}

TFlatProgressBar::TFlatProgressBar(QWidget* parent) : TFlatControl(parent) {
  setFocusPolicy(Qt::NoFocus);
  resize(147, 16);
}

void TFlatProgressBar::SetMin(int v) {
  if (v == min_) return;
  min_ = v;
  update();
}

void TFlatProgressBar::SetMax(int v) {
  if (v == max_) return;
  if (position_ > v) position_ = v;
  max_ = v;
  update();
}

void TFlatProgressBar::SetPosition(int v) {
  if (v > max_) v = max_;
  if (v < min_) v = min_;
  if (v == position_) return;
  // A bar that grows is drawn at once, so progress shows while a long read holds the
  // event loop; a shrinking one waits for the next paint like any invalidated control.
  const bool grew = v > position_;
  position_ = v;
  if (grew && isVisible()) repaint();
  else update();
}

void TFlatProgressBar::SetStep(int v) {
  if (v == step_) return;
  step_ = v;
  update();
}

void TFlatProgressBar::SetSmooth(bool v) {
  if (v == smooth_) return;
  smooth_ = v;
  SnapSize();
  update();
}

void TFlatProgressBar::SetOrientation(TProgressBarOrientation v) {
  if (v == orientation_) return;
  orientation_ = v;
  if (!Loading()) setGeometry(x(), y(), height(), width());
  update();
}

void TFlatProgressBar::SetTransparent(bool v) {
  transparent_ = v;
  update();
}

void TFlatProgressBar::SetColorElement(TColor c) {
  colorElement_ = c;
  update();
}

void TFlatProgressBar::SetColorBorder(TColor c) {
  colorBorder_ = c;
  update();
}

void TFlatProgressBar::SetAdvColorBorder(TAdvColors v) {
  advColorBorder_ = std::min<TAdvColors>(v, 100);
  CalcAdvColors();
  update();
}

void TFlatProgressBar::SetUseAdvColors(bool v) {
  if (v == useAdvColors_) return;
  useAdvColors_ = v;
  SetParentColor(v);
  CalcAdvColors();
  update();
}

void TFlatProgressBar::CalcAdvColors() {
  if (useAdvColors_)
    colorBorder_ = ShiftColorLightness(Color(), colorBorder_, advColorBorder_, lsDarker);
}

void TFlatProgressBar::ParentColorChanged() {
  if (useAdvColors_) CalcAdvColors();
  update();
}

void TFlatProgressBar::changeEvent(QEvent* e) {
  TFlatControl::changeEvent(e);
  if (e->type() == QEvent::LayoutDirectionChange) update();
}

void TFlatProgressBar::resizeEvent(QResizeEvent*) { SnapSize(); }

void TFlatProgressBar::SnapSize() {
  // Block mode holds whole blocks only; done on resize rather than in paint.
  if (smooth_ || snapping_) return;
  const bool horizontal = orientation_ == pbHorizontal;
  const int length = horizontal ? width() : height();
  const int snapped = TProgressBlocks::SnapLength(length, elementSize_);
  if (snapped == length) return;
  snapping_ = true;
  if (horizontal)
    resize(snapped, height());
  else
    resize(width(), snapped);
  snapping_ = false;
}

void TFlatProgressBar::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QRect client = rect();
  if (!transparent_) FillRectC(p, client, Color());
  FrameRectC(p, client, colorBorder_);
  const int w = client.width(), h = client.height();
  const bool horizontal = orientation_ == pbHorizontal;
  if (max_ <= min_) return;
  if (!smooth_) {
    const int total = TProgressBlocks::Total(horizontal ? w : h, elementSize_);
    const int filled = TProgressBlocks::Filled(position_, min_, max_, total);
    const int step = elementSize_ + 1;
    const bool rtl = layoutDirection() == Qt::RightToLeft;
    for (int i = 0; i < filled; ++i) {
      QRect block;
      if (horizontal) {
        const int left = rtl ? w - 2 - elementSize_ - i * step : 2 + i * step;
        block = QRect(left, 2, elementSize_, h - 4);
      } else {
        block = QRect(2, h - 2 - elementSize_ - i * step, w - 4, elementSize_);
      }
      FillRectC(p, block, colorElement_);
    }
    return;
  }
  if (position_ <= min_) return;
  // 64-bit: a multi-megabyte reply times the bar width overflows 32 bits.
  const long long range = (long long)max_ - min_;
  const long long done = (long long)position_ - min_;
  if (horizontal) {
    const int right = 2 + static_cast<int>((long long)(w - 4) * done / range);
    FillRectC(p, RectLTRB(2, 2, right, h - 2), colorElement_);
  } else {
    const int top = h - 2 - static_cast<int>((long long)(h - 4) * done / range);
    FillRectC(p, RectLTRB(2, top, w - 2, h - 2), colorElement_);
  }
}
