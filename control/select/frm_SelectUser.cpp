#include "control/select/frm_SelectUser.h"

#include <QBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTabWidget>
#include <algorithm>

#include "control/session/ReplyWindows.h"
#include "platform/QtText.h"
#include "core/SysUtils.h"

namespace {

QPointer<TfrmSelectUser>& OpenRef() {
  static QPointer<TfrmSelectUser> open;
  return open;
}

// The chosen list draws its selected item as a framed band with black text.
class ChosenDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QStyleOptionViewItem o(option);
    const bool selected = o.state & QStyle::State_Selected;
    o.state &= ~QStyle::State_Selected;
    if (selected) {
      p->save();
      p->setPen(QColor(0xA0, 0x95, 0x83));    // 8623776 as the desktop writes colours
      p->setBrush(QColor(0xF7, 0xDE, 0x9C));  // 10280695
      p->drawRect(o.rect.adjusted(1, 1, -2, -2));
      p->restore();
      o.palette.setColor(QPalette::Text, Qt::black);
      o.backgroundBrush = Qt::NoBrush;
    }
    QStyledItemDelegate::paint(p, o, index);
  }
};

QPushButton* Button(const char* text, const char* hint, QWidget* parent) {
  auto* b = new QPushButton(QString::fromUtf8(text), parent);
  if (hint) b->setToolTip(QString::fromUtf8(hint));
  return b;
}

}  // namespace

TfrmSelectUser::TfrmSelectUser(QWidget* parent) : QDialog(parent) {
  UserPageSink() = &DeliverUserPage;
  setWindowTitle(QString::fromUtf8("选择用户"));
  resize(620, 460);
  pages_ = new QTabWidget(this);
  const std::array<const char*, pgCount> captions{"本单位用户", "分组用户", "用户查询", "外单位",
                                                   "外单位分组", "局机关", "直属"};
  // Lazy pages: 100 + list number until loaded, then + 10. The "直属" page asks for its
  // own list (3); asking for list 1 would fill "局机关" a second time instead.
  tags_ = {110, 105, 0, 102, 104, 101, 103};
  for (int i = 0; i < pgCount; ++i) {
    trees_[i] = new TUserTree(pages_);
    pages_->addTab(trees_[i], QString::fromUtf8(captions[i]));
    connect(trees_[i], &QTreeWidget::itemDoubleClicked, this, [this] { AddSelected(true); });
  }
  pages_->setTabVisible(pgQuery, false);
  // Every page's tab stays in sight; the dialog is as wide as they need.
  pages_->setUsesScrollButtons(false);
  connect(pages_, &QTabWidget::currentChanged, this, &TfrmSelectUser::pgcUserChange);

  chosen_ = new TUserTree(this);
  chosen_->setItemDelegate(new ChosenDelegate(chosen_));
  QFont f = chosen_->font();
  f.setPixelSize(14);
  chosen_->setFont(f);
  chosen_->setRootIsDecorated(false);

  buttonColumn_ = new QWidget(this);
  auto* col = new QVBoxLayout(buttonColumn_);
  QPushButton* add = Button(">", "添加", buttonColumn_);
  QPushButton* addAll = Button(">>", "添加部门人员", buttonColumn_);
  QPushButton* del = Button("<", "删除", buttonColumn_);
  QPushButton* delAll = Button("<<", "删除选中用户", buttonColumn_);
  add->setObjectName("Btn_Add");
  addAll->setObjectName("Btn_SelAll");
  del->setObjectName("Btn_Del");
  delAll->setObjectName("Btn_DelAll");
  col->addStretch();
  for (QPushButton* b : {add, addAll, del, delAll}) col->addWidget(b);
  col->addStretch();
  connect(add, &QPushButton::clicked, this, [this] { AddSelected(false); });
  connect(addAll, &QPushButton::clicked, this, [this] { AddSelected(true); });
  connect(del, &QPushButton::clicked, this, &TfrmSelectUser::DeleteSelected);
  connect(delAll, &QPushButton::clicked, this, &TfrmSelectUser::DeleteAll);

  lblSelectCaption_ = new QLabel(QString::fromUtf8("请选择用户"), this);
  lblSelect_ = new QLabel(QString::fromUtf8("选中的用户"), this);
  auto* right = new QVBoxLayout;
  right->addWidget(lblSelect_);
  right->addWidget(chosen_);

  auto* trees = new QHBoxLayout;
  trees->addWidget(pages_, 3);
  trees->addWidget(buttonColumn_);
  trees->addLayout(right, 2);

  edtQuery_ = new QLineEdit(this);
  QPushButton* query = Button("查询", nullptr, this);
  query->setObjectName("btnQuery");
  connect(query, &QPushButton::clicked, this, [this] { Query(ToAnsi(edtQuery_->text())); });
  btnOk_ = Button("确定", nullptr, this);
  btnOk_->setObjectName("BitBtn1");
  QPushButton* back = Button("返回", nullptr, this);
  back->setObjectName("BitBtn2");
  connect(btnOk_, &QPushButton::clicked, this, &QDialog::accept);
  connect(back, &QPushButton::clicked, this, &QDialog::reject);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(lblSelectCaption_);
  bottom->addWidget(edtQuery_);
  bottom->addWidget(query);
  bottom->addStretch();
  bottom->addWidget(btnOk_);
  bottom->addWidget(back);

  auto* main = new QVBoxLayout(this);
  main->addLayout(trees);
  main->addLayout(bottom);
}

TfrmSelectUser::~TfrmSelectUser() = default;

TfrmSelectUser* TfrmSelectUser::OpenDialog() { return OpenRef().data(); }

void TfrmSelectUser::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  OpenRef() = this;
  if (!shown_) {
    shown_ = true;
    FormShow();
  }
}

void TfrmSelectUser::hideEvent(QHideEvent* e) {
  if (OpenRef() == this) OpenRef() = nullptr;
  shown_ = false;
  QDialog::hideEvent(e);
}

void TfrmSelectUser::FormShow() {
  const QSignalBlocker block(pages_);
  pages_->setCurrentIndex(pgSelf);
  for (Page p : {pgSelf, pgExpUnit})
    if (QTreeWidgetItem* first = trees_[p]->topLevelItem(0)) first->setExpanded(true);
  for (QTreeWidgetItem* root : trees_[pgOther]->Roots()) root->setExpanded(true);
  TUserTree* zhishu = trees_[pgZhiShu];
  if (zhishu && zhishu->topLevelItemCount() > 0) {
    pages_->setTabVisible(pgZhiShu, true);
    tags_[pgZhiShu] = 113;
    for (QTreeWidgetItem* root : zhishu->Roots()) root->setExpanded(true);
  } else if (zhishu) {
    pages_->setTabVisible(pgZhiShu, false);
  }
}

void TfrmSelectUser::LoadUsers(std::string_view reply, const AnsiString& names, bool distribution) {
  LoadUsers(frames::ParseUserListReply(reply), names, distribution);
}

void TfrmSelectUser::LoadUsers(std::vector<frames::UserRecord> users, const AnsiString& names, bool distribution) {
  // One repaint for the whole reply, not one per node.
  distribution_ = distribution;
  setUpdatesEnabled(false);
  const size_t first = users_.size();
  users_.insert(users_.end(), std::make_move_iterator(users.begin()), std::make_move_iterator(users.end()));
  BuildTrees(std::span<const frames::UserRecord>(users_).subspan(first), names, distribution);
  // "局机关" is a page only when the unit has such users; until its list came, nobody knew.
  if (!awaitedPages_.empty()) {
    const int page = awaitedPages_.front();
    awaitedPages_.pop_front();
    if (page == pgExpUnit && trees_[pgExpUnit]->topLevelItemCount() == 0) {
      if (pages_->currentIndex() == pgExpUnit) pages_->setCurrentIndex(pgSelf);
      pages_->setTabVisible(pgExpUnit, false);
    }
  }
  setUpdatesEnabled(true);
  ChosenChanged();
}

void TfrmSelectUser::BuildTrees(std::span<const frames::UserRecord> added, const AnsiString& names,
                                bool distribution) {
  std::vector<AnsiString> wanted;
  for (size_t start = 0; start <= names.size();) {
    size_t end = names.find(',', start);
    if (end == AnsiString::npos) end = names.size();
    if (end > start) wanted.push_back(names.substr(start, end - start));
    start = end + 1;
  }
  auto isWanted = [&](const AnsiString& n) { return std::find(wanted.begin(), wanted.end(), n) != wanted.end(); };
  for (const frames::UserRecord& u : added) {
    TUserFill fill;
    fill.chosenTree = chosen_;
    fill.marker = u.marker != 0;
    fill.chosen = distribution;
    TUserTree* tree = nullptr;
    switch (u.listKind) {
      case 0:
        tree = trees_[pgSelf];
        if (isWanted(u.userName)) fill.marker = fill.chosen = true;
        break;
      case 1: tree = trees_[pgExpUnit]; break;
      case 2:
        tree = trees_[pgOther];
        if (isWanted(u.deptName + "[" + u.userName + "]")) fill.marker = fill.chosen = true;
        break;
      case 3: tree = trees_[pgZhiShu]; break;
      case 4: fill.groupTree = trees_[pgOtherGroup]; break;
      case 5: tree = trees_[pgGroup]; break;
      default: continue;  // a list this dialog has no page for
    }
    if (fill.marker && fill.chosen && chosen_->Find(u.userId, nkUser)) fill.chosenTree = nullptr;
    FillUserTree(tree, u, fill);
  }
  trees_[pgSelf]->scrollToTop();
}

void TfrmSelectUser::pgcUserChange(int index) {
  if (index < 0 || index >= pgCount) return;
  int& tag = tags_[index];
  if (tag < 100 || tag > 109) return;
  tag += 10;
  if (!OnRequestList) return;
  awaitedPages_.push_back(index);
  OnRequestList(tag - 110);
}

TUserTree* TfrmSelectUser::CurrentTree() const {
  switch (pages_->currentIndex()) {
    case 0: return trees_[pgSelf];
    case 1: return trees_[pgGroup];
    case 2: return trees_[pgQuery];
    case 3: return trees_[pgOther];
    case 4: return trees_[pgOtherGroup];
    case 6: return trees_[pgZhiShu];
    default: return trees_[pgExpUnit];
  }
}

void TfrmSelectUser::AddChosen(const AnsiString& id, const AnsiString& caption, int image) {
  if (chosen_->Find(id, nkUser)) return;
  chosen_->AddNode(nullptr, {id, {}, nkUser, {}}, caption, image);
}

void TfrmSelectUser::PreselectUsers(const std::vector<frames::PickedUser>& users) {
  for (const frames::PickedUser& u : users)
    if (!u.userId.empty()) AddChosen(u.userId, u.userName, niMarked);
  ChosenChanged();
}

void TfrmSelectUser::AddSelected(bool withChildren) {
  TUserNode* node = CurrentTree()->Selected();
  if (!node) return;
  const TNodeData& d = node->Data();
  if (d.kind == nkGroup) {
    const AnsiString needle = "," + d.key + ",";
    for (const frames::UserRecord& u : users_)
      if (u.groups.find(needle) != AnsiString::npos) AddChosen(u.userId, u.userName, niUser);
  } else if (d.kind == nkUser) {
    AddChosen(d.key, node->Caption(), node->ImageIndex());
  } else if (withChildren) {
    std::vector<TUserNode*> found;
    CollectUserNodes(node, found);
    for (TUserNode* u : found) AddChosen(u->Data().key, u->Caption(), u->ImageIndex());
  }
  ChosenChanged();
}

void TfrmSelectUser::DeleteSelected() {
  chosen_->DeleteNode(chosen_->Selected());
  ChosenChanged();
}

void TfrmSelectUser::DeleteAll() {
  chosen_->ClearNodes();
  ChosenChanged();
}

void TfrmSelectUser::Query(const AnsiString& text) {
  // Blanks ask for nothing: the last result stays.
  const AnsiString needle = Trim(text);
  if (needle.empty()) return;
  TUserTree* tree = trees_[pgQuery];
  tree->ClearNodes();
  for (const frames::UserRecord& u : users_) {
    if (u.loginName.find(needle) == AnsiString::npos && u.userName.find(needle) == AnsiString::npos) continue;
    if (tree->Find(u.userId, nkUser)) continue;  // a user on several pages is found once
    tree->AddNode(nullptr, {u.userId, {}, nkUser, u.groups}, u.userName, niUser);
  }
  pages_->setTabVisible(pgQuery, true);
  pages_->setCurrentIndex(pgQuery);
}

int TfrmSelectUser::GetSelectedUsers(int start, AnsiString& names, std::span<frames::PickedUser> entries) const {
  names.clear();
  int written = 0;
  for (TUserNode* node : chosen_->Roots()) {
    const size_t at = static_cast<size_t>(start + written);
    if (start < 0 || at >= entries.size()) break;  // the caller's array is full
    entries[at] = frames::PickedUser{node->Data().key, node->Caption(), 0, {}};
    if (written > 0) names += ",";
    names += node->Caption();
    ++written;
  }
  return written;
}

std::vector<frames::PickedUser> TfrmSelectUser::ChosenUsers() const {
  std::vector<frames::PickedUser> out;
  for (TUserNode* node : chosen_->Roots()) out.push_back({node->Data().key, node->Caption(), 0, {}});
  return out;
}

bool DeliverUserPage(std::string_view reply) {
  TfrmSelectUser* open = TfrmSelectUser::OpenDialog();
  if (!open) return false;
  open->LoadUsers(reply, {}, open->DistributionFlag());
  return true;
}
