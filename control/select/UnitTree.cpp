#include "control/select/UnitTree.h"

#include <QPainter>
#include <QPixmap>
#include <array>

#include "platform/QtText.h"
#include "core/SysUtils.h"

TUserNode::TUserNode(TNodeData data, const AnsiString& caption, int image)
    : data_(std::move(data)), caption_(caption), image_(image) {
  setText(0, ToQString(caption));
  setIcon(0, NodeIcon(image));
}

TUserTree::TUserTree(QWidget* parent) : QTreeWidget(parent) {
  setHeaderHidden(true);
  setColumnCount(1);
  setUniformRowHeights(true);
}

std::string TUserTree::IndexKey(const AnsiString& key, uint8_t kind) {
  std::string k(1, static_cast<char>(kind));
  k += key;
  return k;
}

TUserNode* TUserTree::Find(const AnsiString& key, uint8_t kind) const {
  const auto it = index_.find(IndexKey(key, kind));
  return it == index_.end() ? nullptr : it->second;
}

TUserNode* TUserTree::AddNode(TUserNode* parent, TNodeData data, const AnsiString& caption, int image) {
  const std::string key = IndexKey(data.key, data.kind);
  auto* node = new TUserNode(std::move(data), caption, image);
  if (parent) {
    parent->addChild(node);
  } else {
    addTopLevelItem(node);
  }
  index_.try_emplace(key, node);
  ++count_;
  return node;
}

void TUserTree::Forget(QTreeWidgetItem* item) {
  for (int i = 0; i < item->childCount(); ++i) Forget(item->child(i));
  auto* node = NodeAt(item);
  const auto it = index_.find(IndexKey(node->Data().key, node->Data().kind));
  if (it != index_.end() && it->second == node) {
    index_.erase(it);
    // Another node with the same key (a user listed twice) takes the index place.
    for (QTreeWidgetItemIterator other(this); *other; ++other) {
      auto* n = NodeAt(*other);
      if (n != node && n->Data().key == node->Data().key && n->Data().kind == node->Data().kind) {
        QTreeWidgetItem* up = n;
        while (up && up != item) up = up->parent();
        if (!up) {
          index_.emplace(it->first, n);
          break;
        }
      }
    }
  }
  --count_;
}

void TUserTree::DeleteNode(TUserNode* node) {
  if (!node) return;
  Forget(node);
  delete node;
}

void TUserTree::ClearNodes() {
  clear();
  index_.clear();
  count_ = 0;
}

TUserNode* TUserTree::Selected() const {
  QTreeWidgetItem* item = currentItem();
  return item ? NodeAt(item) : nullptr;
}

std::vector<TUserNode*> TUserTree::Roots() const {
  std::vector<TUserNode*> roots;
  roots.reserve(topLevelItemCount());
  for (int i = 0; i < topLevelItemCount(); ++i) roots.push_back(NodeAt(topLevelItem(i)));
  return roots;
}

const QIcon& NodeIcon(int image) {
  static const std::array<QIcon, 4> icons = [] {
    const std::array<QColor, 4> colours{QColor(214, 160, 40), QColor(70, 130, 180), QColor(60, 150, 60),
                                        QColor(200, 50, 50)};
    std::array<QIcon, 4> made;
    for (size_t i = 0; i < made.size(); ++i) {
      QPixmap pm(16, 16);
      pm.fill(Qt::transparent);
      QPainter p(&pm);
      p.setRenderHint(QPainter::Antialiasing);
      p.setPen(colours[i].darker(150));
      p.setBrush(colours[i]);
      if (i < 2) {
        p.drawRect(2, 3, 11, 10);
      } else {
        p.drawEllipse(4, 1, 7, 7);
        p.drawRoundedRect(2, 9, 11, 6, 2, 2);
      }
      made[i] = QIcon(pm);
    }
    return made;
  }();
  return icons[image >= 0 && image < 4 ? image : niUser];
}

TUserNode* FindNode(const TUserTree* tree, const AnsiString& key, uint8_t kind) {
  return tree ? tree->Find(key, kind) : nullptr;
}

namespace {

std::vector<AnsiString> SplitNames(std::string_view text) {
  std::vector<AnsiString> names;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(',', start);
    if (end == std::string_view::npos) end = text.size();
    if (end > start) names.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  return names;
}

TUserNode* DepartmentNode(TUserTree* tree, TUserNode* unit, const frames::UserRecord& u) {
  const AnsiString key = IntToStr(u.deptNumber);
  if (TUserNode* dept = tree->Find(key, nkDepartment)) return dept;
  const AnsiString parentKey = IntToStr(u.parentDeptNumber);
  TUserNode* parent = u.parentDeptNumber != 0 ? tree->Find(parentKey, nkDepartment) : nullptr;
  return tree->AddNode(parent ? parent : unit, {key, parentKey, nkDepartment, {}}, u.deptName, niDepartment);
}

}  // namespace

void FillUserTree(TUserTree* tree, const frames::UserRecord& u, const TUserFill& fill) {
  const bool marked = fill.marker && fill.chosen;
  const int image = marked ? niMarked : niUser;
  if (fill.groupTree && !u.groupPages.empty()) {
    // The text starts with a comma; empty names between commas name no group.
    for (const AnsiString& name : SplitNames(std::string_view(u.groupPages).substr(1))) {
      TUserNode* group = fill.groupTree->Find(name, nkUnit);
      if (!group) group = fill.groupTree->AddNode(nullptr, {name, {}, nkUnit, {}}, name, niUnit);
      if (u.listUnderGroups)
        fill.groupTree->AddNode(group, {u.userId, {}, nkUser, u.groups}, u.unitName + "[" + u.userName + "]", image);
    }
  }
  if (tree) {
    const AnsiString unitKey = IntToStr(u.unitNumber);
    TUserNode* unit = tree->Find(unitKey, nkUnit);
    if (!unit) unit = tree->AddNode(nullptr, {unitKey, {}, nkUnit, {}}, u.unitName, niUnit);
    TUserNode* parent = unit;
    AnsiString caption = u.userName;
    if (fill.flat) {
      caption = u.deptName + "[" + u.userName + "]";
    } else if (!(u.deptName.empty() && u.deptNumber == 0)) {
      parent = DepartmentNode(tree, unit, u);
    }
    tree->AddNode(parent, {u.userId, {}, nkUser, u.groups}, caption, image);
  }
  if (marked && fill.chosenTree)
    fill.chosenTree->AddNode(nullptr, {u.userId, {}, nkUser, u.groups}, u.userName, niMarked);
}

void CollectUserNodes(QTreeWidgetItem* node, std::vector<TUserNode*>& out) {
  for (int i = 0; i < node->childCount(); ++i) {
    auto* child = static_cast<TUserNode*>(node->child(i));
    if (child->Data().kind == nkUser) out.push_back(child);
    CollectUserNodes(child, out);
  }
}
