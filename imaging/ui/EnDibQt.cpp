#include "imaging/ui/EnDibQt.h"

#include <QClipboard>
#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <cstring>
#include <vector>

#include "core/SysUtils.h"
#include "imaging/EnMisc.h"

namespace {
// Qt hands back a null image when it cannot allocate one; its rows would be null.
QImage NewQImage(int w, int h, QImage::Format f) {
  QImage out(w, h, f);
  if (out.isNull()) throw EImagingError("CreateDibSection failed");
  return out;
}
}  // namespace

QImage DibToQImage(const TDibGraphic& image) {
  if (image.IsEmpty()) return QImage();
  const int w = image.Width(), h = image.Height();
  const int fmt = image.ImageFormat();
  if (fmt == ifTrueColor) {
    QImage out = NewQImage(w, h, QImage::Format_RGB888);
    for (int y = 0; y < h; ++y) {
      const uint8_t* s = image.ScanLine(y);
      uchar* d = out.scanLine(y);
      for (int x = 0; x < w; ++x) {
        d[x * 3 + 0] = s[x * 3 + 2];
        d[x * 3 + 1] = s[x * 3 + 1];
        d[x * 3 + 2] = s[x * 3 + 0];
      }
    }
    return out;
  }
  QList<QRgb> table;
  const TLogPalette& pal = image.LogPalette();
  const int count = fmt == ifBlackWhite ? 2 : (fmt == ifGray16 || fmt == ifColor16 ? 16 : 256);
  for (int i = 0; i < count; ++i) {
    const TPaletteEntry& e = pal.palPalEntry[i];
    table.append(qRgb(e.peRed, e.peGreen, e.peBlue));
  }
  if (fmt == ifBlackWhite) {
    QImage out = NewQImage(w, h, QImage::Format_Mono);
    out.setColorTable(table);
    const int bytes = (w + 7) / 8;
    for (int y = 0; y < h; ++y) std::memcpy(out.scanLine(y), image.ScanLine(y), size_t(bytes));
    return out;
  }
  QImage out = NewQImage(w, h, QImage::Format_Indexed8);
  out.setColorTable(table);
  for (int y = 0; y < h; ++y) {
    const uint8_t* s = image.ScanLine(y);
    uchar* d = out.scanLine(y);
    if (image.BitmapInfo().bmiHeader.biBitCount == 8) {
      std::memcpy(d, s, size_t(w));
    } else {
      for (int x = 0; x < w; ++x) d[x] = (x & 1) ? (s[x >> 1] & 0x0F) : (s[x >> 1] >> 4);
    }
  }
  return out;
}

namespace {
TLogPalette PaletteOf(const QImage& img, int count) {
  TLogPalette pal{};
  pal.palVersion = 0x300;
  pal.palNumEntries = uint16_t(count);
  const QList<QRgb> table = img.colorTable();
  for (int i = 0; i < count && i < table.size(); ++i)
    pal.palPalEntry[i] = TPaletteEntry{uint8_t(qRed(table[i])), uint8_t(qGreen(table[i])),
                                       uint8_t(qBlue(table[i])), 0};
  return pal;
}

int DpiOf(const QImage& img, bool x) {
  int dpm = x ? img.dotsPerMeterX() : img.dotsPerMeterY();
  if (dpm <= 0) return 0;
  long long d = RoundHalfEven(dpm / 39.37007874015748);
  return (d > 0 && d <= 65535) ? int(d) : 0;
}
}  // namespace

void AssignFromQImage(TDibGraphic& image, const QImage& source) {
  if (source.isNull() || source.width() <= 0 || source.height() <= 0) {
    image.FreeImage();
    return;
  }
  const int w = source.width(), h = source.height();
  const int xDpi = DpiOf(source, true), yDpi = DpiOf(source, false);
  if (source.format() == QImage::Format_Mono || source.format() == QImage::Format_MonoLSB) {
    QImage mono = source.convertToFormat(QImage::Format_Mono);
    TLogPalette pal = PaletteOf(mono, 2);
    image.NewImage(w, h, ifBlackWhite, &pal, xDpi, yDpi);
    for (int y = 0; y < h; ++y) std::memcpy(image.ScanLine(y), mono.constScanLine(y), size_t((w + 7) / 8));
    return;
  }
  if (source.format() == QImage::Format_Indexed8) {
    TLogPalette pal = PaletteOf(source, std::min<int>(256, int(source.colorCount())));
    image.NewImage(w, h, ifColor256, &pal, xDpi, yDpi);
    for (int y = 0; y < h; ++y) std::memcpy(image.ScanLine(y), source.constScanLine(y), size_t(w));
    return;
  }
  // Anything else is drawn onto a black true-colour image.
  QImage rgb(w, h, QImage::Format_RGB888);
  rgb.fill(Qt::black);
  {
    QPainter p(&rgb);
    p.drawImage(0, 0, source);
  }
  image.NewImage(w, h, ifTrueColor, nullptr, xDpi, yDpi);
  for (int y = 0; y < h; ++y) {
    const uchar* s = rgb.constScanLine(y);
    uint8_t* d = image.ScanLine(y);
    for (int x = 0; x < w; ++x) {
      d[x * 3 + 0] = s[x * 3 + 2];
      d[x * 3 + 1] = s[x * 3 + 1];
      d[x * 3 + 2] = s[x * 3 + 0];
    }
  }
}

void DrawDib(QPainter& painter, const QRect& rect, TDibGraphic& image) {
  if (!image.IsEmpty()) {
    const QImage img = DibToQImage(image);
    if (rect.width() == image.Width() && rect.height() == image.Height()) {
      painter.drawImage(rect.topLeft(), img);
    } else {
      const bool smooth = image.ImageFormat() != ifTrueColor;
      painter.save();
      painter.setRenderHint(QPainter::SmoothPixmapTransform, smooth);
      if (smooth)
        painter.drawImage(rect, img.convertToFormat(QImage::Format_RGB32)
                                     .scaled(rect.size(), Qt::IgnoreAspectRatio,
                                             Qt::SmoothTransformation));
      else
        painter.drawImage(rect, img);
      painter.restore();
    }
  }
  image.AfterDraw();
}

TDibCanvas::TDibCanvas(TDibGraphic& image) : image_(image) {
  if (image.IsEmpty()) throw EImagingError("The image is empty");
  buffer_ = DibToQImage(image).convertToFormat(QImage::Format_RGB888);
  painter_ = std::make_unique<QPainter>(&buffer_);
}

TDibCanvas::~TDibCanvas() {
  try {
    End();
  } catch (...) {
  }
}

void TDibCanvas::End() {
  if (!painter_) return;
  painter_->end();
  painter_.reset();
  const int w = image_.Width();
  std::vector<uint8_t> row(size_t(w) * 3);
  for (int y = 0; y < image_.Height(); ++y) {
    const uchar* s = buffer_.constScanLine(y);
    for (int x = 0; x < w; ++x) {
      row[size_t(x) * 3 + 0] = s[x * 3 + 2];
      row[size_t(x) * 3 + 1] = s[x * 3 + 1];
      row[size_t(x) * 3 + 2] = s[x * 3 + 0];
    }
    image_.WriteRowRGB(y, row.data());
  }
}

void CopyDibToClipboard(const TDibGraphic& image) {
  QGuiApplication::clipboard()->setImage(DibToQImage(image));
}

void LoadDibFromClipboard(TDibGraphic& image) {
  const QImage img = QGuiApplication::clipboard()->image();
  if (img.isNull()) throw EInvalidGraphic(Format("Unknown clipboard format, %d", 2));
  AssignFromQImage(image, img);
}

void InstallImagingQtHooks() {
  SetWaitCursorHooks([] { QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor)); },
                     [] { QGuiApplication::restoreOverrideCursor(); });
  if (QScreen* s = QGuiApplication::primaryScreen()) SetScreenDpi(int(s->logicalDotsPerInchX()));
}

namespace {
class QtFrameTimer : public TFrameTimer {
 public:
  explicit QtFrameTimer(TDibGraphic& image) {
    timer_.setSingleShot(false);
    QObject::connect(&timer_, &QTimer::timeout, [&image] { image.NextFrame(); });
  }
  void Start(int ms) override { timer_.start(ms); }
  void Stop() override { timer_.stop(); }

 private:
  QTimer timer_;
};
}  // namespace

std::unique_ptr<TFrameTimer> CreateQtFrameTimer(TDibGraphic& image) {
  return std::make_unique<QtFrameTimer>(image);
}
