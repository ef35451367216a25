#pragma once
// The imaging library's viewer: a scrolling window showing one image at a
// zoom, with exchangeable mouse tools (drag, quick select, rubber band).
#include <QAbstractScrollArea>
#include <QImage>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>

#include "imaging/EnDiGrph.h"
#include "imaging/EnTransf.h"

// Left/top inclusive, right/bottom exclusive, in pixels.
struct TRect {
  int Left = 0, Top = 0, Right = 0, Bottom = 0;
  int Width() const { return Right - Left; }
  int Height() const { return Bottom - Top; }
  bool operator==(const TRect&) const = default;
};
TRect NormalizedRect(const TRect& r);

enum TZoomMode : uint8_t {
  zmOriginalSize = 0,
  zmFullPage = 1,
  zmFitWidth = 2,
  zmFitHeight = 3,
  zmPercent = 4,
  zmFitToPage = 5,
};

class TImageScrollBox;

// The zoom a mode gives for an image in a client area (single precision, as
// the viewer stores it); the display size follows from DisplayExtent.
float ComputeZoom(TZoomMode mode, float zoomPercent, int clientWidth, int clientHeight,
                  int imageWidth, int imageHeight);
int DisplayExtent(int imageExtent, float zoom);

class TMouseHandler {
 public:
  explicit TMouseHandler(TImageScrollBox& box) : box_(box) {}
  virtual ~TMouseHandler() = default;
  virtual void Reset() {}
  // Coordinates are those of the displayed (zoomed) image.
  virtual void MouseDown(Qt::MouseButton, Qt::KeyboardModifiers, int, int) { buttonDown_ = true; }
  virtual void MouseUp(Qt::MouseButton, Qt::KeyboardModifiers, int, int) { buttonDown_ = false; }
  virtual void MouseMove(Qt::MouseButtons, Qt::KeyboardModifiers, int, int) {}
  // Draws the tool's overlay after the image (the band, the selection box).
  virtual void Paint(QPainter&) {}
  bool ButtonDown() const { return buttonDown_; }

 protected:
  TImageScrollBox& box_;
  bool buttonDown_ = false;
};

class TDragMouseHandler : public TMouseHandler {
 public:
  explicit TDragMouseHandler(TImageScrollBox& box);
  ~TDragMouseHandler() override;
  void MouseDown(Qt::MouseButton b, Qt::KeyboardModifiers s, int x, int y) override;
  void MouseUp(Qt::MouseButton b, Qt::KeyboardModifiers s, int x, int y) override;
  void MouseMove(Qt::MouseButtons b, Qt::KeyboardModifiers s, int x, int y) override;

 private:
  bool closedHand_ = false;
  int downX_ = 0, downY_ = 0;
};

class TQuickSelectMouseHandler : public TMouseHandler {
 public:
  explicit TQuickSelectMouseHandler(TImageScrollBox& box);
  void MouseDown(Qt::MouseButton b, Qt::KeyboardModifiers s, int x, int y) override;
  void MouseUp(Qt::MouseButton b, Qt::KeyboardModifiers s, int x, int y) override;
  void MouseMove(Qt::MouseButtons b, Qt::KeyboardModifiers s, int x, int y) override;
  void Paint(QPainter& p) override;

 private:
  int startX_ = 0, startY_ = 0, endX_ = 0, endY_ = 0;
};

class TImageScrollBox : public QAbstractScrollArea {
 public:
  explicit TImageScrollBox(QWidget* parent = nullptr);
  ~TImageScrollBox() override;

  // The shown image; callers may change it and then call SetGraphic or Redraw.
  TDibGraphic& Graphic() { return *graphic_; }
  // The image as displayed (zoomed, anti-aliased).
  TDibGraphic& DisplayGraphic() { return display_; }
  QWidget* Image() const { return image_; }
  // Shows a copy of g. An image whose display copy cannot be made leaves the
  // box as it was, and the error passes on.
  void SetGraphic(const TDibGraphic* g);
  // As SetGraphic, taking g itself.
  void ShowGraphic(std::unique_ptr<TDibGraphic> g);
  void Clear();

  void LoadFromFile(const std::string& fileName, int index);
  int GetImageCount(const std::string& fileName);
  void SaveToFile(const std::string& fileName);
  const std::string& FileName() const { return fileName_; }
  void SetFileName(const std::string& name);

  TZoomMode ZoomMode() const { return zoomMode_; }
  void SetZoomMode(TZoomMode m);
  float ZoomPercent() const { return zoomPercent_; }
  void SetZoomPercent(float v);
  bool Centered() const { return centered_; }
  void SetCentered(bool v);
  bool AntiAliased() const { return antiAliased_; }
  void SetAntiAliased(bool v);

  int MouseMode() const { return mouseMode_; }
  void SetMouseMode(int mode);
  TMouseHandler* MouseHandler() const { return handler_.get(); }

  bool Animate() const { return animate_; }
  void SetAnimate(bool v);
  int FrameCount() const { return graphic_->FrameCount(); }
  int CurrentFrame() const { return graphic_->CurrentFrame(); }
  void SetCurrentFrame(int n);

  void CopySelectionToClipboard();
  void CropToSelection();
  void PasteIntoSelection(const TDibGraphic& g);

  virtual void Redraw(bool rebuild);

  int ClientWidth() const { return viewport()->width(); }
  int ClientHeight() const { return viewport()->height(); }
  int ImageLeft() const { return imageLeft_; }
  int ImageTop() const { return imageTop_; }

  std::function<void(TImageScrollBox*, float)> OnZoomChange;
  std::function<void(TImageScrollBox*, TDibGraphic*)> OnBeforeSave;
  std::function<void(TDibGraphic*)> OnRedraw;
  std::function<void(TImageScrollBox*, TDibGraphic*, const TRect&)> OnQuickSelect;
  std::function<void(QWidget*, Qt::MouseButton, Qt::KeyboardModifiers, int, int)> OnImageMouseDown;
  std::function<void(QWidget*, Qt::MouseButton, Qt::KeyboardModifiers, int, int)> OnImageMouseUp;
  std::function<void(QWidget*, Qt::KeyboardModifiers, int, int)> OnImageMouseMove;
  std::function<void(const TRect&)> OnRubberbandChange;

  // Used by the inner image.
  void PaintImage(QPainter& p);
  void RouteMouseDown(Qt::MouseButton b, Qt::KeyboardModifiers s, int x, int y);
  void RouteMouseUp(Qt::MouseButton b, Qt::KeyboardModifiers s, int x, int y);
  void RouteMouseMove(Qt::MouseButtons b, Qt::KeyboardModifiers s, int x, int y);

 protected:
  void resizeEvent(QResizeEvent* e) override;
  void scrollContentsBy(int dx, int dy) override;

 private:
  void LoadFromStream(TStream& stream, const std::string& fileName, int index);
  void PlaceImage();
  void AnimationTick();
  void ResetHandler() {
    if (handler_) handler_->Reset();
  }

  QWidget* image_ = nullptr;
  std::unique_ptr<TDibGraphic> graphic_;
  TDibGraphic display_;
  QImage displayImage_;
  TDibGraphic antiAliasedCopy_;
  TResizeTransform resize_;
  TAntiAliasTransform antiAlias_;
  std::unique_ptr<TMouseHandler> handler_;
  int mouseMode_ = 3;
  TZoomMode zoomMode_ = zmOriginalSize;
  float zoomPercent_ = 100;
  bool antiAliased_ = false;
  bool animate_ = false;
  QTimer animationTimer_;
  std::string fileName_;
  bool centered_ = false;
  bool redrawing_ = false;
  int imageLeft_ = 0, imageTop_ = 0;
};
