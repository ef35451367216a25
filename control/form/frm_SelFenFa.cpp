#include "control/form/frm_SelFenFa.h"

#include <QBoxLayout>
#include <QPushButton>

TfrmSelFenFa::TfrmSelFenFa(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QString::fromUtf8("选择文件分发操作"));
  setWindowFlag(Qt::WindowStaysOnTopHint);
  internal_ = new QPushButton(QString::fromUtf8("内部分发传阅"), this);
  outside_ = new QPushButton(QString::fromUtf8("对外发文"), this);
  internal_->setObjectName("FlatSpeedButton1");
  outside_->setObjectName("FlatSpeedButton2");
  for (QPushButton* b : {internal_, outside_}) b->setMinimumSize(140, 48);
  auto* row = new QHBoxLayout(this);
  row->addWidget(internal_);
  row->addWidget(outside_);
  connect(internal_, &QPushButton::clicked, this, [this] {
    choice_ = ChoiceInternal;
    accept();
  });
  connect(outside_, &QPushButton::clicked, this, [this] {
    choice_ = ChoiceOutside;
    accept();
  });
}

void TfrmSelFenFa::Setup(bool distributed, bool sentOutside) {
  auto mark = [](QPushButton* b, const char* caption) {
    b->setText(QString::fromUtf8(caption));
    b->setStyleSheet(QStringLiteral("background-color: #EEE8DF; color: #FF0000;"));  // 14674158
  };
  if (distributed) mark(internal_, "内部已分发");
  if (sentOutside) mark(outside_, "对外已分发");
}
