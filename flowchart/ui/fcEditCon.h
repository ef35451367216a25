#pragma once
// The connection property dialog: shows one connection and writes only the changed fields
// into every selected connection.
#include <QDialog>

#include "flowchart/ui/FlowChart.h"
#include "flowchart/ui/fcControls.h"

class QComboBox;
class QPlainTextEdit;

class TFEditConnection : public QDialog {
  Q_OBJECT
 public:
  explicit TFEditConnection(QWidget* parent = nullptr);
  void Fill(const TFcConnection* c);
  void WriteTo(TFcConnection* c) const;

  QPlainTextEdit* MemoText;
  QPushButton* sbFont;
  TFcColorPanel *pColor, *pBkColor;
  QComboBox *cbSArrowStyle, *cbDArrowStyle;
  TFcNumberEdit *seSArrowSize, *seDArrowSize, *seSPoint, *seDPoint;
  QPushButton *btnOK, *btnCancel;
  TFcFont font;

 private:
  std::vector<QWidget*> Controls() const;
};

bool EditConnection(TCustomFlowChart* chart, TFcConnection* connection);
