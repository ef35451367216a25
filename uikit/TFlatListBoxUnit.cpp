#include "uikit/TFlatListBoxUnit.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QTimer>
#include <algorithm>

namespace {
struct TRepeatShared {
  QTimer* Timer = nullptr;
  TFlatListBox* Target = nullptr;
  int Instances = 0;
};
TRepeatShared repeat;

constexpr int ArrowStrip = 11;

// Blanks and control characters go from both ends.
QString TrimControls(const QString& s) {
  int b = 0, e = s.size();
  while (b < e && s[b].unicode() <= 0x20) ++b;
  while (e > b && s[e - 1].unicode() <= 0x20) --e;
  return s.mid(b, e - b);
}
}  // namespace

QTimer* TFlatListBox::RepeatTimer() { return repeat.Timer; }

TFlatListBox::TFlatListBox(QWidget* parent) : TFlatControl(parent) {
  if (!repeat.Timer) {
    repeat.Timer = new QTimer();
    repeat.Timer->setInterval(600);
  }
  ++repeat.Instances;
  setFocusPolicy(Qt::StrongFocus);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setGeometry(x(), y(), 137, 99);
  UpdateRows();
}

TFlatListBox::~TFlatListBox() {
  // The shared timer must never tick into a list box that is gone.
  StopRepeat();
  if (--repeat.Instances == 0) {
    delete repeat.Timer;
    repeat.Timer = nullptr;
    repeat.Target = nullptr;
  }
}

void TFlatListBox::SetItems(const QStringList& list) {
  if (list.size() > MaxItems) return;
  QStringList copy;
  copy.reserve(list.size());
  for (const QString& s : list) copy << TrimControls(s);
  if (sorted_) copy.sort();
  items_ = copy;
  ItemsChanged();
}

void TFlatListBox::AddItem(const QString& s) {
  if (sorted_)
    items_.insert(std::lower_bound(items_.begin(), items_.end(), s) - items_.begin(), s);
  else
    items_ << s;
  ItemsChanged();
}

void TFlatListBox::ClearItems() {
  items_.clear();
  ItemsChanged();
}

void TFlatListBox::ItemsChanged() {
  if (isEnabled()) {
    // A refilled list shows nothing selected, so no stale index may remain either.
    selection_.reset();
    itemIndex_ = -1;
  }
  if (topIndex_ > 0 && topIndex_ >= items_.size())
    topIndex_ = std::max(0, int(items_.size()) - visibleCount_);
  update();
}

bool TFlatListBox::Selected(int index) const {
  return index >= 0 && index < MaxItems && selection_.test(index);
}

void TFlatListBox::SetSorted(bool v) {
  if (v == sorted_) return;
  sorted_ = v;
  if (v) items_.sort();
  selection_.reset();
  itemIndex_ = -1;
  update();
}

void TFlatListBox::SetItemHeight(int h) {
  itemHeight_ = std::max(1, h);
  if (!Loading()) {
    sizing_ = true;
    resize(width(), (itemHeight_ + 2) * visibleCount_ + StripHeight());
    sizing_ = false;
  }
  UpdateRows();
}

void TFlatListBox::SetMultiSelect(bool v) {
  multiSelect_ = v;
  if (v) itemIndex_ = 0;
}

void TFlatListBox::SetScrollBars(bool v) {
  if (v == scrollBars_) return;
  scrollBars_ = v;
  if (!Loading()) {
    sizing_ = true;
    resize(width(), height() + (v ? 20 : -20));
    sizing_ = false;
  }
  UpdateRows();
}

void TFlatListBox::SetTransparentMode(TTransparentMode m) {
  transparentMode_ = m;
  update();
}

void TFlatListBox::SetColorIndex(int i, TColor c) {
  colors_[i] = c;
  update();
}

void TFlatListBox::SetAdvColorBorder(TAdvColors v) {
  advColorBorder_ = std::min<TAdvColors>(v, 100);
  CalcAdvColors();
  update();
}

void TFlatListBox::SetUseAdvColors(bool v) {
  if (v == useAdvColors_) return;
  useAdvColors_ = v;
  SetParentColor(v);
  CalcAdvColors();
  update();
}

void TFlatListBox::CalcAdvColors() {
  if (useAdvColors_)
    colors_[1] = ShiftColorLightness(Color(), colors_[1], advColorBorder_, lsDarker);
}

void TFlatListBox::ParentColorChanged() {
  if (useAdvColors_) {
    SetParentColor(true);
    CalcAdvColors();
  }
  update();
}

void TFlatListBox::Loaded() { UpdateRows(); }

void TFlatListBox::UpdateRows() {
  visibleCount_ = std::max(0, (height() - StripHeight()) / (itemHeight_ + 2));
  rows_.clear();
  int y = scrollBars_ ? ArrowStrip + 2 : 3;
  for (int r = 0; r < visibleCount_; ++r) {
    rows_.push_back(RectLTRB(3, y, width() - 3, y + itemHeight_));
    y += itemHeight_ + 2;
  }
  update();
}

void TFlatListBox::resizeEvent(QResizeEvent*) {
  if (!sizing_) {
    // Always whole rows: the height snaps to the rows that fit.
    const int vc = std::max(0, (height() - StripHeight()) / (itemHeight_ + 2));
    const int h = (itemHeight_ + 2) * vc + StripHeight();
    if (h != height()) {
      sizing_ = true;
      resize(width(), h);
      sizing_ = false;
    }
  }
  UpdateRows();
}

bool TFlatListBox::CanScrollDown(int lines) const {
  return items_.size() >= topIndex_ + visibleCount_ + lines;
}

void TFlatListBox::paintEvent(QPaintEvent*) {
  QPixmap face(size());
  face.fill(QColorOf(colors_[2]));
  {
    QPainter p(&face);
    p.setFont(font());
    const QRect client = rect();
    const bool paintParent =
        transparentMode_ == tmAlways || (transparentMode_ == tmNotFocused && !hasFocus());
    if (paintParent)
      DrawParentBackground(this, p);
    else
      FillRectC(p, client, colors_[2]);
    FrameRectC(p, client, colors_[1]);

    if (scrollBars_) {
      const QRect top = RectLTRB(0, 0, width(), ArrowStrip);
      const QRect bottom = RectLTRB(0, height() - ArrowStrip, width(), height());
      for (const QRect& strip : {top, bottom}) {
        FillRectC(p, strip, Color());
        FrameRectC(p, strip, colors_[1]);
      }
      const int x = width() / 2 - 6;
      const bool canUp = topIndex_ != 0, canDown = CanScrollDown();
      if (canUp && isEnabled())
        DrawArrow(p, x, 4, true, colors_[0]);
      else
        DrawEmbossedArrow(p, x, 4, true);
      if (canDown && isEnabled())
        DrawArrow(p, x, height() - 7, false, colors_[0]);
      else
        DrawEmbossedArrow(p, x, height() - 7, false);
    }

    int flags = Qt::TextSingleLine | Qt::AlignVCenter;
    flags |= layoutDirection() == Qt::RightToLeft ? Qt::AlignRight : Qt::AlignLeft;
    for (int r = 0; r < int(rows_.size()); ++r) {
      const int item = topIndex_ + r;
      if (item >= items_.size()) break;
      const QRect row = rows_[r];
      if (Selected(item)) {
        FillRectC(p, row, colors_[3]);
        FrameRectC(p, row, colors_[1]);
      }
      const QRect textRect = row.adjusted(3, 0, -3, 0);
      if (isEnabled()) {
        p.setPen(palette().color(QPalette::WindowText));
      } else {
        p.setPen(QColorOf(clBtnHighlight));
        p.drawText(textRect.translated(1, 1), flags, items_[item]);
        p.setPen(QColorOf(clBtnShadow));
      }
      p.drawText(textRect, flags, items_[item]);
    }
  }
  QPainter(this).drawPixmap(0, 0, face);
}

void TFlatListBox::mousePressEvent(QMouseEvent* e) {
  const QPoint pt = e->position().toPoint();
  pressedInside_ = false;
  if (!items_.isEmpty() && e->button() == Qt::LeftButton) {
    for (int r = 0; r < int(rows_.size()); ++r) {
      if (!rows_[r].contains(pt)) continue;
      const int item = topIndex_ + r;
      // Items from 256 on can never be selected, but still set ItemIndex.
      if (multiSelect_) {
        if (item < MaxItems) selection_.flip(item);
      } else {
        selection_.reset();
        if (item < MaxItems) selection_.set(item);
      }
      itemIndex_ = item;
      pressedInside_ = true;
      setFocus(Qt::MouseFocusReason);
      update();
      return;
    }
  }
  if (scrollBars_) {
    if (pt.y() >= 0 && pt.y() < ArrowStrip) {
      topIndex_ = std::max(0, topIndex_ - 1);
      setFocus(Qt::MouseFocusReason);
      update();
      StartRepeat(false);
    } else if (pt.y() >= height() - ArrowStrip && pt.y() < height()) {
      if (CanScrollDown()) ++topIndex_;
      setFocus(Qt::MouseFocusReason);
      update();
      StartRepeat(true);
    }
  }
  TFlatControl::mousePressEvent(e);
}

void TFlatListBox::mouseReleaseEvent(QMouseEvent* e) {
  StopRepeat();
  TFlatControl::mouseReleaseEvent(e);
  const bool click = pressedInside_ && rect().contains(e->position().toPoint());
  pressedInside_ = false;
  if (!click) return;
  e->accept();
  // A handler may delete the list box.
  const QPointer<TFlatListBox> alive(this);
  if (OnClick) OnClick(this);
  if (alive) emit clicked();
}

void TFlatListBox::StartRepeat(bool down) {
  scrollDown_ = down;
  repeat.Timer->stop();
  repeat.Timer->disconnect();
  repeat.Target = this;
  repeat.Timer->setInterval(600);
  QObject::connect(repeat.Timer, &QTimer::timeout, this, &TFlatListBox::RepeatTick);
  repeat.Timer->start();
}

void TFlatListBox::StopRepeat() {
  if (repeat.Target != this) return;
  repeat.Timer->stop();
  repeat.Timer->setInterval(600);
  repeat.Timer->disconnect();
  repeat.Target = nullptr;
}

void TFlatListBox::RepeatTick() {
  if (repeat.Target == this) repeat.Timer->setInterval(100);
  if (scrollDown_) {
    if (CanScrollDown())
      ++topIndex_;
    else
      StopRepeat();
  } else {
    if (topIndex_ > 0) --topIndex_;
    if (topIndex_ == 0) StopRepeat();
  }
  update();
}

void TFlatListBox::WheelStep(bool towardsUser) {
  int lines = QApplication::wheelScrollLines();
  if (lines == 0) lines = visibleCount_;
  if (towardsUser) {
    if (CanScrollDown(lines))
      topIndex_ += lines;
    else
      topIndex_ = std::max(0, int(items_.size()) - visibleCount_);
  } else {
    topIndex_ = std::max(0, topIndex_ - lines);
  }
}

void TFlatListBox::wheelEvent(QWheelEvent* e) {
  // Fine-grained wheels and touch pads send small deltas: a step per 120 units.
  wheelRemainder_ += e->angleDelta().y();
  while (wheelRemainder_ >= 120) {
    WheelStep(false);
    wheelRemainder_ -= 120;
  }
  while (wheelRemainder_ <= -120) {
    WheelStep(true);
    wheelRemainder_ += 120;
  }
  e->accept();
  update();
}

void TFlatListBox::keyPressEvent(QKeyEvent* e) {
  switch (e->key()) {
    case Qt::Key_PageUp:
      topIndex_ = std::max(0, topIndex_ - visibleCount_);
      break;
    case Qt::Key_PageDown:
      if (items_.size() < 2 * visibleCount_ + topIndex_)
        topIndex_ = std::max(0, int(items_.size()) - visibleCount_);
      else
        topIndex_ += visibleCount_;
      break;
    case Qt::Key_Up:
      topIndex_ = std::max(0, topIndex_ - 1);
      break;
    case Qt::Key_Down:
      if (CanScrollDown()) ++topIndex_;
      break;
    default:
      TFlatControl::keyPressEvent(e);
      break;
  }
  update();
}

void TFlatListBox::changeEvent(QEvent* e) {
  TFlatControl::changeEvent(e);
  if (e->type() == QEvent::EnabledChange || e->type() == QEvent::LayoutDirectionChange ||
      e->type() == QEvent::FontChange)
    update();
}

void TFlatListBox::focusInEvent(QFocusEvent* e) {
  TFlatControl::focusInEvent(e);
  if (transparentMode_ != tmNone) update();
}

void TFlatListBox::focusOutEvent(QFocusEvent* e) {
  TFlatControl::focusOutEvent(e);
  if (transparentMode_ != tmNone) update();
}

void TFlatListBox::moveEvent(QMoveEvent* e) {
  TFlatControl::moveEvent(e);
  if (transparentMode_ != tmNone) update();
}
