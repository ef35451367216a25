#pragma once
// The distribution dialog: picks the users a document goes to, or, in recall mode, the
// users from whom it is taken back. Users who hold the document already show image 3.
#include "control/select/frm_SelectUser.h"

class TFrmFenFa : public TfrmSelectUser {
  Q_OBJECT

 public:
  explicit TFrmFenFa(QWidget* parent = nullptr);

  // "< 收回分发文件": switches to recall mode for the rest of the dialog's life.
  void EnterRecallMode();
  // The caller sends "FEFB" when true, else "FEFA".
  bool RecallMode() const { return recall_; }
  int SelectedCount() const { return chosen_->NodeCount(); }

 protected:
  void BuildTrees(std::span<const frames::UserRecord> added, const AnsiString& names, bool distribution) override;
  void ChosenChanged() override;

 private:
  void Confirm();

  QLabel* lblDelFenFa_ = nullptr;
  QLabel* lbSelectedCount_ = nullptr;
  QPushButton* btnHsff_ = nullptr;
  bool recall_ = false;
};
