#include "uikit/wiaTile.h"

#include <QEvent>
#include <QPainter>

TwiaTile::TwiaTile(QWidget* parent) : QWidget(parent) {
  setFocusPolicy(Qt::NoFocus);
  setGeometry(0, 0, 64, 64);
  FollowParent();
}

void TwiaTile::SetImage(const QImage& img) {
  if (img.isNull()) {
    working_ = QImage();
    update();
    return;
  }
  tranColor_ = TColorOf(QColor(img.pixel(0, img.height() - 1)));
  image_ = img.convertToFormat(QImage::Format_ARGB32);
  Rebuild();
}

void TwiaTile::SetTileMode(TwiaTileMode m) {
  if (m == mode_) return;
  mode_ = m;
  Rebuild();
}

void TwiaTile::SetTranColor(TColor c) {
  tranColor_ = c;
  Rebuild();
}

void TwiaTile::SetFadeColor(TColor c) {
  fadeColor_ = c;
  Rebuild();
}

void TwiaTile::SetFaded(bool v) {
  if (v)
    SetTileMode(tmFaded);
  else if (mode_ == tmFaded)
    SetTileMode(tmTransparent);
}

void TwiaTile::SetAlignClient(bool v) {
  alignClient_ = v;
  FollowParent();
}

void TwiaTile::Rebuild() {
  if (image_.isNull()) {
    working_ = QImage();
    update();
    return;
  }
  working_ = image_;
  const QRgb key = QColorOf(tranColor_).rgb() & 0xFFFFFF;
  const QRgb fade = QColorOf(fadeColor_).rgb();
  const QRgb ground = parentWidget() ? parentWidget()->palette().color(QPalette::Window).rgb()
                                     : QColorOf(clBtnFace).rgb();
  if (mode_ != tmNormal) {
    for (int y = 0; y < working_.height(); ++y) {
      QRgb* line = reinterpret_cast<QRgb*>(working_.scanLine(y));
      for (int x = 0; x < working_.width(); ++x) {
        const bool isKey = (line[x] & 0xFFFFFF) == key;
        if (mode_ == tmTransparent) {
          if (isKey) line[x] = 0;  // the background shows through
        } else {
          // Silhouette in the fade colour; then white (the key, and a white
          // fade colour too) becomes the parent's colour.
          QRgb c = isKey ? qRgb(255, 255, 255) : fade;
          if ((c & 0xFFFFFF) == 0xFFFFFF) c = ground;
          line[x] = c | 0xFF000000;
        }
      }
    }
  }
  update();
}

void TwiaTile::FollowParent() {
  QWidget* p = alignClient_ ? parentWidget() : nullptr;
  if (watched_ != p) {
    if (watched_) watched_->removeEventFilter(this);
    watched_ = p;
    if (watched_) watched_->installEventFilter(this);
  }
  if (watched_) {
    setGeometry(watched_->rect());
    lower();
  }
}

bool TwiaTile::eventFilter(QObject* o, QEvent* e) {
  if (o == watched_ && e->type() == QEvent::Resize) setGeometry(watched_->rect());
  if (o == watched_ && e->type() == QEvent::PaletteChange && mode_ == tmFaded) Rebuild();
  return false;
}

void TwiaTile::changeEvent(QEvent* e) {
  QWidget::changeEvent(e);
  if (e->type() == QEvent::ParentChange) {
    FollowParent();
    Rebuild();
  }
}

void TwiaTile::paintEvent(QPaintEvent*) {
  if (working_.isNull()) return;
  QPainter p(this);
  const QImage& tile = mode_ == tmNormal ? image_ : working_;
  for (int y = 0; y < height(); y += tile.height())
    for (int x = 0; x < width(); x += tile.width()) p.drawImage(x, y, tile);
}
