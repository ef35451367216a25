#pragma once

#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QWidget>

#include "core/QtText.h"
#include "grid/XLPaint.h"
#include "grid/XLSections.h"
#include "grid/XLSheet.h"
#include "grid/ui/XLQtCanvas.h"

// The sheet on the form until the grid view takes its place: paints the client cells,
// keeps a current cell and edits its text in place.
class TFormSheetView : public QWidget {
 public:
  explicit TFormSheetView(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::StrongFocus);
    editor_ = new QLineEdit(this);
    editor_->hide();
    connect(editor_, &QLineEdit::returnPressed, this, [this] { RefreshEditor(); });
  }
  void SetSheet(TXLSheet* s) {
    sheet_ = s;
    update();
  }
  TPoint GetCurCell() const { return cur_; }
  bool SetCurCell(int32_t col, int32_t row) {
    if (!sheet_ || col < 0 || row < 0 || col >= sheet_->ColCount() || row >= sheet_->RowCount()) return false;
    RefreshEditor();
    cur_ = TPoint{col, row};
    update();
    return true;
  }
  bool AnyCellSelect() const { return anyCellSelect_; }
  void SetAnyCellSelect(bool v) { anyCellSelect_ = v; }
  // Writes a pending edit back into its cell, only when the text changed.
  void RefreshEditor() {
    if (!editor_->isVisible() || !sheet_) return;
    editor_->hide();
    const AnsiString text = ToAnsi(editor_->text());
    if (text != sheet_->GetAsString(editCell_.X, editCell_.Y)) sheet_->SetAsString(editCell_.X, editCell_.Y, text);
    update();
  }
  // Starts editing the current cell with text, as typing into it does.
  bool TypeText(const QString& text) {
    if (!Editable(cur_)) return false;
    editCell_ = cur_;
    editor_->setGeometry(CellRect(cur_));
    editor_->setText(text);
    editor_->show();
    editor_->setFocus();
    return true;
  }
  QRect CellRect(TPoint c) const {
    int x = 0, y = 0;
    for (int32_t i = 0; i < c.X; ++i) x += sheet_->GetRealSize(i, sCols);
    for (int32_t i = 0; i < c.Y; ++i) y += sheet_->GetRealSize(i, sRows);
    return QRect(x, y, sheet_->GetRealSize(c.X, sCols), sheet_->GetRealSize(c.Y, sRows));
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    if (!sheet_) return;
    TXLQtCanvas canvas(p, rect());
    TXLPaintContext ctx;
    ctx.Canvas = &canvas;
    TXLSection* client = sheet_->Section(sClient);
    ctx.Range = client->Bounds();
    ctx.Origin = TPoint{0, 0};
    client->Paint(ctx);
    if (cur_.X >= 0) {
      p.setPen(QPen(Qt::black, 2));
      p.drawRect(CellRect(cur_).adjusted(1, 1, -1, -1));
    }
  }
  void mousePressEvent(QMouseEvent* e) override {
    if (!sheet_) return;
    int x = 0;
    for (int32_t c = 0; c < sheet_->ColCount(); x += sheet_->GetRealSize(c++, sCols)) {
      if (e->position().x() >= x + sheet_->GetRealSize(c, sCols)) continue;
      int y = 0;
      for (int32_t r = 0; r < sheet_->RowCount(); y += sheet_->GetRealSize(r++, sRows))
        if (e->position().y() < y + sheet_->GetRealSize(r, sRows)) {
          SetCurCell(c, r);
          return;
        }
      return;
    }
  }
  void keyPressEvent(QKeyEvent* e) override {
    if (!e->text().isEmpty() && e->text()[0].isPrint() && TypeText(e->text())) return;
    QWidget::keyPressEvent(e);
  }

 private:
  bool Editable(TPoint c) const {
    if (!sheet_ || sheet_->ReadOnly() || c.X < 0) return false;
    const TXLCell* cell = sheet_->FindCell(c.X, c.Y);
    return !cell || !(cell->Styles() & CellStyleBit(csReadOnly));
  }
  TXLSheet* sheet_ = nullptr;
  TPoint cur_{-1, -1};
  TPoint editCell_{-1, -1};
  bool anyCellSelect_ = true;
  QLineEdit* editor_;
};

