#include "control/form/DocOpinion.h"

#include <QAction>
#include <QBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTextEdit>

#include "platform/QtText.h"

AnsiString OpinionLine(TDateTime now, const AnsiString& userName, const AnsiString& memo) {
  return FormatDateTime("yyyy-mm-dd hh:nn", now) + " " + userName + Utf8ToCp936("：") + memo;
}

AnsiString OpinionCellText(const AnsiString& earlier, const AnsiString& line) {
  return earlier.empty() ? line : earlier + "\r" + line;
}

AnsiString AddMenuPhrase(const AnsiString& memo, const AnsiString& phrase) {
  return memo.empty() ? phrase : memo + Utf8ToCp936("，") + phrase;
}

AnsiString AppendPhrase(const AnsiString& memo, const AnsiString& approver, const AnsiString& phrase) {
  const AnsiString start = memo.empty() ? Utf8ToCp936("请") : memo;
  return start + approver + phrase;
}

std::vector<AnsiString> PhraseMenuTexts(const std::vector<TOpinionPhrase>& phrases) {
  std::vector<AnsiString> texts;
  for (const TOpinionPhrase& p : phrases)
    if (p.group == 0) texts.push_back(p.text);
  texts.emplace_back("-");
  for (const TOpinionPhrase& p : phrases)
    if (p.group != 0) texts.push_back(p.text);
  return texts;
}

void BuildPhraseMenu(QMenu* ppmSP, const std::vector<TOpinionPhrase>& phrases,
                     const std::function<void(const AnsiString&)>& onPhrase) {
  const QList<QAction*> actions = ppmSP->actions();
  QAction* before = actions.size() > 2 ? actions[2] : nullptr;
  for (const AnsiString& text : PhraseMenuTexts(phrases)) {
    QAction* item = new QAction(ppmSP);
    if (text == "-") {
      item->setSeparator(true);
    } else {
      item->setText(ToQString(text));
      item->setIcon(NodeIcon(0));
      QObject::connect(item, &QAction::triggered, ppmSP, [onPhrase, text] { onPhrase(text); });
    }
    ppmSP->insertAction(before, item);
  }
}

TPhrasePanel::TPhrasePanel(QTextEdit* memo, QWidget* parent) : QFrame(parent), memo_(memo) {
  setFrameShape(QFrame::StyledPanel);
  tree_ = new TUserTree(this);
  selectedUser_ = new QLabel(this);
  selectedUser_->setObjectName("edt_SelectedUser");
  connect(tree_, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item) { SelectApprover(item); });

  auto* buttons = new QGridLayout;
  const std::vector<std::pair<const char*, const char*>> phrases{
      {"逗号", "，"}, {"顿号", "、"}, {"阅", "阅"}, {"办", "办"}, {"阅处", "阅处"}, {"协办", "协办"}};
  int i = 0;
  for (const auto& [caption, phrase] : phrases) {
    auto* b = new QPushButton(QString::fromUtf8(caption), this);
    const AnsiString text = Utf8ToCp936(phrase);
    connect(b, &QPushButton::clicked, this, [this, text] { AppendPhrase(text); });
    buttons->addWidget(b, i / 3, i % 3);
    ++i;
  }
  auto* clear = new QPushButton(QString::fromUtf8("清空审批意见"), this);
  auto* ok = new QPushButton(QString::fromUtf8("确 定"), this);
  connect(clear, &QPushButton::clicked, this, &TPhrasePanel::Clear);
  connect(ok, &QPushButton::clicked, this, &TPhrasePanel::Close);

  auto* side = new QVBoxLayout;
  side->addWidget(selectedUser_);
  side->addLayout(buttons);
  side->addWidget(clear);
  side->addStretch();
  side->addWidget(ok);
  auto* row = new QHBoxLayout(this);
  row->addWidget(tree_, 1);
  row->addLayout(side);
}

void TPhrasePanel::LoadUserRecords(std::string_view reply) {
  std::vector<frames::UserRecord> users = frames::ParseUserListReply(reply);
  tree_->setUpdatesEnabled(false);
  for (const frames::UserRecord& u : users) FillUserTree(tree_, u, TUserFill{});
  tree_->setUpdatesEnabled(true);
  approvers_.insert(approvers_.end(), users.begin(), users.end());
}

void TPhrasePanel::SelectApprover(QTreeWidgetItem* item) {
  if (!item) return;
  const TUserNode* node = tree_->NodeAt(item);
  if (node->Data().kind == nkUser) selectedUser_->setText(ToQString(node->Caption()));
}

AnsiString TPhrasePanel::SelectedUser() const { return ToAnsi(selectedUser_->text()); }

void TPhrasePanel::AppendPhrase(const AnsiString& phrase) {
  const AnsiString memo = ToAnsi(memo_->toPlainText());
  memo_->setPlainText(ToQString(::AppendPhrase(memo, SelectedUser(), phrase)));
  selectedUser_->clear();
}

void TPhrasePanel::Clear() { memo_->clear(); }

void TPhrasePanel::Close() {
  hide();
  approvers_.clear();
  tree_->ClearNodes();
}
