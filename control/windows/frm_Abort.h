#pragma once
// The about box: shown modally by ShowAbort, deletes itself when it closes.
#include <QDialog>

class QPushButton;

class TfrmAbort : public QDialog {
  Q_OBJECT
 public:
  explicit TfrmAbort(QWidget* owner = nullptr);
  ~TfrmAbort() override;

  static TfrmAbort* Current();

  static const char* LastModified();
  static const char* VersionNumber();

  QPushButton* Button1;

  void Button1Click();
};
