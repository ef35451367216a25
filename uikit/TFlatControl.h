#pragma once
// Common ground of the flat controls: their own Color with the ParentColor
// rule, parent-colour notifications and the "form is loading" switch.
#include <QWidget>

#include "core/Colors.h"

class TFlatControl : public QWidget {
  Q_OBJECT
 public:
  explicit TFlatControl(QWidget* parent = nullptr);

  // With ParentColor the parent's colour is shown, whatever Color was stored.
  TColor Color() const;
  void SetColor(TColor c);
  bool ParentColor() const { return parentColor_; }
  void SetParentColor(bool v);

  // Forms built in code bracket their property settings with these, so that
  // setters that resize the control while running leave geometry alone.
  void BeginLoad() { loading_ = true; }
  void EndLoad();
  bool Loading() const { return loading_; }

 protected:
  // The colour the parent shows changed (or this control moved to another parent).
  virtual void ParentColorChanged() { update(); }
  // Called by EndLoad.
  virtual void Loaded() { update(); }
  // A class's own default colour, shown once ParentColor is switched off.
  void SetStoredColor(TColor c) { color_ = c; }
  void changeEvent(QEvent* e) override;

 private:
  void ApplyPalette();
  TColor color_ = 0xE1EAEB;
  bool parentColor_ = true;
  bool loading_ = false;
  bool settingPalette_ = false;
};
