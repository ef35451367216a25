#include "control/windows/frm_Abort.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

namespace {
TfrmAbort* current = nullptr;

QLabel* AddLabel(QWidget* parent, const char* utf8, int x, int y, const QFont& font,
                 const QColor& colour) {
  auto* l = new QLabel(QString::fromUtf8(utf8), parent);
  l->setFont(font);
  QPalette pal = l->palette();
  pal.setColor(QPalette::WindowText, colour);
  l->setPalette(pal);
  l->move(x, y);
  l->adjustSize();
  return l;
}
}  // namespace

TfrmAbort* TfrmAbort::Current() { return current; }
const char* TfrmAbort::LastModified() { return "2026-12-06"; }
const char* TfrmAbort::VersionNumber() { return "1.0.0.1"; }

TfrmAbort::TfrmAbort(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::MSWindowsFixedSizeDialogHint) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(QString::fromUtf8("关于本程序..."));
  setFixedSize(350, 193);

  const QFont body(QString::fromUtf8("宋体"), 9);
  QFont title(QString::fromUtf8("宋体"), 14);
  title.setBold(true);
  // The title with its shadow one pixel behind.
  AddLabel(this, "Calvessa 网络办公自动化系统组件", 22, 18, title, QColor(128, 128, 128));
  AddLabel(this, "Calvessa 网络办公自动化系统组件", 20, 16, title, QColor(0, 0, 128));
  AddLabel(this, "For Microsoft Internet Explorer ActiveX", 20, 50, body, Qt::black);
  AddLabel(this, (std::string("最后修改时间：") + LastModified()).c_str(), 20, 78, body, Qt::black);
  AddLabel(this, (std::string("版本号：") + VersionNumber()).c_str(), 20, 98, body, Qt::black);
  AddLabel(this, "技术支持：请与本单位系统管理员联系", 20, 118, body, Qt::black);
  AddLabel(this, "版权所有，保留一切权利。", 20, 138, body, Qt::black);

  Button1 = new QPushButton(QString::fromUtf8("确定(&Y)"), this);
  Button1->setGeometry(260, 158, 75, 25);
  Button1->setDefault(true);
  connect(Button1, &QPushButton::clicked, this, &TfrmAbort::Button1Click);

  if (QScreen* s = QGuiApplication::primaryScreen()) {
    const QRect desk = s->availableGeometry();
    move(desk.center() - QPoint(width() / 2, height() / 2));
  }
  current = this;
}

TfrmAbort::~TfrmAbort() {
  if (current == this) current = nullptr;
}

void TfrmAbort::Button1Click() { close(); }
