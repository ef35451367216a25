// Showing another frame of an image runs no queued events: the image is model code, and a
// queued handler that frees the viewer must wait for the event loop instead of running
// inside the frame change.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPointer>
#include <cstdlib>
#include <fstream>

#include "imaging/EnFormats.h"
#include "imaging/EnTifGr.h"
#include "imaging/ui/EnDibQt.h"
#include "imaging/ui/EnImgScr.h"

namespace {
int argc = 1;
char name[] = "imaging_frame_events";
char* argv[] = {name, nullptr};

// Three TIFF pages 2, 3 and 4 pixels wide.
TMemoryStream ThreePages() {
  TMemoryStream s;
  for (int w = 2; w <= 4; ++w) {
    TTiffGraphic page;
    page.NewImage(w, 2, ifGray256, nullptr, 96, 96);
    page.AppendImageToStream(s);
  }
  s.SetPosition(0);
  return s;
}
}  // namespace

TEST(FrameEvents, AFrameChangeLeavesQueuedEventsToTheEventLoop) {
  QApplication app(argc, argv);
  RegisterImagingFormats();
  InstallImagingQtHooks();  // as the scan form does

  TTiffGraphic image;
  image.SetLoadAllFrames(true);
  TMemoryStream pages = ThreePages();
  image.LoadFromStream(pages);
  ASSERT_EQ(image.FrameCount(), 3);
  bool ran = false;
  QMetaObject::invokeMethod(&app, [&ran] { ran = true; }, Qt::QueuedConnection);
  image.SetCurrentFrame(3);
  EXPECT_EQ(image.Width(), 4);
  EXPECT_FALSE(ran);
  QCoreApplication::processEvents();
  EXPECT_TRUE(ran);

  // The viewer's frame change goes on with the viewer it started with.
  auto* box = new TImageScrollBox;
  const QPointer<TImageScrollBox> alive(box);
  box->resize(120, 120);
  box->show();
  const std::string file = std::string(std::getenv("TMPDIR")) + "/pages.tif";
  std::ofstream(file, std::ios::binary) << ThreePages().Data();
  box->LoadFromFile(file, 0);
  ASSERT_EQ(box->FrameCount(), 3);
  QMetaObject::invokeMethod(&app, [alive] { delete alive.data(); }, Qt::QueuedConnection);
  box->SetCurrentFrame(2);
  ASSERT_FALSE(alive.isNull());
  EXPECT_EQ(box->Graphic().Width(), 3);
  QCoreApplication::processEvents();
  EXPECT_TRUE(alive.isNull());
}
