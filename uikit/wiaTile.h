#pragma once
// Tiled background: fills its area with copies of an image, drawn plain, as a
// flat silhouette, or with one colour left out.
#include <QImage>
#include <QWidget>

#include "uikit/FlatUtilitys.h"

enum TwiaTileMode { tmFaded = 0, tmTransparent = 1, tmNormal = 2 };

class TwiaTile : public QWidget {
  Q_OBJECT
 public:
  explicit TwiaTile(QWidget* parent = nullptr);

  const QImage& Image() const { return image_; }
  // The image's bottom-left pixel becomes TranColor. A null image empties the
  // tile (nothing is painted) but keeps the stored image.
  void SetImage(const QImage& img);
  TwiaTileMode TileMode() const { return mode_; }
  void SetTileMode(TwiaTileMode m);
  TColor TranColor() const { return tranColor_; }
  void SetTranColor(TColor c);
  TColor FadeColor() const { return fadeColor_; }
  void SetFadeColor(TColor c);
  bool Transparent() const { return mode_ == tmTransparent; }
  void SetTransparent(bool v) { SetTileMode(v ? tmTransparent : tmNormal); }
  bool Faded() const { return mode_ == tmFaded; }
  void SetFaded(bool v);
  // Fills the parent's client area, beneath its other children.
  bool AlignClient() const { return alignClient_; }
  void SetAlignClient(bool v);

  // What one tile looks like in the current mode (empty when there is none).
  const QImage& Working() const { return working_; }

 protected:
  void paintEvent(QPaintEvent*) override;
  bool eventFilter(QObject* o, QEvent* e) override;
  void changeEvent(QEvent* e) override;

 private:
  void Rebuild();
  void FollowParent();

  QImage image_;
  QImage working_;
  TwiaTileMode mode_ = tmFaded;
  TColor tranColor_ = clWhite;
  TColor fadeColor_ = clBtnHighlight;
  bool alignClient_ = true;
  QWidget* watched_ = nullptr;
};
