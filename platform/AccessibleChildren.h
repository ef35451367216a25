#pragma once
// Child interfaces of a custom-painted widget. Qt's accessibility cache owns every interface
// that an id was handed out for, so the children are registered with it and stay alive as
// long as the parent's interface; each child looks its item up afresh on every call and
// answers as invalid once the item is gone.
#include <QAccessible>
#include <QAccessibleInterface>
#include <functional>
#include <map>
#include <set>

template <class Key>
class TAccessibleChildren {
 public:
  TAccessibleChildren() = default;
  TAccessibleChildren(const TAccessibleChildren&) = delete;
  TAccessibleChildren& operator=(const TAccessibleChildren&) = delete;
  ~TAccessibleChildren() { Clear(); }

  QAccessibleInterface* Get(const Key& key, const std::function<QAccessibleInterface*()>& make) {
    auto it = ids_.find(key);
    if (it != ids_.end())
      if (QAccessibleInterface* i = QAccessible::accessibleInterface(it->second)) return i;
    QAccessibleInterface* i = make();
    ids_[key] = QAccessible::registerAccessibleInterface(i);
    return i;
  }

  // Frees the children of items no longer shown once there are many of them, so that
  // scrolling through a long list does not pile them up.
  void Prune(const std::set<Key>& shown, size_t limit) {
    if (ids_.size() <= limit) return;
    for (auto it = ids_.begin(); it != ids_.end();) {
      if (shown.count(it->first)) {
        ++it;
        continue;
      }
      QAccessible::deleteAccessibleInterface(it->second);
      it = ids_.erase(it);
    }
  }

  void Clear() {
    for (const auto& [key, id] : ids_) QAccessible::deleteAccessibleInterface(id);
    ids_.clear();
  }
  size_t Size() const { return ids_.size(); }

 private:
  std::map<Key, QAccessible::Id> ids_;
};
