#pragma once
// Asks for the four margins to crop off an image.
#include <QDialog>
#include <QLineEdit>

class TCropForm : public QDialog {
 public:
  explicit TCropForm(QWidget* parent = nullptr);
  QLineEdit* LeftFld;
  QLineEdit* TopFld;
  QLineEdit* RightFld;
  QLineEdit* BottomFld;
};
