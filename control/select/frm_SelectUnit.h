#pragma once
// "单位选择": picks the outside units a document is sent to.
#include <QDialog>
#include <string_view>
#include <vector>

#include "control/select/UnitTree.h"
#include "control/wire/Frames.h"

class QLineEdit;
class QTabWidget;

class TfrmSelectUnit : public QDialog {
  Q_OBJECT

 public:
  explicit TfrmSelectUnit(QWidget* parent = nullptr);

  // Reads a "COMP" reply; a unit already in the tree is not added twice. A reply that
  // does not parse raises frames::EFrameError and adds nothing.
  void LoadUnits(std::string_view reply);

  void AddSelected();  // ">" and a double click
  void AddAll();       // ">>"
  void DeleteSelected();
  void DeleteAll();
  void Query(const AnsiString& text);

  // The chosen units in list order.
  std::vector<frames::UnitRecord> ChosenUnits() const;

  TUserTree* treSelf() const { return self_; }
  TUserTree* treQuery() const { return query_; }
  TUserTree* treSelected() const { return selected_; }
  QTabWidget* Pages() const { return pages_; }

 private:
  TUserTree* ActiveTree() const;
  void AddUnit(const TUserNode* node);

  QTabWidget* pages_ = nullptr;
  TUserTree* self_ = nullptr;
  TUserTree* query_ = nullptr;
  TUserTree* selected_ = nullptr;
  QLineEdit* edtQuery_ = nullptr;
  std::vector<frames::UnitRecord> units_;
};
