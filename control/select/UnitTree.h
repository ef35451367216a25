#pragma once
// The user trees of the selection dialogs. Each node owns its data (key, second text,
// kind, third text) and knows its image; a tree keeps an index of its nodes by key and
// kind, so that finding a unit, department or user stays cheap in trees of thousands.
#include <QTreeWidget>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "control/wire/Frames.h"
#include "core/AnsiString.h"

enum TNodeKind : uint8_t { nkUnit = 0, nkDepartment = 1, nkUser = 2, nkGroup = 3 };
// Node images: unit or group, department, user, user already marked (distributed).
enum TNodeImage : int { niUnit = 0, niDepartment = 1, niUser = 2, niMarked = 3 };

struct TNodeData {
  AnsiString key;
  AnsiString second;
  uint8_t kind = nkUnit;
  AnsiString third;
};

class TUserNode : public QTreeWidgetItem {
 public:
  TUserNode(TNodeData data, const AnsiString& caption, int image);
  const TNodeData& Data() const { return data_; }
  const AnsiString& Caption() const { return caption_; }
  int ImageIndex() const { return image_; }

 private:
  TNodeData data_;
  AnsiString caption_;
  int image_;
};

class TUserTree : public QTreeWidget {
 public:
  explicit TUserTree(QWidget* parent = nullptr);

  // The first node added with this key and kind, or null.
  TUserNode* Find(const AnsiString& key, uint8_t kind) const;
  // Adds a node under parent (a root node when parent is null).
  TUserNode* AddNode(TUserNode* parent, TNodeData data, const AnsiString& caption, int image);
  // Deletes a node and everything beneath it.
  void DeleteNode(TUserNode* node);
  void ClearNodes();

  TUserNode* NodeAt(QTreeWidgetItem* item) const { return static_cast<TUserNode*>(item); }
  TUserNode* Selected() const;
  std::vector<TUserNode*> Roots() const;
  int NodeCount() const { return static_cast<int>(count_); }

 private:
  void Forget(QTreeWidgetItem* item);
  static std::string IndexKey(const AnsiString& key, uint8_t kind);
  std::unordered_map<std::string, TUserNode*> index_;
  size_t count_ = 0;
};

// The icon shown for a node image.
const QIcon& NodeIcon(int image);

TUserNode* FindNode(const TUserTree* tree, const AnsiString& key, uint8_t kind);

struct TUserFill {
  TUserTree* chosenTree = nullptr;  // gets the user too when marker and chosen are both set
  bool flat = false;                // department and user in one caption under the unit
  bool marker = false;
  bool chosen = false;
  TUserTree* groupTree = nullptr;   // lists the user under its group-page names
};

// Adds one user to tree (may be null when only the group tree takes it).
void FillUserTree(TUserTree* tree, const frames::UserRecord& user, const TUserFill& fill);

// Every user node beneath node, in tree order.
void CollectUserNodes(QTreeWidgetItem* node, std::vector<TUserNode*>& out);
