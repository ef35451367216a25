#include <gtest/gtest.h>

#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QDir>
#include <QMouseEvent>
#include <QPointer>
#include <QScrollBar>
#include <QFile>
#include <sys/stat.h>

#include <cstdlib>

#include "ImagingTestUtil.h"
#include "imaging/EnFormats.h"
#include "imaging/EnJpgGr.h"
#include "imaging/EnTifGr.h"
#include "imaging/ui/EnDibQt.h"
#include "imaging/ui/EnImgScr.h"
#include "imaging/ui/EnRubber.h"

namespace {
int argc = 1;
char name[] = "imaging_viewer";
char* argv[] = {name, nullptr};
QApplication& App() {
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

// Every pixel tells its own position: red = x, green = y.
void Gradient(TDibGraphic& g, int w, int h) {
  g.NewImage(w, h, ifTrueColor, nullptr, 96, 96);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) g.SetPixelRGB(x, y, MakeRgbTriple(uint8_t(x), uint8_t(y), 7));
}

void Send(QWidget* w, QEvent::Type type, int x, int y, Qt::MouseButtons held) {
  const QPointF local(x, y);
  QMouseEvent e(type, local, w->mapToGlobal(local),
                type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, held, Qt::NoModifier);
  QApplication::sendEvent(w, &e);
}

void Drag(QWidget* w, int x0, int y0, int x1, int y1) {
  Send(w, QEvent::MouseButtonPress, x0, y0, Qt::LeftButton);
  Send(w, QEvent::MouseMove, (x0 + x1) / 2, (y0 + y1) / 2, Qt::LeftButton);
  Send(w, QEvent::MouseMove, x1, y1, Qt::LeftButton);
  Send(w, QEvent::MouseButtonRelease, x1, y1, Qt::NoButton);
}

struct AppFirst {
  AppFirst() { App(); }
};

struct Viewer : AppFirst {
  TImageScrollBox box;
  std::vector<TRect> changes;
  explicit Viewer(int w = 300, int h = 200) {
    box.resize(w, h);
    box.show();
    box.OnRubberbandChange = [this](const TRect& r) { changes.push_back(r); };
  }
  QSize Shown() const { return box.Image()->size(); }
  TRubberbandMouseHandler& Band() {
    return *dynamic_cast<TRubberbandMouseHandler*>(box.MouseHandler());
  }
};
}  // namespace

TEST(ImageScrollBox, EachZoomModeGivesItsDisplaySize) {
  Viewer v(300, 200);
  TDibGraphic g;
  Gradient(g, 600, 200);
  v.box.SetGraphic(&g);
  EXPECT_EQ(v.Shown(), QSize(600, 200));  // original size
  EXPECT_TRUE(v.box.horizontalScrollBar()->isVisible());

  v.box.SetZoomMode(zmFullPage);  // min(300/600, 200/200) = 50 %
  EXPECT_FLOAT_EQ(v.box.ZoomPercent(), 50);
  EXPECT_EQ(v.Shown(), QSize(300, 100));
  EXPECT_FALSE(v.box.horizontalScrollBar()->isVisible());

  v.box.SetZoomMode(zmFitHeight);  // 200/200
  EXPECT_EQ(v.Shown(), QSize(600, 200));

  v.box.SetZoomMode(zmFitWidth);
  EXPECT_EQ(v.Shown(), QSize(v.box.ClientWidth(), 100));

  std::vector<float> fired;
  v.box.OnZoomChange = [&](TImageScrollBox*, float z) { fired.push_back(z); };
  v.box.SetZoomPercent(0.05f);  // ignored
  EXPECT_EQ(v.box.ZoomMode(), zmFitWidth);
  v.box.SetZoomPercent(37.5f);
  v.box.SetZoomPercent(37.5f);  // the old zoom is rounded first, so it fires again
  EXPECT_EQ(v.box.ZoomMode(), zmPercent);
  EXPECT_EQ(fired, (std::vector<float>{37.5f, 37.5f}));
  EXPECT_EQ(v.Shown(), QSize(225, 75));
  EXPECT_EQ(v.box.DisplayGraphic().Width(), 225);

  // A small image: fit-to-page keeps 100 %, full page enlarges it.
  Gradient(g, 50, 20);
  v.box.SetGraphic(&g);
  v.box.SetZoomMode(zmFitToPage);
  EXPECT_EQ(v.Shown(), QSize(50, 20));
  v.box.SetZoomMode(zmFullPage);
  EXPECT_EQ(v.Shown(), QSize(300, 120));

  v.box.SetCentered(true);
  EXPECT_EQ(v.box.Image()->pos(), QPoint(0, 40));

  Gradient(g, 1, 1);
  v.box.SetGraphic(&g);
  v.box.SetZoomPercent(10);
  EXPECT_EQ(v.Shown(), QSize(1, 1));
}

TEST(ImageScrollBox, DragToolScrollsByTheMouseMovement) {
  Viewer v(200, 150);
  TDibGraphic g;
  Gradient(g, 800, 600);
  v.box.SetGraphic(&g);
  QWidget* img = v.box.Image();
  Send(img, QEvent::MouseButtonPress, 100, 100, Qt::LeftButton);
  Send(img, QEvent::MouseMove, 60, 70, Qt::LeftButton);
  Send(img, QEvent::MouseButtonRelease, 60, 70, Qt::NoButton);
  EXPECT_EQ(v.box.horizontalScrollBar()->value(), 40);
  EXPECT_EQ(v.box.verticalScrollBar()->value(), 30);
  EXPECT_EQ(img->pos(), QPoint(-40, -30));
}

TEST(RubberBand, EachHandleReshapesTheBand) {
  Viewer v;
  TDibGraphic g;
  Gradient(g, 200, 150);
  v.box.SetGraphic(&g);
  v.box.SetMouseMode(2);
  QWidget* img = v.box.Image();

  struct Case {
    int handle, fromX, fromY, toX, toY;
    TRect expect;
  };
  const Case cases[] = {
      {0, 50, 30, 40, 20, {40, 20, 100, 70}},   {1, 75, 30, 75, 25, {50, 25, 100, 70}},
      {2, 100, 30, 110, 20, {50, 20, 110, 70}}, {3, 100, 50, 120, 55, {50, 30, 120, 70}},
      {4, 100, 70, 90, 80, {50, 30, 90, 80}},   {5, 75, 70, 80, 90, {50, 30, 100, 90}},
      {6, 50, 70, 45, 75, {45, 30, 100, 75}},   {7, 50, 50, 30, 45, {30, 30, 100, 70}},
      // Corners are tested last: 2 px from the top-left corner picks it.
      {0, 52, 32, 42, 22, {42, 22, 100, 70}},
      // The dragged corner stops one pixel past its anchor.
      {4, 100, 70, 20, 10, {50, 30, 51, 31}},
  };
  for (const Case& c : cases) {
    Drag(img, 180, 140, 180, 140);  // a click without movement clears the band
    ASSERT_FALSE(v.Band().Drawn());
    Drag(img, 50, 30, 100, 70);
    ASSERT_EQ(v.Band().GetSelection(), (TRect{50, 30, 100, 70}));
    EXPECT_EQ(HitGrabHandle(TRect{50, 30, 100, 70}, c.fromX, c.fromY), c.handle);
    v.changes.clear();
    Drag(img, c.fromX, c.fromY, c.toX, c.toY);
    EXPECT_EQ(v.Band().GetSelection(), c.expect) << "handle " << c.handle;
    ASSERT_FALSE(v.changes.empty());
    EXPECT_EQ(v.changes.back(), c.expect) << "handle " << c.handle;
  }

  // A press away from the band removes it and reports an empty band.
  v.changes.clear();
  Send(img, QEvent::MouseButtonPress, 150, 120, Qt::LeftButton);
  Send(img, QEvent::MouseButtonRelease, 150, 120, Qt::NoButton);
  EXPECT_EQ(v.changes, std::vector<TRect>{TRect{}});
  EXPECT_FALSE(v.Band().Drawn());
  EXPECT_IMAGING_ERROR(v.box.CropToSelection(), "A region is not selected");

  // The band follows the display: the pointer is clamped to the last pixel.
  Drag(img, 190, 140, 250, 180);
  EXPECT_EQ(v.Band().GetSelection(), (TRect{190, 140, 199, 149}));

  // A zoom change removes the band.
  v.changes.clear();
  v.box.SetZoomPercent(50);
  EXPECT_FALSE(v.Band().Drawn());
  EXPECT_EQ(v.changes.front(), TRect{});

  // Centred views take no band.
  v.box.SetCentered(true);
  Drag(img, 10, 10, 40, 40);
  EXPECT_FALSE(v.Band().Drawn());

  EXPECT_IMAGING_ERROR(v.Band().SetStyle(5), "Invalid Rubberband style");
  EXPECT_IMAGING_ERROR(GrabHandleToCursor(8), "Invalid GrabHandle, GrabHandleToCursor");
  EXPECT_IMAGING_ERROR(GrabHandleToBandMovement(8), "Invalid GrabHandle, GrabHandleToBandMovement");
  v.box.SetMouseMode(3);
  EXPECT_IMAGING_ERROR(v.box.CopySelectionToClipboard(), "Rubberband mouse handler not active");
}

TEST(RubberBand, CropCutsExactlyTheBandAtTheDisplayScale) {
  Viewer v;
  TDibGraphic g;
  Gradient(g, 200, 160);
  v.box.SetGraphic(&g);
  v.box.SetMouseMode(2);
  v.box.SetZoomPercent(50);
  Drag(v.box.Image(), 10, 20, 40, 35);
  EXPECT_EQ(v.Band().GetImageSelection(), (TRect{20, 40, 80, 70}));
  const TDibGraphic& d = v.box.DisplayGraphic();
  const RgbValue first = d.GetPixelRGB(10, 20), last = d.GetPixelRGB(39, 34);
  const RgbValue after = d.GetPixelRGB(40, 35);
  v.box.CropToSelection();
  // The crop keeps the display's scale: half the pixels of the image's area.
  const TDibGraphic& c = v.box.Graphic();
  ASSERT_EQ(c.Width(), 30);
  ASSERT_EQ(c.Height(), 15);
  EXPECT_EQ(c.GetPixelRGB(0, 0), first);
  EXPECT_EQ(c.GetPixelRGB(29, 14), last);
  EXPECT_NE(last, after);
  EXPECT_NEAR(RgbRed(first), 20, 1);
  EXPECT_NEAR(RgbGreen(first), 40, 1);
  EXPECT_EQ(v.changes.back(), TRect{});  // the rebuild removed the band
}

TEST(RubberBand, CopyAndPasteGoThroughTheClipboard) {
  Viewer v;
  TDibGraphic g;
  Gradient(g, 120, 100);
  v.box.SetGraphic(&g);
  v.box.SetMouseMode(2);
  Drag(v.box.Image(), 10, 10, 30, 20);
  v.box.CopySelectionToClipboard();
  const QImage clip = QGuiApplication::clipboard()->image();
  ASSERT_EQ(clip.size(), QSize(20, 10));
  EXPECT_EQ(clip.pixel(0, 0), qRgb(10, 10, 7));
  EXPECT_EQ(clip.pixel(19, 9), qRgb(29, 19, 7));

  TDibGraphic pasted;
  LoadDibFromClipboard(pasted);
  Drag(v.box.Image(), 60, 50, 80, 60);
  v.box.PasteIntoSelection(pasted);
  const TDibGraphic& out = v.box.Graphic();
  EXPECT_EQ(out.GetPixelRGB(60, 50), MakeRgbTriple(10, 10, 7));
  EXPECT_EQ(out.GetPixelRGB(79, 59), MakeRgbTriple(29, 19, 7));
  EXPECT_EQ(out.GetPixelRGB(80, 60), MakeRgbTriple(80, 60, 7));  // outside the band

  // The band is drawn on screen in navy.
  const QImage shot = v.box.Image()->grab().toImage();
  int navy = 0;
  for (int x = 60; x <= 80; ++x) navy += shot.pixel(x, 50) == qRgb(0, 0, 128);
  EXPECT_GT(navy, 5);
  if (const char* home = std::getenv("TARVO_TEST_HOME"))
    v.box.grab().save(QString::fromUtf8(home) + "/viewer-band.png");
}

TEST(ImageScrollBox, SavesThroughTheRegistryAndKeepsWhatItShows) {
  RegisterImagingFormats();
  Viewer v;
  TDibGraphic g;
  Gradient(g, 40, 30);
  v.box.SetGraphic(&g);
  EXPECT_IMAGING_ERROR(v.box.SaveToFile("/nonexistent/x.xyz"),
                       "Graphic files of .xyz format are not supported or not registered");
  const std::string jpg = QDir::tempPath().toStdString() + "/viewer.jpg";
  v.box.SaveToFile(jpg);
  // The name is recorded, but the shown image is not replaced by the lossy file.
  EXPECT_EQ(v.box.FileName(), jpg);
  EXPECT_EQ(PixelsRGB(v.box.Graphic()), PixelsRGB(g));
  v.box.LoadFromFile(jpg, 1);
  EXPECT_EQ(v.box.Graphic().Width(), 40);
  EXPECT_NE(PixelsRGB(v.box.Graphic()), PixelsRGB(g));
}

namespace {
std::string ReadAll(const std::string& path) {
  QFile f(QString::fromStdString(path));
  return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string("<missing>");
}
QStringList FilesIn(const QString& dir) { return QDir(dir).entryList(QDir::Files | QDir::Hidden); }
}  // namespace

TEST(ImageScrollBox, ARefusedSaveLeavesTheOldFileAndNoNewOne) {
  RegisterImagingFormats();
  Viewer v;
  const QString dir = QDir::tempPath() + "/refused-save";
  QDir(dir).removeRecursively();
  QDir().mkpath(dir);
  const std::string old = (dir + "/page.jpg").toStdString();
  {
    QFile f(QString::fromStdString(old));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("the picture saved yesterday");
  }
  // A black-and-white page: the JPEG encoder refuses it after the file would have been made.
  TDibGraphic bw;
  bw.NewImage(64, 48, ifBlackWhite, nullptr, 200, 200);
  v.box.SetGraphic(&bw);
  EXPECT_IMAGING_ERROR(v.box.SaveToFile(old), "JPEG image must be gray scale or true color");
  EXPECT_EQ(ReadAll(old), "the picture saved yesterday");
  EXPECT_IMAGING_ERROR(v.box.SaveToFile((dir + "/new.jpg").toStdString()),
                       "JPEG image must be gray scale or true color");
  EXPECT_EQ(FilesIn(dir), QStringList{"page.jpg"});
  // The image core's own save behaves the same.
  TJpegGraphic jpeg;
  jpeg.Assign(&bw);
  EXPECT_IMAGING_ERROR(jpeg.SaveToFile(old), "JPEG image must be gray scale or true color");
  EXPECT_EQ(ReadAll(old), "the picture saved yesterday");
  EXPECT_EQ(FilesIn(dir), QStringList{"page.jpg"});

  // A save that succeeds replaces the file whole, with the usual mode.
  const mode_t mask = ::umask(022);
  TDibGraphic grey;
  Gradient(grey, 20, 10);
  v.box.SetGraphic(&grey);
  v.box.SaveToFile((dir + "/fresh.png").toStdString());
  ::umask(mask);
  struct stat st {};
  ASSERT_EQ(::stat((dir + "/fresh.png").toUtf8().constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  EXPECT_EQ(FilesIn(dir), (QStringList{"fresh.png", "page.jpg"}));
}

TEST(ImageScrollBox, ACutBitmapIsRefusedAndTheShownPictureStays) {
  Viewer v;
  TDibGraphic g;
  Gradient(g, 20, 10);
  v.box.SetGraphic(&g);
  const QString dir = QDir::tempPath() + "/cut-bitmap";
  QDir().mkpath(dir);
  QImage picture(400, 400, QImage::Format_RGB888);
  picture.fill(Qt::darkCyan);
  const QString whole = dir + "/whole.bmp", cut = dir + "/cut.bmp", junk = dir + "/junk.bmp";
  ASSERT_TRUE(picture.save(whole, "BMP"));
  QFile in(whole);
  ASSERT_TRUE(in.open(QIODevice::ReadOnly));
  const QByteArray bytes = in.readAll();
  ASSERT_EQ(bytes.size(), 54 + 400 * 1200);
  for (const auto& [path, data] : {std::pair{cut, bytes.left(3000)}, std::pair{junk, QByteArray(3000, 'x')}}) {
    QFile out(path);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(data);
  }
  try {
    v.box.LoadFromFile(cut.toStdString(), 1);
    ADD_FAILURE() << "a cut bitmap was shown";
  } catch (const Exception& e) {
    EXPECT_EQ(std::string(e.Message()), "Bitmap image is not valid (the file is cut short: 3000 of 480054 bytes)");
  }
  EXPECT_IMAGING_ERROR(v.box.LoadFromFile(junk.toStdString(), 1), "Bitmap image is not valid (no bitmap header)");
  EXPECT_EQ(PixelsRGB(v.box.Graphic()), PixelsRGB(g));
  // A whole one still opens.
  v.box.LoadFromFile(whole.toStdString(), 1);
  EXPECT_EQ(v.box.Graphic().Width(), 400);
  EXPECT_EQ(QColor(DibToQImage(v.box.Graphic()).pixel(399, 399)), QColor(Qt::darkCyan));
}

TEST(ImageScrollBox, AZoomHandlerMayDeleteTheBox) {
  App();
  auto* box = new TImageScrollBox;
  box->resize(100, 100);
  box->show();
  TDibGraphic g;
  Gradient(g, 400, 400);
  box->SetGraphic(&g);
  QPointer<QWidget> alive(box);
  box->OnZoomChange = [box](TImageScrollBox*, float) { delete box; };
  box->SetZoomMode(zmFullPage);
  EXPECT_TRUE(alive.isNull());
}

namespace {
// A 64 x 64 grey GIF whose codes stay nine bits wide: a clear code before
// every 254 pixels keeps the table from growing.
QByteArray GreyGif() {
  QByteArray out("GIF89a");
  const auto u16 = [&out](int v) { out.append(char(v & 0xFF)).append(char(v >> 8)); };
  u16(64);
  u16(64);
  out.append(char(0xF7)).append('\0').append('\0');  // a global table of 256
  for (int i = 0; i < 256; ++i) out.append(char(i)).append(char(i)).append(char(i));
  out.append(',');
  u16(0);
  u16(0);
  u16(64);
  u16(64);
  out.append('\0').append(char(8));
  QByteArray codes;
  uint32_t acc = 0;
  int bits = 0;
  const auto put = [&](int code) {
    acc |= uint32_t(code) << bits;
    for (bits += 9; bits >= 8; bits -= 8, acc >>= 8) codes.append(char(acc & 0xFF));
  };
  for (int i = 0; i < 64 * 64; ++i) {
    if (i % 254 == 0) put(256);
    put((i % 64) * 4);
  }
  put(257);
  if (bits > 0) codes.append(char(acc & 0xFF));
  for (int at = 0; at < codes.size(); at += 255) {
    const QByteArray block = codes.mid(at, 255);
    out.append(char(block.size())).append(block);
  }
  out.append('\0').append(';');
  return out;
}

// A viewer showing a small picture, with every file format known.
struct ShowingViewer : Viewer {
  TDibGraphic shown;
  ShowingViewer() {
    RegisterImagingFormats();
    Gradient(shown, 20, 10);
    box.SetGraphic(&shown);
  }
};
}  // namespace

TEST(ImageScrollBox, ACutFileOfAnyFormatSaysItIsCutShortAndTheShownPictureStays) {
  ShowingViewer v;
  const TDibGraphic& shown = v.shown;
  const QString dir = QDir::tempPath() + "/cut-files";
  QDir(dir).removeRecursively();
  QDir().mkpath(dir);
  TDibGraphic colour, grey;
  Gradient(colour, 200, 150);
  grey.NewImage(200, 150, ifGray256, nullptr, 96, 96);
  for (int y = 0; y < 150; ++y)
    for (int x = 0; x < 200; ++x) grey.SetPixelIndex(x, y, uint8_t(x ^ y));
  std::vector<std::pair<std::string, QByteArray>> files;
  for (const char* ext : {"tif", "pcx", "dcx", "tga", "jpg", "png"}) {
    const std::string path = (dir + "/whole." + ext).toStdString();
    std::unique_ptr<TDibGraphic> file = CreateGraphicForFile(path);
    file->Assign(std::string(ext) == "pcx" ? &grey : &colour);
    file->SaveToFile(path);
    QFile in(QString::fromStdString(path));
    ASSERT_TRUE(in.open(QIODevice::ReadOnly)) << ext;
    files.emplace_back(ext, in.readAll());
  }
  QImage picture = DibToQImage(colour);
  for (const char* ext : {"ppm", "pgm", "pbm"}) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(picture.save(&buffer, ext)) << ext;
    files.emplace_back(ext, bytes);
  }
  files.emplace_back("gif", GreyGif());

  for (const auto& [ext, whole] : files) {
    const QString path = dir + "/whole." + QString::fromStdString(ext);
    QFile out(path);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
    out.write(whole);
    out.close();
    // The whole file opens; cut anywhere past its header, it is refused as cut short.
    v.box.LoadFromFile(path.toStdString(), 1);
    EXPECT_EQ(v.box.Graphic().Width(), ext == "gif" ? 64 : ext == "pcx" ? 200 : 200) << ext;
    v.box.SetGraphic(&shown);
    for (const double part : {0.5, 0.97}) {
      const QString cut = dir + "/cut." + QString::fromStdString(ext);
      QFile c(cut);
      ASSERT_TRUE(c.open(QIODevice::WriteOnly | QIODevice::Truncate));
      c.write(whole.left(int(whole.size() * part)));
      c.close();
      std::string said;
      try {
        v.box.LoadFromFile(cut.toStdString(), 1);
      } catch (const Exception& e) {
        said = e.Message();
      }
      EXPECT_NE(said.find("(the file is cut short"), std::string::npos) << ext << " " << part << ": " << said;
      EXPECT_EQ(PixelsRGB(v.box.Graphic()), PixelsRGB(shown)) << ext;
    }
  }
}

TEST(ImageScrollBox, APictureThatCannotBeShownLeavesTheShownOneInPlace) {
  ShowingViewer v;
  const TDibGraphic& small = v.shown;
  v.box.SetZoomPercent(999);
  // Loaded or set, the page fits in memory; its copy for the screen at 999 % does not.
  TTiffGraphic big;
  big.NewImage(13200, 13200, ifBlackWhite, nullptr, 300, 300);
  const std::string path = (QDir::tempPath() + "/viewer-too-big.tif").toStdString();
  big.SaveToFile(path);
  EXPECT_IMAGING_ERROR(v.box.LoadFromFile(path, 1), "CreateDibSection failed");
  EXPECT_IMAGING_ERROR(v.box.SetGraphic(&big), "CreateDibSection failed");
  EXPECT_EQ(PixelsRGB(v.box.Graphic()), PixelsRGB(small));
  EXPECT_EQ(v.box.DisplayGraphic().Width(), DisplayExtent(20, 999));
  EXPECT_EQ(v.Shown(), QSize(DisplayExtent(20, 999), DisplayExtent(10, 999)));
}
