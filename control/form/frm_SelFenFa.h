#pragma once
// "选择文件分发操作": distribute inside or send to outside units.
#include <QDialog>

class QPushButton;

class TfrmSelFenFa : public QDialog {
  Q_OBJECT

 public:
  enum Choice { ChoiceOutside = 0, ChoiceInternal = 1 };

  explicit TfrmSelFenFa(QWidget* parent = nullptr);
  // Marks the buttons of what this document already had.
  void Setup(bool distributed, bool sentOutside);
  int ChoiceFlag() const { return choice_; }

  QPushButton* FlatSpeedButton1() const { return internal_; }
  QPushButton* FlatSpeedButton2() const { return outside_; }

 private:
  QPushButton* internal_ = nullptr;
  QPushButton* outside_ = nullptr;
  int choice_ = ChoiceOutside;
};
