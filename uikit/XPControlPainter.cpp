#include "uikit/XPControlPainter.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTextEdit>
#include <QToolBar>
#include <QToolButton>
#include <algorithm>

#include "uikit/FlatUtilitys.h"
#include "uikit/XPStyler.h"

TControlSubClass::TControlSubClass(QWidget* control, TXPStyler* owner)
    : QObject(owner), control_(control), owner_(owner) {
  control->installEventFilter(this);
  control->setAttribute(Qt::WA_Hover);
  // The widget going away takes its subclass with it.
  connect(control, &QObject::destroyed, this, [this] {
    owner_->Forget(this);
    deleteLater();
  });
  // A changed check state ends the hot look until the mouse enters again.
  auto coolDown = [this] {
    hot_ = false;
    if (control_) control_->update();
  };
  if (auto* cb = qobject_cast<QCheckBox*>(control))
    connect(cb, &QCheckBox::stateChanged, this, coolDown);
  else if (auto* b = qobject_cast<QAbstractButton*>(control))
    connect(b, &QAbstractButton::toggled, this, coolDown);
  const bool isEdit = qobject_cast<QLineEdit*>(control) || qobject_cast<QPlainTextEdit*>(control) ||
                      qobject_cast<QTextEdit*>(control);
  if (isEdit) {
    palette_ = control->palette();
    savedPalette_ = control->testAttribute(Qt::WA_SetPalette);
    if (owner_->ControlUseTrueXPStyle() && TagOf(control) != XPForceFlatTag && TagOf(control) >= 0) {
      QPalette pal = control->palette();
      pal.setColor(QPalette::Base, QColorOf(owner_->ControlColor(TXPStyler::BtnSurfaceNormalColor)));
      control->setPalette(pal);
    }
  }
}

TControlSubClass::~TControlSubClass() { Restore(); }

void TControlSubClass::Restore() {
  if (!control_) return;
  control_->removeEventFilter(this);
  const bool isEdit = qobject_cast<QLineEdit*>(control_) || qobject_cast<QPlainTextEdit*>(control_) ||
                      qobject_cast<QTextEdit*>(control_);
  if (isEdit) {
    // The edit gets its own colour back, not the surface colour of the XP look.
    if (savedPalette_)
      control_->setPalette(palette_);
    else
      control_->setPalette(QPalette());
  }
  disconnect(control_, nullptr, this, nullptr);
  control_->update();
  control_ = nullptr;
}

bool TControlSubClass::eventFilter(QObject* o, QEvent* e) {
  if (o != control_) return false;
  QWidget* w = control_;
  switch (e->type()) {
    case QEvent::Paint: {
      if (painting_ || TagOf(w) < 0) return false;
      painting_ = true;
      // Buttons and group boxes are drawn whole; the others over their own paint.
      const bool whole = qobject_cast<QPushButton*>(w) || qobject_cast<QToolButton*>(w) ||
                         qobject_cast<QGroupBox*>(w);
      if (!whole) QCoreApplication::sendEvent(w, e);
      PaintOver();
      painting_ = false;
      return true;
    }
    case QEvent::FocusIn: hot_ = true; w->update(); break;
    case QEvent::FocusOut: hot_ = false; w->update(); break;
    case QEvent::Enter:
    case QEvent::HoverEnter:
      if (w->isEnabled()) {
        hot_ = true;
        w->update();
      }
      break;
    case QEvent::Leave:
    case QEvent::HoverLeave:
      if (w->isEnabled()) {
        hot_ = false;
        w->update();
      }
      break;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
      if (static_cast<QMouseEvent*>(e)->button() == Qt::LeftButton) {
        pressed_ = true;
        w->update();
      }
      break;
    case QEvent::MouseButtonRelease:
      if (static_cast<QMouseEvent*>(e)->button() == Qt::LeftButton) {
        pressed_ = false;
        w->update();
      }
      break;
    case QEvent::KeyPress:
      if (static_cast<QKeyEvent*>(e)->key() == Qt::Key_Space) {
        spaceDown_ = true;
        // Auto-repeat repaints once only.
        if (!spaceRepeat_) w->update();
        spaceRepeat_ = true;
      }
      break;
    case QEvent::KeyRelease: {
      auto* k = static_cast<QKeyEvent*>(e);
      if (k->key() == Qt::Key_Space && !k->isAutoRepeat()) {
        spaceDown_ = spaceRepeat_ = false;
        w->update();
      }
      break;
    }
    case QEvent::EnabledChange:
      // A disabled control is never hot; it has to be entered again once enabled.
      if (!w->isEnabled()) hot_ = false;
      w->update();
      break;
    case QEvent::PaletteChange:
      w->update();
      break;
    default:
      break;
  }
  return false;
}

void TControlSubClass::PaintOver() {
  QWidget* w = control_;
  const TXPColors pal = owner_->DerivePalette();
  const bool trueXP = owner_->ControlUseTrueXPStyle() && TagOf(w) != XPForceFlatTag;
  QPainter p(w);
  p.setRenderHint(QPainter::Antialiasing, false);
  if (qobject_cast<QComboBox*>(w))
    PaintCombo(p, pal, trueXP);
  else if (qobject_cast<QLineEdit*>(w) || qobject_cast<QPlainTextEdit*>(w) || qobject_cast<QTextEdit*>(w))
    PaintEdit(p, pal, trueXP);
  else if (qobject_cast<QCheckBox*>(w))
    PaintCheck(p, pal, trueXP, false);
  else if (qobject_cast<QRadioButton*>(w))
    PaintCheck(p, pal, trueXP, true);
  else if (qobject_cast<QPushButton*>(w))
    PaintButton(p, pal, trueXP);
  else if (qobject_cast<QToolButton*>(w)) {
    if (qobject_cast<QToolBar*>(w->parentWidget()))
      PaintToolButton(p, pal);
    else
      PaintButton(p, pal, trueXP);
  } else if (qobject_cast<QGroupBox*>(w))
    PaintGroupBox(p);
  else
    PaintPanel(p);
}

namespace {
TColor ParentColorOf(const QWidget* w) { return WidgetColor(w->parentWidget()); }
TColor OwnColorOf(const QWidget* w) { return TColorOf(w->palette().color(QPalette::Base)); }
}  // namespace

void TControlSubClass::PaintCombo(QPainter& p, const TXPColors& pal, bool trueXP) {
  auto* combo = static_cast<QComboBox*>(control_.data());
  const bool enabled = combo->isEnabled();
  const bool dropped = combo->view() && combo->view()->isVisible();
  TColor f, b, a = enabled ? clBlack : 0xFFFFFF;
  if (hot_) {
    f = pal.SelectionBorder;
    b = pal.Selection;
  } else if (Focused()) {
    f = XPLighten(pal.SelectionBorder, 60);
    b = pal.CheckedArea;
  } else {
    f = OwnColorOf(combo);
    b = clBtnFace;
  }
  if (dropped) {
    f = pal.SelectionBorder;
    a = 0xFFFFFF;
    b = pal.CheckedAreaSelected;
  }
  const QRect r = combo->rect();
  const int W = r.width(), H = r.height();
  FrameRectC(p, r, ParentColorOf(combo));
  FillRectC(p, QRect(1, 1, W - 2, 1), ParentColorOf(combo));
  const QRect client = r.adjusted(1, 1, -1, -1);
  FrameRectC(p, client, OwnColorOf(combo));
  TColor frame = f;
  if (trueXP) frame = owner_->ControlColor(enabled ? TXPStyler::BtnOutLineBorderColor
                                                   : TXPStyler::ControlDisabledBorderColor);
  FrameRectC(p, client, frame);
  const bool rtl = combo->layoutDirection() == Qt::RightToLeft;
  int bw = 16;
  if (!trueXP && (hot_ || Focused())) bw += rtl ? 2 : 1;
  QRect button = rtl ? QRect(2, 2, bw, H - 4) : QRect(W - 2 - bw, 2, bw, H - 4);
  if (!trueXP) {
    FillRectC(p, button, b);
    const QRect strip = rtl ? QRect(RightOf(button) - 5, 2, 5, H - 4) : QRect(button.left(), 2, 5, H - 4);
    FillRectC(p, strip, OwnColorOf(combo));
    FillRectC(p, QRect(rtl ? strip.left() : RightOf(strip) - 1, 2, 1, H - 4), f);
    const QRect face = rtl ? button.adjusted(0, 0, -5, 0) : button.adjusted(5, 0, 0, 0);
    DrawArrow(p, face.center().x() - 6, face.center().y() - 1, dropped, a);
  } else {
    FillRectC(p, button, owner_->ControlColor(TXPStyler::BtnSurfaceNormalColor));
    TColor inner = pressed_ ? owner_->ControlColor(TXPStyler::BtnSurfaceDownColor)
                            : owner_->ControlColor(TXPStyler::BtnInnerBorderFocusColor);
    if (hot_) inner = owner_->ControlColor(TXPStyler::ComboboxSurfaceMoveColor);
    if (dropped) inner = 0xF7A28C;
    FillRectC(p, button.adjusted(1, 1, -1, -1), inner);
    // A v two pixels thick, 8 wide and 4 high.
    const QColor chk = QColorOf(owner_->ControlColor(TXPStyler::ComboBoxChkColor));
    const int x0 = button.center().x() - 3, y0 = button.center().y() - 2;
    for (int i = 0; i < 4; ++i) {
      p.fillRect(x0 + i, y0 + i, 2, 1, chk);
      p.fillRect(x0 + 6 - i, y0 + i, 2, 1, chk);
    }
  }
}

void TControlSubClass::PaintEdit(QPainter& p, const TXPColors& pal, bool trueXP) {
  QWidget* w = control_;
  bool single = true;
  if (auto* le = qobject_cast<QLineEdit*>(w)) single = le->hasFrame();
  if (auto* fr = qobject_cast<QFrame*>(w)) single = fr->frameShape() != QFrame::NoFrame;
  TColor frame;
  if (hot_ || Focused())
    frame = XPLighten(pal.SelectionBorder, single ? 60 : 80);
  else
    frame = single ? XPDarken(ParentColorOf(w), 60) : ParentColorOf(w);
  (void)trueXP;  // the surface colour was set when hooking
  const QRect r = w->rect();
  FrameRectC(p, r, frame);
  // The flat look: the native 3-D ring inside becomes the edit's own colour.
  FrameRectC(p, r.adjusted(1, 1, -1, -1), OwnColorOf(w));
}

void TControlSubClass::PaintCheck(QPainter& p, const TXPColors& pal, bool trueXP, bool radio) {
  auto* b = static_cast<QAbstractButton*>(control_.data());
  const int size = 16 + (trueXP ? (radio ? 2 : 1) : 0);
  const bool right = b->layoutDirection() == Qt::RightToLeft;
  const QRect box(right ? b->width() - size : 0, (b->height() - size) / 2, size, size);
  FillRectC(p, box.adjusted(0, 0, 1, 1), WidgetColor(b));
  TColor fill, frame;
  if (!trueXP) {
    if (hot_ || Focused()) {
      fill = pal.Selection;
      frame = pal.SelectionBorder;
    } else {
      fill = clWindow;
      frame = clBtnShadow;
    }
    if (pressed_ || spaceDown_) fill = pal.CheckedAreaSelected;
  } else {
    fill = owner_->ControlColor(pressed_ ? TXPStyler::BtnSurfaceDownColor : TXPStyler::BtnSurfaceNormalColor);
    frame = owner_->ControlColor(b->isEnabled() || pressed_ ? TXPStyler::BtnOutLineBorderColor
                                                            : TXPStyler::ControlDisabledBorderColor);
  }
  auto* cb = qobject_cast<QCheckBox*>(b);
  const bool greyed = cb && cb->checkState() == Qt::PartiallyChecked;
  if (greyed && !trueXP) fill = 0xC0C0C0;
  p.setPen(QColorOf(frame));
  p.setBrush(QColorOf(fill));
  const QRect outline = box.adjusted(0, 0, -1, -1);
  if (radio) {
    p.setRenderHint(QPainter::Antialiasing, true);
    p.drawEllipse(outline);
  } else {
    p.drawRect(outline);
  }
  if (trueXP && hot_) {
    p.setBrush(Qt::NoBrush);
    p.setPen(QColorOf(owner_->ControlColor(TXPStyler::BtnInnerBorderMoveColor)));
    if (radio)
      p.drawEllipse(outline.adjusted(1, 1, -1, -1));
    else
      p.drawRect(outline.adjusted(1, 1, -1, -1));
  }
  if (!b->isChecked() && !greyed) return;
  const QColor mark = QColorOf(trueXP ? owner_->ControlColor(TXPStyler::RdoChkControlChkColor) : clBlack);
  p.setPen(Qt::NoPen);
  p.setBrush(mark);
  if (radio) {
    p.drawEllipse(box.center(), 3, 3);
    return;
  }
  p.setRenderHint(QPainter::Antialiasing, false);
  const int x = box.left() + 4, y = box.top() + size / 2 - 1;
  for (int i = 0; i < 3; ++i) p.fillRect(x + i, y + i, 1, 3, mark);
  for (int i = 0; i < 5; ++i) p.fillRect(x + 3 + i, y + 1 - i, 1, 3, mark);
}

void TControlSubClass::PaintButton(QPainter& p, const TXPColors& pal, bool trueXP) {
  auto* b = static_cast<QAbstractButton*>(control_.data());
  const QRect r = b->rect();
  const bool down = pressed_ || b->isDown() || spaceDown_;
  FillRectC(p, r, ParentColorOf(b));
  const int arc = owner_->BtnRoundArc();
  const QRectF shape = QRectF(r).adjusted(0.5, 0.5, -0.5, -0.5);
  p.setRenderHint(QPainter::Antialiasing, true);
  if (!trueXP) {
    const TColor face = hot_ || spaceDown_ ? XPLighten(clBtnFace, 60) : pal.IconColumn;
    const TColor f = hot_ || spaceDown_ || Focused() ? XPLighten(pal.SelectionBorder, 60) : clBtnShadow;
    p.setPen(QColorOf(XPLighten(f, 30)));
    p.setBrush(QColorOf(face));
    p.drawRoundedRect(shape, arc, arc);
  } else {
    p.setBrush(QColorOf(owner_->ControlColor(down ? TXPStyler::BtnSurfaceDownColor
                                                  : TXPStyler::BtnSurfaceNormalColor)));
    p.setPen(QColorOf(owner_->ControlColor(b->isEnabled() ? TXPStyler::BtnOutLineBorderColor
                                                          : TXPStyler::ControlDisabledBorderColor)));
    p.drawRoundedRect(shape, arc, arc);
    p.setRenderHint(QPainter::Antialiasing, false);
    FillRectC(p, QRect(2, r.height() - 3, r.width() - 4, 1),
              owner_->ControlColor(down ? TXPStyler::BtnSurfaceDownBottomLineColor
                                        : TXPStyler::BtnSurfaceBottomLineColor));
    TColor ring = -1;
    if (hot_ && !down)
      ring = owner_->ControlColor(TXPStyler::BtnInnerBorderMoveColor);
    else if (Focused() && !down)
      ring = owner_->ControlColor(TXPStyler::BtnInnerBorderFocusColor);
    if (ring != -1) {
      FrameRectC(p, r.adjusted(1, 1, -1, -1).adjusted(1, 0, -1, 0), ring);
      FrameRectC(p, r.adjusted(2, 2, -2, -2), ring + 0x020202);
    }
  }
  p.setRenderHint(QPainter::Antialiasing, false);
  PaintGlyphAndCaption(p, pal, r);
}

void TControlSubClass::PaintGlyphAndCaption(QPainter& p, const TXPColors& pal, const QRect& r) {
  auto* b = static_cast<QAbstractButton*>(control_.data());
  const bool enabled = b->isEnabled();
  QRect textRect = r;
  if (!b->icon().isNull()) {
    const QSize is = b->iconSize();
    QImage img = b->icon().pixmap(is).toImage();
    const int total = img.width() + (b->text().isEmpty() ? 0 : 4 + b->fontMetrics().horizontalAdvance(b->text()));
    const QPoint at(r.left() + (r.width() - total) / 2, r.top() + (r.height() - img.height()) / 2);
    if (!enabled) {
      p.drawImage(at, XPLightenImage(XPGreyImage(img, owner_->GrayLevel()), 40));
    } else if (hot_) {
      const QColor shadow = QColorOf(XPDarken(pal.Selection, 50));
      for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
          if (XPOpaque(img, x, y)) p.fillRect(at.x() + x + 1, at.y() + y + 1, 1, 1, shadow);
      p.drawImage(at - QPoint(1, 1), img);
    } else {
      p.drawImage(at, XPLightenImage(img, owner_->DimLevel()));
    }
    textRect.setLeft(at.x() + img.width() + 4);
  }
  if (b->text().isEmpty()) return;
  p.setFont(b->font());
  p.setPen(enabled ? b->palette().color(QPalette::ButtonText) : QColorOf(pal.Disabled));
  const int align = (b->icon().isNull() ? Qt::AlignHCenter : Qt::AlignLeft) | Qt::AlignVCenter |
                    Qt::TextShowMnemonic | Qt::TextSingleLine;
  p.drawText(textRect, align, b->text());
}

void TControlSubClass::PaintToolButton(QPainter& p, const TXPColors& pal) {
  auto* b = static_cast<QToolButton*>(control_.data());
  QWidget* bar = b->parentWidget();
  const TColor barColor = WidgetColor(bar);
  const bool d16 = TXPStyler::ScreenDepth() >= 16;
  const TColor hotColor = d16 && !owner_->UseSystemColors() ? XPLighten(owner_->SelectColor(), 68)
                                                           : pal.Selection;
  const QRect r = b->rect();
  FillRectC(p, r, d16 ? XPLighten(barColor, 16) : barColor);
  const bool hot = hot_ && b->isEnabled();
  const bool checked = b->isChecked(), down = b->isDown() || pressed_;
  const QRect body = r.adjusted(0, 1, 0, 0);
  bool framed = false;
  if (hot && (checked || down)) {
    FillRectC(p, body, pal.CheckedAreaSelected);
    framed = true;
  } else if (hot) {
    FillRectC(p, body, hotColor);
    framed = true;
  } else if (checked) {
    FillRectC(p, body, pal.CheckedArea);
    framed = true;
  }
  const bool dropDown = b->popupMode() == QToolButton::MenuButtonPopup;
  // A drop-down button at rest shows the bar's own colour.
  if (dropDown && !framed) FillRectC(p, body, barColor);
  if (framed) {
    const QRect outline = RectLTRB(r.left(), r.top() + 1, RightOf(r) - 1, BottomOf(r) - 1);
    if (dropDown) {
      FrameRectC(p, outline.adjusted(0, 0, -13, 0), pal.SelectionBorder);
      FrameRectC(p, RectLTRB(RightOf(outline) - 14, outline.top(), RightOf(outline), BottomOf(outline)),
                 pal.SelectionBorder);
    } else {
      FrameRectC(p, outline, pal.SelectionBorder);
    }
  }
  QRect content = r;
  if (dropDown) {
    const int x = RightOf(r) - 10, y = r.center().y() - 1;
    const QColor c = QColorOf(owner_->FontColor());
    p.fillRect(x, y, 5, 1, c);
    p.fillRect(x + 1, y + 1, 3, 1, c);
    p.fillRect(x + 2, y + 2, 1, 1, c);
    content.setRight(RightOf(r) - 14);
  }
  PaintGlyphAndCaption(p, pal, content);
}

void TControlSubClass::PaintPanel(QPainter& p) {
  auto* f = qobject_cast<QFrame*>(control_.data());
  if (!f) return;
  const TColor colour = WidgetColor(f);
  const TColor dark = XPDarken(colour, 60), light = XPLighten(colour, 60);
  const int width = std::max(1, f->lineWidth());
  if (f->frameShadow() == QFrame::Plain) return;
  const bool lowered = f->frameShadow() == QFrame::Sunken;
  DrawFlatFrame(p, f->rect(), lowered ? dark : light, lowered ? light : dark, width);
}

void TControlSubClass::PaintGroupBox(QPainter& p) {
  auto* g = static_cast<QGroupBox*>(control_.data());
  const TColor colour = WidgetColor(g);
  const TColor dark = XPDarken(colour, 60), light = XPLighten(colour, 60);
  p.setFont(g->font());
  const QFontMetrics fm(g->font());
  const int top = fm.height() / 2;
  const QRect frame(0, top, g->width(), g->height() - top);
  const bool ctl3d = g->isFlat() == false;
  DrawFlatFrame(p, frame, ctl3d ? light : dark, dark, 1);
  if (g->title().isEmpty()) return;
  const int tw = fm.horizontalAdvance(g->title()) + 4;
  const bool rtl = g->layoutDirection() == Qt::RightToLeft;
  const int x = rtl ? g->width() - 9 - tw : 9;
  const QRect caption(x, 0, tw, fm.height());
  FillRectC(p, caption, ParentColorOf(g));
  p.setPen(g->isEnabled() ? g->palette().color(QPalette::WindowText) : QColorOf(clGrayText));
  p.drawText(caption, Qt::AlignCenter | Qt::TextShowMnemonic, g->title());
  // The top line again on both sides of the caption.
  FillRectC(p, RectLTRB(0, top, caption.left(), top + 1), ctl3d ? light : dark);
  FillRectC(p, RectLTRB(RightOf(caption), top, g->width() - 1, top + 1), ctl3d ? light : dark);
}

