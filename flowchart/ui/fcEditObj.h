#pragma once
// The object property dialog: shows one object's properties and writes only the fields the
// user changed into every selected object.
#include <QDialog>
#include <QPointer>

#include "core/ScopeGuard.h"
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

// Runs a property dialog of the chart's window, then writes it into every selected item
// (at(i) for i below count()). The window owns the dialog and may close for good during
// its modal loop, taking the dialog and the chart with it; otherwise the dialog is freed
// here. True when the user pressed OK and at least one item was selected.
template <typename Dialog, typename Fill, typename Count, typename At>
bool RunPropertyDialog(TCustomFlowChart* chart, Fill fill, Count count, At at) {
  const QPointer<TCustomFlowChart> alive(chart);
  const QPointer<Dialog> dialog = new Dialog(chart->window());
  const auto release = ScopeExit([dialog] { delete dialog.data(); });
  fill(*dialog);
  const bool ok = dialog->exec() == QDialog::Accepted;
  if (!alive || !dialog) return false;
  bool any = false;
  if (ok) {
    chart->BeginUpdate();
    for (int i = 0; i < count(); ++i) {
      auto* item = at(i);
      if (!item->Selected()) continue;
      any = true;
      dialog->WriteTo(item);
    }
    chart->EndUpdate();
  }
  EndChartMouseState(chart);
  return ok && any;
}
