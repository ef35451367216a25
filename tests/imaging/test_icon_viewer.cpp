// Icons shown by the image viewer, which reads them as the platform's own
// picture rather than through the registered formats.
#include <QApplication>

#include "CodecTestUtil.h"
#include "imaging/ui/EnImgScr.h"

namespace {
int argc = 1;
char name[] = "imaging_icon_viewer";
char* argv[] = {name, nullptr};
}  // namespace

TEST(IconViewer, FifthVersionBitmapHeadersShowTheirPixels) {
  QApplication app(argc, argv);
  ToolDir dir;
  const auto corner = [](int x, int y) { return x + y < 5; };
  for (int bits : {8, 24, 32}) {
    SCOPED_TRACE(bits);
    dir.Write("v5.ico", IconFile(bits, 124, 16, corner));
    TImageScrollBox box;
    box.LoadFromFile(dir.Path("v5.ico"), 0);
    const TDibGraphic& shown = box.Graphic();
    ASSERT_EQ(shown.Width(), 16);
    ASSERT_EQ(shown.Height(), 16);
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 16; ++x)
        ASSERT_EQ(shown.GetPixelRGB(x, y), corner(x, y) ? 0u : IconPixel(bits, x, y)) << x << "," << y;
  }
}
