#include "imaging/ui/EnRubber.h"

#include <QPainter>
#include <cstdlib>

#include "imaging/ui/EnDibQt.h"

int GrabHandleToBandMovement(int handle) {
  switch (handle) {
    case ghTopLeft: case ghTopRight: case ghBottomRight: case ghBottomLeft: return 0;
    case ghTop: case ghBottom: return 1;
    case ghRight: case ghLeft: return 2;
    default: throw Exception("Invalid GrabHandle, GrabHandleToBandMovement");
  }
}

Qt::CursorShape GrabHandleToCursor(int handle) {
  switch (handle) {
    case ghTopLeft: case ghBottomRight: return Qt::SizeFDiagCursor;
    case ghTop: case ghBottom: return Qt::SizeVerCursor;
    case ghTopRight: case ghBottomLeft: return Qt::SizeBDiagCursor;
    case ghRight: case ghLeft: return Qt::SizeHorCursor;
    default: throw Exception("Invalid GrabHandle, GrabHandleToCursor");
  }
}

int HitGrabHandle(const TRect& b, int x, int y) {
  auto near = [](int a, int v) { return std::abs(a - v) < 4; };
  const bool inX = x >= b.Left && x <= b.Right, inY = y >= b.Top && y <= b.Bottom;
  // Later hits replace earlier ones, so corners win over edges.
  int hit = -1;
  if (inX && near(y, b.Top)) hit = ghTop;
  if (inX && near(y, b.Bottom)) hit = ghBottom;
  if (inY && near(x, b.Left)) hit = ghLeft;
  if (inY && near(x, b.Right)) hit = ghRight;
  if (near(x, b.Right) && near(y, b.Bottom)) hit = ghBottomRight;
  if (near(x, b.Left) && near(y, b.Top)) hit = ghTopLeft;
  if (near(x, b.Right) && near(y, b.Top)) hit = ghTopRight;
  if (near(x, b.Left) && near(y, b.Bottom)) hit = ghBottomLeft;
  return hit;
}

TRubberbandMouseHandler::TRubberbandMouseHandler(TImageScrollBox& box) : TMouseHandler(box) {
  box.Image()->setCursor(Qt::ArrowCursor);
}

TRubberbandMouseHandler::~TRubberbandMouseHandler() {
  if (drawn_) Erase();
}

void TRubberbandMouseHandler::SetPenColor(QColor c) {
  pen_ = c;
  if (drawn_) box_.Image()->update();
}

void TRubberbandMouseHandler::SetBrushColor(QColor c) { brush_ = c; }

void TRubberbandMouseHandler::SetStyle(int style) {
  if (style < 0 || style > 4) throw EImagingError("Invalid Rubberband style");
  style_ = style;
  if (drawn_) box_.Image()->update();
}

void TRubberbandMouseHandler::Changed(const TRect& r) {
  if (box_.OnRubberbandChange) box_.OnRubberbandChange(r);
}

void TRubberbandMouseHandler::Erase() {
  drawn_ = false;
  box_.Image()->update();
}

void TRubberbandMouseHandler::Draw() {
  drawn_ = true;
  box_.Image()->update();
}

void TRubberbandMouseHandler::Reset() {
  Erase();
  Changed(TRect{});
}

void TRubberbandMouseHandler::MouseDown(Qt::MouseButton b, Qt::KeyboardModifiers s, int x,
                                        int y) {
  if (box_.Centered()) return;
  TMouseHandler::MouseDown(b, s, x, y);
  const int hit = drawn_ ? HitGrabHandle(TRect{left_, top_, right_, bottom_}, x, y) : -1;
  if (hit >= 0) {
    grabHandle_ = hit;
    movement_ = GrabHandleToBandMovement(hit);
    // The dragged corner is always (right, bottom); (left, top) is the anchor.
    if (hit == ghTopLeft) {
      std::swap(left_, right_);
      std::swap(top_, bottom_);
    } else if (hit == ghTopRight || hit == ghTop) {
      std::swap(top_, bottom_);
    } else if (hit == ghBottomLeft || hit == ghLeft) {
      std::swap(left_, right_);
    }
    return;
  }
  if (drawn_) {
    Erase();
    Changed(TRect{});
  }
  const TDibGraphic& d = box_.DisplayGraphic();
  left_ = right_ = std::clamp(x, 0, std::max(0, d.Width() - 1));
  top_ = bottom_ = std::clamp(y, 0, std::max(0, d.Height() - 1));
  grabHandle_ = ghBottomRight;
  movement_ = 0;
}

void TRubberbandMouseHandler::MouseMove(Qt::MouseButtons b, Qt::KeyboardModifiers, int x, int y) {
  if (!buttonDown_) {
    if (drawn_) {
      const int hit = HitGrabHandle(TRect{left_, top_, right_, bottom_}, x, y);
      box_.Image()->setCursor(hit >= 0 ? GrabHandleToCursor(hit) : Qt::ArrowCursor);
    }
    return;
  }
  if (!(b & Qt::LeftButton)) return;
  const TDibGraphic& d = box_.DisplayGraphic();
  x = std::clamp(x, 0, std::max(0, d.Width() - 1));
  y = std::clamp(y, 0, std::max(0, d.Height() - 1));
  if (movement_ == 1) x = right_;
  if (movement_ == 2) y = bottom_;
  // A corner may not cross its anchor: it stops one pixel past it.
  switch (grabHandle_) {
    case ghTopLeft:
      if (x > left_) x = left_ + 1;
      if (y > top_) y = top_ + 1;
      break;
    case ghTop:
      if (y > top_) y = top_ + 1;
      break;
    case ghTopRight:
      if (x < left_) x = left_ + 1;
      if (y > top_) y = top_ + 1;
      break;
    case ghRight: case ghBottomRight: case ghBottom:
      if (x < left_) x = left_ + 1;
      if (y < top_) y = top_ + 1;
      break;
    case ghBottomLeft:
      if (x > left_) x = left_ + 1;
      if (y < top_) y = top_ + 1;
      break;
    case ghLeft:
      if (x > left_) x = left_ + 1;
      break;
  }
  right_ = x;
  bottom_ = y;
  Draw();
  Changed(NormalizedRect(TRect{left_, top_, right_, bottom_}));
}

void TRubberbandMouseHandler::MouseUp(Qt::MouseButton b, Qt::KeyboardModifiers s, int x, int y) {
  if (!buttonDown_) return;
  TMouseHandler::MouseUp(b, s, x, y);
  if (!drawn_) return;
  const TRect n = NormalizedRect(TRect{left_, top_, right_, bottom_});
  left_ = n.Left;
  top_ = n.Top;
  right_ = n.Right;
  bottom_ = n.Bottom;
  if (n.Width() == 0 && n.Height() == 0) drawn_ = false;
}

void TRubberbandMouseHandler::Paint(QPainter& p) {
  if (!drawn_) return;
  static const Qt::PenStyle styles[] = {Qt::SolidLine, Qt::DashLine, Qt::DotLine,
                                        Qt::DashDotLine, Qt::DashDotDotLine};
  QPen pen(pen_, 0, styles[style_]);
  p.save();
  p.setRenderHint(QPainter::Antialiasing, false);
  p.setPen(pen);
  p.setBackground(brush_);
  p.setBackgroundMode(Qt::OpaqueMode);
  const QPoint pts[] = {{left_, top_}, {right_, top_}, {right_, bottom_}, {left_, bottom_},
                        {left_, top_}};
  p.drawPolyline(pts, 5);
  p.restore();
}

TRect TRubberbandMouseHandler::GetSelection() const {
  if (!drawn_) throw ERubberbandError("A region is not selected");
  return NormalizedRect(TRect{left_, top_, right_, bottom_});
}

TRect TRubberbandMouseHandler::GetImageSelection() const {
  const TRect s = GetSelection();
  const TDibGraphic& d = box_.DisplayGraphic();
  const TDibGraphic& g = box_.Graphic();
  if (d.IsEmpty()) return TRect{};
  const double sx = double(g.Width()) / d.Width(), sy = double(g.Height()) / d.Height();
  return TRect{int(RoundHalfEven(s.Left * sx)), int(RoundHalfEven(s.Top * sy)),
               int(RoundHalfEven(s.Right * sx)), int(RoundHalfEven(s.Bottom * sy))};
}

std::unique_ptr<TDibGraphic> TRubberbandMouseHandler::CutBand() const {
  const TRect s = GetSelection();
  if (s.Width() < 1 || s.Height() < 1) return nullptr;
  const TDibGraphic& d = box_.DisplayGraphic();
  TCropTransform crop;
  crop.TopMargin = s.Top;
  crop.LeftMargin = s.Left;
  crop.BottomMargin = d.Height() - s.Bottom;
  crop.RightMargin = d.Width() - s.Right;
  auto part = std::make_unique<TDibGraphic>();
  crop.ApplyOnDest(d, *part);
  return part;
}

void TRubberbandMouseHandler::CopyToClipboard() {
  if (auto part = CutBand()) CopyDibToClipboard(*part);
}

void TRubberbandMouseHandler::CropImage() {
  auto part = CutBand();
  if (!part) return;
  box_.Graphic().Assign(part.get());
  box_.Redraw(true);
}
