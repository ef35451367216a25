#include "control/form/frm_FenFa.h"

#include <QBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>

#include "platform/QtText.h"
#include "platform/Services.h"

TFrmFenFa::TFrmFenFa(QWidget* parent) : TfrmSelectUser(parent) {
  pages_->setTabVisible(pgZhiShu, false);
  lblDelFenFa_ = new QLabel(QString::fromUtf8("本操作用于对已经分发至用户的文件进行撤\n回，可将错误分发的文件进行回收。"), this);
  lblDelFenFa_->setObjectName("lblDelFenFa");
  lblDelFenFa_->hide();
  lbSelectedCount_ = new QLabel(QStringLiteral("0"), this);
  lbSelectedCount_->setObjectName("Lb_SelectedCount");
  btnHsff_ = new QPushButton(QString::fromUtf8("< 收回分发文件"), this);
  btnHsff_->setObjectName("btn_hsff");
  auto* legend = new QLabel(QString::fromUtf8("未分发用户 / 已分发用户"), this);
  if (auto* col = qobject_cast<QVBoxLayout*>(buttonColumn_->layout())) col->addWidget(btnHsff_);
  if (auto* main = qobject_cast<QVBoxLayout*>(layout())) {
    auto* row = new QHBoxLayout;
    row->addWidget(legend);
    row->addWidget(lblDelFenFa_);
    row->addStretch();
    row->addWidget(lbSelectedCount_);
    main->addLayout(row);
  }
  connect(btnHsff_, &QPushButton::clicked, this, &TFrmFenFa::EnterRecallMode);
  btnOk_->disconnect(this);
  connect(btnOk_, &QPushButton::clicked, this, &TFrmFenFa::Confirm);
}

void TFrmFenFa::BuildTrees(std::span<const frames::UserRecord> added, const AnsiString&, bool) {
  for (const frames::UserRecord& u : added) {
    // The chosen flag is always set and nothing is pre-chosen: image 3 means the user
    // holds the document already.
    TUserFill fill;
    fill.marker = u.marker != 0;
    fill.chosen = true;
    TUserTree* tree = nullptr;
    switch (u.listKind) {
      case 0: tree = trees_[pgSelf]; break;
      case 1: tree = trees_[pgExpUnit]; break;
      case 2:
        tree = trees_[pgOther];
        fill.flat = true;
        break;
      case 4: fill.groupTree = trees_[pgOtherGroup]; break;
      case 5: tree = trees_[pgGroup]; break;
      default: continue;
    }
    FillUserTree(tree, u, fill);
  }
  trees_[pgSelf]->scrollToTop();
}

void TFrmFenFa::ChosenChanged() { lbSelectedCount_->setText(QString::number(chosen_->NodeCount())); }

void TFrmFenFa::EnterRecallMode() {
  recall_ = true;
  lblSelectCaption_->hide();
  lblDelFenFa_->show();
  lblSelect_->setText(QString::fromUtf8("回收用户："));
  QPalette pal = chosen_->palette();
  pal.setColor(QPalette::Text, QColor(255, 0, 0));
  chosen_->setPalette(pal);
  btnHsff_->hide();
}

void TFrmFenFa::Confirm() {
  if (!recall_) return accept();
  const bool yes = ShowMessageBox(Utf8ToCp936("是否回收所选用户的分发文件?"), Utf8ToCp936("文件回收确认"),
                                  MsgIcon::Question, MsgButtons::YesNo, this) == MsgResult::Yes;
  done(yes ? QDialog::Accepted : 2);
}
