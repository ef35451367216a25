#include "control/windows/frmPopup.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QGuiApplication>
#include <QLabel>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <algorithm>

#include "platform/AccessibleChildren.h"
#include "platform/QtText.h"
#include "uikit/AlphaWindow.h"

namespace {
Tfrm_popup* current = nullptr;
bool alphaModeDefault = true;

QTimer* MakeTimer(QObject* owner, int interval, bool singleShot = false) {
  auto* t = new QTimer(owner);
  t->setInterval(interval);
  t->setSingleShot(singleShot);
  return t;
}

// Screen readers and UI automation read the popup as a notification named by its message.
class TPopupAccessible : public QAccessibleWidget {
 public:
  explicit TPopupAccessible(Tfrm_popup* p) : QAccessibleWidget(p, QAccessible::Notification) {}
  QString text(QAccessible::Text t) const override {
    if (t != QAccessible::Name) return QAccessibleWidget::text(t);
    return ToQString(static_cast<const Tfrm_popup*>(widget())->MessageTextValue());
  }
};

QAccessibleInterface* PopupAccessibleFactory(const QString&, QObject* object) {
  auto* p = qobject_cast<Tfrm_popup*>(object);
  return p ? new TPopupAccessible(p) : nullptr;
}

// Installed while popups of this copy of the library exist.
TAccessibleFactoryUse popupFactory(PopupAccessibleFactory);

QString ShownText(const AnsiString& cp936) {
  QString s = ToQString(cp936);
  s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return s;
}
}  // namespace

Tfrm_popup* Tfrm_popup::Current() { return current; }
bool Tfrm_popup::AlphaModeDefault() { return alphaModeDefault; }
void Tfrm_popup::SetAlphaModeDefault(bool v) { alphaModeDefault = v; }

Tfrm_popup::Tfrm_popup(QWidget* owner)
    : QWidget(owner, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      alphaMode_(alphaModeDefault && TAlphaWindow::LayeredWindowsAvailable()) {
  setAttribute(Qt::WA_DeleteOnClose);
  setAttribute(Qt::WA_ShowWithoutActivating);
  setWindowTitle(QString::fromUtf8("消息提示"));
  resize(PopupWidth, PopupHeight);

  MessageText = new QLabel(this);
  MessageText->move(51, 35);
  MessageText->setFont(QFont(QString::fromUtf8("宋体"), 9));
  QPalette pal = MessageText->palette();
  pal.setColor(QPalette::WindowText, Qt::white);
  MessageText->setPalette(pal);
  MessageText->setAttribute(Qt::WA_TransparentForMouseEvents);

  Timer1 = MakeTimer(this, 30);
  Timer2 = MakeTimer(this, 30);
  Timer3 = MakeTimer(this, 20);
  Timer4 = MakeTimer(this, 20);
  // One-shot so that a restart gives a full three seconds again.
  Timer5 = MakeTimer(this, 3000, true);
  Timer5->setTimerType(Qt::PreciseTimer);
  connect(Timer1, &QTimer::timeout, this, &Tfrm_popup::Timer1Timer);
  connect(Timer2, &QTimer::timeout, this, &Tfrm_popup::Timer2Timer);
  connect(Timer3, &QTimer::timeout, this, &Tfrm_popup::Timer3Timer);
  connect(Timer4, &QTimer::timeout, this, &Tfrm_popup::Timer4Timer);
  connect(Timer5, &QTimer::timeout, this, &Tfrm_popup::Timer5Timer);
  current = this;
  popupFactory.Add();
}

Tfrm_popup::~Tfrm_popup() {
  if (current == this) current = nullptr;
  popupFactory.Remove();
}

void Tfrm_popup::SetMessageText(const AnsiString& cp936) {
  text_ = cp936;
  MessageText->setText(ShownText(text_));
  MessageText->adjustSize();
  if (QAccessible::isActive()) {
    QAccessibleEvent e(this, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&e);
  }
}

AnsiString Tfrm_popup::MessageTextValue() const { return text_; }

void Tfrm_popup::AppendMessageText(const AnsiString& cp936) {
  SetMessageText(text_ + "\r\n" + cp936);
}

QRect Tfrm_popup::WorkArea() const {
  QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
  return screen ? screen->availableGeometry() : QRect(0, 0, 800, 600);
}

int Tfrm_popup::getTaskHeight() {
  // The part of the screen below the work area; a task bar on another edge
  // leaves the popup at the work area's bottom right all the same.
  QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
  if (!screen) return 0;
  const QRect full = screen->geometry(), work = screen->availableGeometry();
  taskHeight_ = std::max(0, (full.y() + full.height()) - (work.y() + work.height()));
  return taskHeight_;
}

void Tfrm_popup::showEvent(QShowEvent* e) {
  QWidget::showEvent(e);
  if (placed_) return;
  placed_ = true;
  if (alphaMode_) {
    alphaWindow_ = new TAlphaWindow(this);
    alphaWindow_->SetEnabled(true);
  }
  getTaskHeight();
  const QRect work = WorkArea();
  const int left = work.x() + work.width() - width();
  const int bottom = work.y() + work.height();
  move(left, alphaMode_ ? bottom - height() : bottom);
  if (alphaMode_) {
    alphaWindow_->SetAlpha(0);
    Timer3->start();
  } else {
    Timer2->start();
  }
}

void Tfrm_popup::StartHold() {
  Timer1->stop();
  Timer2->stop();
  Timer3->stop();
  Timer4->stop();
  Timer5->start();
}

void Tfrm_popup::StartHiding() {
  // Each phase stops the others, so rising and hiding never run together.
  Timer2->stop();
  Timer3->stop();
  Timer5->stop();
  if (alphaMode_)
    Timer4->start();
  else
    Timer1->start();
}

void Tfrm_popup::RestartHold() {
  if (alphaMode_) {
    if (Timer4->isActive()) {
      Timer4->stop();
      Timer3->start();
    }
  } else if (Timer1->isActive()) {
    Timer1->stop();
    // Sliding down shrank the window; bring the whole text back.
    setGeometry(x(), y(), width(), PopupHeight);
    Timer2->start();
  }
  if (Timer5->isActive()) Timer5->start();
}

void Tfrm_popup::Timer1Timer() {
  if (height() < 1) {
    Timer1->stop();
    close();
    return;
  }
  setGeometry(x(), y() + 2, width(), std::max(0, height() - 2));
}

void Tfrm_popup::Timer2Timer() {
  const QRect work = WorkArea();
  if (work.y() + work.height() - height() >= y()) {
    StartHold();
    return;
  }
  move(x(), y() - 5);
}

void Tfrm_popup::Timer3Timer() {
  if (!alphaWindow_) return;
  // Clamped: after a fade-out was cut short the alpha need not be a multiple of 15.
  if (alphaWindow_->Alpha() >= 255) {
    StartHold();
    return;
  }
  alphaWindow_->SetAlpha(uint8_t(std::min(255, alphaWindow_->Alpha() + 15)));
}

void Tfrm_popup::Timer4Timer() {
  if (!alphaWindow_) return;
  if (alphaWindow_->Alpha() < 6) {
    Timer4->stop();
    close();
    return;
  }
  alphaWindow_->SetAlpha(uint8_t(alphaWindow_->Alpha() - 5));
}

void Tfrm_popup::Timer5Timer() { StartHiding(); }

void Tfrm_popup::Image1Click() { StartHiding(); }

void Tfrm_popup::mousePressEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton) Image1Click();
}

void Tfrm_popup::paintEvent(QPaintEvent*) {
  // The background picture: a blue face with a light rim and an envelope mark.
  QPainter p(this);
  const QRect r(0, 0, PopupWidth, PopupHeight);
  QLinearGradient g(0, 0, 0, PopupHeight);
  g.setColorAt(0, QColor(74, 134, 222));
  g.setColorAt(1, QColor(24, 72, 168));
  p.fillRect(r, g);
  p.fillRect(QRect(0, 0, PopupWidth, 20), QColor(16, 56, 140));
  p.setPen(QColor(160, 196, 250));
  p.drawRect(r.adjusted(0, 0, -1, -1));
  p.setPen(Qt::white);
  p.setFont(QFont(QString::fromUtf8("宋体"), 9));
  p.drawText(QRect(6, 0, PopupWidth - 12, 20), Qt::AlignVCenter | Qt::AlignLeft,
             windowTitle());
  const QRect env(12, 36, 28, 20);
  p.fillRect(env, QColor(250, 246, 220));
  p.setPen(QColor(120, 100, 60));
  p.drawRect(env.adjusted(0, 0, -1, -1));
  p.drawLine(env.topLeft(), env.center());
  p.drawLine(QPoint(env.right(), env.top()), env.center());
}
