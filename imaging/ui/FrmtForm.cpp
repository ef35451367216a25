#include "imaging/ui/FrmtForm.h"

#include <QDialogButtonBox>
#include <QVBoxLayout>

TFormatConversionForm::TFormatConversionForm(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QString::fromUtf8("图像格式转换"));
  auto* layout = new QVBoxLayout(this);
  auto radio = [layout](const char* name, const QString& text) {
    auto* b = new QRadioButton(text);
    b->setObjectName(name);
    layout->addWidget(b);
    return b;
  };
  BlackWhiteRB = radio("BlackWhiteRB", QString::fromUtf8("黑白图像"));
  Gray16RB = radio("Gray16RB", QString::fromUtf8("16 级灰度图像"));
  Gray256RB = radio("Gray256RB", QString::fromUtf8("256 级灰度图像"));
  Color16RB = radio("Color16RB", QString::fromUtf8("16 色图像"));
  Color256RB = radio("Color256RB", QString::fromUtf8("256 色图像"));
  TrueColorRB = radio("TrueColorRB", QString::fromUtf8("&真彩色图像"));
  DitherCB = new QCheckBox(QStringLiteral("Floyd Steinberg &Dither"));
  DitherCB->setObjectName("DitherCB");
  DitherCB->setChecked(true);
  QuantizeCB = new QCheckBox(QStringLiteral("&Quantize"));
  QuantizeCB->setObjectName("QuantizeCB");
  QuantizeCB->setChecked(true);
  layout->addWidget(DitherCB);
  layout->addWidget(QuantizeCB);
  auto* buttons = new QDialogButtonBox;
  buttons->addButton(QString::fromUtf8("确定"), QDialogButtonBox::AcceptRole);
  buttons->addButton(QString::fromUtf8("取消"), QDialogButtonBox::RejectRole);
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

QRadioButton* TFormatConversionForm::Button(int format) const {
  QRadioButton* const all[] = {BlackWhiteRB, Gray16RB, Gray256RB,
                               Color16RB, Color256RB, TrueColorRB};
  return format >= 0 && format <= 5 ? all[format] : nullptr;
}

void TFormatConversionForm::SetImageFormat(int format) {
  if (QRadioButton* b = Button(format)) b->setEnabled(false);
}

int TFormatConversionForm::GetImageFormat() const {
  for (int f = 0; f < 5; ++f)
    if (Button(f)->isChecked()) return f;
  return 5;
}
