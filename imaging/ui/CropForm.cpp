#include "imaging/ui/CropForm.h"

#include <QDialogButtonBox>
#include <QFormLayout>

TCropForm::TCropForm(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QString::fromUtf8("图像剪裁"));
  auto* form = new QFormLayout(this);
  auto field = [form](const char* name, const QString& label) {
    auto* f = new QLineEdit(QStringLiteral("0"));
    f->setObjectName(name);
    form->addRow(label, f);
    return f;
  };
  LeftFld = field("LeftFld", QString::fromUtf8("左："));
  TopFld = field("TopFld", QString::fromUtf8("上："));
  RightFld = field("RightFld", QString::fromUtf8("右："));
  BottomFld = field("BottomFld", QString::fromUtf8("下："));
  auto* buttons = new QDialogButtonBox;
  buttons->addButton(QString::fromUtf8("确定"), QDialogButtonBox::AcceptRole);
  buttons->addButton(QString::fromUtf8("取消"), QDialogButtonBox::RejectRole);
  form->addRow(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}
