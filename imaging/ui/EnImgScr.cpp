#include "imaging/ui/EnImgScr.h"

#include <QGuiApplication>
#include <QImageReader>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>
#include <climits>

#include "core/ByteIO.h"
#include "core/SaveFile.h"
#include "core/ScopeGuard.h"
#include "core/SysUtils.h"
#include "imaging/EnBfm.h"
#include "imaging/EnCLib.h"
#include "imaging/EnIcoGr.h"
#include "imaging/ui/EnDibQt.h"
#include "imaging/ui/EnRubber.h"
#include "platform/Guard.h"

TRect NormalizedRect(const TRect& r) {
  return TRect{std::min(r.Left, r.Right), std::min(r.Top, r.Bottom), std::max(r.Left, r.Right),
               std::max(r.Top, r.Bottom)};
}

float ComputeZoom(TZoomMode mode, float zoomPercent, int cw, int ch, int w, int h) {
  if (w <= 0 || h <= 0) return 100;
  switch (mode) {
    case zmFullPage:
    case zmFitToPage: {
      float z = std::min(float(cw) / float(w), float(ch) / float(h)) * 100.0f;
      if (mode == zmFitToPage && z > 100) z = 100;
      return z;
    }
    case zmFitWidth:
      return float(cw) / float(w) * 100.0f;
    case zmFitHeight:
      return float(ch) / float(h) * 100.0f;
    case zmPercent:
      return zoomPercent;
    default:
      return 100;
  }
}

int DisplayExtent(int imageExtent, float zoom) {
  const double d = double(imageExtent) * double(zoom) / 100.0;
  if (!(d < 1e9)) return 1000000000;
  return std::max(1, int(RoundHalfEven(d)));
}

namespace {
// The child that shows the display graphic; its coordinates are those of the
// displayed image, so the mouse tools see display pixels directly.
class TInnerImage : public QWidget {
 public:
  explicit TInnerImage(TImageScrollBox* box, QWidget* parent) : QWidget(parent), box_(box) {
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    box_->PaintImage(p);
  }
  void mousePressEvent(QMouseEvent* e) override {
    const QPoint pt = e->position().toPoint();
    box_->RouteMouseDown(e->button(), e->modifiers(), pt.x(), pt.y());
  }
  void mouseReleaseEvent(QMouseEvent* e) override {
    const QPoint pt = e->position().toPoint();
    box_->RouteMouseUp(e->button(), e->modifiers(), pt.x(), pt.y());
  }
  void mouseMoveEvent(QMouseEvent* e) override {
    const QPoint pt = e->position().toPoint();
    box_->RouteMouseMove(e->buttons(), e->modifiers(), pt.x(), pt.y());
  }

 private:
  TImageScrollBox* box_;
};
}  // namespace

// ---------------------------------------------------------------- handlers

TDragMouseHandler::TDragMouseHandler(TImageScrollBox& box) : TMouseHandler(box) {
  box.Image()->setCursor(Qt::OpenHandCursor);
}

TDragMouseHandler::~TDragMouseHandler() {
  if (closedHand_) QGuiApplication::restoreOverrideCursor();
}

void TDragMouseHandler::MouseDown(Qt::MouseButton b, Qt::KeyboardModifiers s, int x, int y) {
  TMouseHandler::MouseDown(b, s, x, y);
  downX_ = x;
  downY_ = y;
  if (!closedHand_ && (box_.horizontalScrollBar()->isVisible() ||
                       box_.verticalScrollBar()->isVisible())) {
    QGuiApplication::setOverrideCursor(Qt::ClosedHandCursor);
    closedHand_ = true;
  }
}

void TDragMouseHandler::MouseMove(Qt::MouseButtons, Qt::KeyboardModifiers, int x, int y) {
  if (!buttonDown_) return;
  QScrollBar* h = box_.horizontalScrollBar();
  QScrollBar* v = box_.verticalScrollBar();
  h->setValue(h->value() + downX_ - x);
  v->setValue(v->value() + downY_ - y);
}

void TDragMouseHandler::MouseUp(Qt::MouseButton b, Qt::KeyboardModifiers s, int x, int y) {
  if (closedHand_) {
    QGuiApplication::restoreOverrideCursor();
    closedHand_ = false;
  }
  TMouseHandler::MouseUp(b, s, x, y);
}

TQuickSelectMouseHandler::TQuickSelectMouseHandler(TImageScrollBox& box) : TMouseHandler(box) {
  box.Image()->setCursor(Qt::ArrowCursor);
}

void TQuickSelectMouseHandler::MouseDown(Qt::MouseButton b, Qt::KeyboardModifiers s, int x,
                                         int y) {
  TMouseHandler::MouseDown(b, s, x, y);
  startX_ = endX_ = x;
  startY_ = endY_ = y;
  box_.Image()->update();
}

void TQuickSelectMouseHandler::MouseMove(Qt::MouseButtons b, Qt::KeyboardModifiers, int x,
                                         int y) {
  if (!buttonDown_ || !(b & Qt::LeftButton)) return;
  const TDibGraphic& d = box_.DisplayGraphic();
  endX_ = std::clamp(x, 0, std::max(0, d.Width() - 1));
  endY_ = std::clamp(y, 0, std::max(0, d.Height() - 1));
  box_.Image()->update();
}

void TQuickSelectMouseHandler::MouseUp(Qt::MouseButton b, Qt::KeyboardModifiers s, int x, int y) {
  if (!buttonDown_) return;
  TMouseHandler::MouseUp(b, s, x, y);
  box_.Image()->update();
  TDibGraphic& d = box_.DisplayGraphic();
  if (d.IsEmpty()) return;
  x = std::clamp(x, 0, d.Width());
  y = std::clamp(y, 0, d.Height());
  const TRect r = NormalizedRect(TRect{startX_, startY_, x, y});
  if (r.Width() < 1 || r.Height() < 1) return;
  TCropTransform crop;
  crop.TopMargin = r.Top;
  crop.LeftMargin = r.Left;
  crop.BottomMargin = d.Height() - r.Bottom;
  crop.RightMargin = d.Width() - r.Right;
  TDibGraphic part;
  crop.ApplyOnDest(d, part);
  if (box_.OnQuickSelect) box_.OnQuickSelect(&box_, &part, r);
}

void TQuickSelectMouseHandler::Paint(QPainter& p) {
  if (!buttonDown_) return;
  p.setPen(QPen(Qt::black, 0, Qt::DotLine));
  p.setBrush(Qt::NoBrush);
  const TRect r = NormalizedRect(TRect{startX_, startY_, endX_, endY_});
  p.drawRect(r.Left, r.Top, r.Width(), r.Height());
}

// ---------------------------------------------------------------- the box

TImageScrollBox::TImageScrollBox(QWidget* parent)
    : QAbstractScrollArea(parent), graphic_(std::make_unique<TDibGraphic>()) {
  setFrameShape(QFrame::NoFrame);
  resize(100, 100);
  horizontalScrollBar()->setTracking(true);
  verticalScrollBar()->setTracking(true);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  image_ = new TInnerImage(this, viewport());
  image_->hide();
  resize_.Interpolate = false;
  resize_.ChangeFormat = false;
  animationTimer_.setSingleShot(true);
  QObject::connect(&animationTimer_, &QTimer::timeout, this, [this] { AnimationTick(); });
  SetMouseMode(0);
}

TImageScrollBox::~TImageScrollBox() {
  animationTimer_.stop();
  handler_.reset();
}

void TImageScrollBox::SetGraphic(const TDibGraphic* g) {
  auto next = std::make_unique<TDibGraphic>();
  next->Assign(g);
  ShowGraphic(std::move(next));
}

void TImageScrollBox::ShowGraphic(std::unique_ptr<TDibGraphic> g) {
  // The image that cannot be shown is not kept: the box goes on showing the old one.
  std::swap(graphic_, g);
  const auto keepOld = ScopeFail([&] { std::swap(graphic_, g); });
  Redraw(true);
}

void TImageScrollBox::Clear() {
  graphic_->FreeImage();
  fileName_.clear();
  Redraw(true);
}

void TImageScrollBox::SetFileName(const std::string& name) {
  if (name.empty()) {
    Clear();
    return;
  }
  LoadFromFile(name, 1);
}

void TImageScrollBox::LoadFromFile(const std::string& fileName, int index) {
  TFileStream stream(fileName, fmOpenRead);
  const bool wasAnimated = animate_;
  SetAnimate(false);
  auto restart = ScopeExit([&] {
    if (wasAnimated) SetAnimate(true);
  });
  LoadFromStream(stream, fileName, index);
  fileName_ = fileName;
}

namespace {

[[noreturn]] void RaiseInvalidBitmap(const std::string& why) {
  throw EInvalidGraphic("Bitmap image is not valid (" + why + ")");
}

// Qt's reader hands back the rows a cut bitmap lacks as uninitialised memory, so
// the file is checked first: run-length files are decoded by our own module,
// which stops at the end of the data; the others must hold every row.
std::unique_ptr<TDibGraphic> LoadBitmapFile(TStream& stream, const std::string& fileName) {
  const int64_t size = stream.Size();
  uint8_t h[34] = {};
  stream.SetPosition(0);
  if (stream.Read(h, sizeof h) != int64_t(sizeof h) || h[0] != 'B' || h[1] != 'M')
    RaiseInvalidBitmap("no bitmap header");
  const uint32_t offBits = LoadLE<uint32_t>(h + 10), headerSize = LoadLE<uint32_t>(h + 14);
  int64_t width, height;
  int bits;
  uint32_t compression = 0;
  if (headerSize == 12) {
    width = LoadLE<uint16_t>(h + 18);
    height = LoadLE<uint16_t>(h + 20);
    bits = LoadLE<uint16_t>(h + 24);
  } else {
    width = int32_t(LoadLE<uint32_t>(h + 18));
    height = int32_t(LoadLE<uint32_t>(h + 22));
    bits = LoadLE<uint16_t>(h + 28);
    compression = LoadLE<uint32_t>(h + 30);
  }
  if (width <= 0 || height == 0 || bits <= 0 || bits > 32) RaiseInvalidBitmap("bad bitmap size");
  auto loaded = std::make_unique<TDibGraphic>();
  if (compression == 1 || compression == 2) {
    stream.SetPosition(0);
    try {
      BfmReadImage(stream, *loaded, "File.bmp", "");
    } catch (const EBfmError& e) {
      RaiseInvalidBitmap(e.Message());
    }
    return loaded;
  }
  const int64_t rows = height < 0 ? -height : height;
  const int64_t stride = (width * bits + 31) / 32 * 4;
  if (int64_t(offBits) + stride * rows > size)
    RaiseInvalidBitmap(Format("the file is cut short: %lld of %lld bytes", static_cast<long long>(size),
                              static_cast<long long>(int64_t(offBits) + stride * rows)));
  QImageReader reader(QString::fromStdString(fileName), "bmp");
  const QImage picture = reader.read();
  if (picture.isNull()) RaiseInvalidBitmap(reader.errorString().toStdString());
  AssignFromQImage(*loaded, picture);
  return loaded;
}

[[noreturn]] void RaiseCutShort(const std::string& fileName, int64_t size = -1, int64_t needed = -1) {
  std::string kind = UpperCase(ExtractFileExt(fileName));
  if (!kind.empty()) kind.erase(0, 1);
  std::string why = "the file is cut short";
  if (size >= 0 && needed > size)
    why += Format(": %lld of %lld bytes", static_cast<long long>(size), static_cast<long long>(needed));
  throw EInvalidGraphic(kind + " image is not valid (" + why + ")");
}

std::string WholeStream(TStream& stream) {
  stream.SetPosition(0);
  std::string data = stream.ReadRest();
  stream.SetPosition(0);
  return data;
}

// A paintbrush file's run-length data gives fewer bytes than its lines need.
bool PcxEndsEarly(const std::string& d) {
  if (d.size() < 128 || uint8_t(d[0]) != 10) return false;
  const int64_t height = int64_t(LoadLE<uint16_t>(reinterpret_cast<const uint8_t*>(d.data()) + 10)) -
                         LoadLE<uint16_t>(reinterpret_cast<const uint8_t*>(d.data()) + 6) + 1;
  const int64_t needed = height * uint8_t(d[65]) * LoadLE<uint16_t>(reinterpret_cast<const uint8_t*>(d.data()) + 66);
  int64_t got = 0;
  for (size_t i = 128; i < d.size() && got < needed; ++i) {
    const uint8_t b = uint8_t(d[i]);
    if ((b & 0xC0) == 0xC0) {
      if (++i >= d.size()) break;
      got += b & 0x3F;
    } else {
      ++got;
    }
  }
  return got < needed;
}

// A tagged image's first directory, or the strips or tiles it names, lie past the end.
bool TiffEndsEarly(const std::string& d) {
  if (d.size() < 8) return d.size() >= 2 && (d[0] == 'I' || d[0] == 'M');
  const bool le = d[0] == 'I';
  if (!le && d[0] != 'M') return false;
  const auto* p = reinterpret_cast<const uint8_t*>(d.data());
  const auto u16 = [&](uint64_t at) { return le ? LoadLE<uint16_t>(p + at) : uint16_t(p[at] << 8 | p[at + 1]); };
  const auto u32 = [&](uint64_t at) {
    return le ? LoadLE<uint32_t>(p + at) : uint32_t(p[at]) << 24 | uint32_t(p[at + 1]) << 16 | uint32_t(p[at + 2]) << 8 | p[at + 3];
  };
  if (u16(2) != 42) return false;  // a big one is left to the library
  const uint64_t ifd = u32(4);
  if (ifd + 2 > d.size()) return true;
  const uint16_t count = u16(ifd);
  if (ifd + 2 + uint64_t(count) * 12 > d.size()) return true;
  // Offsets and lengths of the data, each a list of shorts or longs.
  std::vector<uint64_t> offsets, lengths;
  for (uint16_t i = 0; i < count; ++i) {
    const uint64_t e = ifd + 2 + uint64_t(i) * 12;
    const uint16_t tag = u16(e), type = u16(e + 2);
    const uint32_t n = u32(e + 4);
    if ((tag != 273 && tag != 279 && tag != 324 && tag != 325) || (type != 3 && type != 4)) continue;
    const uint64_t size = type == 3 ? 2 : 4;
    const uint64_t at = uint64_t(n) * size <= 4 ? e + 8 : u32(e + 8);
    if (at + uint64_t(n) * size > d.size()) return true;
    auto& list = tag == 273 || tag == 324 ? offsets : lengths;
    for (uint32_t k = 0; k < n; ++k) list.push_back(type == 3 ? u16(at + k * 2) : u32(at + k * 4));
  }
  for (size_t k = 0; k < offsets.size() && k < lengths.size(); ++k)
    if (offsets[k] + lengths[k] > d.size()) return true;
  return false;
}

// The codecs' own words for data that ran out before the picture did.
bool EndedEarly(const Exception& e, TStream& stream, const std::string& fileName) {
  const std::string m = e.Message();
  const std::string ext = UpperCase(ExtractFileExt(fileName));
  if (dynamic_cast<const ETiffError*>(&e)) return TiffEndsEarly(WholeStream(stream));
  if (dynamic_cast<const EBfmError*>(&e)) {
    if (m.find("(can't read file)") != std::string::npos ||
        m.find("(file shorter than its image data)") != std::string::npos)
      return true;
    return (ext == ".PCX" || ext == ".PCC") && PcxEndsEarly(WholeStream(stream));
  }
  if (dynamic_cast<const EJpegError*>(&e)) return m.find("Premature end of") != std::string::npos;
  if (dynamic_cast<const EPNGError*>(&e)) return m == "Read Error" || m.find("Not enough image data") != std::string::npos;
  return false;
}

// A portable any-map holds its rows whole; the binary kinds have a known length.
void CheckAnyMap(TStream& stream, const std::string& fileName) {
  const int64_t size = stream.Size();
  stream.SetPosition(0);
  std::string head(std::min<int64_t>(size, 512), '\0');
  head.resize(size_t(std::max<int64_t>(0, stream.Read(head.data(), int64_t(head.size())))));
  stream.SetPosition(0);
  if (head.size() < 2 || head[0] != 'P' || head[1] < '1' || head[1] > '7') return;
  const int kind = head[1] - '0';
  // Width, height and (but for bitmaps) the largest sample, with comments between.
  const int wanted = kind == 1 || kind == 4 ? 2 : 3;
  std::vector<int64_t> numbers;
  size_t i = 2;
  while (int(numbers.size()) < wanted && i < head.size()) {
    const char c = head[i];
    if (c == '#') {
      while (i < head.size() && head[i] != '\n') ++i;
    } else if (c >= '0' && c <= '9') {
      int64_t v = 0;
      while (i < head.size() && head[i] >= '0' && head[i] <= '9' && v < (int64_t(1) << 40)) v = v * 10 + (head[i++] - '0');
      numbers.push_back(v);
      continue;
    } else if (c != ' ' && c != '\t' && c != '\r' && c != '\n') {
      return;
    }
    ++i;
  }
  if (int(numbers.size()) < wanted) {
    if (i >= head.size() && head.size() == size_t(size)) RaiseCutShort(fileName);
    return;
  }
  if (kind < 4 || kind > 6) return;  // text rows have no fixed length
  const int64_t w = numbers[0], h = numbers[1];
  const int64_t sampleBytes = kind == 4 ? 0 : (numbers[2] > 255 ? 2 : 1);
  const int64_t row = kind == 4 ? (w + 7) / 8 : w * sampleBytes * (kind == 6 ? 3 : 1);
  if (w <= 0 || h <= 0) return;
  const int64_t header = int64_t(i) + 1;  // one blank ends the header
  if (h > (INT64_MAX - header) / row) RaiseCutShort(fileName);
  const int64_t needed = header + row * h;
  if (needed > size) RaiseCutShort(fileName, size, needed);
}

// Qt shows a cut GIF with a black tail: its blocks are walked to the image data's end.
void CheckGif(TStream& stream, const std::string& fileName) {
  const std::string data = WholeStream(stream);
  const auto byte = [&](size_t at) { return uint8_t(data[at]); };
  if (data.size() < 6 || data.compare(0, 3, "GIF") != 0) return;
  if (data.size() < 13) RaiseCutShort(fileName);
  size_t at = 13;
  if (byte(10) & 0x80) at += size_t(3) << ((byte(10) & 7) + 1);
  // Sub-blocks up to their empty one; false when the data ends first.
  const auto skipBlocks = [&]() {
    while (at < data.size()) {
      const size_t n = byte(at);
      at += 1 + n;
      if (n == 0) return at <= data.size();
    }
    return false;
  };
  bool image = false;
  for (;;) {
    if (at >= data.size()) {
      if (!image) RaiseCutShort(fileName);
      return;  // a missing trailer after whole images is forgiven
    }
    const uint8_t tag = byte(at);
    if (tag == 0x3B) return;
    if (tag == 0x21) {
      at += 2;
      if (!skipBlocks()) RaiseCutShort(fileName);
    } else if (tag == 0x2C) {
      if (at + 10 > data.size()) RaiseCutShort(fileName);
      const uint8_t flags = byte(at + 9);
      at += 10;
      if (flags & 0x80) at += size_t(3) << ((flags & 7) + 1);
      at += 1;  // the code size
      if (at > data.size() || !skipBlocks()) RaiseCutShort(fileName);
      image = true;
    } else {
      return;  // not ours to judge: Qt says what it makes of the rest
    }
  }
}

}  // namespace

void TImageScrollBox::LoadFromStream(TStream& stream, const std::string& fileName, int index) {
  std::unique_ptr<TDibGraphic> loaded;
  if (FindGraphicClass(fileName)) {
    loaded = CreateGraphicForFile(fileName);
    if (index != 0)
      loaded->SetImageIndex(index);
    else
      loaded->SetLoadAllFrames(true);
    try {
      loaded->LoadFromStream(stream);
    } catch (const Exception& e) {
      if (EndedEarly(e, stream, fileName)) RaiseCutShort(fileName);
      throw;
    }
  } else if (UpperCase(ExtractFileExt(fileName)) == ".ICO") {
    // The platform's icon is our own codec: Qt's misplaces larger bitmap headers.
    loaded = std::make_unique<TIconGraphic>();
    loaded->LoadFromStream(stream);
  } else if (UpperCase(ExtractFileExt(fileName)) == ".BMP") {
    loaded = LoadBitmapFile(stream, fileName);
  } else {
    // Formats the registry does not know are read by Qt, as a platform picture.
    CheckAnyMap(stream, fileName);
    CheckGif(stream, fileName);
    QImageReader reader(QString::fromStdString(fileName));
    const QImage picture = reader.read();
    if (picture.isNull())
      throw EInvalidGraphic(Format("Unknown picture file extension (%s)",
                                   ExtractFileExt(fileName).c_str()));
    loaded = std::make_unique<TDibGraphic>();
    AssignFromQImage(*loaded, picture);
  }
  // A picture that loads but cannot be shown leaves the old one in place.
  ShowGraphic(std::move(loaded));
}

int TImageScrollBox::GetImageCount(const std::string& fileName) {
  TFileStream stream(fileName, fmOpenRead);
  if (!FindGraphicClass(fileName)) return 1;
  return CreateGraphicForFile(fileName)->ImageCountInStream(stream);
}

void TImageScrollBox::SaveToFile(const std::string& fileName) {
  const std::string key = ExtractFileExt(fileName);
  // The format is checked first; an encoder that refuses the image leaves an
  // existing file as it was, since the new one replaces it only when complete.
  if (!FindGraphicClass(fileName))
    throw EImagingError(
        Format("Graphic files of %s format are not supported or not registered", key.c_str()));
  std::unique_ptr<TDibGraphic> target = CreateGraphicForFile(fileName);
  BeginWaitCursor();
  auto done = ScopeExit([] { EndWaitCursor(); });
  target->Assign(graphic_.get());
  if (OnBeforeSave) OnBeforeSave(this, target.get());
  TSaveFileStream stream(fileName);
  target->SaveToStream(stream);
  stream.Commit();
  // The name is only recorded: reloading would drop frames and show the
  // lossy copy of a JPEG save.
  fileName_ = fileName;
}

void TImageScrollBox::SetZoomMode(TZoomMode m) {
  if (m == zoomMode_) return;
  const TZoomMode was = zoomMode_;
  zoomMode_ = m;
  // A zoom whose copy for the screen cannot be made is not taken.
  auto restore = ScopeFail([&] { zoomMode_ = was; });
  Redraw(false);
}

void TImageScrollBox::SetZoomPercent(float v) {
  if (graphic_->IsEmpty() || v <= 0.1f) return;
  const float was = zoomPercent_;
  const TZoomMode wasMode = zoomMode_;
  zoomPercent_ = v;
  zoomMode_ = zmPercent;
  ResetHandler();
  auto restore = ScopeFail([&] {
    zoomPercent_ = was;
    zoomMode_ = wasMode;
  });
  Redraw(false);
}

void TImageScrollBox::SetCentered(bool v) {
  if (v == centered_) return;
  centered_ = v;
  Redraw(false);
}

void TImageScrollBox::SetAntiAliased(bool v) {
  if (v == antiAliased_) return;
  antiAliased_ = v;
  Redraw(false);
}

void TImageScrollBox::SetMouseMode(int mode) {
  if (mode == mouseMode_) return;
  handler_.reset();
  mouseMode_ = mode;
  switch (mode) {
    case 0:
      handler_ = std::make_unique<TDragMouseHandler>(*this);
      break;
    case 1:
      handler_ = std::make_unique<TQuickSelectMouseHandler>(*this);
      break;
    case 2:
      handler_ = std::make_unique<TRubberbandMouseHandler>(*this);
      break;
    default:
      image_->setCursor(Qt::ArrowCursor);
      break;
  }
  image_->update();
}

void TImageScrollBox::SetAnimate(bool v) {
  if (v && graphic_->FrameCount() >= 2) {
    int w = 0, h = 0;
    for (int i = 1; i <= graphic_->FrameCount(); ++i) {
      w = std::max(w, graphic_->Frames(i).Width());
      h = std::max(h, graphic_->Frames(i).Height());
    }
    image_->resize(std::max(w, image_->width()), std::max(h, image_->height()));
    animate_ = true;
    animationTimer_.start(graphic_->FrameDelay());
    return;
  }
  animationTimer_.stop();
  animate_ = false;
}

void TImageScrollBox::AnimationTick() {
  if (graphic_->FrameCount() <= 1) return;
  int next = graphic_->CurrentFrame() + 1;
  if (next > graphic_->FrameCount() || next < 1) next = 1;
  graphic_->SetCurrentFrame(next);
  Redraw(true);
  if (animate_) animationTimer_.start(graphic_->FrameDelay());
}

void TImageScrollBox::SetCurrentFrame(int n) {
  graphic_->SetCurrentFrame(n);
  Redraw(true);
}

void TImageScrollBox::Redraw(bool rebuild) {
  if ((testAttribute(Qt::WA_WState_ExplicitShowHide) && isHidden()) || redrawing_) return;
  redrawing_ = true;
  // A handler called below may delete the box.
  QPointer<TImageScrollBox> alive(this);
  auto clear = ScopeExit([this, alive] {
    if (alive) redrawing_ = false;
  });

  if (graphic_->IsEmpty()) {
    display_.FreeImage();
    displayImage_ = QImage();
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    image_->hide();
    return;
  }
  const bool bw = graphic_->ImageFormat() == ifBlackWhite;
  const int64_t old = RoundHalfEven(zoomPercent_);
  if (zoomMode_ == zmFullPage || zoomMode_ == zmFitToPage || zoomMode_ == zmFitHeight) {
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  }
  const float zoom = ComputeZoom(zoomMode_, zoomPercent_, ClientWidth(), ClientHeight(),
                                 graphic_->Width(), graphic_->Height());
  const int dw = DisplayExtent(graphic_->Width(), zoom);
  const int dh = DisplayExtent(graphic_->Height(), zoom);

  // Every copy is made before anything shown changes: one that cannot be made
  // leaves the box showing what it showed.
  TDibGraphic antiAliased;
  if (rebuild && bw) antiAlias_.ApplyOnDest(*graphic_, antiAliased);
  const TDibGraphic& aaSource = rebuild ? antiAliased : antiAliasedCopy_;
  const TDibGraphic& source = (bw && antiAliased_ && !aaSource.IsEmpty()) ? aaSource : *graphic_;
  TDibGraphic display;
  if (zoom == 100.0f) {
    display.Assign(&source);
  } else {
    resize_.Width = dw;
    resize_.Height = dh;
    resize_.ApplyOnDest(source, display);
  }
  QImage shown = DibToQImage(display);
  if (rebuild) {
    antiAliasedCopy_.FreeImage();
    if (bw) antiAliasedCopy_.Assign(&antiAliased);
  }
  display_.Assign(&display);
  display.FreeImage();
  displayImage_ = std::move(shown);

  zoomPercent_ = zoom;
  if (OnZoomChange && float(old) != zoom) {
    OnZoomChange(this, zoom);
    if (!alive) return;
  }
  if (float(old) != zoom || rebuild) ResetHandler();

  const int cw = ClientWidth(), ch = ClientHeight();
  setHorizontalScrollBarPolicy(dw > cw ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(dh > ch ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);

  image_->resize(dw, dh);
  QScrollBar* hb = horizontalScrollBar();
  QScrollBar* vb = verticalScrollBar();
  hb->setRange(0, std::max(0, dw - ClientWidth()));
  hb->setPageStep(std::max(1, ClientWidth()));
  vb->setRange(0, std::max(0, dh - ClientHeight()));
  vb->setPageStep(std::max(1, ClientHeight()));
  hb->setValue(0);
  vb->setValue(0);
  imageLeft_ = imageTop_ = 0;
  if (centered_) {
    ResetHandler();
    if (dh < height()) imageTop_ = int(RoundHalfEven((height() - dh) / 2.0));
    if (dw < width()) imageLeft_ = int(RoundHalfEven((width() - dw) / 2.0));
  }
  PlaceImage();
  image_->update();
  if (OnRedraw) {
    OnRedraw(graphic_.get());
    if (!alive) return;
  }
  image_->show();
}

void TImageScrollBox::PlaceImage() {
  image_->move(imageLeft_ - horizontalScrollBar()->value(),
               imageTop_ - verticalScrollBar()->value());
}

void TImageScrollBox::resizeEvent(QResizeEvent* e) {
  QAbstractScrollArea::resizeEvent(e);
  // The picture stays as it was drawn when a new size cannot be.
  if (!redrawing_) Guarded([&] { Redraw(false); });
}

void TImageScrollBox::scrollContentsBy(int, int) {
  PlaceImage();
}

void TImageScrollBox::PaintImage(QPainter& p) {
  if (displayImage_.isNull()) return;
  const QRect r = p.clipBoundingRect().toAlignedRect();
  if (r.isEmpty())
    p.drawImage(0, 0, displayImage_);
  else
    p.drawImage(r.topLeft(), displayImage_, r);
  if (handler_) handler_->Paint(p);
  display_.AfterDraw();
}

void TImageScrollBox::RouteMouseDown(Qt::MouseButton b, Qt::KeyboardModifiers s, int x, int y) {
  QPointer<TImageScrollBox> self(this);
  if (handler_) handler_->MouseDown(b, s, x, y);
  if (self && OnImageMouseDown) OnImageMouseDown(image_, b, s, x, y);
}

void TImageScrollBox::RouteMouseUp(Qt::MouseButton b, Qt::KeyboardModifiers s, int x, int y) {
  QPointer<TImageScrollBox> self(this);
  if (handler_) handler_->MouseUp(b, s, x, y);
  if (self && OnImageMouseUp) OnImageMouseUp(image_, b, s, x, y);
}

void TImageScrollBox::RouteMouseMove(Qt::MouseButtons b, Qt::KeyboardModifiers s, int x, int y) {
  QPointer<TImageScrollBox> self(this);
  if (handler_) handler_->MouseMove(b, s, x, y);
  if (self && OnImageMouseMove) OnImageMouseMove(image_, s, x, y);
}

namespace {
TRubberbandMouseHandler& Band(TMouseHandler* h) {
  auto* band = dynamic_cast<TRubberbandMouseHandler*>(h);
  if (!band) throw EImagingError("Rubberband mouse handler not active");
  return *band;
}
}  // namespace

void TImageScrollBox::CopySelectionToClipboard() { Band(handler_.get()).CopyToClipboard(); }

void TImageScrollBox::CropToSelection() { Band(handler_.get()).CropImage(); }

void TImageScrollBox::PasteIntoSelection(const TDibGraphic& g) {
  TRubberbandMouseHandler& band = Band(handler_.get());
  const TRect sel = band.GetSelection();
  if (sel.Width() < 1 || sel.Height() < 1 || g.IsEmpty()) return;
  const TRect r = band.GetImageSelection();
  TDibCanvas canvas(*graphic_);
  canvas.Painter().setRenderHint(QPainter::SmoothPixmapTransform, true);
  canvas.Painter().drawImage(QRect(r.Left, r.Top, r.Width(), r.Height()), DibToQImage(g));
  canvas.End();
}
