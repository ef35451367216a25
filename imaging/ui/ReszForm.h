#pragma once
// Asks for the new size of an image, and whether to resample it with a filter
// into another format.
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>

class TResizeForm : public QDialog {
 public:
  explicit TResizeForm(QWidget* parent = nullptr);
  QLineEdit* WidthFld;
  QLineEdit* HeightFld;
  QCheckBox* InterpolatedCB;
  QComboBox* FilterCB;
  QComboBox* DestFormatCB;

 private:
  void InterpolatedChanged();
  QLabel* filterLabel_;
  QLabel* formatLabel_;
};
