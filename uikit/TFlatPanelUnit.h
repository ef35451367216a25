#pragma once
// Flat panel: a container with a one-pixel two-colour frame and a caption.
#include "uikit/FlatUtilitys.h"
#include "uikit/TFlatControl.h"

class TFlatPanel : public TFlatControl {
  Q_OBJECT
 public:
  explicit TFlatPanel(QWidget* parent = nullptr);

  QString Caption() const { return caption_; }
  void SetCaption(const QString& c);
  // Horizontal placement of the caption: Qt::AlignLeft, AlignRight or AlignHCenter.
  Qt::Alignment Alignment() const { return alignment_; }
  void SetAlignment(Qt::Alignment a);
  bool Transparent() const { return transparent_; }
  void SetTransparent(bool v);
  TColor ColorHighLight() const { return colorHighLight_; }
  TColor ColorShadow() const { return colorShadow_; }
  void SetColorHighLight(TColor c);
  void SetColorShadow(TColor c);

 protected:
  void paintEvent(QPaintEvent*) override;
  void changeEvent(QEvent* e) override;

 private:
  QString caption_;
  Qt::Alignment alignment_ = Qt::AlignHCenter;
  bool transparent_ = false;
  TColor colorHighLight_ = 0x8396A0;
  TColor colorShadow_ = 0x8396A0;
};
