#include "uikit/FlatButtonBase.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QCursor>
#include <QDialog>
#include <QKeySequence>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QTimer>
#include <typeinfo>

#include "platform/AccessibleChildren.h"

namespace {
TFlatButtonBase::TCursorProbe& Probe() {
  static TFlatButtonBase::TCursorProbe probe;
  return probe;
}

// The caption as read aloud: "&&" is a literal ampersand, a single "&" marks the
// accelerator and is dropped.
QString WithoutAccelerator(const QString& caption) {
  QString out;
  for (qsizetype i = 0; i < caption.size(); ++i) {
    if (caption[i] != '&') {
      out += caption[i];
    } else if (i + 1 < caption.size() && caption[i + 1] == '&') {
      out += '&';
      ++i;
    }
  }
  return out;
}

// What screen readers and UI automation see of a flat button: a push button named by
// its caption or, without one, by its hint, as Qt's own buttons are.
class TFlatButtonAccessible : public QAccessibleWidget {
 public:
  explicit TFlatButtonAccessible(TFlatButtonBase* b) : QAccessibleWidget(b, QAccessible::Button) {}
  QString text(QAccessible::Text t) const override {
    if (t != QAccessible::Name) return QAccessibleWidget::text(t);
    const auto* b = static_cast<const TFlatButtonBase*>(widget());
    if (!b->accessibleName().isEmpty()) return b->accessibleName();
    const QString caption = WithoutAccelerator(b->Caption());
    return caption.isEmpty() ? b->toolTip() : caption;
  }
};

QAccessibleInterface* FlatButtonAccessibleFactory(const QString&, QObject* object) {
  auto* b = qobject_cast<TFlatButtonBase*>(object);
  return b ? new TFlatButtonAccessible(b) : nullptr;
}

// Installed while buttons of this copy of the kit exist.
TAccessibleFactoryUse buttonFactory(FlatButtonAccessibleFactory);

void NotifyNameChanged(QWidget* w) {
  if (!QAccessible::isActive()) return;
  QAccessibleEvent e(w, QAccessible::NameChanged);
  QAccessible::updateAccessibility(&e);
}
}  // namespace

void TFlatButtonBase::SetCursorProbe(TCursorProbe probe) { Probe() = std::move(probe); }

QWidget* TFlatButtonBase::WidgetUnderCursor() {
  if (Probe()) return Probe()();
  return QApplication::widgetAt(QCursor::pos());
}

TFlatButtonBase::TFlatButtonBase(TFlatHoverClass& cls, QWidget* parent)
    : TFlatControl(parent), cls_(cls) {
  if (!cls_.Timer) {
    cls_.Timer = new QTimer();
    cls_.Timer->setInterval(100);
  }
  ++cls_.Instances;
  buttonFactory.Add();
  setMouseTracking(true);
  setGeometry(0, 0, 25, 25);
}

TFlatButtonBase::~TFlatButtonBase() {
  ReleaseTimer();
  if (--cls_.Instances == 0) {
    delete cls_.Timer;
    cls_.Timer = nullptr;
    cls_.Current = nullptr;
  }
  buttonFactory.Remove();
}

void TFlatButtonBase::SetCaption(const QString& c) {
  if (c == caption_) return;
  caption_ = c;
  if (shortcutId_) releaseShortcut(shortcutId_);
  shortcutId_ = 0;
  const QKeySequence key = QKeySequence::mnemonic(c);
  if (!key.isEmpty()) shortcutId_ = grabShortcut(key);
  NotifyNameChanged(this);
  update();
}

bool TFlatButtonBase::event(QEvent* e) {
  if (e->type() == QEvent::Shortcut) {
    if (isEnabled()) DialogChar();
    return true;
  }
  return TFlatControl::event(e);
}

void TFlatButtonBase::SetColorIndex(int i, TColor c) {
  colors_[i] = c;
  update();
}

void TFlatButtonBase::SetAdvIndex(int i, TAdvColors v) {
  adv_[i] = std::min<TAdvColors>(v, 100);
  CalcAdvColors();
  update();
}

void TFlatButtonBase::SetUseAdvColors(bool v) {
  if (v == useAdvColors_) return;
  useAdvColors_ = v;
  SetParentColor(v);
  CalcAdvColors();
  update();
}

void TFlatButtonBase::CalcAdvColors() {
  if (!useAdvColors_) return;
  const TColor base = Color();
  colors_[0] = ShiftColorLightness(base, colors_[0], adv_[0], lsLighter);
  colors_[1] = ShiftColorLightness(base, colors_[1], adv_[1], lsDarker);
  colors_[2] = ShiftColorLightness(base, colors_[2], adv_[2], lsDarker);
}

void TFlatButtonBase::ParentColorChanged() {
  if (useAdvColors_) {
    SetParentColor(true);
    CalcAdvColors();
  }
  update();
}

void TFlatButtonBase::SetTransparentMode(TTransparentMode m) {
  transparentMode_ = m;
  update();
}

void TFlatButtonBase::SetGlyph(const QImage& g) {
  glyph_ = g;
  if (!glyph_.isNull() && glyph_.height() > 0 && glyph_.width() % glyph_.height() == 0) {
    const int n = glyph_.width() / glyph_.height();
    numGlyphs_ = n > 4 ? 1 : n;
  }
  update();
}

void TFlatButtonBase::SetNumGlyphs(int n) {
  n = std::clamp(n, 1, 4);
  if (n == numGlyphs_) return;
  numGlyphs_ = n;
  update();
}

void TFlatButtonBase::SetLayout(TButtonLayout l) {
  if (l == layout_) return;
  layout_ = l;
  update();
}

void TFlatButtonBase::SetMargin(int m) {
  if (m == margin_ || m < -1) return;
  margin_ = m;
  update();
}

void TFlatButtonBase::SetSpacing(int s) {
  if (s == spacing_) return;
  spacing_ = s;
  update();
}

void TFlatButtonBase::SetGroupIndex(int g) {
  if (g == groupIndex_) return;
  groupIndex_ = g;
  AnnounceGroup();
}

void TFlatButtonBase::SetAllowAllUp(bool v) {
  if (v == allowAllUp_) return;
  allowAllUp_ = v;
  AnnounceGroup();
}

void TFlatButtonBase::SetDown(bool v) {
  if (groupIndex_ == 0) v = false;
  if (v == down_) return;
  if (down_ && !allowAllUp_) return;
  down_ = v;
  if (v) {
    state_ = bsExclusive;
    update();
    AnnounceGroup();
  } else {
    state_ = bsUp;
    update();
  }
}

void TFlatButtonBase::AnnounceGroup() {
  if (groupIndex_ == 0 || !parentWidget()) return;
  const auto siblings = parentWidget()->findChildren<TFlatButtonBase*>(Qt::FindDirectChildrenOnly);
  for (TFlatButtonBase* b : siblings)
    // Groups are per class: a speed button never answers a flat button.
    if (b != this && typeid(*b) == typeid(*this)) b->ButtonPressed(groupIndex_, this);
}

void TFlatButtonBase::ButtonPressed(int groupIndex, TFlatButtonBase* sender) {
  if (groupIndex != groupIndex_ || sender == this) return;
  if (sender->down_ && down_) {
    down_ = false;
    state_ = bsUp;
    update();
  }
  allowAllUp_ = sender->allowAllUp_;
}

bool TFlatButtonBase::Click() {
  if (parentWidget()) {
    QWidget* form = window();
    form->setProperty("ModalResult", modalResult_);
    // Only a running modal dialog ends; a modeless form ignores the result.
    auto* dlg = qobject_cast<QDialog*>(form);
    if (dlg && modalResult_ != 0 && dlg->isVisible() && dlg->isModal()) dlg->done(modalResult_);
  }
  const QPointer<TFlatButtonBase> alive(this);
  if (OnClick) OnClick(this);
  if (!alive) return false;
  emit clicked();
  return !alive.isNull();
}

void TFlatButtonBase::MouseEnter() {
  if (isEnabled() && !hover_) {
    hover_ = true;
    update();
  }
  // The events tell of the cursor coming and going, once per visit; hover
  // re-evaluations after a click or the poll's ticks are not visits.
  if (!inside_) {
    inside_ = true;
    if (OnMouseEnter) OnMouseEnter(this);
  }
}

void TFlatButtonBase::MouseLeave() {
  if (isEnabled() && hover_ && !dragging_) {
    hover_ = false;
    ReleaseTimer();
    update();
  }
  if (inside_ && !dragging_) {
    inside_ = false;
    if (OnMouseLeave) OnMouseLeave(this);
  }
}

void TFlatButtonBase::ReleaseTimer() {
  if (cls_.Current != this) return;
  if (cls_.Timer) cls_.Timer->stop();
  cls_.Current = nullptr;
}

void TFlatButtonBase::TakeOverHover() {
  if (cls_.Current == this) return;
  // The previous control loses its hover at once, not at the next tick.
  if (cls_.Current) cls_.Current->MouseLeave();
  if (!QApplication::activeWindow()) return;
  cls_.Timer->stop();
  cls_.Current = this;
  cls_.Timer->disconnect();
  QObject::connect(cls_.Timer, &QTimer::timeout, this, [this] { TimerTick(); });
  cls_.Timer->start();
  MouseEnter();
}

void TFlatButtonBase::TimerTick() {
  if (WidgetUnderCursor() != this) MouseLeave();
}

void TFlatButtonBase::ReevaluateHover() {
  if (!isEnabled()) return;
  const bool over = WidgetUnderCursor() == this;
  if (over)
    MouseEnter();
  else
    MouseLeave();
}

bool TFlatButtonBase::Inside(const QWidget* w, const QPoint& pt) {
  // The bottom edge row counts as inside, the right edge column does not.
  return pt.x() >= 0 && pt.x() < w->width() && pt.y() >= 0 && pt.y() <= w->height();
}

void TFlatButtonBase::mousePressEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton || !isEnabled()) return;
  if (!down_) {
    state_ = bsDown;
    update();
  }
  dragging_ = true;
}

void TFlatButtonBase::mouseMoveEvent(QMouseEvent* e) {
  TakeOverHover();
  if (!dragging_) return;
  TFlatButtonState ns = down_ ? bsExclusive : bsUp;
  if (Inside(this, e->position().toPoint())) ns = down_ ? bsExclusive : bsDown;
  if (ns != state_) {
    state_ = ns;
    update();
  }
}

void TFlatButtonBase::mouseReleaseEvent(QMouseEvent* e) {
  if (!dragging_) return;
  dragging_ = false;
  const bool inside = Inside(this, e->position().toPoint());
  if (groupIndex_ == 0) {
    state_ = bsUp;
    hover_ = false;
    if (inside) update();
  } else if (inside) {
    SetDown(!down_);
    if (down_) update();
  } else {
    if (down_) state_ = bsExclusive;
    update();
  }
  if (!inside)
    MouseLeave();
  else if (!Click())
    return;
  ReevaluateHover();
}

void TFlatButtonBase::mouseDoubleClickEvent(QMouseEvent* e) {
  // The second press of a double click presses like the first.
  mousePressEvent(e);
  if (down_ && OnDblClick) OnDblClick(this);
}

void TFlatButtonBase::enterEvent(QEnterEvent*) { TakeOverHover(); }

void TFlatButtonBase::leaveEvent(QEvent*) {
  if (cls_.Current == this || hover_) MouseLeave();
}

void TFlatButtonBase::changeEvent(QEvent* e) {
  TFlatControl::changeEvent(e);
  switch (e->type()) {
    case QEvent::EnabledChange:
      if (!isEnabled()) {
        hover_ = false;
        state_ = bsDisabled;
        ReleaseTimer();
      }
      ReevaluateHover();
      update();
      break;
    case QEvent::FontChange:
      update();
      break;
    case QEvent::ToolTipChange:
      if (caption_.isEmpty()) NotifyNameChanged(this);
      break;
    default:
      break;
  }
}

void TFlatButtonBase::PaintFace(QPainter& p, bool paintsParent, bool isDefault) {
  const QRect client = rect();
  QRgb transparent = 0;
  if (!glyph_.isNull()) transparent = glyph_.pixel(0, glyph_.height() - 1);
  p.setFont(font());
  const int offset = (state_ == bsDown || state_ == bsExclusive) ? 1 : 0;
  const TGlyphLayout gl = CalcGlyphLayout(font(), client, offset, caption_, layout_, margin_,
                                          spacing_, glyph_, numGlyphs_);
  glyphPos_ = gl.GlyphPos;
  textBounds_ = gl.TextBounds;

  if (!isEnabled()) {
    state_ = bsDisabled;
    dragging_ = false;
  } else if (state_ == bsDisabled) {
    state_ = (down_ && groupIndex_ != 0) ? bsExclusive : bsUp;
  }

  TColor face = Color();
  switch (state_) {
    case bsUp: face = hover_ ? ColorFocused() : Color(); break;
    case bsDisabled: face = Color(); break;
    case bsDown: face = ColorDown(); break;
    case bsExclusive: face = hover_ ? ColorFocused() : ColorDown(); break;
  }
  const bool fill = transparentMode_ == tmNone || (transparentMode_ == tmNotFocused && hover_);
  if (fill)
    FillRectC(p, client, face);
  else if (paintsParent)
    DrawParentBackground(this, p);

  switch (state_) {
    case bsUp:
      if (hover_)
        DrawFlatFrame(p, client, ColorHighLight(), ColorShadow(), 1);
      else if (isDefault)
        DrawFlatFrame(p, client, ColorBorder(), ColorBorder(), 2);
      else
        DrawFlatFrame(p, client, ColorBorder(), ColorBorder(), 1);
      break;
    case bsDisabled:
      DrawFlatFrame(p, client, ColorBorder(), ColorBorder(), 1);
      break;
    case bsDown:
    case bsExclusive:
      DrawFlatFrame(p, client, ColorShadow(), ColorHighLight(), 1);
      break;
  }

  if (!glyph_.isNull()) {
    const int w = glyph_.width() / numGlyphs_;
    // Which image of the strip each state shows, by number of images.
    static const int cells[4][4] = {
        {0, 0, 0, 0}, {1, 2, 1, 1}, {1, 2, 3, 3}, {1, 2, 3, 4}};
    const int cell = cells[numGlyphs_ - 1][state_];
    QImage work;
    if (cell == 0) {
      work = glyph_.copy(0, 0, w, glyph_.height());
    } else {
      const int left = (cell - 1) * w;
      const int right = cell == numGlyphs_ ? glyph_.width() : cell * w;
      work = glyph_.copy(left, 0, right - left, glyph_.height());
    }
    if (numGlyphs_ == 1 && state_ == bsDisabled) {
      work = CreateDisabledGlyph(work, clBlack, clBtnFace, clBtnHighlight, clBtnShadow, true);
      transparent = work.pixel(0, work.height() - 1);
    }
    DrawMasked(p, glyphPos_, work, transparent);
  }

  if (!caption_.isEmpty()) {
    const int flags = Qt::AlignCenter | Qt::TextSingleLine | Qt::TextShowMnemonic;
    if (state_ == bsDisabled) {
      p.setPen(QColorOf(clBtnHighlight));
      p.drawText(textBounds_.translated(1, 1), flags, caption_);
      p.setPen(QColorOf(clBtnShadow));
      p.drawText(textBounds_, flags, caption_);
    } else {
      p.setPen(palette().color(QPalette::WindowText));
      p.drawText(textBounds_, flags, caption_);
    }
  }
}
