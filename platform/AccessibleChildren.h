#pragma once
// Child interfaces of a custom-painted widget. Qt's accessibility cache owns every interface
// that an id was handed out for, so the children are registered with it and stay alive as
// long as the parent's interface; each child looks its item up afresh on every call and
// answers as invalid once the item is gone.
#include <QAccessible>
#include <QAccessibleInterface>
#include <QPointer>
#include <QWidget>
#include <QWindow>
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

// Keeps a factory installed while widgets that need it exist, so that none is left behind
// when the library holding it is unloaded.
class TAccessibleFactoryUse {
 public:
  explicit TAccessibleFactoryUse(QAccessible::InterfaceFactory factory) : factory_(factory) {}
  void Add() {
    if (live_++ == 0) QAccessible::installFactory(factory_);
  }
  void Remove() {
    if (--live_ == 0) QAccessible::removeFactory(factory_);
  }

 private:
  QAccessible::InterfaceFactory factory_;
  int live_ = 0;
};

// A painted item of a widget, with no children of its own; the widget may go first.
template <class Owner>
class TAccessibleItem : public QAccessibleInterface {
 public:
  TAccessibleItem(Owner* owner, QAccessible::Role role) : owner_(owner), role_(role) {}
  QObject* object() const override { return nullptr; }
  QWindow* window() const override { return owner_ ? owner_->window()->windowHandle() : nullptr; }
  QAccessibleInterface* parent() const override {
    return owner_ ? QAccessible::queryAccessibleInterface(owner_.data()) : nullptr;
  }
  QAccessibleInterface* child(int) const override { return nullptr; }
  int childCount() const override { return 0; }
  int indexOfChild(const QAccessibleInterface*) const override { return -1; }
  QAccessibleInterface* childAt(int, int) const override { return nullptr; }
  QAccessible::Role role() const override { return role_; }
  void setText(QAccessible::Text, const QString&) override {}

 protected:
  QPointer<Owner> owner_;

 private:
  QAccessible::Role role_;
};
