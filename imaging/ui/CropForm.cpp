#include "imaging/ui/CropForm.h"

#include <QDialogButtonBox>
#include <QFormLayout>

TCropForm::TCropForm(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("图像剪裁"));
  auto* form = new QFormLayout(this);
  auto field = [form](const char* name, const QString& label) {
    auto* f = new QLineEdit(QStringLiteral("0"));
    f->setObjectName(name);
    form->addRow(label, f);
    return f;
  };
  LeftFld = field("LeftFld", QStringLiteral("左："));
  TopFld = field("TopFld", QStringLiteral("上："));
  RightFld = field("RightFld", QStringLiteral("右："));
  BottomFld = field("BottomFld", QStringLiteral("下："));
  auto* buttons = new QDialogButtonBox;
  buttons->addButton(QStringLiteral("确定"), QDialogButtonBox::AcceptRole);
  buttons->addButton(QStringLiteral("取消"), QDialogButtonBox::RejectRole);
  form->addRow(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}
