#pragma once
// Flat progress bar drawn as blocks or as one smooth bar.
#include "uikit/FlatUtilitys.h"
#include "uikit/TFlatControl.h"

enum TProgressBarOrientation { pbHorizontal, pbVertical };

// Geometry of the block mode, shared by painting, resizing and tests.
struct TProgressBlocks {
  // Length snapped to whole blocks: n * (element + 1) + 3, at least 12.
  static int SnapLength(int length, int elementSize);
  // Blocks that fit a client length.
  static int Total(int clientLength, int elementSize);
  // Lit blocks; 0 when the range is empty or nothing fits.
  static int Filled(int position, int min, int max, int total);
};

class TFlatProgressBar : public TFlatControl {
  Q_OBJECT
 public:
  explicit TFlatProgressBar(QWidget* parent = nullptr);

  int Min() const { return min_; }
  int Max() const { return max_; }
  int Position() const { return position_; }
  int Step() const { return step_; }
  void SetMin(int v);
  void SetMax(int v);
  void SetPosition(int v);
  void SetStep(int v);

  bool Smooth() const { return smooth_; }
  void SetSmooth(bool v);
  TProgressBarOrientation Orientation() const { return orientation_; }
  void SetOrientation(TProgressBarOrientation v);
  bool Transparent() const { return transparent_; }
  void SetTransparent(bool v);

  TColor ColorElement() const { return colorElement_; }
  TColor ColorBorder() const { return colorBorder_; }
  void SetColorElement(TColor c);
  void SetColorBorder(TColor c);
  TAdvColors AdvColorBorder() const { return advColorBorder_; }
  void SetAdvColorBorder(TAdvColors v);
  bool UseAdvColors() const { return useAdvColors_; }
  void SetUseAdvColors(bool v);

  int ElementSize() const { return elementSize_; }

 protected:
  void paintEvent(QPaintEvent*) override;
  void resizeEvent(QResizeEvent*) override;
  void changeEvent(QEvent* e) override;
  void ParentColorChanged() override;

 private:
  void CalcAdvColors();
  void SnapSize();

  bool transparent_ = false;
  bool smooth_ = false;
  bool useAdvColors_ = false;
  TAdvColors advColorBorder_ = 50;
  TProgressBarOrientation orientation_ = pbHorizontal;
  int elementSize_ = 8;
  TColor colorElement_ = 0x996633;
  TColor colorBorder_ = 0x8396A0;
  int position_ = 0, min_ = 0, max_ = 100, step_ = 10;
  bool snapping_ = false;
};
