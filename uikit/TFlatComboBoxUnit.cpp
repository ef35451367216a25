#include "uikit/TFlatComboBoxUnit.h"

#include <QAbstractItemView>
#include <QEvent>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>

TFlatComboBox::TFlatComboBox(QWidget* parent) : QComboBox(parent) {
  setFocusPolicy(Qt::StrongFocus);
  setMaxVisibleItems(8);
  setInsertPolicy(QComboBox::NoInsert);
  SetStyle(csDropDown);
  resize(145, 21);
  ApplyColors();
}

void TFlatComboBox::SetStyle(TComboBoxStyle s) {
  style_ = s;
  const bool editable = s == csDropDown || s == csSimple;
  if (editable != isEditable()) setEditable(editable);
  if (editable) {
    lineEdit()->setFrame(false);
    lineEdit()->setMaxLength(maxLength_ > 0 ? maxLength_ : 32767);
  }
  ApplyColors();
  PlaceEdit();
  update();
}

void TFlatComboBox::SetColor(TColor c) {
  color_ = c;
  ApplyColors();
  update();
}

void TFlatComboBox::SetColorIndex(int i, TColor c) {
  colors_[i] = c;
  update();
}

void TFlatComboBox::SetAdvIndex(int i, TAdvColors v) {
  adv_[i] = std::min<TAdvColors>(v, 100);
  CalcAdvColors();
  update();
}

void TFlatComboBox::SetUseAdvColors(bool v) {
  if (v == useAdvColors_) return;
  useAdvColors_ = v;
  CalcAdvColors();
  update();
}

void TFlatComboBox::CalcAdvColors() {
  if (!useAdvColors_) return;
  // Derived from the parent's colour; without a parent, from the own colour.
  const TColor base = parentWidget() ? WidgetColor(parentWidget()) : color_;
  colors_[2] = ShiftColorLightness(base, colors_[2], adv_[0], lsDarker);
  colors_[1] = ShiftColorLightness(base, colors_[1], adv_[1], lsDarker);
}

void TFlatComboBox::ApplyColors() {
  // The edit and the drop-down list show the control's colour.
  const QColor c = QColorOf(color_);
  if (QLineEdit* edit = lineEdit()) {
    QPalette pal = edit->palette();
    pal.setColor(QPalette::Base, c);
    edit->setPalette(pal);
  }
  QPalette lp = view()->palette();
  lp.setColor(QPalette::Base, c);
  view()->setPalette(lp);
}

void TFlatComboBox::SetMaxLength(int n) {
  maxLength_ = std::max(0, n);
  if (QLineEdit* edit = lineEdit()) edit->setMaxLength(maxLength_ > 0 ? maxLength_ : 32767);
}

void TFlatComboBox::SetSorted(bool v) {
  sorted_ = v;
  setInsertPolicy(v ? QComboBox::InsertAlphabetically : QComboBox::NoInsert);
  if (v) model()->sort(0);
}

QStringList TFlatComboBox::Items() const {
  QStringList out;
  for (int i = 0; i < count(); ++i) out << itemText(i);
  return out;
}

void TFlatComboBox::SetItems(const QStringList& items) {
  clear();
  addItems(items);
  if (sorted_) model()->sort(0);
}

void TFlatComboBox::AddItem(const QString& s) {
  addItem(s);
  if (sorted_) model()->sort(0);
}

void TFlatComboBox::SetText(const QString& t) {
  if (isEditable())
    setEditText(t);
  else
    setCurrentIndex(findText(t));
}

QRect TFlatComboBox::ButtonRect() const {
  return RectLTRB(width() - ButtonWidth - 1, 0, width() - 1, height());
}

QRect TFlatComboBox::EditRect() const {
  return QRect(3, 3, width() - ButtonWidth - 8, height() - 6);
}

void TFlatComboBox::PlaceEdit() {
  if (QLineEdit* edit = lineEdit()) edit->setGeometry(EditRect());
}

void TFlatComboBox::resizeEvent(QResizeEvent* e) {
  QComboBox::resizeEvent(e);
  PlaceEdit();
}

void TFlatComboBox::showPopup() {
  dropped_ = true;
  update();
  QComboBox::showPopup();
}

void TFlatComboBox::hidePopup() {
  QComboBox::hidePopup();
  dropped_ = false;
  update();
}

void TFlatComboBox::focusInEvent(QFocusEvent* e) {
  QComboBox::focusInEvent(e);
  update();
}

void TFlatComboBox::focusOutEvent(QFocusEvent* e) {
  QComboBox::focusOutEvent(e);
  update();
}

void TFlatComboBox::changeEvent(QEvent* e) {
  QComboBox::changeEvent(e);
  switch (e->type()) {
    case QEvent::FontChange:
      itemHeight_ = 13;
      PlaceEdit();
      break;
    case QEvent::PaletteChange:
    case QEvent::ParentChange:
      CalcAdvColors();
      break;
    default:
      break;
  }
  update();
}

bool TFlatComboBox::event(QEvent* e) {
  const bool r = QComboBox::event(e);
  // QComboBox lays its edit out on several occasions; ours is fixed.
  if (e->type() == QEvent::LayoutRequest || e->type() == QEvent::Show ||
      e->type() == QEvent::StyleChange)
    PlaceEdit();
  return r;
}

void TFlatComboBox::paintEvent(QPaintEvent*) {
  QPixmap face(size());
  const int w = width(), h = height();
  const bool focused = hasFocus() || (lineEdit() && lineEdit()->hasFocus());
  {
    QPainter p(&face);
    p.setFont(font());
    FillRectC(p, rect(), color_);

    if (style_ == csDropDown && dropped_)
      FrameRectC(p, RectLTRB(2, 2, w - ButtonWidth - 3, h - 2), clWindow);

    // Text of the list styles (the editable styles show their edit instead).
    if (!isEditable()) {
      const QRect textRect = RectLTRB(3, 3, w - ButtonWidth - 8, h - 3);
      const bool highlight = focused && !dropped_;
      if (highlight) FillRectC(p, textRect, clHighlight);
      p.setPen(QColorOf(highlight ? clHighlightText : (isEnabled() ? clWindowText : clGrayText)));
      p.drawText(textRect.adjusted(2, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine,
                 currentText());
      // The strip between text and button, and the focus frame around the text.
      const QRect inner = rect().adjusted(2, 3, -2, -3);
      const QRect strip = RectLTRB(RightOf(inner) - ButtonWidth - 8, inner.top(),
                                   RightOf(inner) - ButtonWidth - 3, BottomOf(inner));
      FillRectC(p, strip, highlight ? clHighlight : color_);
      if (highlight)
        FrameRectC(p, rect().adjusted(3, 3, -3 - (ButtonWidth + 2), -3), clHighlight);
    }

    // Frame: border, then two rings in the face colour.
    QRect frame = RectLTRB(0, 0, w - (ButtonWidth + 1), h);
    FrameRectC(p, frame, colors_[2]);
    for (int i = 0; i < 2; ++i) {
      frame.adjust(1, 1, -1, -1);
      FrameRectC(p, frame, color_);
    }

    if (style_ != csSimple) {
      const QRect b = ButtonRect();
      const QRect wide = b.adjusted(-1, -1, 1, 1);
      FillRectC(p, wide, colors_[1]);
      FrameRectC(p, wide, colors_[2]);
      const int x = (b.width()) / 2 - 6 + b.left();
      const int y = (b.height()) / 2 - 1 + b.top();
      if (isEnabled())
        DrawArrow(p, x, y, dropped_, colors_[0]);
      else
        DrawEmbossedArrow(p, x, y, false);
    }
  }
  QPainter(this).drawPixmap(0, 0, face);
}
