#pragma once
// The approval opinion: the line written into the opinion cell, the phrase menu and the
// phrase panel with its approver tree. The document form owns the memo and the cell;
// these helpers say what goes into them.
#include <QFrame>
#include <functional>
#include <string_view>
#include <vector>

#include "control/select/UnitTree.h"
#include "control/wire/Class_StoExcel.h"
#include "core/DateTime.h"

class QLabel;
class QMenu;
class QTextEdit;

// "YYYY-MM-DD hh:mm" user name "：" memo.
AnsiString OpinionLine(TDateTime now, const AnsiString& userName, const AnsiString& memo);
// The opinion cell: the earlier opinions, "\r", then the line; the line alone when none.
AnsiString OpinionCellText(const AnsiString& earlier, const AnsiString& line);
// A phrase picked from the menu: memo "，" phrase, or the phrase alone.
AnsiString AddMenuPhrase(const AnsiString& memo, const AnsiString& phrase);
// A phrase button of the panel: an empty memo starts with "请", then the chosen approver
// and the phrase follow.
AnsiString AppendPhrase(const AnsiString& memo, const AnsiString& approver, const AnsiString& phrase);
// The phrase items in menu order: ungrouped phrases, "-", grouped phrases.
std::vector<AnsiString> PhraseMenuTexts(const std::vector<TOpinionPhrase>& phrases);
// Inserts the phrase items into ppmSP after its first two items ("签名" and a separator);
// each runs onPhrase with its text.
void BuildPhraseMenu(QMenu* ppmSP, const std::vector<TOpinionPhrase>& phrases,
                     const std::function<void(const AnsiString&)>& onPhrase);

// pnlSP: the approver tree and the phrase buttons acting on the form's memo.
class TPhrasePanel : public QFrame {
 public:
  TPhrasePanel(QTextEdit* memo, QWidget* parent);

  // A mode-0 "USER" reply: the approvers. Raises frames::EFrameError and changes
  // nothing when it does not parse.
  void LoadUserRecords(std::string_view reply);
  void SelectApprover(QTreeWidgetItem* item);  // treSPClick
  void AppendPhrase(const AnsiString& phrase);
  void Clear();                                // "清空审批意见"
  void Close();                                // "确 定"

  TUserTree* treSP() const { return tree_; }
  AnsiString SelectedUser() const;
  const std::vector<frames::UserRecord>& Approvers() const { return approvers_; }

 private:
  QTextEdit* memo_;
  TUserTree* tree_;
  QLabel* selectedUser_;
  std::vector<frames::UserRecord> approvers_;
};
