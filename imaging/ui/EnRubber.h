#pragma once
// The viewer's persistent selection: a dotted band drawn over the displayed
// image, reshaped by eight grab handles; copy, crop and paste work on it.
#include <QColor>

#include "imaging/ui/EnImgScr.h"

class ERubberbandError : public Exception {
 public:
  using Exception::Exception;
};

// Grab handles, clockwise from the top-left corner.
enum TGrabHandle : uint8_t {
  ghTopLeft = 0, ghTop, ghTopRight, ghRight, ghBottomRight, ghBottom, ghBottomLeft, ghLeft,
};
// 0 both axes, 1 vertical only, 2 horizontal only.
int GrabHandleToBandMovement(int handle);
Qt::CursorShape GrabHandleToCursor(int handle);
// The handle under (x, y) of a band, or -1; corners win over edges.
int HitGrabHandle(const TRect& band, int x, int y);

class TRubberbandMouseHandler : public TMouseHandler {
 public:
  explicit TRubberbandMouseHandler(TImageScrollBox& box);
  ~TRubberbandMouseHandler() override;

  void Reset() override;
  void MouseDown(Qt::MouseButton b, Qt::KeyboardModifiers s, int x, int y) override;
  void MouseUp(Qt::MouseButton b, Qt::KeyboardModifiers s, int x, int y) override;
  void MouseMove(Qt::MouseButtons b, Qt::KeyboardModifiers s, int x, int y) override;
  void Paint(QPainter& p) override;

  void SetPenColor(QColor c);
  void SetBrushColor(QColor c);
  // Pen styles 0 (solid) to 4 (dash-dot-dot).
  void SetStyle(int style);

  bool Drawn() const { return drawn_; }
  TRect GetSelection() const;
  TRect GetImageSelection() const;
  void CopyToClipboard();
  void CropImage();

 private:
  // The band's area of the display graphic, or nullptr for an empty band.
  std::unique_ptr<TDibGraphic> CutBand() const;
  void Erase();
  void Draw();
  void Changed(const TRect& r);

  int left_ = 0, top_ = 0, right_ = 0, bottom_ = 0;
  bool drawn_ = false;
  int movement_ = 0;
  int grabHandle_ = ghBottomRight;
  QColor pen_ = QColor(0, 0, 128);
  QColor brush_ = Qt::white;
  int style_ = 2;
};
