#include "uikit/TFlatPanelUnit.h"

#include <QEvent>
#include <QPainter>
#include <QPixmap>

TFlatPanel::TFlatPanel(QWidget* parent) : TFlatControl(parent) {
  SetStoredColor(clBtnFace);
  setGeometry(0, 0, 185, 41);
}

void TFlatPanel::SetCaption(const QString& c) {
  if (c == caption_) return;
  caption_ = c;
  update();
}

void TFlatPanel::SetAlignment(Qt::Alignment a) {
  alignment_ = a & Qt::AlignHorizontal_Mask;
  update();
}

void TFlatPanel::SetTransparent(bool v) {
  transparent_ = v;
  update();
}

void TFlatPanel::SetColorHighLight(TColor c) {
  colorHighLight_ = c;
  update();
}

void TFlatPanel::SetColorShadow(TColor c) {
  colorShadow_ = c;
  update();
}

void TFlatPanel::changeEvent(QEvent* e) {
  TFlatControl::changeEvent(e);
  if (e->type() == QEvent::EnabledChange) update();
}

void TFlatPanel::paintEvent(QPaintEvent*) {
  QPixmap face(size());
  face.fill(QColorOf(Color()));
  {
    QPainter p(&face);
    const QRect client = rect();
    if (transparent_)
      DrawParentBackground(this, p);
    else
      FillRectC(p, client, Color());
    DrawFlatFrame(p, client, colorHighLight_, colorShadow_, 1);
    if (!caption_.isEmpty()) {
      p.setFont(font());
      const int flags = Qt::TextSingleLine | Qt::AlignVCenter | Qt::TextShowMnemonic |
                        int(alignment_);
      if (!isEnabled()) {
        p.setPen(QColorOf(clBtnHighlight));
        p.drawText(client.translated(1, 1), flags, caption_);
        p.setPen(QColorOf(clBtnShadow));
      } else {
        p.setPen(palette().color(QPalette::WindowText));
      }
      p.drawText(client, flags, caption_);
    }
  }
  QPainter(this).drawPixmap(0, 0, face);
}
