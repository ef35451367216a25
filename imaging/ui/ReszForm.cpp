#include "imaging/ui/ReszForm.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QPushButton>

TResizeForm::TResizeForm(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QString::fromUtf8("更改图像尺寸"));
  WidthFld = new QLineEdit(QStringLiteral("100"));
  WidthFld->setObjectName("WidthFld");
  HeightFld = new QLineEdit(QStringLiteral("100"));
  HeightFld->setObjectName("HeightFld");
  InterpolatedCB = new QCheckBox(QStringLiteral("&Interpolated"));
  InterpolatedCB->setObjectName("InterpolatedCB");
  FilterCB = new QComboBox;
  FilterCB->setObjectName("FilterCB");
  FilterCB->addItems({"Triangle", "Hermite", "Bell", "B-Spline", "Lanczos3", "Mitchell"});
  DestFormatCB = new QComboBox;
  DestFormatCB->setObjectName("DestFormatCB");
  DestFormatCB->addItems({"Black and white", "Gray scale 16", "Gray scale 256", "Color 16",
                          "Color 256", "True Color"});
  filterLabel_ = new QLabel(QString::fromUtf8("过滤"));
  formatLabel_ = new QLabel(QString::fromUtf8("转换格式"));
  auto* grid = new QGridLayout(this);
  grid->addWidget(new QLabel(QString::fromUtf8("宽度：")), 0, 0);
  grid->addWidget(WidthFld, 0, 1);
  grid->addWidget(new QLabel(QString::fromUtf8("高度：")), 1, 0);
  grid->addWidget(HeightFld, 1, 1);
  grid->addWidget(InterpolatedCB, 2, 0, 1, 2);
  grid->addWidget(filterLabel_, 3, 0);
  grid->addWidget(FilterCB, 3, 1);
  grid->addWidget(formatLabel_, 4, 0);
  grid->addWidget(DestFormatCB, 4, 1);
  auto* buttons = new QDialogButtonBox;
  buttons->addButton(QString::fromUtf8("确定"), QDialogButtonBox::AcceptRole);
  buttons->addButton(QString::fromUtf8("取消"), QDialogButtonBox::RejectRole);
  grid->addWidget(buttons, 5, 0, 1, 2);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(InterpolatedCB, &QCheckBox::toggled, this, [this] { InterpolatedChanged(); });
  FilterCB->setCurrentIndex(0);
  InterpolatedChanged();
}

void TResizeForm::InterpolatedChanged() {
  const bool on = InterpolatedCB->isChecked();
  FilterCB->setEnabled(on);
  filterLabel_->setEnabled(on);
  DestFormatCB->setEnabled(on);
  formatLabel_->setEnabled(on);
}
