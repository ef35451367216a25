#pragma once
// Picks one of the chart's unions from a list.
#include <QDialog>

#include "flowchart/FcChart.h"

class QListWidget;
class QPushButton;

class TFSelectUnion : public QDialog {
  Q_OBJECT
 public:
  explicit TFSelectUnion(QWidget* parent = nullptr);
  QListWidget* lbUnions;
  QPushButton *btnOK, *btnCancel;
};

// The union's number among the chart's unions, from 1; 0 when it is none.
int UnionNumber(const TFcChart* chart, const TFcObject* u);
// "Union n" and, when the union has text, " ( text )".
AnsiString UnionCaption(const TFcChart* chart, const TFcObject* u);
// The unions the dialog lists: every union (mode 0), else the unions containing a selected
// object directly (the ones it can be removed from), each once, sorted by caption.
std::vector<TFcObject*> UnionChoices(const TFcChart* chart, int mode);
// The chosen union, or null when the user cancelled or chose nothing.
TFcObject* SelectUnionDialog(TFcChart* chart, int mode, QWidget* parent = nullptr);
