#pragma once
// Qt side of the image: drawing it, painting on it, the clipboard, and the
// hooks (wait cursor, event processing, frame timer) the pure core leaves open.
#include <QImage>
#include <QPainter>
#include <QRect>
#include <memory>

#include "imaging/EnDiGrph.h"

// The image as Qt sees it: 1-bit as Mono, 4- and 8-bit as Indexed8, true
// colour as RGB888; top row first.
QImage DibToQImage(const TDibGraphic& image);

// A 1-bit picture becomes black and white, an indexed one 256 colours, any
// other true colour (composited onto black), as a bitmap import would.
void AssignFromQImage(TDibGraphic& image, const QImage& source);

// Draws the whole image into rect: unscaled when the sizes match, otherwise
// smooth for palette images (keeps scanned text legible) and fast for true
// colour. Fires the image's OnAfterDraw.
void DrawDib(QPainter& painter, const QRect& rect, TDibGraphic& image);

// A painter on the image's pixels; what was painted is written back (nearest
// palette entry on palette images) when the canvas ends.
class TDibCanvas {
 public:
  explicit TDibCanvas(TDibGraphic& image);
  ~TDibCanvas();
  TDibCanvas(const TDibCanvas&) = delete;
  TDibCanvas& operator=(const TDibCanvas&) = delete;
  QPainter& Painter() { return *painter_; }
  void End();

 private:
  TDibGraphic& image_;
  QImage buffer_;
  std::unique_ptr<QPainter> painter_;
};

void CopyDibToClipboard(const TDibGraphic& image);
// Raises EInvalidGraphic "Unknown clipboard format, 2" when the clipboard holds no picture.
void LoadDibFromClipboard(TDibGraphic& image);

// Wait cursor and screen resolution for the imaging core.
void InstallImagingQtHooks();
// A frame timer driven by the Qt event loop.
std::unique_ptr<TFrameTimer> CreateQtFrameTimer(TDibGraphic& image);
