#include "flowchart/ui/fcControls.h"

#include <QColorDialog>
#include <QFontDialog>
#include <QMouseEvent>
#include <QPainter>
#include <QVariant>

#include "platform/QtText.h"
#include "flowchart/ui/FcPaint.h"

int ControlTag(const QObject* o) { return o ? o->property("Tag").toInt() : 0; }
void SetControlTag(QObject* o, int tag) { o->setProperty("Tag", tag); }

QValidator::State TFcRangeValidator::validate(QString& input, int&) const {
  if (input.isEmpty()) return Acceptable;
  for (QChar c : input)
    if (!c.isDigit() || c.unicode() > '9') return Invalid;
  bool ok = false;
  const qlonglong v = input.toLongLong(&ok);
  return ok && v >= 1 && v <= max_ ? Acceptable : Invalid;
}

TFcNumberEdit::TFcNumberEdit(int max, QWidget* parent) : QLineEdit(parent) {
  setValidator(new TFcRangeValidator(max, this));
}

int TFcNumberEdit::Value() const { return text().isEmpty() ? 1 : text().toInt(); }
void TFcNumberEdit::SetValue(int v) { setText(QString::number(v)); }

TFcColorPanel::TFcColorPanel(TColor color, QWidget* parent) : QFrame(parent), color_(color) {
  setFrameShape(QFrame::Panel);
  setFrameShadow(QFrame::Sunken);
  setMinimumSize(16, 16);
}

void TFcColorPanel::SetColor(TColor c) {
  if (c == color_) return;
  color_ = c;
  update();
}

bool TFcColorPanel::ChooseColor() {
  QColor c = QColorDialog::getColor(FcColor(color_), this);
  if (!c.isValid()) return false;
  SetColor(RGB(c.red(), c.green(), c.blue()));
  return true;
}

void TFcColorPanel::paintEvent(QPaintEvent* e) {
  QPainter p(this);
  p.fillRect(contentsRect(), FcColor(color_));
  QFrame::paintEvent(e);
}

void TFcColorPanel::mousePressEvent(QMouseEvent* e) { emit Clicked(e->button()); }
void TFcColorPanel::mouseDoubleClickEvent(QMouseEvent*) { emit DoubleClicked(); }

QFont ToQFont(const TFcFont& f) { return FcQFont(f); }

TFcFont FromQFont(const QFont& q, const TFcFont& base) {
  TFcFont f = base;
  f.Name = ToAnsi(q.family());
  if (q.pixelSize() > 0)
    f.Height = static_cast<int16_t>(-q.pixelSize());
  else
    f.SetSize(q.pointSize() > 0 ? q.pointSize() : 9);
  f.Style = static_cast<uint8_t>((q.bold() ? 1 : 0) | (q.italic() ? 2 : 0) | (q.underline() ? 4 : 0) | (q.strikeOut() ? 8 : 0));
  return f;
}

bool ChooseFont(TFcFont& font, QWidget* parent) {
  bool ok = false;
  QFont q = QFontDialog::getFont(&ok, ToQFont(font), parent);
  if (ok) font = FromQFont(q, font);
  return ok;
}
