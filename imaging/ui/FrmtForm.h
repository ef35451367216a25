#pragma once
// Asks for the image format to convert to; the current format is not offered.
#include <QCheckBox>
#include <QDialog>
#include <QRadioButton>

class TFormatConversionForm : public QDialog {
 public:
  explicit TFormatConversionForm(QWidget* parent = nullptr);
  void SetImageFormat(int format);
  // The first checked format, true colour when none of the others is.
  int GetImageFormat() const;

  QRadioButton* BlackWhiteRB;
  QRadioButton* Gray16RB;
  QRadioButton* Gray256RB;
  QRadioButton* Color16RB;
  QRadioButton* Color256RB;
  QRadioButton* TrueColorRB;
  QCheckBox* DitherCB;
  QCheckBox* QuantizeCB;

 private:
  QRadioButton* Button(int format) const;
};
