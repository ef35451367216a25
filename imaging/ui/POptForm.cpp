#include "imaging/ui/POptForm.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QKeyEvent>
#include <QPushButton>
#include <QVBoxLayout>

TPrintOptionForm::TPrintOptionForm(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QString::fromUtf8("打印选项"));
  auto* layout = new QVBoxLayout(this);

  auto* range = new QGroupBox(QString::fromUtf8("页面范围"));
  auto* rg = new QGridLayout(range);
  PrintAll = new QRadioButton(QString::fromUtf8("全部页"));
  PrintAll->setChecked(true);
  PrintFrom = new QRadioButton(QString::fromUtf8("页码范围:"));
  edt_PageBegin = new QLineEdit;
  edt_PageEnd = new QLineEdit;
  rg->addWidget(PrintAll, 0, 0, 1, 6);
  rg->addWidget(PrintFrom, 1, 0);
  rg->addWidget(new QLabel(QString::fromUtf8("从第")), 1, 1);
  rg->addWidget(edt_PageBegin, 1, 2);
  rg->addWidget(new QLabel(QString::fromUtf8("页到第")), 1, 3);
  rg->addWidget(edt_PageEnd, 1, 4);
  rg->addWidget(new QLabel(QString::fromUtf8("页")), 1, 5);
  layout->addWidget(range);
  edt_PageBegin->installEventFilter(this);
  edt_PageEnd->installEventFilter(this);
  connect(edt_PageBegin, &QLineEdit::textEdited, this, [this] { PrintFrom->setChecked(true); });

  auto* scale = new QGroupBox(QString::fromUtf8("比例参数"));
  auto* sg = new QGridLayout(scale);
  FullPageRB = new QRadioButton(QString::fromUtf8("图像按比例填充至整页"));
  FullPageRB->setChecked(true);
  OriginalSizeRB = new QRadioButton(QString::fromUtf8("图像原始尺寸"));
  StetchToPageRB = new QRadioButton(QString::fromUtf8("图像填充至整页（可能变形）"));
  SpecificWidthAndHeightRB = new QRadioButton(QString::fromUtf8("指定打印图像宽度及高度"));
  WidthFld = new QSpinBox;
  WidthFld->setRange(1, 24);
  WidthFld->setValue(5);
  HeightFld = new QSpinBox;
  HeightFld->setRange(1, 24);
  HeightFld->setValue(3);
  widthLabel_ = new QLabel(QString::fromUtf8("宽度（英寸）"));
  heightLabel_ = new QLabel(QString::fromUtf8("高度（英寸）"));
  sg->addWidget(FullPageRB, 0, 0, 1, 2);
  sg->addWidget(OriginalSizeRB, 1, 0, 1, 2);
  sg->addWidget(StetchToPageRB, 2, 0, 1, 2);
  sg->addWidget(SpecificWidthAndHeightRB, 3, 0, 1, 2);
  sg->addWidget(widthLabel_, 4, 0);
  sg->addWidget(WidthFld, 4, 1);
  sg->addWidget(heightLabel_, 5, 0);
  sg->addWidget(HeightFld, 5, 1);
  layout->addWidget(scale);
  for (QRadioButton* b : {FullPageRB, OriginalSizeRB, StetchToPageRB, SpecificWidthAndHeightRB})
    connect(b, &QRadioButton::toggled, this, [this] { SizeChoiceChanged(); });

  auto* buttons = new QDialogButtonBox;
  QPushButton* print = buttons->addButton(QString::fromUtf8("打印"), QDialogButtonBox::AcceptRole);
  print->setDefault(true);
  buttons->addButton(QString::fromUtf8("取消"), QDialogButtonBox::RejectRole);
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  SizeChoiceChanged();
}

void TPrintOptionForm::SizeChoiceChanged() {
  const bool specific = SpecificWidthAndHeightRB->isChecked();
  for (QWidget* w : {static_cast<QWidget*>(WidthFld), static_cast<QWidget*>(widthLabel_),
                     static_cast<QWidget*>(HeightFld), static_cast<QWidget*>(heightLabel_)})
    w->setEnabled(specific);
}

int TPrintOptionForm::GetPrintSize() const {
  if (FullPageRB->isChecked()) return 1;
  if (OriginalSizeRB->isChecked()) return 0;
  if (StetchToPageRB->isChecked()) return 5;
  if (SpecificWidthAndHeightRB->isChecked()) return 4;
  return 1;
}

bool TPrintOptionForm::eventFilter(QObject* watched, QEvent* event) {
  // The page edits take only digits and backspace.
  if ((watched == edt_PageBegin || watched == edt_PageEnd) && event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    const QString text = key->text();
    const bool digit = text.size() == 1 && text[0] >= '0' && text[0] <= '9';
    if (!digit && key->key() != Qt::Key_Backspace && !text.isEmpty()) return true;
  }
  return QDialog::eventFilter(watched, event);
}
