#pragma once
// "选择用户": picks users from the server's user lists into the chosen list. Pages other
// than the unit's own are asked for on first activation (OnRequestList); their reply is
// loaded into the dialog that is already open (DeliverUserPage).
//
// Use: LoadUsers(reply, names to pre-select, false); exec(); on QDialog::Accepted read
// ChosenUsers() (or GetSelectedUsers into a fixed array).
#include <QDialog>
#include <array>
#include <deque>
#include <functional>
#include <span>
#include <string_view>
#include <vector>

#include "control/select/UnitTree.h"
#include "control/wire/Frames.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;

class TfrmSelectUser : public QDialog {
  Q_OBJECT

 public:
  // Page indexes of pgcUser.
  enum Page { pgSelf = 0, pgGroup, pgQuery, pgOther, pgOtherGroup, pgExpUnit, pgZhiShu, pgCount };

  explicit TfrmSelectUser(QWidget* parent = nullptr);
  ~TfrmSelectUser() override;

  // Reads a "USER" reply and adds its users; names is the comma-separated pre-selection.
  // A reply that does not parse raises frames::EFrameError and adds nothing.
  void LoadUsers(std::string_view reply, const AnsiString& names, bool distribution);
  void LoadUsers(std::vector<frames::UserRecord> users, const AnsiString& names, bool distribution);

  // Writes the chosen users into entries[start...] (ID and name, the rest zeroed) and
  // stops at the end of entries. Returns how many were written; names gets their captions
  // joined by ",".
  int GetSelectedUsers(int start, AnsiString& names, std::span<frames::PickedUser> entries) const;
  // The chosen users in list order.
  std::vector<frames::PickedUser> ChosenUsers() const;
  // Puts users chosen before (by ID and name) into "选中的用户"; an ID already there is skipped.
  void PreselectUsers(const std::vector<frames::PickedUser>& users);

  TUserTree* CurrentTree() const;
  TUserTree* Tree(Page p) const { return trees_[p]; }
  TUserTree* treSelectedUser() const { return chosen_; }
  QTabWidget* pgcUser() const { return pages_; }
  const std::vector<frames::UserRecord>& Users() const { return users_; }
  bool DistributionFlag() const { return distribution_; }

  // ">" (withChildren false) and ">>" / double click (true) on the current tree's node.
  void AddSelected(bool withChildren);
  void DeleteSelected();
  void DeleteAll();
  void Query(const AnsiString& text);

  // Sends the "USER" request for a list (the lazily loaded pages).
  std::function<void(int list)> OnRequestList;

  // The dialog on screen, if any.
  static TfrmSelectUser* OpenDialog();

 protected:
  virtual void BuildTrees(std::span<const frames::UserRecord> added, const AnsiString& names, bool distribution);
  void showEvent(QShowEvent* e) override;
  void hideEvent(QHideEvent* e) override;
  virtual void FormShow();
  // Adds a user to the chosen list unless it is there already.
  void AddChosen(const AnsiString& id, const AnsiString& caption, int image);
  virtual void ChosenChanged() {}
  void pgcUserChange(int index);

  std::array<TUserTree*, pgCount> trees_{};
  std::array<int, pgCount> tags_{};
  TUserTree* chosen_ = nullptr;
  QTabWidget* pages_ = nullptr;
  QLineEdit* edtQuery_ = nullptr;
  QLabel* lblSelect_ = nullptr;
  QLabel* lblSelectCaption_ = nullptr;
  QPushButton* btnOk_ = nullptr;
  QWidget* buttonColumn_ = nullptr;
  std::vector<frames::UserRecord> users_;
  std::deque<int> awaitedPages_;  // lazy pages asked for, in the order their replies come
  bool shown_ = false;
  bool distribution_ = false;
};

// Hands a "USER" reply to the open selection dialog; false when none is open.
bool DeliverUserPage(std::string_view reply);
