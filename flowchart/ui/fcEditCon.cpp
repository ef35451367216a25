#include "flowchart/ui/fcEditCon.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QPlainTextEdit>
#include <QVBoxLayout>

#include "platform/QtText.h"
#include "flowchart/ui/fcEditObj.h"

TFEditConnection::TFEditConnection(QWidget* parent) : QDialog(parent) {
  setWindowTitle("Edit Connection");
  auto* top = new QVBoxLayout(this);
  auto* f = new QFormLayout;
  top->addLayout(f);
  MemoText = new QPlainTextEdit(this);
  sbFont = new QPushButton("Font...", this);
  pColor = new TFcColorPanel(clBlack, this);
  pBkColor = new TFcColorPanel(clBlack, this);
  const QStringList arrows = {"None", "Arrow", "Ellipse Arrow", "Rect Arrow"};
  cbSArrowStyle = new QComboBox(this);
  cbSArrowStyle->addItems(arrows);
  cbDArrowStyle = new QComboBox(this);
  cbDArrowStyle->addItems(arrows);
  // Arrow sizes are 8-bit and there are 16 linked points.
  seSArrowSize = new TFcNumberEdit(255, this);
  seDArrowSize = new TFcNumberEdit(255, this);
  seSPoint = new TFcNumberEdit(16, this);
  seDPoint = new TFcNumberEdit(16, this);
  f->addRow("Text", MemoText);
  f->addRow("Font", sbFont);
  f->addRow("Color", pColor);
  f->addRow("Arrows Color", pBkColor);
  f->addRow("Source Arrow", cbSArrowStyle);
  f->addRow("Source Arrow Size", seSArrowSize);
  f->addRow("Dest Arrow", cbDArrowStyle);
  f->addRow("Dest Arrow Size", seDArrowSize);
  f->addRow("Source Point", seSPoint);
  f->addRow("Dest Point", seDPoint);
  auto* buttons = new QDialogButtonBox(this);
  btnOK = buttons->addButton("OK", QDialogButtonBox::AcceptRole);
  btnCancel = buttons->addButton("Cancel", QDialogButtonBox::RejectRole);
  btnOK->setDefault(true);
  top->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  connect(MemoText, &QPlainTextEdit::textChanged, this, [this] {
    if (!MemoText->signalsBlocked()) SetControlTag(MemoText, 1);
  });
  for (QComboBox* c : {cbSArrowStyle, cbDArrowStyle})
    connect(c, &QComboBox::activated, this, [c] { SetControlTag(c, 1); });
  for (TFcNumberEdit* e : {seSArrowSize, seDArrowSize, seSPoint, seDPoint})
    connect(e, &QLineEdit::textEdited, this, [e] { SetControlTag(e, 1); });
  connect(sbFont, &QPushButton::clicked, this, [this] {
    if (ChooseFont(font, this)) SetControlTag(sbFont, 1);
  });
  for (TFcColorPanel* p : {pColor, pBkColor})
    connect(p, &TFcColorPanel::Clicked, this, [p] {
      if (p->ChooseColor()) SetControlTag(p, 1);
    });
}

std::vector<QWidget*> TFEditConnection::Controls() const {
  return {MemoText, sbFont, pColor, pBkColor, cbSArrowStyle, cbDArrowStyle, seSArrowSize, seDArrowSize, seSPoint, seDPoint};
}

void TFEditConnection::Fill(const TFcConnection* c) {
  MemoText->blockSignals(true);
  MemoText->setPlainText(ToQString(c->Text()));
  MemoText->blockSignals(false);
  font = c->Font();
  pColor->SetColor(c->Color());
  pBkColor->SetColor(c->SourceArrow().Color());
  cbSArrowStyle->setCurrentIndex(c->SourceArrow().ArrowType() < 4 ? c->SourceArrow().ArrowType() : -1);
  cbDArrowStyle->setCurrentIndex(c->DestArrow().ArrowType() < 4 ? c->DestArrow().ArrowType() : -1);
  seSArrowSize->SetValue(c->SourceArrow().Width());
  seDArrowSize->SetValue(c->DestArrow().Height());
  seSPoint->SetValue(c->SourcePoint() + 1);
  seDPoint->SetValue(c->DestPoint() + 1);
  for (QWidget* w : Controls()) SetControlTag(w, 0);
}

void TFEditConnection::WriteTo(TFcConnection* c) const {
  auto marked = [](const QObject* o) { return ControlTag(o) == 1; };
  if (marked(MemoText)) c->SetText(ToAnsi(MemoText->toPlainText()));
  if (marked(sbFont)) c->SetFont(font);
  if (marked(pColor)) c->SetColor(pColor->Color());
  if (marked(pBkColor)) {
    c->SourceArrow().SetColor(pBkColor->Color());
    c->DestArrow().SetColor(pBkColor->Color());
  }
  if (marked(cbSArrowStyle) && cbSArrowStyle->currentIndex() >= 0)
    c->SourceArrow().SetArrowType(static_cast<uint8_t>(cbSArrowStyle->currentIndex()));
  if (marked(cbDArrowStyle) && cbDArrowStyle->currentIndex() >= 0)
    c->DestArrow().SetArrowType(static_cast<uint8_t>(cbDArrowStyle->currentIndex()));
  if (marked(seSArrowSize)) {
    c->SourceArrow().SetWidth(static_cast<uint8_t>(seSArrowSize->Value()));
    c->SourceArrow().SetHeight(static_cast<uint8_t>(seSArrowSize->Value()));
  }
  if (marked(seDArrowSize)) {
    c->DestArrow().SetWidth(static_cast<uint8_t>(seDArrowSize->Value()));
    c->DestArrow().SetHeight(static_cast<uint8_t>(seDArrowSize->Value()));
  }
  if (marked(seSPoint)) c->SetSource(c->Source(), seSPoint->Value() - 1);
  if (marked(seDPoint)) c->SetDest(c->Dest(), seDPoint->Value() - 1);
}

bool EditConnection(TCustomFlowChart* chart, TFcConnection* connection) {
  if (!chart || !connection) return false;
  return RunPropertyDialog<TFEditConnection>(
      chart, [&](TFEditConnection& d) { d.Fill(connection); }, [chart] { return chart->ConnectionCount(); },
      [chart](int i) { return chart->Connections(i); });
}
