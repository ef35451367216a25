#pragma once
// Print options: the page range and how large the image prints.
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>

class TPrintOptionForm : public QDialog {
  Q_OBJECT

 public:
  explicit TPrintOptionForm(QWidget* parent = nullptr);
  // 1 fit page, 0 original size, 5 stretch, 4 given width and height.
  int GetPrintSize() const;

  QRadioButton* PrintAll;
  QRadioButton* PrintFrom;
  QLineEdit* edt_PageBegin;
  QLineEdit* edt_PageEnd;
  QRadioButton* FullPageRB;
  QRadioButton* OriginalSizeRB;
  QRadioButton* StetchToPageRB;
  QRadioButton* SpecificWidthAndHeightRB;
  // The width and height fields with their up-down controls (1 to 24 inches).
  QSpinBox* WidthFld;
  QSpinBox* HeightFld;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void SizeChoiceChanged();
  QLabel* widthLabel_;
  QLabel* heightLabel_;
};
