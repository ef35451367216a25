#include "flowchart/ui/fcEditObj.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "platform/QtText.h"

namespace {

const char* const kPositions[] = {"Top-Left", "Top", "Top-Right", "Left", "Center", "Right", "Bottom-Left", "Bottom", "Bottom-Right"};
const char* const kShapes[] = {"None", "Rectangle", "Ellipse", "Round Rect", "Diamond", "North Triangle",
                               "South Triangle", "East Triangle", "West Triangle", "Hexagon"};
const uint16_t kEdgeBits[] = {1, 2, 4, 8};
const uint16_t kBorderBits[] = {1, 2, 4, 8, 16, 0x800, 0x1000, 0x2000, 0x4000, 0x8000};

QComboBox* Combo(const char* const* items, int n, QWidget* parent) {
  auto* c = new QComboBox(parent);
  for (int i = 0; i < n; ++i) c->addItem(items[i]);
  return c;
}

}  // namespace

TFEditObject::TFEditObject(QWidget* parent) : QDialog(parent) {
  setWindowTitle("Edit Object");
  auto* top = new QVBoxLayout(this);
  pages = new QTabWidget(this);
  top->addWidget(pages);

  tsGeneral = new QWidget;
  auto* g = new QFormLayout(tsGeneral);
  memoText = new QPlainTextEdit(tsGeneral);
  cbTextPosition = Combo(kPositions, 9, tsGeneral);
  cbShapeStyle = Combo(kShapes, 10, tsGeneral);
  // Width and height are 16-bit, the line width 8-bit: larger values would wrap.
  seShapeWidth = new TFcNumberEdit(255, tsGeneral);
  seHeight = new TFcNumberEdit(65535, tsGeneral);
  seWidth = new TFcNumberEdit(65535, tsGeneral);
  sbFont = new QPushButton("Font...", tsGeneral);
  pColor = new TFcColorPanel(clBlack, tsGeneral);
  pBkColor = new TFcColorPanel(clWhite, tsGeneral);
  cbTransparent = new QCheckBox("Transparent", tsGeneral);
  g->addRow("Text", memoText);
  g->addRow("Text Position", cbTextPosition);
  g->addRow("Shape", cbShapeStyle);
  g->addRow("Line Width", seShapeWidth);
  g->addRow("Width", seWidth);
  g->addRow("Height", seHeight);
  g->addRow("Font", sbFont);
  g->addRow("Shape Color", pColor);
  g->addRow("BackGroud Color", pBkColor);
  g->addRow(cbTransparent);
  pages->addTab(tsGeneral, "General");

  tsImage = new QWidget;
  auto* im = new QVBoxLayout(tsImage);
  lwImage = new QListWidget(tsImage);
  lwImage->setViewMode(QListView::IconMode);
  lwImage->setIconSize(QSize(32, 32));
  btnClear = new QPushButton("Clear Image", tsImage);
  cbImagePosition = Combo(kPositions, 9, tsImage);
  im->addWidget(lwImage);
  im->addWidget(btnClear);
  im->addWidget(cbImagePosition);
  pages->addTab(tsImage, "Image");

  tsFrame = new QWidget;
  auto* fr = new QVBoxLayout(tsFrame);
  auto* edge = new QGroupBox(" Edge Style ", tsFrame);
  auto* el = new QGridLayout(edge);
  cbRaisedOut = new QCheckBox("Raised Outer", edge);
  cbSunkenOut = new QCheckBox("Sunken Outer", edge);
  cbRaisedIn = new QCheckBox("Raised Inner", edge);
  cbSunkenIn = new QCheckBox("Sunken Inner", edge);
  el->addWidget(cbRaisedOut, 0, 0);
  el->addWidget(cbSunkenOut, 0, 1);
  el->addWidget(cbRaisedIn, 1, 0);
  el->addWidget(cbSunkenIn, 1, 1);
  auto* border = new QGroupBox(" Border Style ", tsFrame);
  auto* bl = new QGridLayout(border);
  const char* names[] = {"Left", "Top", "Right", "Bottom", "Diagonal", "Middle", "Soft", "Adjust", "Flat", "Mono"};
  QCheckBox** boxes[] = {&cbLeft, &cbTop, &cbRight, &cbBottom, &cbDiag, &cbMiddle, &cbSoft, &cbAdjust, &cbFlat, &cbMono};
  for (int i = 0; i < 10; ++i) {
    *boxes[i] = new QCheckBox(names[i], border);
    bl->addWidget(*boxes[i], i / 2, i % 2);
  }
  fr->addWidget(edge);
  fr->addWidget(border);
  pages->addTab(tsFrame, "Frame");

  auto* buttons = new QDialogButtonBox(this);
  btnOK = buttons->addButton("OK", QDialogButtonBox::AcceptRole);
  btnCancel = buttons->addButton("Cancel", QDialogButtonBox::RejectRole);
  btnOK->setDefault(true);
  top->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  // Change marks: only what the user does sets them, never the filling.
  connect(memoText, &QPlainTextEdit::textChanged, this, [this] {
    if (!memoText->signalsBlocked()) Mark(memoText);
  });
  for (QComboBox* c : {cbTextPosition, cbShapeStyle, cbImagePosition})
    connect(c, &QComboBox::activated, this, [this, c] { Mark(c); });
  for (TFcNumberEdit* e : {seShapeWidth, seHeight, seWidth})
    connect(e, &QLineEdit::textEdited, this, [this, e] { Mark(e); });
  for (QCheckBox* c : {cbTransparent, cbRaisedOut, cbSunkenOut, cbRaisedIn, cbSunkenIn, cbLeft, cbTop, cbRight, cbBottom,
                       cbDiag, cbMiddle, cbSoft, cbAdjust, cbFlat, cbMono})
    connect(c, &QCheckBox::clicked, this, [this, c] { Mark(c); });
  connect(sbFont, &QPushButton::clicked, this, [this] {
    if (ChooseFont(font, this)) Mark(sbFont);
  });
  for (TFcColorPanel* p : {pColor, pBkColor})
    connect(p, &TFcColorPanel::Clicked, this, [this, p] {
      if (p->ChooseColor()) Mark(p);
    });
  connect(lwImage, &QListWidget::itemClicked, this, [this] { Mark(lwImage); });
  connect(btnClear, &QPushButton::clicked, this, [this] {
    lwImage->clearSelection();
    lwImage->setCurrentRow(-1);
    Mark(lwImage);
  });
}

std::vector<QWidget*> TFEditObject::Controls() const {
  return {memoText, cbTextPosition, cbShapeStyle, cbImagePosition, seShapeWidth, seHeight, seWidth, sbFont, pColor,
          pBkColor, cbTransparent, lwImage, cbRaisedOut, cbSunkenOut, cbRaisedIn, cbSunkenIn, cbLeft, cbTop, cbRight,
          cbBottom, cbDiag, cbMiddle, cbSoft, cbAdjust, cbFlat, cbMono};
}

void TFEditObject::Fill(TCustomFlowChart* chart, const TFcObject* o) {
  memoText->blockSignals(true);
  memoText->setPlainText(ToQString(o->Text()));
  memoText->blockSignals(false);
  cbTextPosition->setCurrentIndex(o->VertTextPos() * 3 + o->HorzTextPos());
  cbShapeStyle->setCurrentIndex(o->ShapeType() < 10 ? o->ShapeType() : -1);
  seShapeWidth->SetValue(o->LineWidth());
  seHeight->SetValue(o->Height());
  seWidth->SetValue(o->Width());
  font = o->Font();
  pColor->SetColor(o->ShapeColor());
  pBkColor->SetColor(o->BkColor());
  cbTransparent->setChecked(o->Transparent());
  lwImage->clear();
  if (TFcImageList* images = chart ? chart->Images() : nullptr) {
    for (int i = 0; i < images->Count(); ++i) lwImage->addItem(new QListWidgetItem(QIcon(images->Image(i)), QString::number(i)));
  }
  if (o->ImageIndex() >= 0 && o->ImageIndex() < lwImage->count()) lwImage->setCurrentRow(o->ImageIndex());
  cbImagePosition->setCurrentIndex(o->VertImagePos() * 3 + o->HorzImagePos());
  QCheckBox* edges[] = {cbRaisedOut, cbSunkenOut, cbRaisedIn, cbSunkenIn};
  for (int i = 0; i < 4; ++i) edges[i]->setChecked(o->EdgeFlags() & kEdgeBits[i]);
  QCheckBox* borders[] = {cbLeft, cbTop, cbRight, cbBottom, cbDiag, cbMiddle, cbSoft, cbAdjust, cbFlat, cbMono};
  for (int i = 0; i < 10; ++i) borders[i]->setChecked(o->BorderFlags() & kBorderBits[i]);
  for (QWidget* w : Controls()) SetControlTag(w, 0);
}

void TFEditObject::WriteTo(TFcObject* o) const {
  auto marked = [](const QObject* c) { return ControlTag(c) == 1; };
  if (marked(memoText)) o->SetText(ToAnsi(memoText->toPlainText()));
  if (marked(cbTextPosition) && cbTextPosition->currentIndex() >= 0)
    o->SetTextPos(static_cast<uint8_t>(cbTextPosition->currentIndex() % 3), static_cast<uint8_t>(cbTextPosition->currentIndex() / 3));
  if (marked(cbShapeStyle) && cbShapeStyle->currentIndex() >= 0) o->SetShapeType(static_cast<uint8_t>(cbShapeStyle->currentIndex()));
  if (marked(seShapeWidth)) o->SetLineWidth(static_cast<uint8_t>(seShapeWidth->Value()));
  if (marked(seHeight) || marked(seWidth))
    o->SetBounds(o->Left(), o->Top(), marked(seWidth) ? seWidth->Value() : o->Width(),
                 marked(seHeight) ? seHeight->Value() : o->Height());
  if (marked(sbFont)) o->SetFont(font);
  if (marked(pColor)) o->SetShapeColor(pColor->Color());
  if (marked(pBkColor)) o->SetBkColor(pBkColor->Color());
  if (marked(cbTransparent)) o->SetTransparent(cbTransparent->isChecked());
  if (marked(lwImage)) {
    const auto sel = lwImage->selectedItems();
    o->SetImageIndex(static_cast<int16_t>(sel.isEmpty() ? -1 : lwImage->row(sel.front())));
  }
  if (marked(cbImagePosition) && cbImagePosition->currentIndex() >= 0)
    o->SetImagePos(static_cast<uint8_t>(cbImagePosition->currentIndex() % 3), static_cast<uint8_t>(cbImagePosition->currentIndex() / 3));
  const QCheckBox* edges[] = {cbRaisedOut, cbSunkenOut, cbRaisedIn, cbSunkenIn};
  if (std::any_of(std::begin(edges), std::end(edges), marked)) {
    uint16_t v = 0;
    for (int i = 0; i < 4; ++i)
      if (edges[i]->isChecked()) v |= kEdgeBits[i];
    o->SetEdgeFlags(v);
  }
  const QCheckBox* borders[] = {cbLeft, cbTop, cbRight, cbBottom, cbDiag, cbMiddle, cbSoft, cbAdjust, cbFlat, cbMono};
  if (std::any_of(std::begin(borders), std::end(borders), marked)) {
    uint16_t v = 0;
    for (int i = 0; i < 10; ++i)
      if (borders[i]->isChecked()) v |= kBorderBits[i];
    o->SetBorderFlags(v);
  }
}

// Ends whatever mouse state the chart holds once the dialog's events are through, as the
// button release the dialog swallowed would have.
void EndChartMouseState(TCustomFlowChart* chart) {
  QPointer<TCustomFlowChart> c(chart);
  QTimer::singleShot(0, chart, [c] {
    if (c && c->DragKind() != dkNone) c->CancelDrag();
    if (c) c->MouseUp(-1, -1);
  });
}

bool EditObject(TCustomFlowChart* chart, TFcObject* object) {
  if (!chart || !object) return false;
  return RunPropertyDialog<TFEditObject>(
      chart, [&](TFEditObject& d) { d.Fill(chart, object); }, [chart] { return chart->ObjectCount(); },
      [chart](int i) { return chart->Objects(i); });
}
