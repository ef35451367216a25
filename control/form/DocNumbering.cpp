#include "control/form/DocNumbering.h"

#include <QBoxLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpressionValidator>

#include "platform/QtText.h"
#include "core/SysUtils.h"
#include "platform/Guard.h"

AnsiString FormatDocNumber(const AnsiString& prefix, const AnsiString& year, int32_t number) {
  return Trim(prefix) + "[" + Trim(year) + "]" + IntToStr(number) + Utf8ToCp936("号");
}

std::vector<AnsiString> NumberListLines(const std::vector<frames::NumberEntry>& entries) {
  std::vector<AnsiString> lines;
  lines.reserve(entries.size());
  for (const frames::NumberEntry& e : entries) lines.push_back(Trim(e.prefix) + " | " + IntToStr(e.nextNumber));
  return lines;
}

std::optional<TTakenNumber> TakeNumber(const std::vector<frames::NumberEntry>& entries, int selected,
                                       const AnsiString& typed, const AnsiString& year) {
  if (selected < 0 || static_cast<size_t>(selected) >= entries.size()) return std::nullopt;
  const frames::NumberEntry& e = entries[static_cast<size_t>(selected)];
  TTakenNumber t;
  t.index = selected;
  t.typeId = e.kindId;
  t.number = typed.empty() ? e.nextNumber : StrToInt(typed);
  t.text = FormatDocNumber(e.prefix, year, t.number);
  return t;
}

TNumberPanel::TNumberPanel(QWidget* parent) : QFrame(parent) {
  setFrameShape(QFrame::StyledPanel);
  year_ = new QLineEdit(this);
  number_ = new QLineEdit(this);
  // Only digits pass, as typed keys would.
  number_->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), number_));
  list_ = new QListWidget(this);
  auto* ok = new QPushButton(QString::fromUtf8("确定"), this);
  auto* cancel = new QPushButton(QString::fromUtf8("取消"), this);
  // A typed number too large for an integer raises; the click swallows it, as the panel stays.
  connect(ok, &QPushButton::clicked, this, [this] { Guarded([this] { Confirm(); }); });
  connect(cancel, &QPushButton::clicked, this, &QWidget::hide);
  auto* top = new QHBoxLayout;
  top->addWidget(year_);
  top->addWidget(number_);
  auto* bottom = new QHBoxLayout;
  bottom->addStretch();
  bottom->addWidget(ok);
  bottom->addWidget(cancel);
  auto* main = new QVBoxLayout(this);
  main->addLayout(top);
  main->addWidget(list_);
  main->addLayout(bottom);
  hide();
}

void TNumberPanel::Open(int year) {
  year_->setText(QString::number(year));
  number_->clear();
}

void TNumberPanel::ShowNumberList(std::string_view reply) {
  entries_ = frames::ParseNumbersReply(reply);
  list_->clear();
  for (const AnsiString& line : NumberListLines(entries_)) list_->addItem(ToQString(line));
  show();
  raise();
}

void TNumberPanel::Confirm() {
  const int row = list_->currentRow();
  if (row < 0 || row >= list_->count()) return;
  const auto taken = TakeNumber(entries_, row, ToAnsi(number_->text()), ToAnsi(year_->text()));
  if (!taken) return;
  hide();
  if (OnNumberTaken) OnNumberTaken(*taken);
}
