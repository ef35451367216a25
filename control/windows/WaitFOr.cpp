#include "control/windows/WaitFOr.h"

#include <QEvent>
#include <QLabel>
#include <QScreen>

#include "control/windows/ControlColors.h"
#include "platform/QtText.h"

namespace {
const char* const kDefaultCaption = "正在处理数据，请稍候...";
}

TfrmWaitFor::TfrmWaitFor(QWidget* owner)
    : QWidget(owner, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
  setObjectName("frmWaitFor");
  // Shown on every request: it must not take activation from the page.
  setAttribute(Qt::WA_ShowWithoutActivating);
  setFixedSize(383, 50);
  SetBackground(this, clSilver);
  lbl1_ = new QLabel(QString::fromUtf8(kDefaultCaption), this);
  lbl1_->setObjectName("lbl1");
  QFont font(QString::fromUtf8("宋体"));
  font.setPixelSize(17);
  lbl1_->setFont(font);
  QPalette p = lbl1_->palette();
  p.setColor(QPalette::WindowText, Qt::black);
  lbl1_->setPalette(p);
  lbl1_->setAlignment(Qt::AlignCenter);
  lbl1_->setGeometry(rect());
}

void TfrmWaitFor::ShowCentredOn(QWidget* mainForm) {
  QWidget* top = mainForm ? mainForm->window() : nullptr;
  if (anchor_ != top) {
    if (anchor_) anchor_->removeEventFilter(this);
    anchor_ = top;
    if (top) top->installEventFilter(this);
  }
  Centre();
  show();
}

void TfrmWaitFor::Centre() {
  QRect area;
  if (anchor_) {
    area = QRect(anchor_->mapToGlobal(QPoint(0, 0)), anchor_->size());
  } else if (QScreen* s = screen()) {
    area = s->availableGeometry();
  }
  if (area.isValid()) move(area.center() - QPoint(width() / 2, height() / 2));
}

// The window manager places a window that has just been shown a moment later:
// the box follows its window while it shows.
bool TfrmWaitFor::eventFilter(QObject* watched, QEvent* e) {
  if (watched == anchor_ && isVisible() && (e->type() == QEvent::Move || e->type() == QEvent::Resize)) Centre();
  return QWidget::eventFilter(watched, e);
}

void TfrmWaitFor::showEvent(QShowEvent* e) {
  if (!waitText_.empty()) lbl1_->setText(ToQString(waitText_));
  QWidget::showEvent(e);
}

// Also when it was never shown: a request that failed to connect must not
// leave its text for the next one.
void TfrmWaitFor::closeEvent(QCloseEvent* e) {
  waitText_.clear();
  QWidget::closeEvent(e);
}

void TfrmWaitFor::hideEvent(QHideEvent* e) {
  waitText_.clear();
  QWidget::hideEvent(e);
}
