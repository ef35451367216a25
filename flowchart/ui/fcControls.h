#pragma once
// Small controls shared by the workflow editor and its dialogs: number boxes that take only
// integers in their range, colour panels and font buttons, and the change mark ("Tag") that
// tells a dialog which fields the user touched.
#include <QFrame>
#include <QLineEdit>
#include <QPushButton>
#include <QValidator>

#include "flowchart/FcChart.h"

// The change mark of a control: 0 when the dialog is filled, 1 once the user changed it.
int ControlTag(const QObject* o);
void SetControlTag(QObject* o, int tag);

// Empty text or an integer within 1..max; anything else is refused keystroke by keystroke.
class TFcRangeValidator : public QValidator {
 public:
  TFcRangeValidator(int max, QObject* parent) : QValidator(parent), max_(max) {}
  State validate(QString& input, int& pos) const override;

 private:
  int max_;
};

class TFcNumberEdit : public QLineEdit {
  Q_OBJECT
 public:
  TFcNumberEdit(int max, QWidget* parent = nullptr);
  // An empty box reads as 1.
  int Value() const;
  void SetValue(int v);
};

// A panel showing one colour; a click (or a double click, for the editor's palette) reports it.
class TFcColorPanel : public QFrame {
  Q_OBJECT
 public:
  explicit TFcColorPanel(TColor color, QWidget* parent = nullptr);
  TColor Color() const { return color_; }
  void SetColor(TColor c);
  // Opens the colour dialog on the panel's colour; true when a colour was chosen.
  bool ChooseColor();
  // Wide and tall enough to show the colour in a form's row.
  QSize sizeHint() const override { return {64, 22}; }
  QSize minimumSizeHint() const override { return {24, 16}; }

 signals:
  void Clicked(Qt::MouseButton button);
  void DoubleClicked();

 protected:
  void paintEvent(QPaintEvent*) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseDoubleClickEvent(QMouseEvent* e) override;

 private:
  TColor color_;
};

// The chart's font as the font dialog sees it, and back (colour and charset kept).
QFont ToQFont(const TFcFont& f);
TFcFont FromQFont(const QFont& q, const TFcFont& base);
// Opens the font dialog on font; true when a font was chosen.
bool ChooseFont(TFcFont& font, QWidget* parent);
