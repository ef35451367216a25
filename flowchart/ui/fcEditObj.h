#pragma once
// The object property dialog: shows one object's properties and writes only the fields the
// user changed into every selected object.
#include <QDialog>

#include "flowchart/ui/FlowChart.h"
#include "flowchart/ui/fcControls.h"

class QCheckBox;
class QComboBox;
class QListWidget;
class QPlainTextEdit;
class QTabWidget;

class TFEditObject : public QDialog {
  Q_OBJECT
 public:
  explicit TFEditObject(QWidget* parent = nullptr);

  // Shows the object's values with every change mark cleared.
  void Fill(TCustomFlowChart* chart, const TFcObject* object);
  // Writes the marked fields into the object.
  void WriteTo(TFcObject* object) const;

  QTabWidget* pages;
  QWidget *tsGeneral, *tsImage, *tsFrame;
  QPlainTextEdit* memoText;
  QComboBox *cbTextPosition, *cbShapeStyle, *cbImagePosition;
  TFcNumberEdit *seShapeWidth, *seHeight, *seWidth;
  QPushButton* sbFont;
  TFcColorPanel *pColor, *pBkColor;
  QCheckBox* cbTransparent;
  QListWidget* lwImage;
  QPushButton* btnClear;
  QCheckBox *cbRaisedOut, *cbSunkenOut, *cbRaisedIn, *cbSunkenIn;
  QCheckBox *cbLeft, *cbTop, *cbRight, *cbBottom, *cbDiag, *cbMiddle, *cbSoft, *cbAdjust, *cbFlat, *cbMono;
  QPushButton *btnOK, *btnCancel;
  TFcFont font;

 private:
  void Mark(QObject* o) { SetControlTag(o, 1); }
  std::vector<QWidget*> Controls() const;
};

// True when the user pressed OK and at least one object was selected.
bool EditObject(TCustomFlowChart* chart, TFcObject* object);
// Posts the end of any mouse state to the chart, after a dialog took the button release.
void EndChartMouseState(TCustomFlowChart* chart);
