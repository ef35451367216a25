#pragma once
// The hook on one standard control of a styled form: an event filter that keeps the hot,
// pressed and space-down state, and the painter that draws the XP look over the control
// from that state. Painting only reads.
#include <QObject>
#include <QPalette>
#include <QPointer>
#include <QWidget>

#include "uikit/XPColors.h"

class QPainter;
class TXPStyler;

class TControlSubClass : public QObject {
  Q_OBJECT
 public:
  TControlSubClass(QWidget* control, TXPStyler* owner);
  ~TControlSubClass() override;

  QWidget* Control() const { return control_; }
  bool Hot() const { return hot_; }
  bool Pressed() const { return pressed_; }
  bool SpaceDown() const { return spaceDown_; }
  // Gives the control its own look back and stops watching it.
  void Restore();

 protected:
  bool eventFilter(QObject* o, QEvent* e) override;

 private:
  bool Focused() const { return control_ && control_->hasFocus(); }
  void PaintOver();
  void PaintCombo(QPainter& p, const TXPColors& pal, bool trueXP);
  void PaintEdit(QPainter& p, const TXPColors& pal, bool trueXP);
  void PaintCheck(QPainter& p, const TXPColors& pal, bool trueXP, bool radio);
  void PaintButton(QPainter& p, const TXPColors& pal, bool trueXP);
  void PaintToolButton(QPainter& p, const TXPColors& pal);
  void PaintPanel(QPainter& p);
  void PaintGroupBox(QPainter& p);
  void PaintGlyphAndCaption(QPainter& p, const TXPColors& pal, const QRect& r);

  QPointer<QWidget> control_;
  TXPStyler* owner_;
  bool hot_ = false, pressed_ = false, spaceDown_ = false, spaceRepeat_ = false;
  bool savedPalette_ = false;
  QPalette palette_;  // the edit's palette before the true XP colour
  bool painting_ = false;
};

