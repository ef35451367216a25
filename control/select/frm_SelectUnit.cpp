#include "control/select/frm_SelectUnit.h"

#include <QBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>

#include "platform/QtText.h"
#include "core/SysUtils.h"

namespace {

TNodeData UnitData(const frames::UnitRecord& u) { return {IntToStr(u.number), u.name, nkUnit, {}}; }

}  // namespace

TfrmSelectUnit::TfrmSelectUnit(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QString::fromUtf8("单位选择"));
  resize(520, 400);
  pages_ = new QTabWidget(this);
  self_ = new TUserTree(pages_);
  query_ = new TUserTree(pages_);
  pages_->addTab(self_, QString::fromUtf8("单位"));
  pages_->addTab(query_, QString::fromUtf8("单位查询"));
  selected_ = new TUserTree(this);
  selected_->setRootIsDecorated(false);
  for (TUserTree* t : {self_, query_}) {
    t->setRootIsDecorated(false);
    connect(t, &QTreeWidget::itemDoubleClicked, this, &TfrmSelectUnit::AddSelected);
  }

  auto* col = new QVBoxLayout;
  auto button = [&](const char* text, auto slot) {
    auto* b = new QPushButton(QString::fromUtf8(text), this);
    connect(b, &QPushButton::clicked, this, slot);
    col->addWidget(b);
  };
  col->addStretch();
  button(">", &TfrmSelectUnit::AddSelected);
  button(">>", &TfrmSelectUnit::AddAll);
  button("<", &TfrmSelectUnit::DeleteSelected);
  button("<<", &TfrmSelectUnit::DeleteAll);
  col->addStretch();

  auto* trees = new QHBoxLayout;
  trees->addWidget(pages_, 1);
  trees->addLayout(col);
  trees->addWidget(selected_, 1);

  edtQuery_ = new QLineEdit(this);
  auto* query = new QPushButton(QString::fromUtf8("查询"), this);
  connect(query, &QPushButton::clicked, this, [this] { Query(ToAnsi(edtQuery_->text())); });
  auto* ok = new QPushButton(QString::fromUtf8("确定"), this);
  auto* back = new QPushButton(QString::fromUtf8("返回"), this);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  connect(back, &QPushButton::clicked, this, &QDialog::reject);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(edtQuery_);
  bottom->addWidget(query);
  bottom->addStretch();
  bottom->addWidget(ok);
  bottom->addWidget(back);

  auto* main = new QVBoxLayout(this);
  main->addLayout(trees);
  main->addLayout(bottom);
}

void TfrmSelectUnit::LoadUnits(std::string_view reply) {
  std::vector<frames::UnitRecord> units = frames::ParseUnitsReply(reply);
  for (const frames::UnitRecord& u : units) {
    if (self_->Find(IntToStr(u.number), nkUnit)) continue;
    self_->AddNode(nullptr, UnitData(u), u.name, niDepartment);
  }
  units_.insert(units_.end(), units.begin(), units.end());
}

TUserTree* TfrmSelectUnit::ActiveTree() const { return pages_->currentIndex() == 0 ? self_ : query_; }

void TfrmSelectUnit::AddUnit(const TUserNode* node) {
  if (!node || selected_->Find(node->Data().key, nkUnit)) return;
  selected_->AddNode(nullptr, node->Data(), node->Caption(), niDepartment);
}

void TfrmSelectUnit::AddSelected() { AddUnit(ActiveTree()->Selected()); }

void TfrmSelectUnit::AddAll() {
  for (TUserNode* node : ActiveTree()->Roots()) AddUnit(node);
}

void TfrmSelectUnit::DeleteSelected() { selected_->DeleteNode(selected_->Selected()); }

void TfrmSelectUnit::DeleteAll() { selected_->ClearNodes(); }

void TfrmSelectUnit::Query(const AnsiString& text) {
  query_->ClearNodes();
  const AnsiString needle = Trim(text);
  if (needle.empty()) return;
  for (const frames::UnitRecord& u : units_) {
    if (u.name.find(needle) == AnsiString::npos || query_->Find(IntToStr(u.number), nkUnit)) continue;
    query_->AddNode(nullptr, UnitData(u), u.name, niDepartment);
  }
  pages_->setCurrentIndex(1);
}

std::vector<frames::UnitRecord> TfrmSelectUnit::ChosenUnits() const {
  std::vector<frames::UnitRecord> out;
  for (TUserNode* node : selected_->Roots()) out.push_back({StrToIntDef(node->Data().key, 0), node->Data().second});
  return out;
}
