#include "flowchart/ui/fcSelUnion.h"

#include <QDialogButtonBox>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "platform/QtText.h"
#include "core/ScopeGuard.h"

TFSelectUnion::TFSelectUnion(QWidget* parent) : QDialog(parent) {
  setWindowTitle("Select Union");
  auto* top = new QVBoxLayout(this);
  lbUnions = new QListWidget(this);
  top->addWidget(lbUnions);
  auto* buttons = new QDialogButtonBox(this);
  btnOK = buttons->addButton("OK", QDialogButtonBox::AcceptRole);
  btnCancel = buttons->addButton("Cancel", QDialogButtonBox::RejectRole);
  top->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(lbUnions, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
}

int UnionNumber(const TFcChart* chart, const TFcObject* u) {
  int n = 0;
  for (int i = 0; i < chart->ObjectCount(); ++i) {
    const TFcObject* o = chart->Objects(i);
    if (!o->HasUnionChildren()) continue;
    ++n;
    if (o == u) return n;
  }
  return 0;
}

AnsiString UnionCaption(const TFcChart* chart, const TFcObject* u) {
  AnsiString s = "Union " + std::to_string(UnionNumber(chart, u));
  if (!u->Text().empty()) s += " ( " + u->Text() + " )";
  return s;
}

std::vector<TFcObject*> UnionChoices(const TFcChart* chart, int mode) {
  std::vector<TFcObject*> unions;
  for (int i = 0; i < chart->ObjectCount(); ++i)
    if (chart->Objects(i)->HasUnionChildren()) unions.push_back(chart->Objects(i));
  if (mode == 0) return unions;
  // Only the unions an object can be taken out of: those holding it directly. An outer
  // union holds it through an inner one, which is where it is removed from.
  std::vector<TFcObject*> out;
  for (TFcItem* it : chart->SelectedObjects()) {
    auto* o = static_cast<TFcObject*>(it);
    for (TFcObject* u : unions) {
      bool direct = false;
      for (int k = 0; k < u->UnionChildCount() && !direct; ++k) direct = u->GetUnionChild(k) == o;
      if (u != o && direct && std::find(out.begin(), out.end(), u) == out.end()) out.push_back(u);
    }
  }
  std::sort(out.begin(), out.end(), [chart](TFcObject* a, TFcObject* b) {
    return ToQString(UnionCaption(chart, a)) < ToQString(UnionCaption(chart, b));
  });
  return out;
}

// The parent window owns the dialog and may close for good during its modal loop, taking
// the dialog and the chart with it; otherwise the dialog is freed here.
TFcObject* SelectUnionDialog(TFcChart* chart, int mode, QWidget* parent) {
  const QPointer<QWidget> alive(parent);
  const QPointer<TFSelectUnion> dialog = new TFSelectUnion(parent);
  const auto release = ScopeExit([dialog] { delete dialog.data(); });
  const std::vector<TFcObject*> choices = UnionChoices(chart, mode);
  for (TFcObject* u : choices) dialog->lbUnions->addItem(ToQString(UnionCaption(chart, u)));
  const bool ok = dialog->exec() == QDialog::Accepted;
  if (!ok || !dialog || (parent && !alive)) return nullptr;
  const int row = dialog->lbUnions->currentRow();
  if (row < 0 || row >= static_cast<int>(choices.size()) || !dialog->lbUnions->currentItem()->isSelected()) return nullptr;
  return choices[static_cast<size_t>(row)];
}
