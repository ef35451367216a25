#pragma once
// Flat speed button: takes no focus, paints straight onto its area (the parent
// shows through in the transparent modes) and can follow an action.
#include <QPointer>

#include "uikit/FlatButtonBase.h"

class QAction;

class TFlatSpeedButton : public TFlatButtonBase {
  Q_OBJECT
 public:
  explicit TFlatSpeedButton(QWidget* parent = nullptr);

  QAction* Action() const { return action_; }
  // Caption and enabled state follow the action, a click triggers it, and an
  // empty glyph takes the action's icon on a $FF00FF (transparent) ground.
  void SetAction(QAction* a);

  bool Click() override;

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  void ActionChanged();
  QPointer<QAction> action_;
};
